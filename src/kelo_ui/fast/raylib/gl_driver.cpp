// The GL driver's own functions (gl_driver.h), found once in its library.
#include "kelo_ui/fast/raylib/private/gl_driver.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

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

// GLX's own functions: libGL.so.1 (or libglvnd's libGLX.so.0) has them.
void* glx_symbol(const char* name) {
    static void* const library = [] {
        for (const char* file : {"libGL.so.1", "libGLX.so.0"})
            if (void* found = dlopen(file, RTLD_LAZY | RTLD_LOCAL)) return found;
        return static_cast<void*>(nullptr);
    }();
    return library ? dlsym(library, name) : nullptr;
}

using CopySubBuffer = void (*)(void* display, unsigned long drawable, int x, int y, int width, int height);

// glXCopySubBufferMESA of the current context's display and drawable.
struct Glx {
    void* display = nullptr;
    unsigned long drawable = 0;
    CopySubBuffer copy = nullptr;
};

Glx current_glx() {
    using GetDisplay = void* (*)();
    using GetDrawable = unsigned long (*)();
    using GetProcAddress = void* (*)(const unsigned char*);
    const auto get_display = reinterpret_cast<GetDisplay>(glx_symbol("glXGetCurrentDisplay"));
    const auto get_drawable = reinterpret_cast<GetDrawable>(glx_symbol("glXGetCurrentDrawable"));
    const auto get_address = reinterpret_cast<GetProcAddress>(glx_symbol("glXGetProcAddressARB"));
    if (get_display == nullptr || get_drawable == nullptr || get_address == nullptr) return {};
    Glx glx{
        get_display(), get_drawable(),
        reinterpret_cast<CopySubBuffer>(get_address(reinterpret_cast<const unsigned char*>("glXCopySubBufferMESA")))};
    if (glx.display == nullptr || glx.drawable == 0) return {};
    return glx;
}

}  // namespace

bool can_copy_parts() {
    const Glx glx = current_glx();
    if (glx.copy == nullptr) return false;
    using QueryExtensions = const char* (*)(void* display, int screen);
    using DefaultScreen = int (*)(void* display);
    const auto query = reinterpret_cast<QueryExtensions>(glx_symbol("glXQueryExtensionsString"));
    void* x11 = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
    const auto screen_of = x11 ? reinterpret_cast<DefaultScreen>(dlsym(x11, "XDefaultScreen")) : nullptr;
    if (query == nullptr || screen_of == nullptr) return false;
    const char* extensions = query(glx.display, screen_of(glx.display));
    return extensions != nullptr && std::strstr(extensions, "GLX_MESA_copy_sub_buffer") != nullptr;
}

void copy_part(int x, int y, int width, int height) {
    const Glx glx = current_glx();
    if (glx.copy != nullptr) glx.copy(glx.display, glx.drawable, x, y, width, height);
}

bool read_front(int width, int height, unsigned char* out) {
    using ReadBuffer = void (*)(unsigned int);
    using ReadPixels = void (*)(int, int, int, int, unsigned int, unsigned int, void*);
    using GetIntegerv = void (*)(unsigned int, int*);
    const auto read_buffer = reinterpret_cast<ReadBuffer>(gl_symbol("glReadBuffer"));
    const auto read_pixels = reinterpret_cast<ReadPixels>(gl_symbol("glReadPixels"));
    const auto get_integer = reinterpret_cast<GetIntegerv>(gl_symbol("glGetIntegerv"));
    if (read_buffer == nullptr || read_pixels == nullptr || get_integer == nullptr) return false;
    constexpr unsigned int gl_read_buffer = 0x0C02, gl_front = 0x0404, gl_rgba = 0x1908, gl_unsigned_byte = 0x1401;
    constexpr unsigned int gl_pack_alignment = 0x0D05;
    int previous = 0, alignment = 4;
    get_integer(gl_read_buffer, &previous);
    get_integer(gl_pack_alignment, &alignment);
    using PixelStorei = void (*)(unsigned int, int);
    const auto pixel_store = reinterpret_cast<PixelStorei>(gl_symbol("glPixelStorei"));
    if (pixel_store != nullptr) pixel_store(gl_pack_alignment, 1);
    read_buffer(gl_front);
    read_pixels(0, 0, width, height, gl_rgba, gl_unsigned_byte, out);
    read_buffer(static_cast<unsigned int>(previous));
    if (pixel_store != nullptr) pixel_store(gl_pack_alignment, alignment);
    return true;
}

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
