#include "kelo_ui/fast/probe/kl_probe.h"

PyMethodDef kl_probe_render_tex_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};
