// What a scope owns beyond its target and blend mode (context.h, DrawState):
// the clip of md.rl's begin_scissor_mode, the shader of begin_shader_mode,
// the camera modes of begin_mode_2d and begin_mode_3d, and rlgl's matrices
// as rl_push_matrix and its kin leave them.
//
// raylib keeps all of this as one global state: a scissor left on clips the
// next target, a pushed matrix moves what is drawn into it, and raylib's
// BeginTextureMode resets the matrices of the target it leaves. Here each
// scope owns its part. A scope on another target begins without any of it (a
// cell with its area as its clip) and the state of the scope it interrupted
// is taken down, kept in that scope, and put back when its target is current
// again. A scope on the same target draws on in the state it finds, and
// whatever it begins or changes is undone when it ends. An end closes what
// was begun after it in the same scope first.
//
// rlgl's matrices: the modelview and projection matrices apply when raylib
// draws its batch, the transform (which rl_push_matrix makes current) to each
// vertex as it is given. Its matrix stack holds RL_MAX_MATRIX_STACK_SIZE (32)
// matrices and writes past its end when pushed beyond it, so a push that
// would leave no room for the one taking-down needs is refused.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "kelo_ui/fast/raylib/private/context.h"
#include "kelo_ui/fast/raylib/private/context_api.h"
#include "kelo_ui/fast/raylib/private/conversions.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/fastcall.h"

