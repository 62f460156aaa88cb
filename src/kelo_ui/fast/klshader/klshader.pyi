# KlShader: a shader program id.
from types import CapsuleType
from typing import Any, ClassVar, SupportsIndex

from typing_extensions import disjoint_base

# A native record: it cannot share a class with another record type.
@disjoint_base
class KlShader:
    """A shader program, by its GPU program id.

    Pickles and copies. Native modules reach its record and method table
    through `klshader.h`.
    """

    __pyx_vtable__: ClassVar[CapsuleType]
    id: int
    """The program id, an unsigned 32-bit integer (a negative one raises OverflowError)."""
    def __init__(self, id: SupportsIndex = 0) -> None:
        """The shader whose program id is `id` (0 by default)."""
    def __reduce__(self) -> tuple[Any, ...]: ...
