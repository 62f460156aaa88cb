"""Demo: a small settings panel drawn with render targets, saved as demo.png.

Every widget (labels, two sliders, two checkboxes, two buttons, the pointer,
a tooltip) is drawn once into a cell of a widget atlas, its cache, with
raylib's text and shape functions inside `with cell:`. The panel, the
buttons and the tooltip are nine-slice panels, stretched from small skins
with their corners kept. The caches are then composed into the scene: the
panel over a drop shadow made from a copy of it, the hovered button with a
hover tint over an additive glow, and a translucent tooltip on top.

`python -m kelo_ui [--output PATH]` opens a hidden window (on a private
virtual X server when there is no display), renders the scene, writes it as a
PNG to PATH (by default demo.png in the current folder), prints the file's
path and a line saying what it drew, and closes the window. `--help` says so
and draws nothing.

`python -m kelo_ui --frames N [--output PATH]` builds the same picture as a
retained `kelo_ui.Scene` instead: the backdrop, its light, the shadow's
layers, the panel, every widget, the glows, the pointer and the tooltip are
items over their caches, the effects in the items' blend modes and tints.
It then runs N frames in which the brightness slider's knob slides (its cell
and its value's cell drawn again, which damages the items showing them) and
the pointer moves off Apply onto Cancel (the hovered button's tint, its glow
and Apply's tooltip shown or hidden). Each frame is presented with
`window.present(scene)`, which draws again and puts on the window only what
changed; a line per frame gives its time and the area drawn again (the sum
of the boxes compose returned, in pixels and as a share of the scene). The
last frame is written as the PNG, then its path and a summary are printed.
"""

import argparse
import os
import sys
import time
from types import SimpleNamespace

from kelo_ui.atlas import Atlas
from kelo_ui.core.modules import rl
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.presentation.color import Color
from kelo_ui.presentation.nine_slice import blit_nine_slice
from kelo_ui.presentation.pixels import save_png
from kelo_ui.scene import Scene
from kelo_ui.window import open_window

WIDTH, HEIGHT = 480, 300

# The palette.
SKY_TOP, SKY_BOTTOM = (38, 44, 66, 255), (16, 18, 28, 255)
PANEL, PANEL_EDGE = (44, 49, 68, 255), (70, 77, 102, 255)
TEXT, MUTED = (232, 236, 245, 255), (140, 149, 175, 255)
ACCENT, TRACK = (90, 142, 255, 255), (68, 75, 100, 255)
INK = (22, 25, 36, 255)  # text on the buttons
TIP = (14, 16, 24, 255)

# The layout, in scene coordinates: the panel, and each widget's place on it.
PANEL_RECT = (40, 26, 400, 242)
IDLE_TINT = (128, 136, 164, 255)  # a button nobody points at
HOVER_TINT = (110, 162, 255, 255)  # the button under the pointer
TIP_ALPHA = 205  # the tooltip's opacity, 0..255
GLOW_COLOR = (46, 92, 240, 255)
SHADOW = ((12, 28), (8, 36), (4, 48))  # the drop shadow's layers: (spread, opacity)
WALLPAPER_TINT = (110, 70, 120, 255)  # the glow again, as light on the backdrop
WALLPAPER_LIGHT = (-160, -220, 560, 480)  # where that light falls, past the top left corner
BUTTON = (84, 28)  # a button's size
BUTTONS = ("cancel", "apply")
BRIGHTNESS = 72  # the brightness slider's value, in percent

# The animation, over all its frames: the brightness slider's knob slides
# SLIDE points down, and the pointer moves TRAVEL pixels left, off Apply and
# onto Cancel.
SLIDE, TRAVEL = 60, 120


# Where the widgets' caches live: cells of one texture, blitted without a
# texture switch between them.
ATLAS: Atlas | None = None


def target(width, height, color=Color.Blank):
    """A new render target of width x height, cleared to `color`."""
    rt = KlRenderTexture(KlVector2(width, height))
    rt.clear(color)
    return rt


def cell(width, height, color=Color.Blank):
    """A new cell of the widget atlas, cleared to `color`."""
    assert ATLAS is not None
    rt = ATLAS.allocate(KlVector2(width, height))
    rt.clear(color)
    return rt


def cleared(rt):
    """`rt` cleared, to be drawn again."""
    rt.clear(Color.Blank)
    return rt


def rect(x, y, width, height):
    return rl.Rectangle(x, y, width, height)