namespace kelo_raylib::native {
namespace {

// rlgl's stack holds 32 matrices; one is kept free for taking a state down.
constexpr int deepest = 31;

// ------------------------------------------------------------ rlgl's state

// The scissor test as `clip` wants it: a box of the current target's
// storage or, on the window, the rectangle begin_scissor_mode was given
// there (raylib scales it on a high-DPI window). What was drawn before is
// drawn first, under the clip it was drawn with.
void set_clip(ContextObject* self, const std::optional<Area>& clip, bool on_window) {
    const Functions& raylib = self->binding.raylib;
    Scopes& scopes = self->scopes;
    if (!clip) {
        if (scopes.scissor) {
            raylib.rlDrawRenderBatchActive();
            raylib.rlDisableScissorTest();
            scopes.scissor = false;
        }
        return;
    }
    if (on_window) {
        raylib.BeginScissorMode(clip->x, clip->y, clip->width, clip->height);
    } else {
        raylib.rlDrawRenderBatchActive();
        raylib.rlEnableScissorTest();
        raylib.rlScissor(clip->x, clip->y, clip->width, clip->height);
    }
    scopes.scissor = true;
}

// raylib draws with the state's shader (or its default one).
void set_shader(ContextObject* self, const DrawState& state) {
    Scopes& scopes = self->scopes;
    const unsigned int id = state.shader ? state.shader_value.id : 0;
    if (id == scopes.shader) return;
    if (state.shader) {
        self->binding.raylib.BeginShaderMode(state.shader_value);
    } else {
        self->binding.raylib.EndShaderMode();
    }
    scopes.shader = id;
}

// rlgl's current matrix is made the transform: a push makes it so (and
// notes that vertices are transformed), the pop after it keeps it so.
void make_transform_current(ContextObject* self) {
    Scopes& scopes = self->scopes;
    if (scopes.transform_current || scopes.matrix_depth == 0) return;
    const Functions& raylib = self->binding.raylib;
    raylib.rlMatrixMode(rl_modelview);
    raylib.rlPushMatrix();
    raylib.rlPopMatrix();
    scopes.transform_current = true;
}

// The transform set to `matrix` exactly (its product with the identity).
void set_transform(ContextObject* self, const rl::Matrix& matrix) {
    const Functions& raylib = self->binding.raylib;
    const float values[16] = {matrix.m0,  matrix.m1,  matrix.m2,  matrix.m3, matrix.m4,  matrix.m5,
                              matrix.m6,  matrix.m7,  matrix.m8,  matrix.m9, matrix.m10, matrix.m11,
                              matrix.m12, matrix.m13, matrix.m14, matrix.m15};
    raylib.rlLoadIdentity();
    raylib.rlMultMatrixf(values);
}

// rlgl's matrices as they are, its stack left as it is.
Matrices snapshot(ContextObject* self) {
    const Functions& raylib = self->binding.raylib;
    Matrices taken;
    taken.modelview = raylib.rlGetMatrixModelview();
    taken.projection = raylib.rlGetMatrixProjection();
    taken.transform = raylib.rlGetMatrixTransform();
    taken.transform_current = self->scopes.transform_current;
    return taken;
}

// Puts back a snapshot taken at the same stack depth (what was pushed since
// has been popped). What was drawn with the matrices changed since is drawn
// first.
void restore(ContextObject* self, const Matrices& taken) {
    const Functions& raylib = self->binding.raylib;
    Scopes& scopes = self->scopes;
    raylib.rlDrawRenderBatchActive();
    raylib.rlSetMatrixModelview(taken.modelview);
    raylib.rlSetMatrixProjection(taken.projection);
    if (scopes.matrix_depth > 0) {
        make_transform_current(self);
        set_transform(self, taken.transform);
        if (!taken.transform_current) {
            raylib.rlMatrixMode(rl_modelview);
            scopes.transform_current = false;
        }
    }
}

// Pops the last matrix of rlgl's stack, the transform being current, and
// returns it; the transform is left the identity and no longer applied. A
// pop writes what it pops into the current matrix, so the last goes through
// the projection (kept); a push and pop of the identity then stop
// transforming vertices.
rl::Matrix pop_last(ContextObject* self) {
    const Functions& raylib = self->binding.raylib;
    raylib.rlLoadIdentity();
    const rl::Matrix projection = raylib.rlGetMatrixProjection();
    raylib.rlMatrixMode(rl_projection);
    raylib.rlPopMatrix();
    const rl::Matrix popped = raylib.rlGetMatrixProjection();
    raylib.rlMatrixMode(rl_modelview);
    raylib.rlPushMatrix();
    raylib.rlPopMatrix();
    raylib.rlSetMatrixProjection(projection);
    return popped;
}

// Takes rlgl's matrices down to a fresh target's: the stack emptied, the
// transform the identity and the modelview current, each matrix kept in
// the result (the stack read as it is popped into the transform, its last
// matrix through the projection so that the transform stays the identity).
// `taken.stack` has room for the whole stack already: nothing here allocates.
void take_down(ContextObject* self, Matrices& taken) {
    const Functions& raylib = self->binding.raylib;
    Scopes& scopes = self->scopes;
    raylib.rlDrawRenderBatchActive();
    std::vector<rl::Matrix> stack = std::move(taken.stack);
    taken = snapshot(self);
    taken.stack = std::move(stack);
    const int depth = scopes.matrix_depth;
    if (depth > 0) {
        make_transform_current(self);
        for (int at = depth - 1; at >= 1; --at) {
            raylib.rlPopMatrix();
            taken.stack[static_cast<std::size_t>(at)] = raylib.rlGetMatrixTransform();
        }
        taken.stack[0] = pop_last(self);
    }
    scopes.matrix_depth = 0;
    scopes.transform_current = false;
}

// Puts back what take_down() took, on the target just made current.
void put_back(ContextObject* self, const Matrices& taken) {
    const Functions& raylib = self->binding.raylib;
    Scopes& scopes = self->scopes;
    for (const rl::Matrix& matrix : taken.stack) {
        // Through the projection: pushing it changes nothing else.
        raylib.rlSetMatrixProjection(matrix);
        raylib.rlMatrixMode(rl_projection);
        raylib.rlPushMatrix();
    }
    raylib.rlSetMatrixProjection(taken.projection);
    raylib.rlMatrixMode(rl_modelview);
    raylib.rlSetMatrixModelview(taken.modelview);
    scopes.matrix_depth = static_cast<int>(taken.stack.size());
    scopes.transform_current = false;
    if (scopes.matrix_depth > 0) {
        make_transform_current(self);
        set_transform(self, taken.transform);
        if (!taken.transform_current) {
            raylib.rlMatrixMode(rl_modelview);
            scopes.transform_current = false;
        }
    }
}

// ------------------------------------------------------------ frames

void close_frame(ContextObject* self, const Opened& frame) {
    const Functions& raylib = self->binding.raylib;
    Scopes& scopes = self->scopes;
    switch (frame.kind) {
        case Frame::push:
            // The transform as it was pushed, whatever made the modelview current since.
            make_transform_current(self);
            raylib.rlPopMatrix();
            if (--scopes.matrix_depth == 0) scopes.transform_current = false;
            break;
        case Frame::mode_2d:
        case Frame::mode_3d:
            if (frame.kind == Frame::mode_2d) {
                raylib.EndMode2D();
            } else {
                raylib.EndMode3D();  // which turns the depth test off
                --scopes.matrix_depth;
                scopes.transform_current = false;
                if (--scopes.modes_3d > 0) raylib.rlEnableDepthTest();
                if (scopes.matrix_depth == 0) {
                    // Its end pops the projection, leaving a transform made
                    // inside the mode applied, and there to a later push.
                    raylib.rlPushMatrix();
                    pop_last(self);
                }
            }
            // The transform as the mode found it (the identity, with nothing pushed).
            if (scopes.matrix_depth > 0) {
                make_transform_current(self);
                set_transform(self, frame.transform);
                if (!frame.transform_current) {
                    raylib.rlMatrixMode(rl_modelview);
                    scopes.transform_current = false;
                }
            }
            break;
    }
}

// A frame of `kind` about to begin, with the transform as it is.
Opened opened(ContextObject* self, Frame kind) {
    return {kind, self->scopes.transform_current, self->binding.raylib.rlGetMatrixTransform()};
}

// Closes the frames of `state` from the innermost down to the one at `from`.
void close_frames(ContextObject* self, DrawState& state, std::size_t from) {
    while (state.frames.size() > from) {
        const Opened frame = state.frames.back();
        state.frames.pop_back();
        close_frame(self, frame);
    }
}

// The state of the scope that `scope` continues on the same target.
DrawState* found_state(Scopes& scopes, const TextureScope* scope) {
    if (!scope->continues) return nullptr;
    for (auto at = static_cast<std::size_t>(scope - scopes.targets.data()); at-- > 0;)
        if (scopes.targets[at].render_texture) return &scopes.targets[at].state;
    return &scopes.window;
}

// The current scope is about to change rlgl's matrices: on the same target
// as the scope it continues, what it found is kept to be put back. False,
// with nothing changed, when there is no memory for it.
bool changing_matrices(ContextObject* self) {
    Scopes& scopes = self->scopes;
    TextureScope* scope = scopes.current();
    if (scope != nullptr && scope->continues && !scope->state.found) {
        std::unique_ptr<Matrices> found;
        if (!growing([&] { found = std::make_unique<Matrices>(); })) return false;
        *found = snapshot(self);
        scope->state.found = std::move(found);
    }
    scopes.matrices_changed = true;
    return true;
}

std::size_t own(const DrawState& state) {
    return static_cast<std::size_t>(state.own_clip) + static_cast<std::size_t>(state.own_shader) + state.frames.size();
}

}  // namespace

std::size_t Scopes::open() const {
    std::size_t count = targets.size() + blends.size() + own(window);
    for (const TextureScope& scope : targets) count += own(scope.state);
    return count;
}

// ------------------------------------------------------------ scope changes

bool leave_state(ContextObject* self, DrawState& state) {
    Scopes& scopes = self->scopes;
    if (scopes.matrices_changed || scopes.matrix_depth > 0) {
        std::unique_ptr<Matrices> taken;
        if (!growing([&] {
                taken = std::make_unique<Matrices>();
                taken->stack.resize(static_cast<std::size_t>(scopes.matrix_depth));
            }))
            return false;
        take_down(self, *taken);
        taken->modes_3d = scopes.modes_3d;
        state.suspended = std::move(taken);
        if (scopes.modes_3d > 0) self->binding.raylib.rlDisableDepthTest();
        scopes.modes_3d = 0;
    }
    scopes.matrices_changed = false;
    if (scopes.shader != 0) {
        self->binding.raylib.EndShaderMode();
        scopes.shader = 0;
    }
    return true;
}

void begin_state(ContextObject* self, TextureScope& scope) {
    DrawState& state = scope.state;
    if (DrawState* found = found_state(self->scopes, &scope)) {
        state.base = found->clip;
        state.clip = found->clip;
        if (found->shader) {
            state.shader = Ref::newref(found->shader.get());
            state.shader_value = found->shader_value;
        }
        return;
    }
    if (!scope.target.area.whole()) state.base = scope.target.area;
    state.clip = state.base;
    set_clip(self, state.clip, false);
}

void resume_state(ContextObject* self, DrawState& state, bool on_window) {
    Scopes& scopes = self->scopes;
    set_clip(self, state.clip, on_window);
    set_shader(self, state);
    scopes.matrices_changed = false;
    if (state.suspended) {
        const std::unique_ptr<Matrices> taken = std::move(state.suspended);
        put_back(self, *taken);
        scopes.modes_3d = taken->modes_3d;
        if (scopes.modes_3d > 0) self->binding.raylib.rlEnableDepthTest();
        scopes.matrices_changed = true;
    }
}

void end_state(ContextObject* self, TextureScope& scope) {
    DrawState& state = scope.state;
    if (state.frames.empty() && !state.found && !state.own_clip && !state.own_shader) [[likely]]
        return;  // it began and changed nothing
    close_frames(self, state, 0);
    DrawState* found = found_state(self->scopes, &scope);
    if (found == nullptr) return;
    // The same target draws on in the state the scope found.
    if (state.found) restore(self, *state.found);
    if (state.own_clip) set_clip(self, found->clip, found == &self->scopes.window);
    if (state.own_shader) set_shader(self, *found);
}

void end_live_states(ContextObject* self) {
    Scopes& scopes = self->scopes;
    TextureScope* scope = scopes.current();
    if (scope == nullptr) return close_frames(self, scopes.window, 0);
    for (auto at = static_cast<std::size_t>(scope - scopes.targets.data()) + 1; at-- > 0;) {
        TextureScope& live = scopes.targets[at];
        if (!live.render_texture) continue;
        close_frames(self, live.state, 0);
        if (!live.continues) break;
    }
}

// ------------------------------------------------------------ md.rl's functions

namespace {

// A rectangle of md.rl's (top-left origin, in the current target's own
// coordinates) as a box of the target's storage, within `base`.
Area box_of(const Target& target, long long x, long long y, long long width, long long height,
            const std::optional<Area>& base) {
    const Area& area = target.area;
    const long long left = (area.whole() ? 0 : area.x) + x;
    const long long top = area.whole() ? target.height : area.y + area.height;
    Area bounds = area.whole() ? Area{0, 0, target.width, target.height} : area;
    if (base) bounds = *base;
    const long long x0 = std::max<long long>(left, bounds.x);
    const long long y0 = std::max<long long>(top - (y + height), bounds.y);
    const long long x1 = std::min<long long>(left + width, bounds.x + bounds.width);
    const long long y1 = std::min<long long>(top - y, bounds.y + bounds.height);
    if (x1 <= x0 || y1 <= y0) return Area{bounds.x, bounds.y, 0, 0};  // nothing is drawn
    return Area{static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0), static_cast<int>(y1 - y0)};
}

// A finite float of a matrix function: a transform that is not finite could
// not be taken down and put back as it was.
bool finite_argument(PyObject* object, float& out, const char* function, const char* parameter) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return false;
    if (!std::isfinite(value) || std::fabs(value) > 3.4e38) {
        PyErr_Format(PyExc_ValueError, "%s: %s is %R; a transform is made of finite numbers", function, parameter,
                     object);
        return false;
    }
    out = static_cast<float>(value);
    return true;
}

