"""How the fuzzer shows the calls it makes (as Python), and runs one on another thread."""

from __future__ import annotations

import threading

from fuzzing.model import Divergence, Handle


def fmt(value):
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    if isinstance(value, tuple):
        return "(" + ", ".join(fmt(v) for v in value) + ("," if len(value) == 1 else "") + ")"
    if isinstance(value, list):
        return "[" + ", ".join(fmt(v) for v in value) + "]"
    if isinstance(value, Handle):
        return value.name
    return repr(value)


def call_text(head, args=(), kwargs=None):
    parts = [fmt(a) for a in args] + [f"{k}={fmt(v)}" for k, v in (kwargs or {}).items()]
    return f"{head}({', '.join(parts)})"


def in_thread(work):
    """Run `work` on another thread; its exception as (type, message), or None."""
    outcome = []

    def run():
        try:
            work()
        except BaseException as error:  # noqa: BLE001 - handed back to the window's thread
            outcome.append((type(error), str(error)))
        else:
            outcome.append(None)

    thread = threading.Thread(target=run)
    thread.start()
    thread.join(30)
    if thread.is_alive():
        raise Divergence("a call on another thread has not returned after 30 s")
    return outcome[0]
