"""Tests that open a window and draw for real."""
