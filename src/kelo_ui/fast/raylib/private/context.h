// The window context (private to kelo_raylib): the one owner of the open
// window's state. It holds the window's thread, its GPU objects and why each
// dead one died, the releases other threads left for it, the scope stacks and
// the binding through which it calls raylib; it is also the drawing backend
// that kelo_raylib's functions forward to. There is one, for the life of the
// process; opening a window activates it and closing the window, or forking,
// deactivates it.
//
// Every rule of drawing is written here once: who may draw (the window's
// thread, while active, with raylib's window open), which objects are dead and
// why, how the scopes nest.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "kelo_ui/fast/raylib/private/binding_check.h"
#include "kelo_ui/fast/raylib/private/compositor.h"
#include "kelo_ui/fast/raylib/private/gpu_objects.h"
#include "kelo_ui/fast/raylib/private/raylib_declarations.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace kelo_raylib::native {

// A rectangle of a texture in its storage (GL rows run bottom-up): where a
// cell of an atlas page lies, or a scissor box. Empty (width 0): the whole
// texture.
struct Area {
    int x = 0, y = 0, width = 0, height = 0;
    bool whole() const { return width == 0; }
    bool operator==(const Area&) const = default;
};

// What drawing goes into: a framebuffer (0: the window), the cell of it, and
// the size of its texture (a scope's rectangles are flipped by its height).
struct Target {
    unsigned int id = 0;
    Area area;
    int width = 0, height = 0;
    bool operator==(const Target&) const = default;
};

// A cell of an atlas page: its page (held while the cell lives) and its area.
struct Cell {
    Ref page;                            // the page's view
    const rl::RenderTexture* page_data;  // the page's struct, in the context's memory
    Area area;
};

// A matrix pushed through md.rl, or a camera mode begun through it: what
// rl_pop_matrix, end_mode_2d and end_mode_3d close. A close closes what was
// begun after it in the same scope first.
enum class Frame : unsigned char { push, mode_2d, mode_3d };

// A frame begun, and rlgl's transform as it was then: a camera mode's end
// gives it back (raylib's own end would leave what was done to it inside).
struct Opened {
    Frame kind;
    bool transform_current;
    rl::Matrix transform;
};

// rlgl's matrices as a scope had them. `stack` is rlgl's matrix stack, bottom
// first, when it was taken down because another target became current.
struct Matrices {
    rl::Matrix modelview{}, projection{}, transform{};
    std::vector<rl::Matrix> stack;
    bool transform_current = false;
    int modes_3d = 0;
};

// What a scope owns beyond its target: md.rl's scissor, shader, camera modes
// and matrices begun in it. A scope on another target than the one before it
// begins with none of it (a cell with its area as its clip); one on the same
// target draws on in the state it finds, and puts that state back when it
// ends. (scope_state.cpp)
struct DrawState {
    std::optional<Area> base;  // the clip it began with: a cell's area, or the clip it found on the same target
    std::optional<Area> clip;  // the clip in force: `base`, or begin_scissor_mode's box within it
    bool own_clip = false;     // begin_scissor_mode was called in it
    Ref shader;                // the shader in force (held), null: raylib's default
    rl::Shader shader_value{};
    bool own_shader = false;     // begin_shader_mode was called in it
    std::vector<Opened> frames;  // begun in it, innermost last
    // Rarely made (a scope on a blit's path has neither): the matrices it
    // found on the same target, before its first change; its own while
    // another target is current.
    std::unique_ptr<Matrices> found;
    std::unique_ptr<Matrices> suspended;
};

// A texture-mode scope: the render texture begun (held while it is on the
// stack), the target it draws into, and its drawing state. A target
// released inside its scope leaves an empty scope behind (null, id 0): the
// enclosing target is current until that scope's end, which still pairs
// with its begin. `continues`: it began on the target that was current.
struct TextureScope {
    Ref render_texture;
    Target target;
    bool continues = false;
    DrawState state;
};

struct Scopes {
    std::vector<TextureScope> targets;  // innermost last
    std::vector<int> blends;            // innermost last
    DrawState window;                   // what md.rl began on the window, outside every target's scope
    // raylib as the current target has it: how many matrices rlgl's stack
    // holds (the pushes and 3D modes of the scopes drawing on it), whether
    // its current matrix is the transform (a push made it so) or the
    // modelview, whether md.rl changed its matrices since the target became
    // current, how many 3D modes are open (the depth test is on), whether the
    // scissor test is on, and the shader it draws with (0: its default).
    int matrix_depth = 0;
    bool transform_current = false;
    bool matrices_changed = false;
    int modes_3d = 0;
    bool scissor = false;
    unsigned int shader = 0;

