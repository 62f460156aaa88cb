"""Drawing for real: retained scenes, what damages them, hit-testing and
presenting, under a hidden window, checked by reading the pixels back. After
every compose() a scene's target must hold what a full recomposition of the
same items holds."""

import contextlib

import pytest

from kelo_ui.atlas import Atlas
from kelo_ui.core import modules
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.scene import Item, Scene
from support.display import BLANK, BLUE, GREEN, RED, read, target

pytestmark = pytest.mark.usefixtures("window", "no_scope_left")

YELLOW = (255, 255, 0, 255)
HALF_WHITE = (255, 255, 255, 128)


@pytest.fixture
def parts():
    """Two cells of one page (RED, BLUE), a spare cell nothing shows, and a
    plain target (GREEN with a BLUE corner)."""
    atlas = Atlas(KlVector2(32, 32))
    red, blue, spare = (atlas.allocate(KlVector2(8, 4)) for _ in range(3))
    red.clear(RED)
    blue.clear(BLUE)
    spare.clear(YELLOW)
    plain = target(6, 6, GREEN)
    with plain:
        modules.rl.draw_rectangle(0, 0, 2, 2, BLUE)
    return {"red": red, "blue": blue, "spare": spare, "plain": plain}


@pytest.fixture
def scene(parts):
    scene = Scene(KlVector2(128, 96), BLANK)  # large enough that a change is drawn part by part
    scene.add(parts["red"], (1, 1), name="red")
    scene.add(parts["blue"], (5, 3), name="blue")
    scene.add(parts["plain"], (12, 6, 12, 6), name="plain")  # scaled: drawn whole, under the scissor
    assert scene.compose() == [(0, 0, 128, 96)]  # the first one draws everything
    return scene


def recomposed(scene):
    """The picture of a full recomposition of the scene's items, in a scene of its own."""
    twin = Scene(KlVector2(*scene.size), scene.background)
    for item in scene.items:
        copy = twin.add(
            item.source, item.pos, area=item.area, tint=item.tint, blend_mode=item.blend_mode, clip=item.clip
        )
        copy.visible = item.visible
    twin.compose()
    return read(twin.target)


def _items(scene):
    return {item.name: item for item in scene.items}


def _inside(box, around):
    x, y, width, height = box
    ax, ay, aw, ah = around
    return ax <= x and ay <= y and x + width <= ax + aw and y + height <= ay + ah


def _draw_into(source, color):
    def change(scene, parts):
        with parts[source]:
            modules.rl.draw_rectangle(0, 0, 2, 2, color)

    return change


def _update_texture(scene, parts):
    pixels = modules.rl.ffi.new("unsigned char[]", bytes(YELLOW) * 32)
    modules.rl.update_texture(parts["red"].texture, pixels)


# What changes, and a pixel of the scene it must change (None: what only damages).
CHANGES = {
    "a move": (lambda s, p: _items(s)["red"].move((16, 0)), (17, 1)),
    "a move into a rectangle": (lambda s, p: _items(s)["red"].move((0, 8, 16, 8)), (2, 14)),
    "an area": (lambda s, p: setattr(_items(s)["blue"], "area", (2, 1, 4, 2)), (8, 5)),
    "a tint": (lambda s, p: setattr(_items(s)["red"], "tint", HALF_WHITE), (1, 1)),
    "a blend mode": (lambda s, p: setattr(_items(s)["blue"], "blend_mode", 1), (5, 3)),
    "a clip": (lambda s, p: setattr(_items(s)["blue"], "clip", (5, 3, 2, 2)), (8, 5)),
    "a depth": (lambda s, p: setattr(_items(s)["red"], "z", 1), (6, 4)),
    "hiding": (lambda s, p: setattr(_items(s)["blue"], "visible", False), (9, 5)),
    "a removal": (lambda s, p: _items(s)["blue"].remove(), (9, 5)),
    "an addition": (lambda s, p: s.add(p["spare"], (0, 12)), (0, 12)),
    # Drawn in float, its right edge lands a pixel past its box.
    "an addition from far out": (lambda s, p: s.add(p["plain"], (-20000001.0, 20, 20000005.1, 4)), (2, 21)),
    "invalidate": (lambda s, p: s.invalidate((0, 0, 4, 4)), None),
    "a background": (lambda s, p: setattr(s, "background", GREEN), (0, 15)),
    "a scope on a cell it shows": (_draw_into("red", YELLOW), (1, 1)),
    "a scope on a target it shows": (_draw_into("plain", RED), (12, 6)),
    "a clear of a source": (lambda s, p: p["plain"].clear(RED), (20, 10)),
    "a blit into a source": (lambda s, p: p["red"].blit(p["blue"], (0, 0)), (1, 1)),
    "a region blit into a source": (lambda s, p: p["blue"].blit_region(p["red"], (0, 0, 2, 2), (0, 0)), (5, 3)),
    "raylib's update of a source": (_update_texture, (1, 1)),
}


