"""The window context as the drawing backend: what it refuses (cleanly,
drawing nothing), what it accepts, that it draws without a Python call in
between, and that a binding whose layout differs from the one it was written
for is refused."""

import sys
from fractions import Fraction

import pytest
import raylib

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.pixels import read_rgba
from support.display import drawing_window, image_rows, target

ffi = raylib.ffi
BLANK = (0, 0, 0, 0)
GREEN = (0, 255, 0, 255)


@pytest.fixture(scope="module")
def window():
    with drawing_window() as window:
        assert kelo_raylib.backend is kelo_raylib.context
        yield window


@pytest.fixture
def native(window):
    return kelo_raylib.context


def read(rt):
    return image_rows(*read_rgba(rt))


def struct(name, *values):
    """A cdata of one of the binding's structs."""
    return ffi.new(f"{name} *", values)[0]


class Sequence:
    """A sequence that is neither a tuple nor a list."""

    def __init__(self, *items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        return self.items[index]


class Index:
    """An integer type of another library: it has __index__ only."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


# --- refusals --------------------------------------------------------------------

SRC = "source texture"  # stand-ins, replaced by the real objects below
SRC_RT = "source render texture"
UNLOADED = "unloaded KlRenderTexture"
HUGE = 10**400

# (function, arguments, exception, message)
REFUSALS = [
    ("c_clear_background", ((1, 2, 3),), ValueError, r"color must have 4 items \(r, g, b, a\), not 3"),
    ("c_clear_background", ((1, 2, 3, 4, 5),), ValueError, "color must have 4 items"),
    ("c_clear_background", ((0, 0, 0, 256),), ValueError, r"color\[3\] is 256, outside 0..255"),
    ("c_clear_background", ((-1, 0, 0, 0),), ValueError, r"color\[0\] is -1, outside 0..255"),
    ("c_clear_background", ((HUGE, 0, 0, 0),), ValueError, r"color\[0\] is 1000.*0, outside 0..255"),
    ("c_clear_background", ((0, 1.0, 0, 0),), TypeError, r"color\[1\] must be an integer of 0..255, not float"),
    ("c_clear_background", ((0, 0, None, 0),), TypeError, r"color\[2\] must be an integer"),
    ("c_clear_background", ("rgba",), TypeError, r"color\[0\] must be an integer"),
    ("c_clear_background", (42,), TypeError, "color must be a sequence .* not int"),
    ("c_clear_background", ({"r": 1},), TypeError, "color must be a sequence .* not dict"),
    ("c_clear_background", (struct("Vector2", 1, 2),), TypeError, "raylib Color, not <cdata 'struct Vector2'"),
    ("clear_background", ((1, 2),), ValueError, "color must have 4 items"),
    ("c_draw_texture_vec", (None, (0, 0), None, 1), TypeError, "texture must be a raylib Texture, not NoneType"),
    ("c_draw_texture_vec", ((1, 2, 2, 1, 7), (0, 0), None, 1), TypeError, "raylib Texture, not tuple"),
    ("c_draw_texture_vec", (SRC_RT, (0, 0), None, 1), TypeError, "not <cdata 'struct RenderTexture"),
    ("c_draw_texture_vec", (ffi.new("Texture *"), (0, 0), None, 1), TypeError, r"not <cdata 'struct Texture \*'"),
    ("c_draw_texture_vec", (struct("Color", 1, 2, 3, 4), (0, 0), None, 1), TypeError, "not <cdata 'struct Color'"),
    ("c_draw_texture_vec", (SRC, None, None, 1), TypeError, "dest must be a sequence .* not NoneType"),
    ("c_draw_texture_vec", (SRC, (1,), None, 1), ValueError, r"dest must have 2 items \(x, y\), not 1"),
    ("c_draw_texture_vec", (SRC, [1, 2, 3], None, 1), ValueError, "dest must have 2 items"),
    ("c_draw_texture_vec", (SRC, (HUGE, 0), None, 1), ValueError, r"dest\[0\] is too large for a 32-bit float"),
    ("c_draw_texture_vec", (SRC, (0, -1e39), None, 1), ValueError, r"dest\[1\] is too large"),
    ("c_draw_texture_vec", (SRC, ("1", 0), None, 1), TypeError, r"dest\[0\] must be a number, not str"),
    ("c_draw_texture_vec", (SRC, struct("Rectangle"), None, 1), TypeError, "not <cdata 'struct Rectangle'"),
    ("c_draw_texture_vec", (SRC, (0, 0), (255, 255, 255), 1), ValueError, "color must have 4 items"),
    ("c_draw_texture_rec", (SRC, (0, 0, 2), (0, 0, 2, 2), None), ValueError, "source must have 4 items"),
    ("c_draw_texture_rec", (SRC, None, (0, 0, 2, 2), None), TypeError, "source must be a sequence"),
    ("c_draw_texture_rec", (SRC, (0, 0, 2, 2), struct("Vector2"), None), TypeError, "dest must be .* Rectangle"),
    ("c_draw_texture_rec", (SRC, (0, 0, 2, 2), (0, 0, 2, HUGE), None), ValueError, r"dest\[3\] is too large"),
    ("c_draw_texture_rec", (SRC_RT, (0, 0, 2, 2), (0, 0, 2, 2), None), TypeError, "texture must be a raylib Texture"),
    ("begin_texture_mode", (SRC,), TypeError, "raylib RenderTexture, not <cdata 'struct Texture &'"),
    ("begin_texture_mode", (None,), TypeError, "render_texture must be a raylib RenderTexture, not NoneType"),
    ("begin_texture_mode", ((0, (0, 2, 2, 1, 7)),), TypeError, "raylib RenderTexture, not tuple"),
    ("fast_blit_pro", (None, None, True, None), TypeError, "a raylib RenderTexture or a KlRenderTexture, not NoneType"),
    ("fast_blit_pro", (struct("Rectangle"), None, True, None), TypeError, "not <cdata 'struct Rectangle'"),
    ("fast_blit_pro", (SRC, (1, 2, 3), True, None), ValueError, r"Invalid dest argument - \(1, 2, 3\), must be"),
    ("fast_blit_pro", (SRC, 5, True, None), TypeError, "has no len"),
    ("fast_blit_pro", (SRC, (0, 0, 1, None), True, None), TypeError, r"dest\[3\] must be a number"),
    ("fast_blit_pro", (SRC, (0, 0), True, (1, 2)), ValueError, "color must have 4 items"),
    ("fast_blit_pro", (UNLOADED, None, True, None), AttributeError, "texture"),
]


def _resolve(args, src):
    stand_ins = {SRC: src.texture, SRC_RT: src.render_texture, UNLOADED: KlRenderTexture.__new__(KlRenderTexture)}
    return tuple(stand_ins.get(a, a) if isinstance(a, str) else a for a in args)


@pytest.mark.parametrize(
    "function, args, error, message", REFUSALS, ids=[f"{r[0]}-{i}" for i, r in enumerate(REFUSALS)]
)
def test_bad_arguments_raise_and_draw_nothing(window, native, function, args, error, message):
    src = target(2, 2, GREEN)
    dst = target(3, 3, BLANK)
    args = _resolve(args, src)
    # Through kelo_raylib's exported functions (the path of KlRenderTexture),
    # and the display's fast_blit_pro.
    call = window.display.fast_blit_pro if function == "fast_blit_pro" else getattr(kelo_raylib, function)
    with dst:
        with pytest.raises(error, match=message):
            call(*args)
    assert read(dst) == [[BLANK] * 3] * 3


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda b: b.c_draw_texture_vec(None, (0, 0), None), TypeError),
        (lambda b: b.end_texture_mode(1), TypeError),
        (lambda b: b.begin_blend_mode("alpha"), TypeError),
        (lambda b: b.begin_blend_mode(1.0), TypeError),
        (lambda b: b.begin_blend_mode(2**31), OverflowError),
        (lambda b: b.fast_blit_pro(None, None, True), TypeError),
    ],
)
def test_methods_refuse_bad_calls(native, call, error):
    with pytest.raises(error):
        call(native)


def test_there_is_one_context():
    with pytest.raises(TypeError):
        kelo_raylib.WindowContext()
    with pytest.raises(TypeError):
        type("Sub", (kelo_raylib.WindowContext,), {})


# --- what it accepts ------------------------------------------------------------------

# Equivalent forms of the same colour, position and rectangle.
COLORS = [
    (10, 200, 30, 255),
    [10, 200, 30, 255],
    Sequence(10, 200, 30, 255),
    (Index(10), 200, 30, 255),
    struct("Color", 10, 200, 30, 255),
]
POSITIONS = [(1, 2), (1.0, 2.0), [1, 2], Sequence(1, Fraction(4, 2)), (Index(1), 2), struct("Vector2", 1, 2)]
RECTANGLES = [(1, 0, 2, 3), [1.0, 0.0, 2.0, 3.0], Sequence(1, 0, 2, 3), struct("Rectangle", 1, 0, 2, 3)]


@pytest.mark.parametrize("color", COLORS)
def test_colour_forms(native, color):
    dst = target(2, 2, BLANK)
    with dst:
        kelo_raylib.c_clear_background(color)
    assert read(dst) == [[(10, 200, 30, 255)] * 2] * 2


@pytest.mark.parametrize("dest", POSITIONS)
def test_position_forms(native, dest):
    dst, src = target(4, 4, BLANK), target(1, 1, GREEN)
    with dst:
        kelo_raylib.c_draw_texture_vec(src.texture, dest, COLORS[-1], 1)
    assert [(x, y) for y, row in enumerate(read(dst)) for x, pixel in enumerate(row) if pixel != BLANK] == [(1, 2)]


@pytest.mark.parametrize("dest", RECTANGLES)
def test_rectangle_forms(native, dest):
    dst, src = target(4, 4, BLANK), target(1, 1, GREEN)
    with dst:
        kelo_raylib.c_draw_texture_rec(src.texture, (0, 0, 1, 1), dest, None)
    painted = [(x, y) for y, row in enumerate(read(dst)) for x, pixel in enumerate(row) if pixel == GREEN]
    assert painted == [(x, y) for y in range(0, 3) for x in range(1, 3)]


# --- no Python call in between ---------------------------------------------------------

# Each: the bound method and its arguments.
DRAWS = {
    "fast_blit at a position": lambda dst, src: (dst.fast_blit, src, (0, 0)),
    "fast_blit into a rectangle": lambda dst, src: (dst.fast_blit, src, (0, 0, 2, 2)),
    "fast_clear": lambda dst, src: (dst.fast_clear, GREEN),
    "fast_blit_texture": lambda dst, src: (dst.fast_blit_texture, src.texture, (0, 0)),
    "blit": lambda dst, src: (dst.blit, src, (1, 1)),
    "clear": lambda dst, src: (dst.clear, None),
}


def python_calls(method, *args):
    """The Python functions that run while method(*args) runs."""
    called = []
    sys.setprofile(lambda frame, event, arg: called.append(frame.f_code.co_qualname) if event == "call" else None)
    try:
        method(*args)
    finally:
        sys.setprofile(None)
    return called


@pytest.mark.parametrize("name", DRAWS)
def test_the_context_draws_without_python_calls(window, name, monkeypatch):
    from conftest import RecordingBackend

    dst, src = target(2, 2), target(2, 2, GREEN)
    with monkeypatch.context() as patched:
        patched.setattr(kelo_raylib, "backend", RecordingBackend())
        assert python_calls(*DRAWS[name](dst, src))  # a Python backend's methods: the test sees them
    with dst:
        assert python_calls(*DRAWS[name](dst, src)) == []


# --- the layout check ----------------------------------------------------------------------


class Doctored:
    """The binding's ffi, except that the structs declared in `cdef` are
    described as declared there, and `sizes`, `offsets` and `functions`
    override what sizeof, offsetof and addressof answer."""

    def __init__(self, cdef="", sizes=None, offsets=None, functions=None):
        import cffi

        self.wrong = cffi.FFI()
        self.wrong.cdef(cdef)
        self.declared = set(self.wrong.list_types()[1])
        self.sizes = sizes or {}
        self.offsets = offsets or {}
        self.functions = functions or {}

    def typeof(self, what):
        if isinstance(what, str) and what in self.declared:
            return self.wrong.typeof(what)
        return ffi.typeof(what)

    def sizeof(self, what):
        name = what.cname.removeprefix("struct ") if isinstance(what, ffi.CType) else what
        return self.sizes[name] if name in self.sizes else ffi.sizeof(what)

    def offsetof(self, name, field):
        if (name, field) in self.offsets:
            return self.offsets[name, field]
        return (self.wrong if name in self.declared else ffi).offsetof(name, field)

    def addressof(self, lib, name):
        if name in self.functions:
            return self.functions[name]()
        return ffi.addressof(lib, name)

    def __getattr__(self, name):
        return getattr(ffi, name)


def _missing():
    raise AttributeError("DrawTextureRec")


def _pro_with_double():
    signature = "void(*)(Texture, Rectangle, Rectangle, Vector2, double, Color)"
    return ffi.cast(signature, ffi.addressof(raylib.rl, "DrawTexturePro"))


LAYOUTS = {
    "Texture without format": (
        {"cdef": "typedef struct Texture { unsigned int id; int width, height, mipmaps; } Texture;"},
        "struct Texture is 16 bytes in the raylib binding; kelo_ui assumes 20",
    ),
    "unsigned width": (
        {"cdef": "typedef struct Texture { unsigned int id, width; int height, mipmaps, format; } Texture;"},
        "struct Texture.width is 'unsigned int' in the raylib binding; kelo_ui assumes 'int'",
    ),
    "Color of floats": ({"cdef": "typedef struct Color { float r, g, b, a; } Color;"}, "struct Color is 16 bytes"),
    "Vector2 of doubles": ({"cdef": "typedef struct Vector2 { double x, y; } Vector2;"}, "struct Vector2 is 16 bytes"),
    "Rectangle renamed": (
        {"cdef": "typedef struct Rectangle { float left, top, width, height; } Rectangle;"},
        "field 0 of struct Rectangle .* 'x'",
    ),
    "depth before texture": (
        {
            "cdef": "typedef struct Texture { unsigned int id; int width, height, mipmaps, format; } Texture;"
            "typedef struct RenderTexture { unsigned int id; Texture depth, texture; } RenderTexture;"
        },
        "field 1 of struct RenderTexture .* 'texture'",
    ),
    "a size that lies": (  # the CType's own size is what cffi's conversion writes
        {
            "cdef": "typedef struct Texture { unsigned int id; int width, height, mipmaps, format, more; } Texture;",
            "sizes": {"Texture": 20},
        },
        "CType of struct Texture is 24 bytes; kelo_ui assumes 20",
    ),
    "Rectangle.y moved": ({"offsets": {("Rectangle", "y"): 8}}, "struct Rectangle.y is at offset 8 .* assumes 4"),
    "DrawTexturePro with a double": (
        {"functions": {"DrawTexturePro": _pro_with_double}},
        "DrawTexturePro is .*double.* kelo_ui calls",
    ),
    "DrawTextureRec missing": (
        {"functions": {"DrawTextureRec": _missing}},
        "the raylib binding has no function DrawTextureRec",
    ),
    # Whatever stands in for a function is asked of cffi, never of the ffi.
    "EndBlendMode not a cdata": (
        {"functions": {"EndBlendMode": lambda: 0x1234}},
        r"ffi.addressof\(lib, 'EndBlendMode'\) is 4660, not a cffi cdata",
    ),
    "EndBlendMode is another function": (
        {"functions": {"EndBlendMode": lambda: ffi.addressof(raylib.rl, "ClearBackground")}},
        r"EndBlendMode is .*Color.* kelo_ui calls 'void\(\*\)\(\)'",
    ),
}


@pytest.mark.parametrize("layout", LAYOUTS)
def test_a_different_layout_is_refused(layout):
    doctored, message = LAYOUTS[layout]
    with pytest.raises(kelo_raylib.BindingMismatch, match=message):
        kelo_raylib.check_binding(Doctored(**doctored), raylib.rl)


def test_not_a_binding_is_refused():
    with pytest.raises(kelo_raylib.BindingMismatch, match="has no type Texture") as refused:
        kelo_raylib.check_binding(object(), raylib.rl)
    assert isinstance(refused.value.__cause__, AttributeError)


def test_the_installed_binding_is_accepted():
    assert kelo_raylib.check_binding(Doctored(), raylib.rl) is None
