"""The fuzzer's retained scenes: scenes made, their items added, changed,
removed and dropped, their sources drawn into and killed, composed and
presented, and the window closed under them.

A scene's model is its items as set (the last successful call of each),
their order (z, then the order they were added), and its target's picture.
After every compose the target is read and must be, byte for byte, what the
same items composed whole in a fresh scene show, and lie within the pixels
the model composes from its sources' models (an item draws as a blit of its
area into its rectangle would, right way up, within its clip); every pixel
changed since the last compose must lie in the boxes it returned, and so
must every box the model knows was damaged since (what an item covered
before and after a change, invalidate's rectangle, an item of a scene whose
target was composed). With nothing done since its last compose a compose
returns []. An item's `box` is its rectangle rounded out to whole pixels,
within its clip and the scene; `item_at` is the item of highest (z, order)
whose box holds the point's pixel and whose rectangle holds the point.

What a scene refuses changes nothing. An item showing a dead source is
refused by compose (naming one such item) while its box is not empty: its
source's death damaged it. A scene whose window closed keeps its items and
answers item_at, but cannot compose anything again.

Who holds a source matters: an item holds its source, a scene its target.
A target the fuzzer drops while an item shows it lives on; when the last
holder goes, it is released as `del` releases it (unloaded on the window's
thread, left for it on another).
"""

from __future__ import annotations

import math

from fuzzing.calls import call_text, fmt, in_thread
from fuzzing.model import (
    OPAQUE,
    TRANSLUCENT,
    Divergence,
    Handle,
    Look,
    Surface,
    Window,
    draw_quad,
    translation,
)

MOST_SCENES = 4
MOST_ITEMS = 16
# The order in which add() checks its arguments: the first refusal is the one raised.
ADD_RANKS = {
    name: rank
    for rank, name in enumerate(
        ["depth", "type", "name", "pos", "tint", "blend_mode", "clip", "source", "area", "cycle"]
    )
}
KINDS = ("move", "area", "tint", "blend_mode", "clip", "z", "visible", "name")


class ItemModel:
    """An item as the model has it: what was set, and who holds it."""

    def __init__(self, obj, source, order, settings):
        self.var = None  # the fuzzer's name for it while it holds it
        self.obj = obj  # the Item, while the fuzzer holds it
        self.ident = id(obj)
        self.scene = None  # its SceneModel, None once removed or the scene is gone
        self.source = source  # the Handle of the object it shows
        self.order = order
        self.pos, self.area, self.tint, self.blend, self.clip, self.label = settings
        self.z = 0.0
        self.visible = True


class SceneModel:
    """A scene as the model has it."""

    def __init__(self, name, obj, w, h, background):
        self.name, self.obj, self.w, self.h, self.background = name, obj, w, h, background
        surface = Surface(f"{name}.target", "rt", w, h)  # made, not cleared: unknown until composed
        self.record = Handle(f"{name}.target", None, surface, float(w), float(h))
        self.items = []  # ItemModel, in the order added
        self.next_order = 0
        self.stale = False  # its window closed
        self.damaged = True  # True, False, or None: not known
        self.whole = True  # all of it is damaged (made, invalidate(), a background)
        self.cover = []  # boxes certainly damaged since the last compose
        self.picture = None  # its target's bytes as last composed


def meet(a, b):
    x0, y0 = max(a[0], b[0]), max(a[1], b[1])
    x1, y1 = min(a[0] + a[2], b[0] + b[2]), min(a[1] + a[3], b[1] + b[3])
    return (x0, y0, x1 - x0, y1 - y0) if x1 > x0 and y1 > y0 else None


def inside(px, py, box):
    return box is not None and box[0] <= px < box[0] + box[2] and box[1] <= py < box[1] + box[3]


def whole_pixels(rect):
    """A rectangle as the scene takes clips and damage: from its left and top edges rounded down."""
    return (math.floor(rect[0]), math.floor(rect[1]), int(rect[2]), int(rect[3]))


