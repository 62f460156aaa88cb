// kelo_ui.fast.klvector2.klvector2: the 2-D vector of doubles that the toolkit
// uses for sizes and positions. Native callers read the record directly and
// make vectors through slot 0 of the method table.
#include "kelo_ui/fast/klvector2/klvector2.h"

#include <cstddef>

#include "kelo_ui/fast/runtime/value_type.h"

namespace {

struct Vector2 {
    using Record = KlVector2Object;
    static constexpr kl::ValueDescription about{"KlVector2", "kelo_ui.fast.klvector2.klvector2",
                                                "The toolkit's 2-D vector type.",
                                                "KlVector2(x=0.0, y=0.0)\n--\n\nA 2-D vector of doubles."};
    static constexpr kl::ValueField fields[] = {
        {"x", "horizontal component", offsetof(Record, x), kl::ValueField::real},
        {"y", "vertical component", offsetof(Record, y), kl::ValueField::real},
    };
    static KlVector2VTable table;
};

using Type = kl::ValueType<Vector2>;

PyObject* new_vector2(double x, double y) { return Type::make({x, y}); }

KlVector2VTable Vector2::table = {new_vector2};

}  // namespace

PyMODINIT_FUNC PyInit_klvector2() { return Type::init(); }