    int blend_mode() const { return blends.empty() ? 0 : blends.back(); }
    // The innermost target that was not released, or null for the window.
    TextureScope* current() {
        for (auto scope = targets.rbegin(); scope != targets.rend(); ++scope)
            if (scope->render_texture) return &*scope;
        return nullptr;
    }
    const TextureScope* current() const { return const_cast<Scopes*>(this)->current(); }
    Target target() const {
        const TextureScope* scope = current();
        return scope ? scope->target : Target{};
    }
    // The state md.rl changes now: the current scope's, or the window's.
    DrawState& state() {
        TextureScope* scope = current();
        return scope ? scope->state : window;
    }
    std::size_t open() const;
};

// The tint converted last: a tuple of exact ints cannot change, so the same
// tuple again (the default tint, blit after blit) is not converted again.
struct TintCache {
    Ref tuple;
    rl::Color color{};
};

// A compositor's watch on a target (compositing.cpp).
struct Watch {
    compositor::Damaged damaged;
    void* watcher;
};

struct ContextObject {
    PyObject_HEAD
    Binding binding;  // made when the first window opens
    bool bound;
    unsigned long thread;    // the window's thread while active; 0 while inactive
    bool pending;            // releases left for the window's thread to run
    Death inactive_because;  // while inactive: never_opened, window_closed or forked
    int largest_size;        // the driver's largest texture; 0 when unknown
    int busy;                // md.rl calls in progress (the window cannot close under them)
    bool in_frame;           // between the window's begin_frame and end_frame
    Ref window;              // the toolkit's Window, from activation to the end of deactivation
    Ref stand_in;            // what stands in for it while none is open (Window.none())
    Scopes scopes;
    GpuObjects objects;
    std::unordered_map<std::uintptr_t, Cell> cells;  // the live cells, by their struct's address
    std::vector<const rl::RenderTexture*> pages;     // the live atlas pages' structs
    // The compositor's (compositing.cpp): who is told when a target changes,
    // by the target's key (its struct's address); the scenes' own targets,
    // which only compose draws into; whether compose is drawing now; what
    // the window's front buffer shows (a scene's target, as last presented,
    // at the window's size then; 0: nothing known); whether the window can
    // copy a part of its buffer to the screen (-1: not asked yet).
    std::unordered_map<std::uintptr_t, std::vector<Watch>> watched;
    std::vector<std::uintptr_t> reserved;
    bool composing;
    std::uintptr_t presented;
    int presented_width, presented_height;
    int copies_parts;
    std::string title;  // the window's, as raylib was given it
    TintCache tint;
};

extern PyTypeObject context_type;
extern PyTypeObject guarded_function_type;  // md.rl's raylib calls (guarded_calls.cpp)

inline ContextObject* context_of(PyObject* object) { return reinterpret_cast<ContextObject*>(object); }
inline bool is_context(PyObject* object) { return Py_IS_TYPE(object, &context_type); }

// ------------------------------------------------------------ the checks

// The public method running on this thread (kelo_raylib's c_calling), named
// by the messages of what is refused in place of the drawing call's own name.
// Set twice by every public method: in the static TLS block (initial-exec),
// read and written without a call to the TLS resolver.
extern thread_local const char* calling __attribute__((tls_model("initial-exec")));
inline const char* shown(const char* function) { return calling != nullptr ? calling : function; }

// Refuses a call, saying why nothing may be drawn now: no window (never
// opened, closed, forked) or another thread; false with RuntimeError set.
bool refuse(ContextObject* self, const char* function);
// The slow side of enter(): refuses, or runs the window's pending releases.
bool enter_slowly(ContextObject* self, const char* function);

// At the start of every call that draws or touches GPU objects: the window's
// thread (never 0 while inactive), and the releases other threads left for it.
inline bool enter(ContextObject* self, const char* function) {
    if (self->thread == PyThread_get_thread_ident() && !self->pending) [[likely]]
        return true;
    return enter_slowly(self, function);
}

// Right before raylib is called, after the conversions (which may run Python
// code that closes the window): without a window raylib's drawing state is
// gone, and a call would write through freed memory. enter() has tested the
// thread; code run since on this thread can only have deactivated the
// context, or closed raylib's window straight through the binding.
inline bool ready(ContextObject* self, const char* function) {
    if (self->thread == 0) [[unlikely]]
        return refuse(self, function);
    if (self->binding.raylib.IsWindowReady()) [[likely]]
        return true;
    PyErr_Format(PyExc_RuntimeError, "%s: raylib has no open window to draw into", shown(function));
    return false;
}

// A texture or render texture whose GPU object is gone (id 0) is refused,
// saying which argument it is ("the source") and why it died; always false.
// `object` is the binding's cdata.
bool dead(ContextObject* self, const char* function, const char* parameter, PyObject* object);

