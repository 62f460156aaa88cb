"""Keeping the C heap mapped while a window is open.

The GL driver (Mesa's llvmpipe above all) allocates and frees megabytes for
every frame it draws. With glibc's defaults, memory freed at the top of the
heap goes back to the kernel, and the next frame faults it in again, page by
page: thousands of page faults a frame. While a window is open the toolkit
raises glibc's trim threshold so that the heap keeps what it had; closing the
window puts the threshold back (to `MALLOC_TRIM_THRESHOLD_` if the process
was started with it, else to glibc's default) and gives back what was kept.
glibc has no way to read the threshold, nor to turn its own adjustment of it
back on once a program has set it: the value it is put back to is the one
the process started with.

`open_window(..., pin_heap=False)` leaves the heap alone. Elsewhere than on
glibc nothing is done.
"""

from __future__ import annotations

import ctypes
import os
import platform
from collections.abc import Callable

PINNED_TRIM_THRESHOLD = 64 * 1024 * 1024
_GLIBC_DEFAULT_TRIM_THRESHOLD = 128 * 1024
_M_TRIM_THRESHOLD = -1


def _glibc() -> ctypes.CDLL | None:
    if platform.libc_ver()[0] != "glibc":
        return None
    try:
        libc = ctypes.CDLL(None)
        libc.mallopt.argtypes, libc.mallopt.restype = [ctypes.c_int, ctypes.c_int], ctypes.c_int
        libc.malloc_trim.argtypes, libc.malloc_trim.restype = [ctypes.c_size_t], ctypes.c_int
    except (OSError, AttributeError):
        return None
    return libc


def _started_with() -> int:
    try:
        return int(os.environ.get("MALLOC_TRIM_THRESHOLD_", _GLIBC_DEFAULT_TRIM_THRESHOLD))
    except ValueError:
        return _GLIBC_DEFAULT_TRIM_THRESHOLD


def pin() -> Callable[[], None] | None:
    """Keep the heap mapped; returns what puts it back, or None where nothing
    was done (not glibc)."""
    libc = _glibc()
    if libc is None or not libc.mallopt(_M_TRIM_THRESHOLD, PINNED_TRIM_THRESHOLD):
        return None

    def unpin() -> None:
        libc.mallopt(_M_TRIM_THRESHOLD, _started_with())
        libc.malloc_trim(0)

    return unpin
