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

}  // namespace kelo_raylib::native
