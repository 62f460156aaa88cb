# KlVector2: the toolkit's 2-D vector of doubles.
from types import CapsuleType
from typing import Any, ClassVar, SupportsFloat, SupportsIndex

from typing_extensions import disjoint_base

# A native record: it cannot share a class with another record type.
@disjoint_base
class KlVector2:
    """A 2-D vector of doubles: a position, or a size (`x` the width, `y` the height).

    A KlRenderTexture keeps the vector it was made with (shared, not copied).
    Equal to another KlVector2 with the same values (never to a tuple); not
    hashable; pickles and copies. Native modules reach its record and method
    table through `klvector2.h`.
    """

    __pyx_vtable__: ClassVar[CapsuleType]
    x: float
    """The first coordinate (a size's width)."""
    y: float
    """The second coordinate (a size's height)."""
    def __init__(self, x: SupportsFloat | SupportsIndex = 0.0, y: SupportsFloat | SupportsIndex = 0.0) -> None:
        """The vector `(x, y)`; both default to 0.0."""
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    def __reduce__(self) -> tuple[Any, ...]: ...