// The checks of a call that takes no arguments, before it changes anything.
bool bare_call(ContextObject* self, Py_ssize_t nargs, const char* function) {
    return kl::check_positional_count(function, nargs, 0) && enter(self, function) && ready(self, function);
}

// The checks of a call that takes a shader; `shader` holds it while it is read.
bool shader_call(ContextObject* self, PyObject* const* args, Py_ssize_t nargs, const char* function, Ref& shader,
                 rl::Shader& value) {
    if (!kl::check_positional_count(function, nargs, 1) || !enter(self, function)) return false;
    shader = Ref::newref(args[0]);
    return from_cdata(self->binding, shader_struct, shader.get(), &value, {function, "shader"}, "a raylib Shader") &&
           ready(self, function);
}

// The innermost frame of `kind` that the current scope began, or -1.
std::ptrdiff_t innermost(const DrawState& state, Frame kind) {
    for (std::size_t at = state.frames.size(); at-- > 0;)
        if (state.frames[at].kind == kind) return static_cast<std::ptrdiff_t>(at);
    return -1;
}

// A frame of `kind` is closed, with what was begun after it: nothing when the
// current scope began none (an end with nothing open is harmless).
PyObject* close_innermost(PyObject* object, Py_ssize_t nargs, Frame kind, const char* function) {
    ContextObject* self = context_of(object);
    if (!bare_call(self, nargs, function)) return nullptr;
    DrawState& state = self->scopes.state();
    const std::ptrdiff_t at = innermost(state, kind);
    if (at >= 0) close_frames(self, state, static_cast<std::size_t>(at));
    Py_RETURN_NONE;
}

