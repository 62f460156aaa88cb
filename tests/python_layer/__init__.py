"""The Python layer: kelo_ui.core, the colours, the toolkit state, kelo_raylib
as seen from Python, the set-up script and the type stubs."""
