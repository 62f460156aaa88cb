"""The binding runtime as seen from Python: argument binding, function objects,
override dispatch, tracebacks and conversions."""
