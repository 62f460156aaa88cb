# KlShader: a shader program id.
from types import CapsuleType
from typing import Any, ClassVar, SupportsIndex

from typing_extensions import disjoint_base

# A native record: it cannot share a class with another record type.
@disjoint_base
class KlShader:
    __pyx_vtable__: ClassVar[CapsuleType]
    id: int
    def __init__(self, id: SupportsIndex = 0) -> None: ...
    def __reduce__(self) -> tuple[Any, ...]: ...