// Room on rlgl's matrix stack for one more matrix.
bool room_to_push(ContextObject* self, const char* function) {
    if (self->scopes.matrix_depth < deepest) return true;
    PyErr_Format(PyExc_RuntimeError,
                 "%s: rlgl's matrix stack is full (%d matrices are pushed or taken by 3D modes); pop some first",
                 function, self->scopes.matrix_depth);
    return false;
}

// A transform of the current matrix: the modelview applies when raylib draws
// its batch, so what was drawn before is drawn first; the transform applies
// to each vertex as it is given.
template <typename Change>
PyObject* transform(ContextObject* self, Change change) {
    if (!changing_matrices(self)) return nullptr;
    if (!self->scopes.transform_current) self->binding.raylib.rlDrawRenderBatchActive();
    change(self->binding.raylib);
    Py_RETURN_NONE;
}

// rl_translatef, rl_rotatef and rl_scalef: `count` numbers, each finite,
// given to `apply` as the transform's change.
template <std::size_t count, typename Apply>
PyObject* transform_by(PyObject* object, PyObject* const* args, Py_ssize_t nargs, const char* function,
                       const char* const (&parameters)[count], Apply apply) {
    ContextObject* self = context_of(object);
    if (!kl::check_positional_count(function, nargs, static_cast<Py_ssize_t>(count)) || !enter(self, function))
        return nullptr;
    float values[count];
    for (std::size_t i = 0; i < count; ++i)
        if (!finite_argument(args[i], values[i], function, parameters[i])) return nullptr;
    if (!ready(self, function)) return nullptr;
    return transform(self, [&](const Functions& raylib) { apply(raylib, values); });
}

}  // namespace

