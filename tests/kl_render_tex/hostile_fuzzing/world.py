"""The fuzzer's world: what an example has drawn so far, and the mischief
that hostile objects make at each of their callbacks."""

from hypothesis import strategies as st


class HostileError(Exception):
    """Raised by hostile code; passes through unchanged."""


class HostileInterrupt(BaseException):
    """A BaseException raised by hostile code; passes through unchanged."""


class World:
    data = None  # hypothesis' data while an example runs
    drawing = False  # inside one of our draws: hostile code stays quiet
    depth = 0  # re-entrance depth
    mutated = False  # hostile code changed some state during the current step
    exhausted = False  # hypothesis ran out of data: hostile code stops drawing
    generation = 0  # counts examples: an object kept past its own stays passive
    calls = 0
    pool: list = []  # the targets operations act on
    violations: list[str] = []


def draw(strategy):
    World.drawing = True
    try:
        return World.data.draw(strategy)
    except BaseException as error:
        # Raised where a destructor may swallow it: remember it, so that
        # nothing draws again in this example.
        if from_hypothesis(error):
            World.exhausted = True
        raise
    finally:
        World.drawing = False


def choose(*makers):
    """One of `makers`, called: strategies then never hold our objects (a
    cached strategy would keep them, and their destruction would come at a
    moment no example controls)."""
    return makers[draw(st.integers(0, len(makers) - 1))]()


def pick(objects):
    """One of `objects` (a list that may change), chosen by index."""
    return objects[draw(st.integers(0, len(objects) - 1))]


ACTIONS = ("behave", "behave", "behave", "raise", "raise-base", "reenter", "mutate")


def born_now(owner):
    """Tag a hostile object with the example that made it."""
    owner.__dict__["_generation"] = World.generation
    return owner


def mischief(normal, owner):
    """What `owner`'s hostile callback does before (if it returns at all)
    giving `normal()`."""
    if (
        World.data is None
        or World.drawing
        or World.exhausted
        or World.depth > 2
        or owner.__dict__.get("_generation") != World.generation
    ):
        return normal()
    action = draw(st.sampled_from(ACTIONS))
    if action == "raise":
        raise HostileError("hostile")
    if action == "raise-base":
        raise HostileInterrupt("hostile")
    # Both are made of what is made of hostile objects: looked up now.
    from .objects import mutate
    from .operations import OPERATIONS, run_operation

    if action == "reenter":
        World.mutated = True
        World.depth += 1
        try:
            run_operation(draw(st.sampled_from(sorted(OPERATIONS))))
        finally:
            World.depth -= 1
    elif action == "mutate":
        World.mutated = True
        mutate()
    return normal()


def from_hypothesis(error):
    """Hypothesis' own control flow (StopTest, flakiness reports) passes through."""
    return type(error).__module__.startswith("hypothesis")