@pytest.mark.parametrize("change", CHANGES)
def test_what_changes_is_damaged_and_drawn_as_a_full_recomposition(scene, parts, change):
    work, pixel = CHANGES[change]
    before = read(scene.target)
    work(scene, parts)
    damage = scene.compose()
    assert damage, "nothing was damaged"
    if pixel is not None:
        assert read(scene.target)[pixel[1]][pixel[0]] != before[pixel[1]][pixel[0]]
        assert any(x <= pixel[0] < x + w and y <= pixel[1] < y + h for x, y, w, h in damage), damage
    assert read(scene.target) == recomposed(scene)
    assert scene.compose() == []  # nothing since


@pytest.mark.parametrize(
    "unrelated",
    [
        lambda p: p["spare"].clear(RED),  # another cell of the same page
        lambda p: target(2, 2, RED),
        lambda p: read(p["red"]),  # a read is no change
        lambda p: target(8, 4).blit(p["red"], (0, 0)),  # nor a blit from it
    ],
)
def test_what_a_scene_does_not_show_damages_nothing(scene, parts, unrelated):
    unrelated(parts)
    assert scene.compose() == []


@pytest.mark.parametrize("source, pixel", [("red", (1, 1)), ("plain", (12, 6))])
def test_a_source_drawn_into_while_its_scope_stays_open_is_composed_again(scene, parts, source, pixel):
    with parts[source]:
        for color in (YELLOW, GREEN):  # each compose inside the scope leaves what shows it damaged
            modules.rl.draw_rectangle(0, 0, 2, 2, color)
            assert scene.compose(), "what was drawn after a compose inside the scope stayed uncomposed"
            assert read(scene.target)[pixel[1]][pixel[0]] == color
    assert read(scene.target) == recomposed(scene)


def test_a_full_recomposition_and_many_changes(scene, parts):
    items = _items(scene)
    for step in range(12):
        items["red"].move((step % 20, step % 12))
        items["blue"].z = -step
        parts["blue"].clear((step * 20, 0, 255 - step * 20, 255))
        scene.compose()
        assert read(scene.target) == recomposed(scene)
    assert scene.compose(full=True) == [(0, 0, 128, 96)]


