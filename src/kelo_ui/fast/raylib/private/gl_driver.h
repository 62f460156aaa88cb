// What the window context asks of the GL driver itself, which raylib does not
// export: its limits, and waiting for it to finish. Both go through the GL
// library of the window's context (libglvnd's libOpenGL.so.0, or libGL.so.1),
// and do nothing where neither is found.
#pragma once

namespace kelo_raylib::native {

// The largest texture and renderbuffer the driver makes, the smaller of the
// two; 0 when unknown. Needs the window's GL context to be current.
int largest_texture_size();

// Waits until the driver has done everything asked of it so far: its worker
// threads may still be drawing what raylib handed it.
void finish_drawing();

// Whether the window can put a part of its back buffer on the screen, the
// rest of the screen kept as it is: GLX_MESA_copy_sub_buffer on the
// window's GLX drawable (not under EGL).
bool can_copy_parts();
// Puts the part (x, y from the window's bottom-left corner, as GL counts) of
// the back buffer on the screen.
void copy_part(int x, int y, int width, int height);
// What the X server shows in the window titled `title`, as opaque RGBA8
// rows top-down into `out` (width * height * 4 bytes); false when it cannot
// be read: no GLX window (EGL), or one that is not shown (a hidden window).
bool read_front(const char* title, int width, int height, unsigned char* out);

}  // namespace kelo_raylib::native