class Scenes:
    """The scene operations; the model checks every compose."""

    # ---------------------------------------------------------------- the model's questions

    def scene_objects(self):
        """Every item the model has alive: in a scene, or removed and held."""
        return [item for scene in self.scenes for item in scene.items] + self.loose_items

    def holders(self, record):
        """How many hold the object of `record`: the fuzzer, items, its scene."""
        held = sum(h is record for h in self.handles.values())
        held += sum(item.source is record for item in self.scene_objects())
        return held + sum(scene.record is record for scene in self.scenes)

    def held_records(self):
        """The objects held by the fuzzer or shown by an item (the scenes' own targets aside)."""
        return list(self.handles.values()) + [item.source for item in self.scene_objects()]

    def sharing(self, surface, record):
        """The other objects alive on the same GPU target (copy.copy's twins)."""
        return {id(r) for r in self.held_records() if r.surface is surface and r is not record}

    def let_go(self, record, thread):
        """The last holder of `record`'s object let it go: released as `del` releases it."""
        surface = record.surface
        if not thread and record.loaded and surface.kind == "rt":
            self.kill_surface(surface, "it was unloaded")
        elif not self.sharing(surface, record) and surface.dead is None:
            self.unreachable(surface)

    def picture_size(self, item):
        surface = item.source.surface
        return (item.area[2], item.area[3]) if item.area else (surface.w, surface.h)

    def rect(self, item):
        x, y = item.pos[0], item.pos[1]
        w, h = (item.pos[2], item.pos[3]) if len(item.pos) == 4 else self.picture_size(item)
        return x, y, w, h

    def box_of(self, item):
        """The pixels it may cover: its rectangle rounded out, within its clip and the scene."""
        scene = item.scene
        if scene is None or not item.visible:
            return None
        x, y, w, h = self.rect(item)
        if not (x + w > 0 and y + h > 0 and x < scene.w and y < scene.h):
            return None
        left, top = math.floor(max(x, 0)), math.floor(max(y, 0))
        right, bottom = math.ceil(min(x + w, scene.w)), math.ceil(min(y + h, scene.h))
        box = meet((0, 0, scene.w, scene.h), (left, top, right - left, bottom - top))
        return meet(box, item.clip) if box and item.clip else box

    @staticmethod
    def drawn(scene):
        return sorted(scene.items, key=lambda item: (item.z, item.order))

    def dead_shown(self, scene):
        """Its items with a box that show a dead source: compose refuses them."""
        return [i for i in self.drawn(scene) if i.source.surface.dead is not None and self.box_of(i)]

    def damage(self, scene, *boxes):
        for box in boxes:
            if box is not None:
                scene.cover.append(box)
                scene.damaged = True

    def source_died(self, surface):
        """Its release damaged every item showing it."""
        for scene in self.scenes:
            self.damage(scene, *[self.box_of(i) for i in scene.items if i.source.surface is surface])

    def scenes_touched(self):
        """Something else ran: any source may have been drawn into."""
        for scene in self.scenes:
            if scene.damaged is False and any(self.box_of(item) for item in scene.items):
                scene.damaged = None

    def item_obj(self, item):
        if item.obj is not None:
            return item.obj
        for obj in item.scene.obj.items:
            if id(obj) == item.ident:
                return obj
        raise Divergence(f"an item of {item.scene.name} is no longer among its items")

    def item_text(self, item):
        if item.var is not None:
            return item.var
        return f"{item.scene.name}.items[{self.drawn(item.scene).index(item)}]"

    def item_repr(self, item):
        pos = tuple(float(v) for v in item.pos)
        named = f" {item.label!r}" if item.label is not None else ""
        where = f"of a {item.scene.w}x{item.scene.h} scene" if item.scene else "removed"
        return f"<Item{named} at {pos!r} {where}>"

    def shows(self, scene, target, depth=0):
        """Whether `scene` shows `target` (a scene), through the scenes it shows."""
        if scene is target:
            return True
        inner = {id(s.record): s for s in self.scenes}
        return depth < 64 and any(
            self.shows(inner[id(i.source)], target, depth + 1) for i in scene.items if id(i.source) in inner
        )

    def on_scope_stack(self, records):
        stacked = {id(scope.surface) for scope in self.scopes}
        return any(id(record.surface) in stacked for record in records)

    # ---------------------------------------------------------------- choices

    def scene_pick(self, fresh=True):
        live = [s for s in self.scenes if not s.stale]
        pool = live if live and (fresh or self.rng.random() < 0.85) else self.scenes
        return self.pick(pool)

    def scene_color(self):
        return self.rng.choice(OPAQUE + TRANSLUCENT + [None])

    def bad_color(self, name):
        return self.rng.choice(
            [
                ((1, 2, 3), ValueError, f"{name} must have 4 items"),
                ((0, 0, 0, 256), ValueError, f"{name}[3] is 256, outside 0..255"),
                ("red", TypeError, f"{name} must be None or (r, g, b, a)"),
            ]
        )

    def scene_pos(self, size, pw, ph):
        rng = self.rng
        x, y = rng.randint(-4, max(0, size[0] - 2)), rng.randint(-4, max(0, size[1] - 2))
        if rng.random() < 0.2:
            x, y = x + rng.choice([0.25, 0.5, 0.75]), y + rng.choice([0, 0.5, 0.3])
        r = rng.random()
        if r < 0.5:
            return (x, y)
        if r < 0.6:
            return (x, y, pw, ph)
        w = pw * rng.choice([2, 3, 0.5]) if rng.random() < 0.5 else rng.randint(0, 14)
        h = ph * rng.choice([2, 3, 0.5]) if rng.random() < 0.5 else rng.randint(0, 10)
        if rng.random() < 0.15:
            w += 0.5
        return (x, y, w, h)

    def scene_area(self, pw, ph):
        rng = self.rng
        if rng.random() < 0.65:
            return None
        x, y = rng.randrange(pw), rng.randrange(ph)
        area = (x, y, rng.randint(1, pw - x), rng.randint(1, ph - y))
        if rng.random() < 0.15 and area[2] > 1:
            area = (area[0] + 0.5, area[1], area[2] - 0.5, area[3])
        return area

    def scene_clip(self, size):
        rng = self.rng
        if rng.random() < 0.7:
            return None
        w, h = size
        clip = (rng.randint(-4, w), rng.randint(-4, h), rng.randint(0, w), rng.randint(0, h))
        if rng.random() < 0.1:
            clip = (clip[0] + 0.5, clip[1], clip[2] + 0.7, clip[3])
        return clip

    def scene_source(self, scene):
        """(record, the object, its text, failures) of a source for `scene`; each
        failure (rank, error, message part), the lowest rank checked first."""
        rng = self.rng
        r = rng.random()
        others = [s for s in self.scenes if s is not scene and not s.stale]
        if r < 0.12 and others:
            inner = self.pick(others)
            record, obj, text = inner.record, inner.obj.target, f"{inner.name}.target"
            failures = [(ADD_RANKS["cycle"], ValueError, "that scene's target shows this scene")]
            failures = failures if self.shows(inner, scene) else []
        elif r < 0.15:
            record, obj, text = scene.record, scene.obj.target, f"{scene.name}.target"
            failures = [(ADD_RANKS["cycle"], ValueError, "cannot show its own target")]
        elif r < 0.18 and self.textures(live=True):
            handle = self.pick(self.textures(live=True))
            return handle, handle.obj, handle.name, [(ADD_RANKS["type"], TypeError, "source must be a KlRenderTexture")]
        else:
            dead = self.rts(live=False)
            record = self.pick(dead if r < 0.22 and dead else self.rts(live=True))
            if record is None:
                return None
            obj, text, failures = record.obj, record.name, []
        if record.surface.dead is not None:
            failures.append((ADD_RANKS["source"], RuntimeError, f"shows a dead source: {record.surface.dead}"))
        return record, obj, text, failures

    # ---------------------------------------------------------------- operations

    def op_scene_new(self):
        rng = self.rng
        if len(self.scenes) >= MOST_SCENES:
            stale = [s for s in self.scenes if s.stale]
            return self.drop_scene(self.pick(stale)) if stale else self.op_scene_drop(scene=True)
        r = rng.random()
        if r < 0.15:  # wide or tall: items across the buckets of its grid
            w, h = (rng.randint(100, 150), rng.randint(1, 5)) if rng.random() < 0.5 else (rng.randint(1, 5), 130)
        elif r < 0.3:
            w, h = rng.randint(1, 16), rng.randint(1, 12)
        else:  # with a dozen items, a small change is composed in parts
            w, h = rng.randint(24, 48), rng.randint(16, 32)
        size, failure = (w, h), None
        if rng.random() < 0.1:
            size = (w + 0.5, h + 0.75)
        if rng.random() < 0.05:
            size, *failure = rng.choice(
                [((0, 4), ValueError, "size must be at least 1x1"), ((4, 0.5), ValueError, "at least 1x1")]
            )
        shown = f"KlVector2({fmt(size[0])}, {fmt(size[1])})"
        made = self.KlVector2(*size)
        background = self.scene_color()
        if failure is None and rng.random() < 0.05:
            background, *failure = self.bad_color("background")
        name = self.name("s")
        if rng.random() < 0.2 and failure is None and background is None:
            line, work = f"{name} = Scene({shown})", lambda: self.Scene(made)
        else:
            line, work = f"{name} = Scene({shown}, {fmt(background)})", lambda: self.Scene(made, background)
        if failure:
            return self.run(line, work, *failure)
        obj = self.run(line, work)
        scene = SceneModel(name, obj, w, h, tuple(background or (0, 0, 0, 0)))
        self.scenes.append(scene)
        self.surfaces.append(scene.record.surface)
        for _ in range(rng.randint(3, 14)):
            self.op_scene_add(scene)
        self.check_scene(scene)

    def op_scene_add(self, scene=None):
        rng = self.rng
        scene = scene or self.scene_pick(fresh=False)
        if scene is None:
            return self.op_scene_new()
        if len(scene.items) >= MOST_ITEMS:
            return self.op_scene_change()
        picked = self.scene_source(scene)
        if picked is None:
            return self.op_create()
        record, source, source_text, failures = picked
        pw, ph = record.surface.w, record.surface.h
        pos, area = self.scene_pos((scene.w, scene.h), pw, ph), self.scene_area(pw, ph)
        kwargs = {}
        if area is not None:
            kwargs["area"] = area
        tint = self.tint()
        if rng.random() < 0.6:
            kwargs["tint"] = tint
        blend = rng.choice(range(8)) if rng.random() < 0.4 else 0
        if blend or rng.random() < 0.2:
            kwargs["blend_mode"] = blend
        clip = self.scene_clip((scene.w, scene.h))
        if clip is not None:
            kwargs["clip"] = clip
        label = rng.choice([None, None, "w", "panel", "x y"])
        if label is not None:
            kwargs["name"] = label
        if rng.random() < 0.08:
            what = rng.choice(["pos", "nan", "size", "area", "small", "tint", "blend", "clip", "name", "keyword"])
            bad = {
                "pos": ("pos", (1, 2, 3), ValueError, "pos must be (x, y) or (x, y, width, height), not 3 numbers"),
                "nan": ("pos", (0, math.nan), ValueError, "pos[1] is nan; it must be finite"),
                "size": ("pos", (0, 0, -1, 2), ValueError, "pos has a negative width or height"),
                "area": ("area", (0, 0, pw + 1, 1), ValueError, "reaches outside the source's picture"),
                "small": ("area", (0, 0, 0.5, 1), ValueError, "is less than 1x1"),
                "tint": ("tint", *self.bad_color("tint")),
                "blend": ("blend_mode", 8, ValueError, "not one of raylib's blend modes"),
                "clip": ("clip", (0, 0, -2, 2), ValueError, "clip has a negative width or height"),
                "name": ("name", 3, TypeError, "name must be a str or None"),
                "keyword": ("depth", 3, TypeError, "unexpected keyword argument 'depth'"),
            }[what]
            if bad[0] == "pos":
                pos = bad[1]
            else:
                kwargs[bad[0]] = bad[1]
            failures.append((ADD_RANKS[bad[0]], *bad[2:]))
        line = call_text(f"{scene.name}.add", [_Shown(source_text), pos], kwargs)
        work = lambda: scene.obj.add(source, pos, **kwargs)  # noqa: E731
        if failures:
            self.run(line, work, *min(failures, key=lambda failure: failure[0])[1:])
            return self.check_scene(scene)
        held = rng.random() < 0.5
        var = self.name("i") if held else None
        obj = self.run(f"{var} = {line}" if held else line, work)
        settings = (
            tuple(float(v) for v in pos),
            tuple(float(v) for v in area) if area else None,
            tuple(tint) if tint else (255, 255, 255, 255),
            blend,
            whole_pixels(clip) if clip is not None else None,
            label,
        )
        if "tint" not in kwargs:
            settings = settings[:2] + ((255, 255, 255, 255),) + settings[3:]
        item = ItemModel(obj, record, scene.next_order, settings)
        scene.next_order += 1
        item.scene, item.var = scene, var
        if not held:
            item.obj = None
        scene.items.append(item)
        self.damage(scene, self.box_of(item))
        if rng.random() < 0.2:
            self.scene_set(item, rng.choice(["z", "visible"]))
        self.check_scene(scene)

    def op_scene_change(self):
        rng = self.rng
        items = self.scene_objects()
        if not items:
            return self.op_scene_add()
        item = self.pick(items)
        self.scene_set(item, rng.choice(KINDS))
        if item.scene is not None:
            self.check_scene(item.scene)

    def scene_set(self, item, kind):
        """A change of `kind` to `item`: refused for a removed one (but its name) or a bad value."""
        rng = self.rng
        scene, text = item.scene, self.item_text(item)
        obj = self.item_obj(item)
        size = (scene.w, scene.h) if scene else (24, 16)
        failure, value = None, None
        if kind == "move":
            pw, ph = self.picture_size(item)
            value = self.scene_pos(size, pw, ph)
            if rng.random() < 0.06:
                value, *failure = rng.choice(
                    [
                        ((1,), ValueError, "pos must be (x, y) or (x, y, width, height), not 1 numbers"),
                        ((0, 0, 3, -0.5), ValueError, "negative width or height"),
                        ((math.inf, 0), ValueError, "it must be finite"),
                        ("here", TypeError, "pos must be (x, y) or (x, y, width, height)"),
                    ]
                )
            line, work = f"{text}.move({fmt(value)})", lambda: obj.move(value)
        else:
            if kind == "area":
                surface = item.source.surface
                value = self.scene_area(surface.w, surface.h)
                if rng.random() < 0.06:
                    value, *failure = ((surface.w, 0, 1, 1), ValueError, "reaches outside the source's picture")
            elif kind == "tint":
                value = self.tint()
                if rng.random() < 0.06:
                    value, *failure = self.bad_color("tint")
            elif kind == "blend_mode":
                value = rng.choice(range(8))
                if rng.random() < 0.06:
                    value, *failure = rng.choice(
                        [(-1, ValueError, "blend modes"), (1.5, TypeError, "blend_mode must be an integer")]
                    )
            elif kind == "clip":
                value = self.scene_clip(size)
                if rng.random() < 0.06:
                    value, *failure = ((0, 0, 1, -1), ValueError, "negative width or height")
            elif kind == "z":
                value = rng.choice([0, 0, 1, -1, 2, 0.5, -0.25])
                if rng.random() < 0.06:
                    value, *failure = rng.choice(
                        [(math.nan, ValueError, "it must be finite"), ("up", TypeError, "z must be a number")]
                    )
            elif kind == "visible":
                value = rng.choice([True, False, 0, 1, "", "yes"])
            else:
                value = rng.choice([None, "w", "other"])
                if rng.random() < 0.06:
                    value, *failure = (b"w", TypeError, "name must be a str or None")
            line, work = f"{text}.{kind} = {fmt(value)}", lambda: setattr(obj, kind, value)
        function = "Item.move" if kind == "move" else f"Item.{kind}"
        if scene is None and kind != "name":
            failure = (RuntimeError, f"{function}: the item is no longer in a scene")
        if failure:
            return self.run(line, work, *failure)
        self.run(line, work)
        before = self.box_of(item)
        if kind == "move":
            item.pos = tuple(float(v) for v in value)
        elif kind == "area":
            item.area = tuple(float(v) for v in value) if value else None
        elif kind == "tint":
            item.tint = tuple(value) if value else (255, 255, 255, 255)
        elif kind == "blend_mode":
            item.blend = value
        elif kind == "clip":
            item.clip = whole_pixels(value) if value is not None else None
        elif kind == "z":
            item.z = float(value)
        elif kind == "visible":
            item.visible = bool(value)
        else:
            item.label = value
            return
        self.damage(scene, before, self.box_of(item))

    def op_scene_remove(self, item=None):
        items = self.scene_objects()
        if not items:
            return self.op_scene_add()
        item = item or self.pick(items)
        scene, text = item.scene, self.item_text(item)
        if scene is None:
            return self.run(f"{text}.remove()  # removed already: nothing", item.obj.remove)
        if item.obj is None and self.holders(item.source) == 1 and self.on_scope_stack([item.source]):
            return  # its source would go with it, under an open scope
        obj = self.item_obj(item)
        self.run(f"{text}.remove()", obj.remove)
        if item.obj is not None and self.rng.random() < 0.2:
            self.run(f"{text}.remove()  # again: nothing", obj.remove)
        del obj  # the last reference to one the fuzzer does not hold: it goes
        self.damage(scene, self.box_of(item))
        scene.items.remove(item)
        item.scene = None
        if item.obj is not None:
            self.loose_items.append(item)
        elif not self.holders(item.source):
            self.let_go(item.source, False)
        self.check_scene(scene)

    def op_scene_drop(self, scene=False):
        """The fuzzer lets go of an item or a scene, here or on another thread."""
        rng = self.rng
        held = [i for i in self.scene_objects() if i.obj is not None]
        if scene or not held or rng.random() < 0.4:
            target = self.pick(self.scenes)
            if target is None:
                return self.op_scene_new()
            return self.drop_scene(target)
        item = self.pick(held)
        gone = [item.source] if item.scene is None and self.holders(item.source) == 1 else []
        if self.on_scope_stack(gone):
            return
        thread = rng.random() < 0.3
        self.drop_text(item.var, thread)
        box = [item.obj]
        item.obj, item.var = None, None
        if thread:
            self.release_in_thread(box)
        else:
            box.clear()
        if item.scene is None:
            self.loose_items.remove(item)
            if not self.holders(item.source):
                self.let_go(item.source, thread)

    def drop_scene(self, scene):
        rng = self.rng
        items = scene.items
        dying = [i for i in items if i.obj is None]
        self.scenes.remove(scene)
        kept = [i for i in scene.items if i.obj is not None]
        self.loose_items += kept
        scene.items = kept  # only to count holders below
        records = [i.source for i in dying] + [scene.record]
        gone = [r for r in records if not self.holders(r)]
        if self.on_scope_stack(gone):
            self.scenes.append(scene)
            scene.items = items
            for item in kept:
                self.loose_items.remove(item)
            return
        for item in kept:
            item.scene = None
        scene.items = []
        thread = rng.random() < 0.3
        self.drop_text(scene.name, thread)
        box = [scene.obj]
        scene.obj = None
        if thread:
            self.release_in_thread(box)
        else:
            box.clear()
        for record in dict.fromkeys(gone):
            self.let_go(record, thread)
        record = scene.record
        holder = next((i for i in self.scene_objects() if i.source is record), None)
        if holder and record.surface.dead is None and len(self.handles) < 14 and rng.random() < 0.6:
            # Shown elsewhere, it lives on as an ordinary target: the fuzzer draws into it.
            name = self.name("a")
            record.obj = self.run(f"{name} = {self.item_text(holder)}.source", lambda: self.item_obj(holder).source)
            record.name = name
            self.handles[name] = record

    def drop_text(self, name, thread):
        self.say(f"box = [{name}]; del {name}; in_thread(box.clear)" if thread else f"del {name}")

    @staticmethod
    def release_in_thread(box):
        outcome = in_thread(box.clear)
        if outcome is not None:
            raise Divergence(f"dropping it on another thread raised {outcome[0].__name__}: {outcome[1]}")

    def op_scene_kill(self):
        """Kill a source some scene shows: its next compose is refused, naming an item."""
        shown = {id(i.source): i.source for s in self.scenes for i in s.items}
        handles = [h for h in self.handles.values() if id(h) in shown and h.loaded and h.surface.dead is None]
        handle = self.pick(handles)
        if handle is None:
            return self.op_scene_add()
        self.run(f"{handle.name}.kill()", handle.obj.kill)
        handle.loaded = False
        self.kill_surface(handle.surface, "it was unloaded")

    def op_scene_invalidate(self):
        rng = self.rng
        scene = self.scene_pick(fresh=False)
        if scene is None:
            return self.op_scene_new()
        r = rng.random()
        if r < 0.3:
            self.run(f"{scene.name}.invalidate()", scene.obj.invalidate)
            scene.whole, scene.damaged = True, True
        elif r < 0.8:
            rect = (rng.randint(-3, scene.w), rng.randint(-3, scene.h), rng.randint(0, 12), rng.randint(0, 12))
            if rng.random() < 0.1:
                rect = (rect[0] - 0.5, rect[1] + 0.25, rect[2] + 0.5, rect[3])
            line = f"{scene.name}.invalidate({fmt(rect)})"
            if rng.random() < 0.05:
                bad = (0, 0, -1, 1)
                return self.run(
                    f"{scene.name}.invalidate({fmt(bad)})",
                    lambda: scene.obj.invalidate(bad),
                    ValueError,
                    "negative width or height",
                )
            self.run(line, lambda: scene.obj.invalidate(rect))
            self.damage(scene, meet(whole_pixels(rect), (0, 0, scene.w, scene.h)))
        else:
            color = self.scene_color()
            line = f"{scene.name}.background = {fmt(color)}"
            if rng.random() < 0.1:
                bad, error, match = self.bad_color("background")
                return self.run(
                    f"{scene.name}.background = {fmt(bad)}", lambda: setattr(scene.obj, "background", bad), error, match
                )
            self.run(line, lambda: setattr(scene.obj, "background", color))
            scene.background = tuple(color or (0, 0, 0, 0))
            scene.whole, scene.damaged = True, True
        self.check_scene(scene)

    def op_scene_query(self):
        """item_at at a few points, against the items' boxes and their order."""
        rng = self.rng
        scene = self.scene_pick(fresh=False)
        if scene is None:
            return self.op_scene_new()
        self.check_scene(scene)
        for _ in range(4):
            if rng.random() < 0.04:
                point, error, match = rng.choice(
                    [((1,), ValueError, "point must be (x, y)"), ((0, math.nan), ValueError, "must be finite")]
                )
                self.run(f"{scene.name}.item_at({fmt(point)})", lambda p=point: scene.obj.item_at(p), error, match)
                continue
            px = rng.randint(-2, scene.w) + rng.choice([0, 0, 0.5, 0.99])
            py = rng.randint(-2, scene.h) + rng.choice([0, 0, 0.25, 0.75])
            point = (px, py)
            found = self.run(f"{scene.name}.item_at({fmt(point)})", lambda p=point: scene.obj.item_at(p))
            top = None
            if 0 <= px < scene.w and 0 <= py < scene.h:
                for item in self.drawn(scene):
                    x, y, w, h = self.rect(item)
                    if (
                        inside(math.floor(px), math.floor(py), self.box_of(item))
                        and x <= px < x + w
                        and y <= py < y + h
                    ):
                        top = item
            if (found is None) != (top is None) or (top is not None and id(found) != top.ident):
                raise Divergence(
                    f"{scene.name}.item_at(({px}, {py})) is {found!r}, expected {self.item_repr(top) if top else None}"
                )

    # ---------------------------------------------------------------- composing and presenting

    def op_scene_compose(self):
        """A compose or a present; now and then a few, each after a change or two."""
        rng = self.rng
        scene = self.scene_pick()
        if scene is None or (scene.stale and rng.random() < 0.5):
            return self.op_scene_new()
        for round in range(rng.choice([1, 1, 2, 3, 4])):
            if round:
                for _ in range(rng.randint(1, 2)):
                    self.scene_touch(scene)
            self.compose_once(scene)
            if scene.obj is None:
                return

    def scene_touch(self, scene):
        """A change to `scene` between two composes."""
        r = self.rng.random()
        if len(scene.items) < 8 and r < 0.4:
            self.op_scene_add(scene)
        elif r < 0.65 and scene.items:
            item = self.pick(scene.items)
            self.scene_set(item, self.rng.choice(KINDS))
        elif r < 0.85 and len(scene.items) < MOST_ITEMS:
            self.op_scene_add(scene)
        elif r < 0.95 and scene.items:
            self.op_scene_remove(self.pick(scene.items))
        else:
            rect = (self.rng.randint(0, scene.w), self.rng.randint(0, scene.h), 2, 2)
            self.run(f"{scene.name}.invalidate({fmt(rect)})", lambda: scene.obj.invalidate(rect))
            self.damage(scene, meet(rect, (0, 0, scene.w, scene.h)))

    def compose_once(self, scene):
        rng = self.rng
        forms = ["compose()", "compose()", "compose(full=True)", "present()", "window.present"]
        form = rng.choice(forms if self.window else forms[:-1])
        presenting = form in ("present()", "window.present")
        if presenting and self.present_refused(form) and rng.random() < 0.7:  # mostly drawn, now and then refused
            form, presenting = "compose()", False
        full = form == "compose(full=True)"
        if form == "window.present":
            line, work = f"window.present({scene.name})", lambda: self.window.present(scene.obj)
        elif full and rng.random() < 0.3:
            line, work = f"{scene.name}.compose(True)", lambda: scene.obj.compose(True)
        elif full:
            line, work = f"{scene.name}.compose(full=True)", lambda: scene.obj.compose(full=True)
        else:
            line, work = f"{scene.name}.{form}", getattr(scene.obj, form[:-2])
        outside = form == "present()" or (form == "window.present" and not self.in_frame)
        function = "Scene.present" if outside else "Scene.compose"
        if scene.stale:
            return self.compose_stale(scene, line, work, function, full, presenting)
        dead = self.dead_shown(scene)
        if presenting and self.present_refused(form):  # refused before it composes
            self.run(line, work, RuntimeError, "present")
        elif dead:
            self.run(line, work, RuntimeError, self.dead_message(dead, function))
        else:
            return self.composed(scene, self.run(line, work), full)
        if scene.picture is not None:
            self.check_unchanged(scene)
        if dead and rng.random() < 0.7:  # without them it composes again
            for item in dead:
                self.op_scene_remove(item)
            if not self.dead_shown(scene):
                self.compose_once(scene)

    def dead_message(self, dead, function):
        """What compose says of its items showing a dead source: it names one."""
        if len(dead) > 1:
            return (f"{function}: <Item", "shows a dead source")
        return f"{function}: {self.item_repr(dead[0])} shows a dead source: {dead[0].source.surface.dead}"

    def open_sources_told(self, surely):
        """The targets with a scope open told the scenes showing them: each
        item showing one is damaged (`surely` False: perhaps)."""
        open_ = {id(scope.surface) for scope in self.scopes}
        for scene in self.scenes:
            boxes = [self.box_of(i) for i in scene.items if id(i.source.surface) in open_]
            if surely:
                self.damage(scene, *boxes)
            elif scene.damaged is False and any(boxes):
                scene.damaged = None

    def present_refused(self, form):
        """Presenting is refused inside a target's scope, and scene.present() inside a frame."""
        return self.current() is not None or (form == "present()" and self.in_frame)

    def compose_stale(self, scene, line, work, function, full, presenting):
        """A scene whose window closed: it draws nothing again, and says so once damaged."""
        if self.window is None:
            failure = (RuntimeError, f"{function}: no window is open")
        elif presenting:  # refused as composed, or as presented
            failure = (RuntimeError, "")
        elif self.dead_shown(scene):  # its dead items where damaged (closing damaged none), else its target
            failure = (RuntimeError, (f"{function}: ", "dead"))
        else:
            failure = (RuntimeError, f"{function}: the scene's target is dead: the window it was made under has closed")
        if full or presenting or scene.damaged:
            return self.run(line, work, *failure)
        if scene.damaged is False:  # nothing damaged: nothing to draw, and nothing drawn
            boxes = self.run(line, work)
        else:  # not known: either
            self.say(line + "  # [] or refused")
            try:
                boxes = work()
            except RuntimeError as error:
                parts = failure[1] if isinstance(failure[1], tuple) else (failure[1],)
                if not all(part in str(error) for part in parts):
                    raise Divergence(f"{line} raised RuntimeError: {error}, expected {failure[1]!r}") from None
                self.stats["refused"] += 1
                return
        if boxes != []:
            raise Divergence(f"{line} on a scene whose window closed returned {boxes}, expected []")

    def check_unchanged(self, scene):
        """A refused compose drew nothing."""
        data = self.run(f"read_rgba({scene.name}.target)", lambda: self.read_rgba(scene.obj.target))[2]
        if data != scene.picture:
            changed = sum(data[i : i + 4] != scene.picture[i : i + 4] for i in range(0, len(data), 4))
            raise Divergence(f"a refused compose of {scene.name} changed {changed} pixels of its target")

    def composed(self, scene, boxes, full):
        """The checks after a compose that drew `boxes`."""
        w, h = scene.w, scene.h
        everything = [(0, 0, w, h)]
        if not isinstance(boxes, list) or not all(
            isinstance(b, tuple) and len(b) == 4 and 0 <= b[0] and 0 <= b[1] and b[2] > 0 and b[3] > 0 for b in boxes
        ):
            raise Divergence(f"compose returned {boxes!r}, not a list of boxes")
        if (full or scene.whole) and boxes != everything:
            raise Divergence(f"{scene.name} was damaged whole, compose returned {boxes}, expected {everything}")
        if scene.damaged is False and not full and boxes != []:
            raise Divergence(f"nothing changed in {scene.name} since its last compose, which returned {boxes}")
        for i, a in enumerate(boxes):
            if a[0] + a[2] > w or a[1] + a[3] > h:
                raise Divergence(f"compose returned {a}, outside the {w}x{h} scene")
            for b in boxes[i + 1 :]:
                if meet(a, b):
                    raise Divergence(f"compose returned boxes that overlap: {a} and {b}")
        self.stats["composes"] += 1
        self.stats["composed in parts"] += boxes not in ([], everything)
        drawn = set()
        for x, y, bw, bh in boxes:
            drawn.update((i, j) for j in range(y, y + bh) for i in range(x, x + bw))
        for x, y, bw, bh in scene.cover:
            missed = [(i, j) for j in range(y, y + bh) for i in range(x, x + bw) if (i, j) not in drawn]
            if missed:
                raise Divergence(f"{scene.name} was damaged at {(x, y, bw, bh)}; compose drew {boxes}, not {missed[0]}")
        data = self.run(f"read_rgba({scene.name}.target)", lambda: self.read_rgba(scene.obj.target))[2]
        if scene.picture is not None:
            for p in range(w * h):
                was, now = scene.picture[p * 4 : p * 4 + 4], data[p * 4 : p * 4 + 4]
                if (p % w, p // w) not in drawn and was != now:
                    raise Divergence(
                        f"{scene.name}'s pixel {(p % w, p // w)} changed from {tuple(was)} to {tuple(now)} "
                        f"outside the boxes compose returned: {boxes}"
                    )
        twin = self.recomposed(scene)
        if twin != data:
            wrong = [p for p in range(w * h) if twin[p * 4 : p * 4 + 4] != data[p * 4 : p * 4 + 4]]
            shown = ", ".join(
                f"{(p % w, p // w)}: {tuple(data[p * 4 : p * 4 + 4])} against {tuple(twin[p * 4 : p * 4 + 4])}"
                for p in wrong[:8]
            )
            raise Divergence(
                f"{scene.name}'s target differs from its items composed whole in a fresh scene at "
                f"{len(wrong)} pixels: {shown}"
            )
        self.scene_model(scene)
        # Against the model's picture, which is then narrowed to what was read.
        self.compare(Handle(f"{scene.name}.target", scene.obj.target, scene.record.surface, w, h), w, h, data)
        scene.picture = data
        scene.cover, scene.whole, scene.damaged = [], False, False
        # More may be drawn into a source whose scope is open: composing told
        # the scenes showing it (when it drew at all: [] may be either).
        self.open_sources_told(surely=bool(boxes))
        if boxes:  # its target was drawn: the items showing it are damaged
            for other in self.scenes:
                self.damage(other, *[self.box_of(i) for i in other.items if i.source is scene.record])
        self.check_scene(scene)

    def recomposed(self, scene):
        """The picture of the same items composed whole in a fresh scene."""
        self.say(f"recomposed({scene.name})  # its items composed whole in a fresh scene")
        twin = self.Scene(self.KlVector2(scene.w, scene.h), scene.background)
        for item in self.drawn(scene):
            if self.box_of(item):
                source = self.item_obj(item).source
                twin.add(source, item.pos, area=item.area, tint=item.tint, blend_mode=item.blend, clip=item.clip)
        twin.compose()
        data = self.read_rgba(twin.target)[2]
        del twin
        return data

    def scene_model(self, scene):
        """The model's picture of the scene, put in its target's surface."""
        surface = scene.record.surface
        surface.fill(scene.background)
        for item in self.drawn(scene):
            if not self.box_of(item):
                continue
            x, y, w, h = self.rect(item)
            source = item.source.surface
            ax, ay, aw, ah = item.area or (0, 0, source.w, source.h)
            # Where it may draw: a pixel past its rounded rectangle, within its clip.
            near = (math.floor(x) - 1, math.floor(y) - 1, math.ceil(w) + 3, math.ceil(h) + 3)
            clip = meet(near, item.clip) if item.clip else near
            if clip is None:
                continue
            look = Look(clip=(clip[0], clip[1], clip[0] + clip[2], clip[1] + clip[3]))
            tint = item.tint if item.tint != (255, 255, 255, 255) else None
            draw_quad(surface, translation(x, y), w, h, Window(source, ax, ay, aw, ah), tint, item.blend, look)
        return surface

    # ---------------------------------------------------------------- the scene's state

    def check_scene(self, scene):
        """Its getters, and every item's, are the model's."""
        obj = scene.obj
        if obj is None:
            return
        size, background = obj.size, obj.background
        if size != (scene.w, scene.h) or background != scene.background or len(obj) != len(scene.items):
            raise Divergence(
                f"{scene.name} is {size}, {background}, {len(obj)} items; expected "
                f"{(scene.w, scene.h)}, {scene.background}, {len(scene.items)}"
            )
        listed = obj.items
        order = self.drawn(scene)
        if [id(i) for i in listed] != [i.ident for i in order]:
            raise Divergence(f"{scene.name}.items are not in the order (z, then added): {listed}")
        for item, real in zip(order, listed, strict=True):
            self.check_item(item, real)
        for item in self.loose_items:
            self.check_item(item, item.obj)

    def check_item(self, item, real):
        expected = {
            "pos": item.pos,
            "area": item.area,
            "tint": item.tint,
            "blend_mode": item.blend,
            "clip": item.clip,
            "z": item.z,
            "visible": item.visible,
            "name": item.label,
            "box": self.box_of(item),
        }
        got = {key: getattr(real, key) for key in expected}
        if got != expected:
            wrong = {key: (got[key], expected[key]) for key in expected if got[key] != expected[key]}
            raise Divergence(f"{self.item_repr(item)}: (got, expected) {wrong}")
        if real.scene is not (item.scene.obj if item.scene else None):
            raise Divergence(f"{self.item_repr(item)}.scene is {real.scene!r}")
        if item.source.obj is not None and real.source is not item.source.obj:
            raise Divergence(f"{self.item_repr(item)}.source is not {item.source.name}")

    def scene_without_window(self):
        """No window is open: a scene is not made, composes nothing, and answers as before."""
        rng = self.rng
        scene, r = self.pick(self.scenes), rng.random()
        if scene is None or r < 0.2:
            self.run("Scene(KlVector2(4, 4))", lambda: self.Scene(self.KlVector2(4, 4)), RuntimeError, "open_window")
        elif r < 0.6:
            self.compose_once(scene)
        elif r < 0.8 or not scene.items:
            self.op_scene_query()
        else:
            self.scene_set(self.pick(scene.items), rng.choice(KINDS))

    def scenes_closed(self):
        """The window closed: every scene's target died with it."""
        for scene in self.scenes:
            scene.stale = True


class _Shown:
    def __init__(self, text):
        self.text = text

    def __repr__(self):
        return self.text
