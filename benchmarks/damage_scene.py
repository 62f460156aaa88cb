"""The scenes of `make bench-damage`, shared by the processes that draw them:
N widgets of 64x24 at seeded random places with seeded random opaque
colours, and the same seeded changes for every process. A change redraws a
widget in a new colour and moves it by up to 6 px, kept inside the scene.

Nothing here imports kelo_ui or pygame: the peer's process must import only
pygame, and the toolkit's only kelo_ui. `Widgets.picture()` paints the
scene as it must look, in plain Python, for both processes to be checked
against."""

import random

WIDGET = (64, 24)
# (N, scene size): the two smaller scenes are presented on an 800x600 window.
CASES = ((200, (800, 600)), (2000, (800, 600)), (10000, (1920, 1080)))
PRESENTED = (800, 600)
BACKGROUND = (24, 28, 36, 255)
STEP = 6  # the largest move, in px along each axis

FULL, ONE, PERCENT, NOTHING, PRESENT = "full", "one", "percent", "nothing", "present"
# The rows the peer draws too; the others' changes it applies untimed, so
# that both processes go through the same scenes.
PEER_ROWS = (ONE, PERCENT, NOTHING)


def rows(size):
    """The toolkit's rows for a scene of `size`, in the order each cycle runs them."""
    return [FULL, ONE, PERCENT, NOTHING] + ([PRESENT] if tuple(size) == PRESENTED else [])


def changed(row, count):
    """How many widgets a frame of `row` changes."""
    return {FULL: 1, ONE: 1, PERCENT: max(1, count // 100), NOTHING: 0, PRESENT: 1}[row]


class Widgets:
    """The widgets' places (x, y) and colours (r, g, b, 255), kept as the
    changes go."""

    def __init__(self, count, size):
        self.count, self.size = count, tuple(size)
        rng = random.Random(count)
        self.places = [self._place(rng) for _ in range(count)]
        self.colours = [colour(rng) for _ in range(count)]
        self._changes = random.Random(count * 7919 + 1)

    def _place(self, rng):
        return (rng.randrange(self.size[0] - WIDGET[0] + 1), rng.randrange(self.size[1] - WIDGET[1] + 1))

    def changes(self, many):
        """`many` different widgets changed: [(index, x, y, colour)], noted here."""
        rng = self._changes
        done = []
        for index in rng.sample(range(self.count), many):
            x, y = self.places[index]
            x = min(max(x + rng.randint(-STEP, STEP), 0), self.size[0] - WIDGET[0])
            y = min(max(y + rng.randint(-STEP, STEP), 0), self.size[1] - WIDGET[1])
            self.places[index] = (x, y)
            self.colours[index] = colour(rng)
            done.append((index, x, y, self.colours[index]))
        return done

    def picture(self):
        """The scene's RGBA8 bytes, top row first: the background, then each
        widget in the order they were added (later ones above)."""
        width, height = self.size
        pixels = bytearray(bytes(BACKGROUND) * (width * height))
        span = WIDGET[0] * 4
        for (x, y), fill in zip(self.places, self.colours, strict=True):
            row = bytes(fill) * WIDGET[0]
            for at in range((y * width + x) * 4, ((y + WIDGET[1]) * width + x) * 4, width * 4):
                pixels[at : at + span] = row
        return bytes(pixels)


def colour(rng):
    return (rng.randrange(256), rng.randrange(256), rng.randrange(256), 255)


def schedule(size, cycles, block, settle, warmup):
    """Every frame of a scene of `size`, in order, as (row, timed, checked):
    `warmup` cycles untimed, then `cycles` cycles timed; a cycle runs each
    row as a block of `settle` untimed frames, then `block` timed ones, the
    last of which is checked on the first, middle and last cycles."""
    sampled = {0, cycles // 2, cycles - 1}
    for cycle in range(-warmup, cycles):
        for row in rows(size):
            for at in range(settle + block):
                timed = cycle >= 0 and at >= settle
                yield row, timed, timed and at == settle + block - 1 and cycle in sampled