PyObject* method_begin_scissor_mode(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "begin_scissor_mode";
    ContextObject* self = context_of(object);
    int x = 0, y = 0, width = 0, height = 0;
    if (!kl::check_positional_count(function, nargs, 4) || !enter(self, function) || !kl::int_argument(args[0], x) ||
        !kl::int_argument(args[1], y) || !kl::int_argument(args[2], width) || !kl::int_argument(args[3], height) ||
        !ready(self, function))
        return nullptr;
    if (width < 0 || height < 0) {
        PyErr_Format(PyExc_ValueError, "%s: width and height are 0 or more, not %d and %d", function, width, height);
        return nullptr;
    }
    Scopes& scopes = self->scopes;
    const TextureScope* scope = scopes.current();
    DrawState& state = scopes.state();
    // On the window raylib takes the rectangle itself (a high-DPI window scales it).
    state.clip = scope ? box_of(scope->target, x, y, width, height, state.base) : Area{x, y, width, height};
    state.own_clip = true;
    set_clip(self, state.clip, scope == nullptr);
    Py_RETURN_NONE;
}

PyObject* method_end_scissor_mode(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    constexpr const char* function = "end_scissor_mode";
    ContextObject* self = context_of(object);
    if (!bare_call(self, nargs, function)) return nullptr;
    Scopes& scopes = self->scopes;
    DrawState& state = scopes.state();
    if (state.own_clip) {
        state.own_clip = false;
        state.clip = state.base;  // a cell's area, or the clip it found
        set_clip(self, state.clip, scopes.current() == nullptr);
    }
    Py_RETURN_NONE;
}

