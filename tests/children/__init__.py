"""What the tests run in child interpreters, one module per group.

Each child is one function, run as `python -m children MODULE FUNCTION
[ARGUMENT ...]` (see support/children.py). The package itself imports
nothing: several children must arrange things before the toolkit's first
import, so each module imports what it needs where its scenario needs it.
"""
