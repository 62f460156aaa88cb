"""The structs of the GPU objects the toolkit makes, kept for the life of the process.

cffi's view of a struct field (`render_texture.texture`) points into the
struct's memory and keeps no reference to it, so a view kept past its struct
would read freed memory. Every Texture and RenderTexture the toolkit makes is
therefore copied into a slot of a slab that is never freed, and what the
toolkit hands out is the view of that slot. When the object dies its GPU ids
are zeroed in place, so every view of it, however old, reads id 0, which the
drawing backends refuse. A slot is never given to another object: a stale view
never sees a newer object's ids.

Cost per object ever made: its struct (44 bytes for a RenderTexture, 20 for a
Texture) and one byte saying why it died.
"""

from __future__ import annotations

from typing import Any

from raylib import ffi

SLAB_SLOTS = 64

# Why a slot's object died, by the byte kept for it.
ALIVE, UNLOADED, WINDOW_CLOSED, UNREACHABLE, FORKED = range(5)
REASONS = {
    UNLOADED: "it was unloaded",
    WINDOW_CLOSED: "the window it was made under has closed",
    UNREACHABLE: "it was released once nothing referred to it",
    FORKED: "it belongs to the window of the process this one was forked from",
}


def address_of(cdata: Any) -> int:
    """Where a struct cdata's bytes are."""
    return int(ffi.cast("uintptr_t", ffi.addressof(cdata)))


class Slab:
    """SLAB_SLOTS structs of one type, filled in order and never freed."""

    def __init__(self, ctype: str):
        self.array = ffi.new(f"{ctype}[{SLAB_SLOTS}]")
        self.start = int(ffi.cast("uintptr_t", self.array))
        self.stride = ffi.sizeof(ctype)
        self.used = 0
        self.reasons = bytearray(SLAB_SLOTS)

    def view(self, index: int) -> Any:
        return self.array[index]


class StructMemory:
    """The slabs of one struct type."""

    def __init__(self, ctype: str):
        self.ctype = ctype
        self.slabs: list[Slab] = []

    def take(self, value: Any) -> tuple[Slab, int]:
        """A new slot holding a copy of the struct `value`."""
        if not self.slabs or self.slabs[-1].used == SLAB_SLOTS:
            self.slabs.append(Slab(self.ctype))
        slab = self.slabs[-1]
        index = slab.used
        slab.array[index] = value
        slab.used += 1
        return slab, index

    def find(self, address: int) -> tuple[Slab, int, int] | None:
        """The slab, slot and offset into the slot of an address, or None
        when it lies in no slot of this memory."""
        for slab in self.slabs:
            offset = address - slab.start
            if 0 <= offset < slab.used * slab.stride:
                return slab, offset // slab.stride, offset % slab.stride
        return None


render_textures = StructMemory("RenderTexture")
textures = StructMemory("Texture")


def why_dead(cdata: Any) -> str | None:
    """Why the toolkit's object that `cdata` (a struct cdata, or a view of a
    field of one) belongs to is dead; None when it is not the toolkit's or
    is alive."""
    try:
        address = address_of(cdata)
    except TypeError:
        return None
    for memory in (render_textures, textures):
        found = memory.find(address)
        if found is not None:
            slab, index, _ = found
            return REASONS.get(slab.reasons[index])
    return None
