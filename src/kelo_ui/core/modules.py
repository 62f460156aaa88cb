"""Third-party modules the toolkit draws with, bound once.

`rl` is the raylib binding as the toolkit uses it (`kelo_ui.gpu.binding`:
the `pyray` module of the PyPI package `raylib`, with textures and render
textures made and released through the open window). When it cannot be
imported, `rl` is a stand-in whose every use raises an
ImportError saying how to install it, so that importing the toolkit still works
on machines without a display stack.
"""

import logging


class MissingModule:
    """Stands in for an optional module that could not be imported."""

    def __init__(self, name, install, reason):
        self._name = name
        self._install = install
        self._reason = reason

    def __getattr__(self, attribute):
        # Protocol probes (copy, inspect, pickle) get the usual answer.
        if attribute.startswith("__") and attribute.endswith("__"):
            raise AttributeError(attribute)
        raise ImportError(
            f"{self._name}.{attribute} is needed but {self._name} could not be imported "
            f"({self._reason}); install it with: {self._install}"
        )

    def __repr__(self):
        return f"<missing module {self._name!r}>"


# The binding announces itself with a warning on import; keep quiet unless the
# application configured that logger itself.
_announcer = logging.getLogger("raylib")
if _announcer.level == logging.NOTSET:
    _announcer.setLevel(logging.ERROR)

try:
    from kelo_ui.gpu import binding as rl
except ImportError as error:
    rl = MissingModule("pyray", "pip install raylib", error)