def skin(size, radius, fill, edge=None):
    """A small rounded square that nine-slice panels stretch, corners kept:
    its borders are `radius` wide."""
    rt = cell(size, size)
    with rt:
        if edge is not None:
            rl.draw_rectangle_rounded(rect(0, 0, size, size), 2 * radius / size, 8, edge)
            rl.draw_rectangle_rounded(rect(1, 1, size - 2, size - 2), 2 * (radius - 1) / (size - 2), 8, fill)
        else:
            rl.draw_rectangle_rounded(rect(0, 0, size, size), 2 * radius / size, 8, fill)
    return rt


def stretched(picture, radius, width, height, into=None):
    """`picture` (a skin) as a nine-slice panel of width x height, in a new cell."""
    rt = into or cell(width, height)
    blit_nine_slice(rt, picture, (radius,) * 4, (0, 0, width, height))
    return rt


def label(text, size=10, color=TEXT, width=None, into=None):
    """A line of text in a cell just big enough for it, or `width` wide;
    drawn again over `into` (a label's cell) when given."""
    if into is not None:
        rt = cleared(into)
    else:
        rt = cell(rl.measure_text(text, size) if width is None else width, size)
    with rt:
        rl.draw_text(text, 0, 0, size, color)
    return rt


def panel(width, height):
    """The panel: a target of its own, since its shadow is made from a copy."""
    rt = stretched(skin(24, 10, PANEL, PANEL_EDGE), 10, width, height, into=target(width, height))
    with rt:
        rl.draw_rectangle(16, 62, width - 32, 1, PANEL_EDGE)  # under the title
    return rt


def slider(width, value, into=None):
    """A track filled up to `value` (0..1), with its knob; drawn again over
    `into` (a slider's cell) when given."""
    rt = cell(width, 16) if into is None else cleared(into)
    knob = 8 + round((width - 16) * value)
    with rt:
        rl.draw_rectangle_rounded(rect(0, 5, width, 6), 1.0, 6, TRACK)
        rl.draw_rectangle_rounded(rect(0, 5, knob, 6), 1.0, 6, ACCENT)
        rl.draw_circle(knob, 8, 8, TEXT)
        rl.draw_circle(knob, 8, 4, ACCENT)
    return rt


def checkbox(text, checked):
    rt = cell(24 + rl.measure_text(text, 10), 16)
    with rt:
        if checked:
            rl.draw_rectangle_rounded(rect(0, 0, 16, 16), 0.3, 6, ACCENT)
            rl.draw_line_ex(rl.Vector2(3.5, 8), rl.Vector2(7, 11.5), 2.5, TEXT)
            rl.draw_line_ex(rl.Vector2(7, 11.5), rl.Vector2(12.5, 4.5), 2.5, TEXT)
        else:
            rl.draw_rectangle_rounded(rect(0, 0, 16, 16), 0.3, 6, MUTED)
            rl.draw_rectangle_rounded(rect(2, 2, 12, 12), 0.3, 6, PANEL)
        rl.draw_text(text, 24, 3, 10, TEXT)
    return rt


