// kelo_ui.fast.klshader.klshader: a shader program id and its uniform
// locations. This stand-in loads no program: it holds an id, and no locations
// (`locs` stays null; the record keeps the field for native readers).
#include "kelo_ui/fast/klshader/klshader.h"

#include <cstddef>

#include "kelo_ui/fast/runtime/value_type.h"

namespace {

struct Shader {
    using Record = KlShaderObject;
    static constexpr kl::ValueDescription about{"KlShader",
                                                "kelo_ui.fast.klshader.klshader",
                                                "The toolkit's shader type.",
                                                "KlShader(id=0)\n--\n\nA shader program id.",
                                                true,
                                                false};
    // Only the id is a value: the locations belong to a loaded program.
    static constexpr kl::ValueField fields[] = {
        {"id", "shader program id", offsetof(Record, id), kl::ValueField::id},
    };
    static KlShaderVTable table;
};

unsigned int shader_id(KlShaderObject* self) { return self->id; }

KlShaderVTable Shader::table = {shader_id};

}  // namespace

PyMODINIT_FUNC PyInit_klshader() { return kl::ValueType<Shader>::init(); }
