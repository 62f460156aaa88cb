// The GL driver's own functions (gl_driver.h), found once in its library.
#include "kelo_ui/fast/raylib/private/gl_driver.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
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
    // Found once: a present looks them up for every part it copies.
    static const struct {
        GetDisplay display;
        GetDrawable drawable;
        CopySubBuffer copy;
    } found = [] {
        const auto get_address = reinterpret_cast<GetProcAddress>(glx_symbol("glXGetProcAddressARB"));
        return decltype(found){reinterpret_cast<GetDisplay>(glx_symbol("glXGetCurrentDisplay")),
                               reinterpret_cast<GetDrawable>(glx_symbol("glXGetCurrentDrawable")),
                               get_address ? reinterpret_cast<CopySubBuffer>(get_address(
                                                 reinterpret_cast<const unsigned char*>("glXCopySubBufferMESA")))
                                           : nullptr};
    }();
    if (found.display == nullptr || found.drawable == nullptr) return {};
    Glx glx{found.display(), found.drawable(), found.copy};
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

namespace {

// The head of Xlib's XImage, as far as it is read here, and its functions.
struct XImageHead {
    int width, height, xoffset, format;
    char* data;
    int byte_order, bitmap_unit, bitmap_bit_order, bitmap_pad, depth, bytes_per_line, bits_per_pixel;
    unsigned long red_mask, green_mask, blue_mask;
    char* obdata;
    struct {
        void* (*create_image)();
        int (*destroy_image)(XImageHead*);
    } f;
};

struct XWindowAttributesHead {
    int x, y, width, height, border_width, depth;
    void* visual;
    unsigned long root;
    int c_class, bit_gravity, win_gravity, backing_store;
    unsigned long backing_planes, backing_pixel;
    int save_under;
    unsigned long colormap;
    int map_installed, map_state;
    long all_event_masks, your_event_mask, do_not_propagate_mask;
    int override_redirect;
    void* screen;
};

int ignore_x_error(void*, void*) { return 0; }

}  // namespace

bool read_front(const char* title, int width, int height, unsigned char* out) {
    // What the X server shows in the window: the screen, not GL's buffers.
    // The GLX drawable is not the X window: that is found among the screen's
    // top-level windows, by its title and size.
    const Glx glx = current_glx();
    void* x11 = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
    if (glx.display == nullptr || x11 == nullptr) return false;
    using RootOf = unsigned long (*)(void*);
    using QueryTree = int (*)(void*, unsigned long, unsigned long*, unsigned long*, unsigned long**, unsigned int*);
    using FetchName = int (*)(void*, unsigned long, char**);
    using Free = int (*)(void*);
    const auto root_of = reinterpret_cast<RootOf>(dlsym(x11, "XDefaultRootWindow"));
    const auto query_tree = reinterpret_cast<QueryTree>(dlsym(x11, "XQueryTree"));
    const auto fetch_name = reinterpret_cast<FetchName>(dlsym(x11, "XFetchName"));
    const auto x_free = reinterpret_cast<Free>(dlsym(x11, "XFree"));
    if (!root_of || !query_tree || !fetch_name || !x_free) return false;
    using GetAttributes = int (*)(void*, unsigned long, XWindowAttributesHead*);
    using GetImage = XImageHead* (*)(void*, unsigned long, int, int, unsigned int, unsigned int, unsigned long, int);
    using Handler = int (*)(void*, void*);
    using SetHandler = Handler (*)(Handler);
    using Sync = int (*)(void*, int);
    const auto attributes_of = reinterpret_cast<GetAttributes>(dlsym(x11, "XGetWindowAttributes"));
    const auto get_image = reinterpret_cast<GetImage>(dlsym(x11, "XGetImage"));
    const auto set_handler = reinterpret_cast<SetHandler>(dlsym(x11, "XSetErrorHandler"));
    const auto sync = reinterpret_cast<Sync>(dlsym(x11, "XSync"));
    if (!attributes_of || !get_image || !set_handler || !sync) return false;
    constexpr int is_viewable = 2, z_pixmap = 2;
    sync(glx.display, 0);
    const Handler previous = set_handler(ignore_x_error);  // an X error fails the read, not the process
    XImageHead* image = nullptr;
    unsigned long root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (query_tree(glx.display, root_of(glx.display), &root, &parent, &children, &count)) {
        for (unsigned int at = count; at-- > 0 && image == nullptr;) {  // the topmost first
            XWindowAttributesHead attributes{};
            char* name = nullptr;
            if (!attributes_of(glx.display, children[at], &attributes) || attributes.map_state != is_viewable ||
                attributes.width != width || attributes.height != height ||
                !fetch_name(glx.display, children[at], &name))
                continue;
            const bool ours = name != nullptr && std::strcmp(name, title) == 0;
            if (name != nullptr) x_free(name);
            if (ours)
                image = get_image(glx.display, children[at], 0, 0, static_cast<unsigned int>(width),
                                  static_cast<unsigned int>(height), ~0UL, z_pixmap);
        }
        if (children != nullptr) x_free(children);
    }
    sync(glx.display, 0);
    set_handler(previous);
    if (image == nullptr) return false;
    const bool read = image->bits_per_pixel == 32 && image->width == width && image->height == height;
    if (read) {
        // Rows top-down, BGRX in the server's 32-bit pixels; opaque.
        for (int y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const unsigned char*>(image->data) + y * image->bytes_per_line;
            unsigned char* to = out + (static_cast<std::size_t>(y) * width) * 4;
            for (int x = 0; x < width; ++x) {
                const std::uint32_t pixel = reinterpret_cast<const std::uint32_t*>(row)[x];
                to[x * 4 + 0] =
                    static_cast<unsigned char>((pixel & image->red_mask) >> __builtin_ctzl(image->red_mask));
                to[x * 4 + 1] =
                    static_cast<unsigned char>((pixel & image->green_mask) >> __builtin_ctzl(image->green_mask));
                to[x * 4 + 2] =
                    static_cast<unsigned char>((pixel & image->blue_mask) >> __builtin_ctzl(image->blue_mask));
                to[x * 4 + 3] = 255;
            }
        }
    }
    image->f.destroy_image(image);
    return read;
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
