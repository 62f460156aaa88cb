"""Shared helpers of the suite, imported as `support.<module>` from every folder."""
