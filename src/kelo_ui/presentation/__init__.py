"""Presentation helpers: colours."""