# (the scene's items as (source, pos, keywords), the point, the item expected there by index or None)
HITS = [
    ([("red", (0, 0), {}), ("blue", (4, 0), {})], (5, 1), 1),  # the later one is above
    ([("red", (0, 0), {"z": 1}), ("blue", (4, 0), {})], (5, 1), 0),  # z before insertion
    ([("red", (0, 0), {}), ("blue", (4, 0), {"clip": (0, 0, 5, 4)})], (6, 1), 0),  # clipped away there
    ([("red", (0, 0), {}), ("blue", (4, 0), {"visible": False})], (5, 1), 0),
    ([("red", (0, 0), {})], (8, 0), None),  # past its right edge
    ([("red", (0, 0, 16, 8), {})], (15.5, 7.5), 0),  # scaled
    ([("red", (0, 0), {}), ("blue", (0.7, 0, 2.5, 4), {})], (3.3, 1), 0),  # past the right edge, on its last pixel
    ([("red", (0, 0), {})], (-1, 0), None),
    ([("red", (0, 0), {"clip": (-3e9, -3e9, 6e9, 6e9)})], (1, 1), 0),  # a clip far past every side
    ([("red", (0, 0), {}), ("blue", (4, 0), {"clip": (3e9, 0, 3e9, 4)})], (5, 1), 0),  # one far past the right
]


@pytest.mark.parametrize("placed, point, expected", HITS)
def test_item_at_finds_the_topmost_visible_item(parts, placed, point, expected):
    scene = Scene(KlVector2(24, 16))
    items = []
    for name, pos, settings in placed:
        item = scene.add(parts[name], pos, clip=settings.get("clip"))
        item.z = settings.get("z", 0)
        item.visible = settings.get("visible", True)
        items.append(item)
    assert scene.item_at(point) is (None if expected is None else items[expected])


# (what, exception, message)
REFUSALS = [
    (lambda s, p: Scene(KlVector2(0, 4)), ValueError, r"^Scene: size must be at least 1x1"),
    (lambda s, p: Scene("big"), TypeError, r"^Scene: size must be \(x, y\) or a KlVector2, not str"),
    (lambda s, p: Scene(KlVector2(4, 4), (1, 2, 3)), ValueError, "background must have 4 items"),
    (lambda s, p: s.add(p["red"], (1, 2, 3)), ValueError, r"^Scene.add: pos must be \(x, y\) or \(x, y, width"),
    (lambda s, p: s.add(p["red"], (0, float("nan"))), ValueError, r"pos\[1\] is nan; it must be finite"),
    (lambda s, p: s.add(p["red"], (0, 0, -1, 4)), ValueError, "negative width or height"),
    (lambda s, p: s.add(p["red"], (0, 0), area=(4, 0, 8, 4)), ValueError, "reaches outside the source's picture"),
    (lambda s, p: s.add(p["red"], (0, 0), tint=(0, 0, 0, 256)), ValueError, r"tint\[3\] is 256, outside 0..255"),
    (lambda s, p: s.add(p["red"], (0, 0), blend_mode=8), ValueError, "not one of raylib's blend modes"),
    (lambda s, p: s.add(p["red"], (0, 0), clip=(0, 0, -2, 2)), ValueError, "negative width"),
    (lambda s, p: s.add(p["red"], (0, 0), name=3), TypeError, "name must be a str or None"),
    (lambda s, p: s.add(p["red"], (0, 0), depth=3), TypeError, "unexpected keyword argument 'depth'"),
    (lambda s, p: s.add(object(), (0, 0)), TypeError, "source must be a KlRenderTexture"),
    (lambda s, p: s.add(s.target, (0, 0)), ValueError, "cannot show its own target"),
    (lambda s, p: s.target.clear(RED), RuntimeError, r"^KlRenderTexture.clear: .*scene's composed picture"),
    (lambda s, p: s.target.__enter__(), RuntimeError, "scene.target"),
    (
        lambda s, p: modules.rl.update_texture(s.target.texture, modules.rl.ffi.new("unsigned char[]", 4 * 128 * 96)),
        RuntimeError,
        "^update_texture: .*scene's composed picture",
    ),
    (lambda s, p: Item(), TypeError, r"made by Scene.add"),
    (lambda s, p: s.item_at(), TypeError, r"^Scene.item_at\(\) takes exactly 1 argument \(0 given\)"),
    (lambda s, p: s.compose(True, full=True), TypeError, r"^Scene.compose\(\) got multiple values for argument 'full'"),
    (lambda s, p: s.items[0].move(), TypeError, r"^Item.move\(\) takes exactly 1 argument"),
    (lambda s, p: delattr(s.items[0], "visible"), TypeError, "^Item.visible cannot be deleted"),
]