def button(face, text, width=BUTTON[0], height=BUTTON[1]):
    """A white button with dark text: the blit's tint gives it its colour."""
    rt = stretched(face, 10, width, height)
    with rt:
        rl.draw_text(text, (width - rl.measure_text(text, 10)) // 2, (height - 10) // 2, 10, INK)
    return rt


def pointer():
    """The mouse pointer: an arrow, its tip at (1, 1)."""
    rt = cell(14, 20)
    outline = [(1, 1), (1, 17), (5, 13), (8, 19), (10, 18), (7, 12), (12, 12)]
    with rt:
        for thickness, color in ((3, INK), (1, TEXT)):
            for start, end in zip(outline, outline[1:] + outline[:1], strict=True):
                rl.draw_line_ex(rl.Vector2(*start), rl.Vector2(*end), thickness, color)
        rl.draw_triangle(rl.Vector2(2, 3), rl.Vector2(2, 15), rl.Vector2(10, 11), TEXT)
    return rt


def tooltip(text):
    rt = stretched(skin(22, 10, TIP), 10, rl.measure_text(text, 10) + 16, 22)
    with rt:
        rl.draw_text(text, 8, 6, 10, TEXT)
    return rt


def close_button(size=14):
    """The panel's close button: a cross."""
    rt = cell(size, size)
    with rt:
        rl.draw_line_ex(rl.Vector2(3, 3), rl.Vector2(size - 3, size - 3), 2, MUTED)
        rl.draw_line_ex(rl.Vector2(size - 3, 3), rl.Vector2(3, size - 3), 2, MUTED)
    return rt


def glow(size=64):
    """A blue disc fading to black: added to what is under it, black adds nothing."""
    rt = cell(size, size, Color.Black)
    with rt:
        rl.draw_circle_gradient(rl.Vector2(size / 2, size / 2), size / 2, GLOW_COLOR, Color.Black)
    return rt


def layout():
    """Where everything goes: {name: (x, y)} in scene coordinates."""
    x, y = PANEL_RECT[:2]
    return {
        "title": (x + 16, y + 16),
        "subtitle": (x + 16, y + 42),
        "brightness": (x + 16, y + 82),
        "brightness slider": (x + 120, y + 79),
        "brightness value": (x + 344, y + 82),
        "contrast": (x + 16, y + 112),
        "contrast slider": (x + 120, y + 109),
        "contrast value": (x + 344, y + 112),
        "night light": (x + 16, y + 144),
        "reduce motion": (x + 16, y + 170),
        "cancel": (x + 204, y + 198),
        "apply": (x + 300, y + 198),
        "pointer": (x + 364, y + 213),
        "tooltip": (x + 334, y + 232),
        "close": (x + 370, y + 18),
    }


def backdrop():
    """The sky behind the panel: a vertical gradient filling a target of the scene's size."""
    rt = target(WIDTH, HEIGHT)
    with rt:
        rl.draw_rectangle_gradient_v(0, 0, WIDTH, HEIGHT, SKY_TOP, SKY_BOTTOM)
    return rt


def caches(brightness=BRIGHTNESS, value_width=None):
    """Every widget and effect drawn once, into a cell or target of its own,
    the brightness slider at `brightness` percent (its value label
    `value_width` wide when given)."""
    halo = glow()
    card = panel(*PANEL_RECT[2:])
    labels = {
        "title": label("Display settings", 20),
        "subtitle": label("Changes apply to every window", 10, MUTED),
        "brightness": label("Brightness"),
        "brightness value": label(f"{brightness}%", 10, MUTED, width=value_width),
        "contrast": label("Contrast"),
        "contrast value": label("45%", 10, MUTED),
    }
    widgets = {
        "brightness slider": slider(200, brightness / 100),
        "contrast slider": slider(200, 0.45),
        "night light": checkbox("Night light after sunset", True),
        "reduce motion": checkbox("Reduce motion", False),
        "close": close_button(),
    }
    face = skin(24, 10, Color.White)
    buttons = {"cancel": button(face, "Cancel"), "apply": button(face, "Apply")}
    arrow, tip = pointer(), tooltip("Save and close")
    # The drop shadow's picture: a copy of the panel, drawn black and
    # translucent a few times, each larger and fainter. Its colour is black,
    # so it is premultiplied already, and BLEND_ALPHA_PREMULTIPLY keeps the
    # scene opaque.
    shadow = card.copy()
    return SimpleNamespace(
        halo=halo, card=card, labels=labels, widgets=widgets, buttons=buttons, pointer=arrow, tooltip=tip, shadow=shadow
    )


def shadow_layers():
    """Where each layer of the drop shadow goes, and its opacity."""
    x, y, width, height = PANEL_RECT
    return [((x - spread, y - spread + 8, width + 2 * spread, height + 2 * spread), alpha) for spread, alpha in SHADOW]


def glow_rect(name):
    """Where a hovered button's glow goes: around it, wider than tall."""
    bx, by = layout()[name]
    return (bx - 24, by - 10, BUTTON[0] + 48, BUTTON[1] + 20)


def render(path):
    """Draw the scene and save it as a PNG at `path`; returns the one-line summary."""
    global ATLAS
    ATLAS = Atlas(KlVector2(512, 256))
    at = layout()
    scene = backdrop()  # the backdrop, the scene itself: the rest is blitted onto it
    c = caches()
    scene.blit(c.halo, WALLPAPER_LIGHT, rl.BlendMode.BLEND_ADDITIVE, color=WALLPAPER_TINT)
    for where, alpha in shadow_layers():
        scene.blit(c.shadow, where, rl.BlendMode.BLEND_ALPHA_PREMULTIPLY, color=(0, 0, 0, alpha))
    scene.blit(c.card, PANEL_RECT[:2])

    # The labels and the other widgets in one call, inside one scope.
    items = [(rt, at[name]) for name, rt in (c.labels | c.widgets).items()]
    scene.blits(items)

    # The buttons: the hovered one over its glow (added: it only brightens),
    # each drawn with the tint of its state.
    scene.blit(c.halo, glow_rect("apply"), rl.BlendMode.BLEND_ADDITIVE)
    scene.blit(c.buttons["cancel"], at["cancel"], color=IDLE_TINT)
    scene.blit(c.buttons["apply"], at["apply"], color=HOVER_TINT)
    # The pointer, and the tooltip over everything: translucent by its tint,
    # (a, a, a, a) as BLEND_ALPHA_PREMULTIPLY wants it.
    scene.blit(c.pointer, at["pointer"])
    scene.blit(c.tooltip, at["tooltip"], rl.BlendMode.BLEND_ALPHA_PREMULTIPLY, color=(TIP_ALPHA,) * 4)

    save_png(scene, path)
    caches_made = 1 + len(c.labels) + len(c.widgets) + 5  # the panel, ..., the buttons, pointer, tooltip and glow
    blits = 1 + len(SHADOW) + 1 + len(items) + 5  # the backdrop's light, the shadow, the panel, ..., the rest
    return (
        f"{WIDTH}x{HEIGHT} settings panel: {caches_made} cached widgets and effects ({len(ATLAS.pages)} atlas "
        f"page, 3 nine-slice skins) composed with {blits} blits (a drop shadow from a copy, a hover tint, an "
        f"additive glow, a translucent tooltip)"
    )


# --- the animation: the same picture as a retained Scene ---------------------------


def pose(frame, frames):
    """The brightness (percent) and the pointer's place at `frame` of
    `frames`, frame 0 being the still picture: over the run the knob slides
    SLIDE points down and the pointer TRAVEL pixels left, from Apply to
    Cancel, whatever the number of frames."""
    done = frame / frames
    x, y = layout()["pointer"]
    return BRIGHTNESS - round(SLIDE * done), (x - round(TRAVEL * done), y)


def under(pointer_at):
    """The button under the pointer's tip (at (1, 1) of its picture), or None."""
    tip_x, tip_y = pointer_at[0] + 1, pointer_at[1] + 1
    for name in BUTTONS:
        x, y = layout()[name]
        if x <= tip_x < x + BUTTON[0] and y <= tip_y < y + BUTTON[1]:
            return name
    return None


def hover(items, over):
    """The button named `over` (or none) shown hovered: its tint and glow,
    and Apply's tooltip while it is Apply."""
    for name in BUTTONS:
        items[name].tint = HOVER_TINT if name == over else IDLE_TINT
        items[f"{name} glow"].visible = name == over
    items["tooltip"].visible = over == "apply"


def retained(brightness, pointer_at):
    """The picture as a Scene: an item for each layer, over the caches, with
    the slider at `brightness` percent and the pointer at `pointer_at`.
    Returns the scene, its items by name and the caches."""
    global ATLAS
    ATLAS = Atlas(KlVector2(512, 256))
    at = layout()
    sky = backdrop()
    # The value label is redrawn as the knob slides: room for the widest value.
    c = caches(brightness, value_width=rl.measure_text("100%", 10))
    scene = Scene((WIDTH, HEIGHT))
    items = {}

    def add(name, source, pos, **how):
        items[name] = scene.add(source, pos, name=name, **how)

    add("backdrop", sky, (0, 0))
    add("backdrop light", c.halo, WALLPAPER_LIGHT, tint=WALLPAPER_TINT, blend_mode=rl.BlendMode.BLEND_ADDITIVE)
    for layer, (where, alpha) in enumerate(shadow_layers(), 1):
        add(f"shadow {layer}", c.shadow, where, tint=(0, 0, 0, alpha), blend_mode=rl.BlendMode.BLEND_ALPHA_PREMULTIPLY)
    add("panel", c.card, PANEL_RECT[:2])
    for name, rt in (c.labels | c.widgets).items():
        add(name, rt, at[name])
    # Every button's glow under every button: a glow reaches the next button.
    for name in BUTTONS:
        add(f"{name} glow", c.halo, glow_rect(name), blend_mode=rl.BlendMode.BLEND_ADDITIVE)
    for name in BUTTONS:
        add(name, c.buttons[name], at[name])
    add("pointer", c.pointer, pointer_at)
    add("tooltip", c.tooltip, at["tooltip"], tint=(TIP_ALPHA,) * 4, blend_mode=rl.BlendMode.BLEND_ALPHA_PREMULTIPLY)
    hover(items, under(pointer_at))
    return scene, items, c


def animate(window, frames, path, say=print):
    """Run `frames` frames of the retained scene on `window`, each presented
    with window.present(scene) and told to `say` (its time and the area
    compose drew again), then write the last one as a PNG at `path`; returns
    the one-line summary."""
    brightness, pointer_at = pose(0, frames)
    scene, items, c = retained(brightness, pointer_at)
    over = under(pointer_at)
    window.present(scene)  # the first composition: everything
    area = WIDTH * HEIGHT
    spent, damaged = 0.0, 0
    for frame in range(1, frames + 1):
        start = time.perf_counter()
        now, pointer_at = pose(frame, frames)
        if now != brightness:
            brightness = now
            slider(200, brightness / 100, into=c.widgets["brightness slider"])
            label(f"{brightness}%", 10, MUTED, into=c.labels["brightness value"])
        items["pointer"].move(pointer_at)
        if (now_over := under(pointer_at)) != over:
            over = now_over
            hover(items, over)
        boxes = window.present(scene)
        took = (time.perf_counter() - start) * 1000
        drawn = sum(width * height for _, _, width, height in boxes)
        spent, damaged = spent + took, damaged + drawn
        say(
            f"frame {frame}: {took:.2f} ms, {drawn} px damaged in {len(boxes)} box{'es' if len(boxes) != 1 else ''} "
            f"({drawn / area:.1%} of the scene)"
        )
    save_png(scene.target, path)
    return (
        f"{WIDTH}x{HEIGHT} settings panel as a Scene of {len(scene)} items over its cached widgets, {frames} "
        f"frame{'s' if frames != 1 else ''} (a slider's knob sliding, the pointer moving from Apply to Cancel): "
        f"{spent / frames:.2f} ms per frame, {damaged / frames:.0f} px damaged per frame "
        f"({damaged / frames / area:.1%} of the scene)"
    )


def frame_count(text):
    """--frames' value: a whole number of frames, at least one."""
    try:
        frames = int(text)
    except ValueError:
        frames = 0
    if frames < 1:
        raise argparse.ArgumentTypeError(f"expected a whole number of frames, at least 1, got {text!r}")
    return frames


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python -m kelo_ui",
        description="Render the kelo_ui demo, a settings panel composed from cached widgets, into a PNG file. "
        "It draws in a hidden window, on a private virtual X server (Xvfb) when there is no display. "
        "With --frames N it animates the panel as a retained Scene instead: N frames in which a slider's knob "
        "slides and the pointer moves from the Apply button to Cancel, each presented on the window with only "
        "what changed drawn again; it prints a line per frame and a summary (milliseconds per frame, the "
        "damaged area in pixels and as a share of the scene) and writes the last frame as the PNG.",
    )
    parser.add_argument(
        "-o",
        "--output",
        metavar="PATH",
        default="demo.png",
        help="where to write the PNG (default: demo.png in the current folder)",
    )
    parser.add_argument(
        "--frames",
        metavar="N",
        type=frame_count,
        help="animate N frames of the panel as a Scene, presenting each, and write the last one",
    )
    args = parser.parse_args(argv)
    path = os.path.abspath(args.output)
    # Refused before the window opens: a bad path would otherwise be found
    # only after the whole scene was drawn.
    if os.path.isdir(path):
        parser.error(f"--output: {path} is a folder; give the PNG file's path")
    if not os.path.isdir(os.path.dirname(path)):
        parser.error(f"--output: the folder {os.path.dirname(path)} does not exist")
    try:
        window = open_window(WIDTH, HEIGHT, "kelo_ui demo", hidden=True)
    except RuntimeError as error:  # no display, or a raylib binding it was not written for: the message says
        parser.exit(1, f"{parser.prog}: error: {error}\n")
    with window:
        try:
            if args.frames is None:
                summary = render(path)
            else:
                summary = animate(window, args.frames, path, say=lambda line: print(line, flush=True))
        except OSError as error:  # the PNG could not be written
            parser.exit(1, f"{parser.prog}: error: {error}\n")
    print(path)
    print(summary)
    return 0


if __name__ == "__main__":
    sys.exit(main())
