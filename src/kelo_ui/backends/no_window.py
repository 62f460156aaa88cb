"""The backend of a process whose window has closed, or was another process's.

Every drawing call raises RuntimeError saying why there is nothing to draw
into, instead of drawing nothing without a word.
"""

from __future__ import annotations

from typing import Any, NoReturn

from kelo_ui.backends import DRAWING_METHODS


class NoWindowBackend:
    """Refuses every drawing call with RuntimeError: `<call>: <reason>`."""

    def __init__(self, reason: str):
        self.reason = reason

    def _refuse(self, function: str) -> NoReturn:
        raise RuntimeError(f"{function}: {self.reason}")

    def attach(self, objects: Any) -> None:
        pass

    def detach(self, reason: str) -> None:
        pass

    def current_target(self) -> None:
        return None

    def forget_target(self, render_texture: Any) -> None:
        pass

    def end_scopes(self) -> int:
        return 0

    def open_scopes(self) -> int:
        return 0

    def note_pending_releases(self) -> None:
        pass

    def __repr__(self) -> str:
        return f"<NoWindowBackend: {self.reason}>"


def _refusing(name: str) -> Any:
    def refuse(self: NoWindowBackend, *args: Any) -> NoReturn:
        self._refuse(name)

    refuse.__name__ = refuse.__qualname__ = name
    return refuse


for _name in DRAWING_METHODS:
    setattr(NoWindowBackend, _name, _refusing(_name))