@pytest.mark.parametrize("call, error, message", REFUSALS)
def test_what_scenes_refuse_changes_nothing(scene, parts, call, error, message):
    before = read(scene.target)
    with pytest.raises(error, match=message):
        call(scene, parts)
    assert scene.compose() == [] and read(scene.target) == before == recomposed(scene)


def test_a_scene_showing_itself_is_refused(parts):
    outer, inner = Scene(KlVector2(8, 8)), Scene(KlVector2(8, 8))
    outer.add(inner.target, (0, 0))
    with pytest.raises(ValueError, match="a scene cannot show itself"):
        inner.add(outer.target, (0, 0))
    inner.add(parts["red"], (0, 0))  # the inner scene's damage reaches the outer one when it composes
    inner.compose()
    assert outer.compose() and read(outer.target)[0][0] == RED


def _killed(name):
    def kill(scene, parts):
        parts[name].kill()
        return _items(scene)[name].remove

    return kill


def _given_another(holder, other="spare"):
    """`holder`'s render texture replaced by `other`'s; what puts it back."""

    def give(scene, parts):
        held = scene.target if holder == "target" else parts[holder]
        kept = held.render_texture
        held.render_texture = parts[other].render_texture
        scene.invalidate((12, 6, 4, 4))
        return lambda: setattr(held, "render_texture", kept)

    return give


# What a scene cannot draw, what it is told, and what it returns to mend it
# (None: nothing does).
UNDRAWABLE = {
    "a dead cell": (_killed("blue"), r"<Item 'blue' .*> shows a dead source: it was unloaded"),
    "a dead target": (_killed("plain"), r"<Item 'plain' .*> shows a dead source: it was unloaded"),
    "a source given another render texture": (_given_another("plain"), r"<Item 'plain' .*> shows a source whose"),
    "the scene's target given a cell's": (_given_another("target"), "the scene's target no longer holds the render"),
    "the scene's target killed": (lambda s, p: s.target.kill() or s.invalidate(), "the scene's target is dead: it was"),
}


@pytest.mark.parametrize("call", ["compose", "present"])
@pytest.mark.parametrize("case", UNDRAWABLE)
def test_what_a_scene_cannot_draw_is_refused_and_keeps_the_damage(scene, parts, case, call):
    breaks, message = UNDRAWABLE[case]
    spare = read(parts["spare"])
    mend = breaks(scene, parts)
    with pytest.raises(RuntimeError, match=rf"^Scene.{call}: {message}"):
        getattr(scene, call)()
    assert read(parts["spare"]) == spare  # nothing drawn where the scene does not draw
    if mend is not None:
        mend()
        assert scene.compose() and read(scene.target) == recomposed(scene)


@pytest.mark.parametrize(
    "change",
    [
        lambda item: item.move((0, 0)),
        lambda item: setattr(item, "z", 1),
        lambda item: setattr(item, "tint", None),
    ],
)
def test_a_removed_item_refuses_changes(scene, change):
    item = _items(scene)["red"]
    item.remove()
    item.remove()  # again: nothing
    assert item.scene is None and item not in scene.items
    with pytest.raises(RuntimeError, match="no longer in a scene"):
        change(item)


class _Hostile:
    """A number whose conversion runs `act` first."""

    def __init__(self, value, act):
        self.value, self.act = value, act

    def __index__(self):
        self.act()
        return int(self.value)

    def __float__(self):
        self.act()
        return float(self.value)

    def __bool__(self):
        self.act()
        return True


def _settings(item):
    return item.pos, item.area, item.tint, item.blend_mode, item.clip, item.z, item.visible


