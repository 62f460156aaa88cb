# KlRect: a rectangle of single-precision floats.
from types import CapsuleType
from typing import Any, ClassVar, SupportsFloat, SupportsIndex

from typing_extensions import disjoint_base

_Number = SupportsFloat | SupportsIndex

# A native record: it cannot share a class with another record type.
@disjoint_base
class KlRect:
    __pyx_vtable__: ClassVar[CapsuleType]
    x: float
    y: float
    w: float
    h: float
    def __init__(self, x: _Number = 0, y: _Number = 0, w: _Number = 0, h: _Number = 0) -> None: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    def __reduce__(self) -> tuple[Any, ...]: ...