template <typename Work>
bool growing(Work work) {
    try {
        work();
        return true;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
}

// The cell whose struct is at `data`, or null: ordinary targets cost one
// test while no cell is alive.
inline const Cell* cell_at(const ContextObject* self, const void* data) {
    if (self->cells.empty()) [[likely]]
        return nullptr;
    auto found = self->cells.find(reinterpret_cast<std::uintptr_t>(data));
    return found == self->cells.end() ? nullptr : &found->second;
}

// ------------------------------------------------------------ scopes.cpp

// After the stack changed, with `previous` current before, make the innermost
// live target (or the window) current; `anew`: a scope that began on another
// target ended, so the enclosing scope's state is put back even when its
// target is the same.
bool make_current(ContextObject* self, Target previous, const char* function, bool anew = false);
// A render texture is being released: every scope of its framebuffer `id`
// (every scope of the cell at `cell`, for a cell) leaves the stack, and when
// it was current the enclosing target becomes current.
bool forget_target(ContextObject* self, unsigned int id, const void* cell, const char* function);
// Forget every scope without a raylib call (the context is going inactive).
void forget_scopes(ContextObject* self);
// End every open scope; how many there were.
std::size_t end_scopes(ContextObject* self);

// ------------------------------------------------------------ scope_state.cpp

// Another target is about to become current, `state` being the current
// scope's (or the window's): rlgl's matrices are taken down into it, its
// shader and depth test are turned off. False (MemoryError set, nothing
// changed) when there is no memory to keep them.
bool leave_state(ContextObject* self, DrawState& state);
// `scope` has just begun: on the same target it draws on in the state it
// finds; on another target with a fresh state (a cell clipped to its area).
void begin_state(ContextObject* self, TextureScope& scope);
// The target of `state` (the window when `on_window`) has just been made
// current again: its clip, shader and matrices are put back.
void resume_state(ContextObject* self, DrawState& state, bool on_window);
// `scope` ends: what it began is closed, and on the same target the state it
// found is put back.
void end_state(ContextObject* self, TextureScope& scope);
// The current target's scopes close what they began (it is being released).
void end_live_states(ContextObject* self);

// ------------------------------------------------------------ compositing.cpp

// The target of `key` changed: its watchers are told (no Python code runs).
void tell_slowly(ContextObject* self, std::uintptr_t key);
inline void tell(ContextObject* self, std::uintptr_t key) {
    if (!self->watched.empty()) [[unlikely]]
        tell_slowly(self, key);
}
// Whether `key` is a scene's own target that only compose may draw into.
inline bool reserved(const ContextObject* self, std::uintptr_t key) {
    if (self->reserved.empty() || self->composing) [[likely]]
        return false;
    for (std::uintptr_t kept : self->reserved)
        if (kept == key) return true;
    return false;
}
// Refuses drawing into a scene's own target; always false.
bool refuse_reserved(const char* function);
// Publishes the compositor's Api in kelo_raylib as `compositor`.
bool publish_compositor(PyObject* module);
// The window drew a frame of its own: what its front buffer shows is not known.
inline void forget_presented(ContextObject* self) { self->presented = 0; }

// ------------------------------------------------------------ gpu_objects.cpp

// Whether GPU objects may be made or released now (enter() and ready(), with
// the message for no window naming open_window).
bool for_gpu_work(ContextObject* self, const char* function);
// Release the objects that became unreachable; false with an exception set
// when one could not be released (it stays pending).
bool run_pending_releases(ContextObject* self);
// Every live object dies without a GPU call.
void release_all(ContextObject* self, Death why);
// Why the object whose struct (or a field of it) is at `address` is dead;
// null when it is not the toolkit's or is alive.
const char* why_dead(const ContextObject* self, std::uintptr_t address);
// A dead object's ids are zero, and it leaves the table of live ones.
void zero(Kind kind, void* data);
void forget_live(ContextObject* self, void* data, Death why);
// The view of a new slot holding `value`, tracked as alive; null with an
// exception set (the slot then dead).
Ref adopt_render_texture(ContextObject* self, const rl::RenderTexture& value);

// ------------------------------------------------------------ atlas_cells.cpp

// The cell whose struct (a RenderTexture cdata) or colour texture (a Texture
// cdata, or a pointer to either) `texture` is, or null.
const Cell* cell_of(const ContextObject* self, PyObject* texture);
// Whether `texture` (as above) copies a cell's struct: a live page's GPU id
// with another size than the page's.
bool copies_a_cell(const ContextObject* self, PyObject* texture);

// ------------------------------------------------------------ cell_calls.cpp

// What md.rl's call does with an atlas cell given as a texture, by the
// declared table's policy: refuses it; calls with its page's texture instead
// (exact for a question about the texture); or acts on exactly the cell's
// area of its page, as the function would on a texture of the cell's size.
enum class CellCall : unsigned char {
    none,
    refuse,
    page,
    draw_texture,
    draw_texture_v,
    draw_texture_ex,
    draw_texture_rec,
    draw_texture_pro,
    update_texture,
    update_texture_rec,
    load_image_from_texture,
};
// The call for md.rl's function `name` under the table's `policy`; false when
// this context has none.
bool cell_call_of(std::string_view name, std::string_view policy, CellCall& out);
// Runs md.rl's `function` (named `name`), whose argument `at` is `cell`, as
// `call` says; `args` are the inert arguments. A new reference, or null with
// an exception set. `at_once` and `reads_back` as the call's kind says.
PyObject* call_for_cell(ContextObject* self, CellCall call, const Cell& cell, Py_ssize_t at, PyObject* function,
                        PyObject* const* args, Py_ssize_t nargs, const char* name, bool at_once, bool reads_back);
// The part `area` (x, y, width, height: top-left origin, as blitted) of a
// source's picture drawn into `dest`, as blit_region draws it (drawing.cpp).
void draw_picture_part(const Binding& binding, const compositor::Source& source, const float (&area)[4],
                       rl::Rectangle dest, rl::Color tint);
// update_texture and update_texture_rec of a texture that is no cell
// (`texture`, args[0]): the same checks (the rectangle on the texture, an
// array large enough), then raylib.
PyObject* update_texture(ContextObject* self, CellCall call, PyObject* texture, PyObject* const* args, Py_ssize_t nargs,
                         const char* name);
// A part `from` of a cell's page texture, drawn as DrawTexturePro would draw
// it from a texture of the part alone (drawing.cpp).
void draw_part(const Binding& binding, const rl::Texture& page, rl::Rectangle from, rl::Rectangle dest,
               rl::Vector2 origin, float rotation, rl::Color tint);

// A cell dies (and, of a page being released, all its cells): no GPU call.
bool release_cell(ContextObject* self, void* data, Death why, const char* function);
bool release_cells_of(ContextObject* self, const rl::RenderTexture* page, Death why, const char* function);

// The Python-visible methods of each part.
#define KL_CONTEXT_METHOD(name) PyObject* method_##name(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
// gpu_objects.cpp
KL_CONTEXT_METHOD(load_render_texture)
KL_CONTEXT_METHOD(load_texture)
KL_CONTEXT_METHOD(load_texture_from_image)
KL_CONTEXT_METHOD(load_texture_cubemap)
KL_CONTEXT_METHOD(unload_render_texture)
KL_CONTEXT_METHOD(unload_texture)
KL_CONTEXT_METHOD(why_dead)
KL_CONTEXT_METHOD(run_pending_releases)
KL_CONTEXT_METHOD(read_rgba)
KL_CONTEXT_METHOD(make_cell)
KL_CONTEXT_METHOD(make_page)
// scopes.cpp
KL_CONTEXT_METHOD(current_target)
KL_CONTEXT_METHOD(end_scopes)
KL_CONTEXT_METHOD(open_scopes)
// scope_state.cpp
KL_CONTEXT_METHOD(begin_scissor_mode)
KL_CONTEXT_METHOD(end_scissor_mode)
KL_CONTEXT_METHOD(begin_shader_mode)
KL_CONTEXT_METHOD(end_shader_mode)
KL_CONTEXT_METHOD(begin_mode_2d)
KL_CONTEXT_METHOD(end_mode_2d)
KL_CONTEXT_METHOD(begin_mode_3d)
KL_CONTEXT_METHOD(end_mode_3d)
KL_CONTEXT_METHOD(rl_push_matrix)
KL_CONTEXT_METHOD(rl_pop_matrix)
KL_CONTEXT_METHOD(rl_translatef)
KL_CONTEXT_METHOD(rl_rotatef)
KL_CONTEXT_METHOD(rl_scalef)
KL_CONTEXT_METHOD(rl_mult_matrixf)
KL_CONTEXT_METHOD(rl_load_identity)
KL_CONTEXT_METHOD(unload_shader)
// compositing.cpp
KL_CONTEXT_METHOD(read_window)
KL_CONTEXT_METHOD(copies_parts)
// drawing.cpp
KL_CONTEXT_METHOD(c_clear_background)
KL_CONTEXT_METHOD(c_draw_texture_vec)
KL_CONTEXT_METHOD(c_draw_texture_rec)
KL_CONTEXT_METHOD(begin_texture_mode)
KL_CONTEXT_METHOD(end_texture_mode)
KL_CONTEXT_METHOD(begin_blend_mode)
KL_CONTEXT_METHOD(end_blend_mode)
KL_CONTEXT_METHOD(fast_blit_pro)
// guarded_calls.cpp
KL_CONTEXT_METHOD(guard)
#undef KL_CONTEXT_METHOD

}  // namespace kelo_raylib::native
