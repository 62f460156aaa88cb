// The GL driver's own functions (gl_driver.h), found once in its library.
#include "kelo_ui/fast/raylib/private/gl_driver.h"

#include <dlfcn.h>

#include <algorithm>

namespace kelo_raylib::native {
namespace {

constexpr unsigned int gl_max_texture_size = 0x0D33;
constexpr unsigned int gl_max_renderbuffer_size = 0x84E8;

// Either library dispatches to whichever context is current on the thread.
void* gl_symbol(const char* name) {
    static void* const library = [] {
        for (const char* file : {"libOpenGL.so.0", "libGL.so.1", "libGL.so"})
            if (void* found = dlopen(file, RTLD_LAZY | RTLD_LOCAL)) return found;
        return static_cast<void*>(nullptr);
    }();
    return library ? dlsym(library, name) : nullptr;
}

}  // namespace

int largest_texture_size() {
    using GetIntegerv = void (*)(unsigned int, int*);
    auto get_integer = reinterpret_cast<GetIntegerv>(gl_symbol("glGetIntegerv"));
    if (get_integer == nullptr) return 0;
    int texture = 0, renderbuffer = 0;
    get_integer(gl_max_texture_size, &texture);
    get_integer(gl_max_renderbuffer_size, &renderbuffer);
    if (texture <= 0 || renderbuffer <= 0) return std::max(texture, renderbuffer);
    return std::min(texture, renderbuffer);
}

void finish_drawing() {
    using Finish = void (*)();
    static const auto finish = reinterpret_cast<Finish>(gl_symbol("glFinish"));
    if (finish != nullptr) finish();
}

}  // namespace kelo_raylib::native
