"""The GPU side of the toolkit: every texture and render texture it makes, and who owns it.

- `binding`: `md.rl` (`kelo_ui.core.modules.rl`), the raylib binding as the
  toolkit uses it: `pyray`, except that making and releasing GPU objects goes
  through the open window.
- `ownership`: the GPU objects of the open window (`WindowObjects`): which
  are alive, the one thread that may make, draw and release them, releases
  left by other threads, and why a dead object is dead.
- `memory`: the structs of those objects, kept for the life of the process,
  so that a view into one never reads freed memory.

The scope stacks (which target is current) belong to the window's drawing
backend (`kelo_ui.backends`); this layer asks it which target is current when
raylib would otherwise lose it.
"""