PyObject* method_begin_shader_mode(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "begin_shader_mode";
    ContextObject* self = context_of(object);
    Ref shader;
    rl::Shader value;
    if (!shader_call(self, args, nargs, function, shader, value)) return nullptr;
    if (value.id == 0) {
        PyErr_Format(PyExc_ValueError, "%s: the shader has no GPU program (id 0): it was unloaded or never loaded",
                     function);
        return nullptr;
    }
    DrawState& state = self->scopes.state();
    state.shader = std::move(shader);
    state.shader_value = value;
    state.own_shader = true;
    set_shader(self, state);
    Py_RETURN_NONE;
}

PyObject* method_end_shader_mode(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    constexpr const char* function = "end_shader_mode";
    ContextObject* self = context_of(object);
    if (!bare_call(self, nargs, function)) return nullptr;
    Scopes& scopes = self->scopes;
    TextureScope* scope = scopes.current();
    DrawState& state = scopes.state();
    if (state.own_shader) {
        const DrawState* found = scope ? found_state(scopes, scope) : nullptr;
        Ref dropped = std::move(state.shader);
        state.shader = Ref::newref(found ? found->shader.get() : nullptr);
        state.shader_value = found ? found->shader_value : rl::Shader{};
        state.own_shader = false;
        set_shader(self, state);
    }
    Py_RETURN_NONE;
}

namespace {

// A camera of finite numbers: one that is not could not be taken down and
// put back as it was (the matrix functions refuse it for the same reason).
bool finite_camera(std::initializer_list<float> values, const char* function) {
    for (float value : values) {
        if (!std::isfinite(value)) {
            PyErr_Format(PyExc_ValueError,
                         "%s: the camera holds a number that is not finite; a camera is made of "
                         "finite numbers",
                         function);
            return false;
        }
    }
    return true;
}

}  // namespace

PyObject* method_begin_mode_2d(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "begin_mode_2d";
    ContextObject* self = context_of(object);
    rl::Camera2D camera;
    if (!kl::check_positional_count(function, nargs, 1) || !enter(self, function) ||
        !to_struct(self->binding, camera2d_struct, args[0], &camera, {function, "camera"}, "a raylib Camera2D") ||
        !finite_camera(
            {camera.offset.x, camera.offset.y, camera.target.x, camera.target.y, camera.rotation, camera.zoom},
            function) ||
        !ready(self, function) ||
        !growing([&] { self->scopes.state().frames.reserve(self->scopes.state().frames.size() + 1); }) ||
        !changing_matrices(self))
        return nullptr;
    self->scopes.state().frames.push_back(opened(self, Frame::mode_2d));
    self->binding.raylib.BeginMode2D(camera);
    Py_RETURN_NONE;
}

PyObject* method_end_mode_2d(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    return close_innermost(object, nargs, Frame::mode_2d, "end_mode_2d");
}

PyObject* method_begin_mode_3d(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "begin_mode_3d";
    ContextObject* self = context_of(object);
    rl::Camera3D camera;
    if (!kl::check_positional_count(function, nargs, 1) || !enter(self, function) ||
        !to_struct(self->binding, camera3d_struct, args[0], &camera, {function, "camera"}, "a raylib Camera3D") ||
        !finite_camera({camera.position.x, camera.position.y, camera.position.z, camera.target.x, camera.target.y,
                        camera.target.z, camera.up.x, camera.up.y, camera.up.z, camera.fovy},
                       function) ||
        !ready(self, function))
        return nullptr;
    Scopes& scopes = self->scopes;
    if (!scopes.target().area.whole()) {
        // raylib would take the page's proportions for the cell's.
        PyErr_Format(PyExc_RuntimeError,
                     "%s: an atlas cell is drawn in 2D only; draw in 3D into a KlRenderTexture of its own and blit "
                     "that into the cell",
                     function);
        return nullptr;
    }
    if (!room_to_push(self, function) ||
        !growing([&] { scopes.state().frames.reserve(scopes.state().frames.size() + 1); }) || !changing_matrices(self))
        return nullptr;
    scopes.state().frames.push_back(opened(self, Frame::mode_3d));
    self->binding.raylib.BeginMode3D(camera);  // pushes the projection, turns the depth test on
    ++scopes.matrix_depth;
    ++scopes.modes_3d;
    scopes.transform_current = false;
    Py_RETURN_NONE;
}

PyObject* method_end_mode_3d(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    return close_innermost(object, nargs, Frame::mode_3d, "end_mode_3d");
}

