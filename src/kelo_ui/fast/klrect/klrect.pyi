# KlRect: a rectangle of single-precision floats.
from types import CapsuleType
from typing import Any, ClassVar, SupportsFloat, SupportsIndex

from typing_extensions import disjoint_base

_Number = SupportsFloat | SupportsIndex

# A native record: it cannot share a class with another record type.
@disjoint_base
class KlRect:
    """A rectangle `(x, y, w, h)` of single-precision floats, as raylib's `Rectangle`.

    Numbers become single precision by rounding to the nearest float; one
    beyond a float's range becomes infinite. Equal to another KlRect with the
    same four values (never to a tuple); not hashable; pickles and copies.
    Native modules reach its record and method table through `klrect.h`.
    """

    __pyx_vtable__: ClassVar[CapsuleType]
    x: float
    """The left edge."""
    y: float
    """The top edge."""
    w: float
    """The width."""
    h: float
    """The height."""
    def __init__(self, x: _Number = 0, y: _Number = 0, w: _Number = 0, h: _Number = 0) -> None:
        """A rectangle at `(x, y)` of `w` x `h`; every value defaults to 0."""
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    def __reduce__(self) -> tuple[Any, ...]: ...
