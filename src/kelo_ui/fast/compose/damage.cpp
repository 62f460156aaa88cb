// What must be drawn again: boxes of the scene, noted as items change and as
// their sources are drawn into, merged when they overlap or nearly touch.
#include <algorithm>

#include "kelo_ui/fast/compose/private/scene.h"

namespace kelo_compose {
namespace {

// Boxes this close are drawn as one: a box of its own costs a clip and a
// clear, more than the few pixels between them.
constexpr int near = 8;

// Beyond this many boxes the scene's damage is noted as a whole.
constexpr std::size_t most_boxes = 4096;

bool close(const Box& a, const Box& b) {
    return a.x - near < b.x + b.width && b.x - near < a.x + a.width && a.y - near < b.y + b.height &&
           b.y - near < a.y + a.height;
}

Box join(const Box& a, const Box& b) {
    const int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const int x1 = std::max(a.x + a.width, b.x + b.width), y1 = std::max(a.y + a.height, b.y + b.height);
    return Box{x0, y0, x1 - x0, y1 - y0};
}

}  // namespace

void damage(SceneObject* scene, const Box& box) {
    if (box.empty() || scene->whole_damaged) return;
    if (scene->damage.size() >= most_boxes) {
        scene->whole_damaged = true;
        return;
    }
    try {
        scene->damage.push_back(box);
    } catch (const std::bad_alloc&) {
        scene->whole_damaged = true;  // drawing all of it is never wrong
    }
}

std::vector<Box> merged(const std::vector<Box>& boxes) {
    std::vector<Box> out(boxes);
    // Each pass joins every box with any other close to it; a join may bring
    // its box close to one passed over, hence the passes.
    for (bool joined = true; joined;) {
        joined = false;
        for (std::size_t i = 0; i < out.size(); ++i) {
            for (std::size_t j = i + 1; j < out.size();) {
                if (close(out[i], out[j])) {
                    out[i] = join(out[i], out[j]);
                    out[j] = out.back();
                    out.pop_back();
                    joined = true;
                } else {
                    ++j;
                }
            }
        }
    }
    return out;
}

void source_changed(void* object, std::uintptr_t key) {
    auto* scene = static_cast<SceneObject*>(object);
    auto found = scene->showing.find(key);
    if (found == scene->showing.end()) return;
    for (const ItemObject* item : found->second) damage(scene, item->box);
}

}  // namespace kelo_compose