# Changes whose value, as it is converted, takes the item out of its scene.
REENTRANT = {
    "move": lambda item, hostile: item.move((hostile(2), 3)),
    "area": lambda item, hostile: setattr(item, "area", (hostile(0), 0, 2, 2)),
    "tint": lambda item, hostile: setattr(item, "tint", (hostile(9), 0, 0, 255)),
    "blend_mode": lambda item, hostile: setattr(item, "blend_mode", hostile(1)),
    "clip": lambda item, hostile: setattr(item, "clip", (hostile(0), 0, 4, 4)),
    "z": lambda item, hostile: setattr(item, "z", hostile(2)),
    "visible": lambda item, hostile: setattr(item, "visible", hostile(0)),
}


@pytest.mark.parametrize("gone", ["removed", "its scene dropped"])
@pytest.mark.parametrize("change", REENTRANT)
def test_a_change_whose_conversion_takes_the_item_out_is_refused(parts, change, gone):
    held = [Scene(KlVector2(24, 16))]
    item = held[0].add(parts["red"], (1, 1))
    held[0].add(parts["blue"], (12, 8))
    before = _settings(item)
    with pytest.raises(RuntimeError, match=rf"^Item.{change}: the item is no longer in a scene"):
        REENTRANT[change](item, lambda value: _Hostile(value, item.remove if gone == "removed" else held.clear))
    assert item.scene is None and _settings(item) == before
    if held:
        assert held[0].compose() and read(held[0].target) == recomposed(held[0])


def test_present_inside_and_outside_a_frame(window, scene, parts):
    # A hidden window's screen is not read here (the child below shows one).
    # Each present returns what its compose drew again: nothing when nothing
    # changed, at least the boxes an item left and now covers when it moved.
    assert window.present(scene) == []
    red = _items(scene)["red"]
    for to, frame in (((14, 0), contextlib.nullcontext), ((2, 9), window.frame)):
        left = red.box
        red.move(to)
        with frame():
            drawn = window.present(scene)  # in a frame: composed, then drawn into it
        for box in (left, red.box):
            assert any(_inside(box, around) for around in drawn), (box, drawn)
        assert scene.compose() == [] and read(scene.target) == recomposed(scene)
    assert window.present(parts["plain"]) is None
    red.move((3, 3))  # what presents refused leave for the next
    unshown = target(2, 2)
    with unshown, pytest.raises(RuntimeError, match="outside the window's frame and every target's scope"):
        scene.present()
    with window.frame(), unshown, pytest.raises(RuntimeError, match="a render target's scope is open"):
        window.present(scene)
    assert scene.compose() and read(scene.target) == recomposed(scene)


# What a scene's calls leave behind, on their success and failure paths.
def _add_and_remove(scene, parts):
    scene.add(parts["red"], (2, 2), name="leak", clip=(0, 0, 8, 8)).remove()


def _add_refused(scene, parts):
    try:
        scene.add(parts["red"], (0, 0), area=(9, 9, 9, 9))
    except ValueError:
        pass


def _move_and_compose(scene, parts):
    scene.items[0].move((scene.items[0].pos[0] % 10 + 1, 1))
    scene.compose()


def _redraw_and_compose(scene, parts):
    parts["red"].clear(RED)
    scene.compose()


def _dead_refused(scene, parts):
    cell = Atlas(KlVector2(8, 8)).allocate(KlVector2(2, 2))
    item = scene.add(cell, (0, 0))
    cell.kill()
    try:
        scene.compose()
    except RuntimeError:
        pass
    item.remove()
    scene.compose()


@pytest.mark.parametrize(
    "call",
    [
        _add_and_remove,
        _add_refused,
        _move_and_compose,
        _redraw_and_compose,
        _dead_refused,
        lambda s, p: s.item_at((3, 3)),
    ],
)
def test_scene_calls_leak_nothing(scene, parts, call):
    from support.render_tex import leaks

    assert leaks(lambda: call(scene, parts), runs=2000, objects=(scene, *parts.values())) <= 2
