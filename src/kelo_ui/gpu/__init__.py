"""The GPU side of the toolkit as Python code sees it.

- `binding`: `md.rl` (`kelo_ui.core.modules.rl`), the raylib binding as the
  toolkit uses it: `pyray`, except that making and releasing GPU objects goes
  through the window context, and that raylib's calls are refused (rather than
  writing into freed memory) unless the window is open on the calling thread.
- `functions`: every function of the binding by what md.rl does with it
  (pyray's own, guarded, drawn, the batch drawn first, the context's own,
  refused), and what becomes of an atlas cell given to one that takes a
  texture.

The GPU objects themselves (which are alive, why a dead one died, the one
thread that may touch them, the memory their structs live in) belong to the
window context, `kelo_ui.window.context`, which is native.
"""
