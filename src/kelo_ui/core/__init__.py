"""The toolkit core: the raylib binding, the window state, typing helpers."""
