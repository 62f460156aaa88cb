// kelo_ui.fast.klrect.klrect: a rectangle of single-precision floats, the
// layout raylib uses for rectangles. Native callers read the record directly
// and make rectangles through slot 0 of the method table.
#include "kelo_ui/fast/klrect/klrect.h"

#include <cstddef>

#include "kelo_ui/fast/runtime/value_type.h"

namespace {

struct Rect {
    using Record = KlRectObject;
    static constexpr kl::ValueDescription about{
        "KlRect", "kelo_ui.fast.klrect.klrect", "The toolkit's rectangle type.",
        "KlRect(x=0, y=0, w=0, h=0)\n--\n\nA rectangle of single-precision floats."};
    // Each coordinate: any number that float() accepts, rounded to single precision.
    static constexpr kl::ValueField fields[] = {
        {"x", "left edge", offsetof(Record, x), kl::ValueField::single},
        {"y", "top edge", offsetof(Record, y), kl::ValueField::single},
        {"w", "width", offsetof(Record, w), kl::ValueField::single},
        {"h", "height", offsetof(Record, h), kl::ValueField::single},
    };
    static KlRectVTable table;
};

using Type = kl::ValueType<Rect>;

PyObject* new_rect(float x, float y, float w, float h) { return Type::make({x, y, w, h}); }

KlRectVTable Rect::table = {new_rect};

}  // namespace

PyMODINIT_FUNC PyInit_klrect() { return Type::init(); }
