"""python -m children MODULE FUNCTION [ARGUMENT ...]: calls
children.MODULE.FUNCTION(*ARGUMENTS), the arguments as strings."""

import importlib
import sys

module, function, *arguments = sys.argv[1:]
getattr(importlib.import_module(f"children.{module}"), function)(*arguments)