PyObject* method_rl_push_matrix(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    constexpr const char* function = "rl_push_matrix";
    ContextObject* self = context_of(object);
    if (!bare_call(self, nargs, function) || !room_to_push(self, function) ||
        !growing([&] { self->scopes.state().frames.reserve(self->scopes.state().frames.size() + 1); }) ||
        !changing_matrices(self))
        return nullptr;
    self->scopes.state().frames.push_back(opened(self, Frame::push));
    self->binding.raylib.rlPushMatrix();
    ++self->scopes.matrix_depth;
    self->scopes.transform_current = true;
    Py_RETURN_NONE;
}

PyObject* method_rl_pop_matrix(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    return close_innermost(object, nargs, Frame::push, "rl_pop_matrix");
}

PyObject* method_rl_translatef(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    return transform_by(object, args, nargs, "rl_translatef", {"x", "y", "z"},
                        [](const Functions& raylib, const float* v) { raylib.rlTranslatef(v[0], v[1], v[2]); });
}

PyObject* method_rl_rotatef(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    return transform_by(object, args, nargs, "rl_rotatef", {"angle", "x", "y", "z"},
                        [](const Functions& raylib, const float* v) { raylib.rlRotatef(v[0], v[1], v[2], v[3]); });
}

PyObject* method_rl_scalef(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    return transform_by(object, args, nargs, "rl_scalef", {"x", "y", "z"},
                        [](const Functions& raylib, const float* v) { raylib.rlScalef(v[0], v[1], v[2]); });
}

PyObject* method_rl_mult_matrixf(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "rl_mult_matrixf";
    ContextObject* self = context_of(object);
    float values[16];
    if (!kl::check_positional_count(function, nargs, 1) || !enter(self, function) ||
        !to_matrix_floats(self->binding, args[0], values, {function, "matf"}) || !ready(self, function))
        return nullptr;
    for (float value : values) {
        if (!std::isfinite(value)) {
            PyErr_Format(PyExc_ValueError, "%s: matf holds %R; a transform is made of finite numbers", function,
                         args[0]);
            return nullptr;
        }
    }
    return transform(self, [&](const Functions& raylib) { raylib.rlMultMatrixf(values); });
}

PyObject* method_rl_load_identity(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    constexpr const char* function = "rl_load_identity";
    ContextObject* self = context_of(object);
    if (!bare_call(self, nargs, function)) return nullptr;
    return transform(self, [](const Functions& raylib) { raylib.rlLoadIdentity(); });
}

namespace {

// The current target's size as raylib's drawing sees it: a cell is its own
// area (raylib would answer with its page's size).
PyObject* render_size(PyObject* object, Py_ssize_t nargs, const char* function, bool width) {
    ContextObject* self = context_of(object);
    if (!bare_call(self, nargs, function)) return nullptr;
    const Area area = self->scopes.target().area;
    if (!area.whole()) return PyLong_FromLong(width ? area.width : area.height);
    const Functions& raylib = self->binding.raylib;
    return PyLong_FromLong(width ? raylib.GetRenderWidth() : raylib.GetRenderHeight());
}

}  // namespace

PyObject* method_get_render_width(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    return render_size(object, nargs, "get_render_width", true);
}

PyObject* method_get_render_height(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    return render_size(object, nargs, "get_render_height", false);
}

PyObject* method_unload_shader(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "unload_shader";
    ContextObject* self = context_of(object);
    Ref shader;
    rl::Shader value;
    if (!shader_call(self, args, nargs, function, shader, value)) return nullptr;
    // raylib would draw the scope's batch, and every later one, with a
    // program that no longer exists.
    Scopes& scopes = self->scopes;
    bool in_use = scopes.window.shader && scopes.window.shader_value.id == value.id;
    for (const TextureScope& scope : scopes.targets)
        in_use = in_use || (scope.state.shader && scope.state.shader_value.id == value.id);
    if (value.id != 0 && in_use) {
        PyErr_Format(PyExc_RuntimeError, "%s: a scope draws with this shader; end its begin_shader_mode first",
                     function);
        return nullptr;
    }
    self->binding.raylib.rlDrawRenderBatchActive();
    self->binding.raylib.UnloadShader(value);
    Py_RETURN_NONE;
}

}  // namespace kelo_raylib::native
