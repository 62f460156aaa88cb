"""kelo_ui: a user-interface toolkit that draws through raylib."""
