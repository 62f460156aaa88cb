# KlVector2: the toolkit's 2-D vector of doubles.
from types import CapsuleType
from typing import Any, ClassVar, SupportsFloat, SupportsIndex

from typing_extensions import disjoint_base

# A native record: it cannot share a class with another record type.
@disjoint_base
class KlVector2:
    __pyx_vtable__: ClassVar[CapsuleType]
    x: float
    y: float
    def __init__(self, x: SupportsFloat | SupportsIndex = 0.0, y: SupportsFloat | SupportsIndex = 0.0) -> None: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    def __reduce__(self) -> tuple[Any, ...]: ...
