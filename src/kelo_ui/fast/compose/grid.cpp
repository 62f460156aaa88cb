// Where the items lie: a grid of square buckets over the scene, each
// listing the items whose boxes meet it, so that the items a damaged box
// shows are found among those near it, whatever the scene holds elsewhere.
#include <algorithm>
#include <cmath>

#include "kelo_ui/fast/compose/private/scene.h"

namespace kelo_compose {
namespace {

// The buckets a box meets: columns c0..c1, rows r0..r1 (inclusive).
struct Span {
    int c0, c1, r0, r1;
};

Span span_of(const SceneObject* scene, const Box& box) {
    const int cell = scene->cell;
    return {box.x / cell, (box.x + box.width - 1) / cell, box.y / cell, (box.y + box.height - 1) / cell};
}

template <typename Each>
void for_buckets(SceneObject* scene, const Box& box, Each each) {
    if (box.empty()) return;
    const Span span = span_of(scene, box);
    for (int row = span.r0; row <= span.r1; ++row)
        for (int column = span.c0; column <= span.c1; ++column)
            each(scene->buckets[static_cast<std::size_t>(row * scene->columns + column)]);
}

// The item's rectangle in the scene, its edges from left to right and top to bottom.
struct Extent {
    double x0, x1, y0, y1;
};

Extent extent_of(const ItemObject* item) {
    const double width = item->sized ? item->width : (item->whole ? item->picture_width : item->area[2]);
    const double height = item->sized ? item->height : (item->whole ? item->picture_height : item->area[3]);
    return {std::min(item->x, item->x + width), std::max(item->x, item->x + width), std::min(item->y, item->y + height),
            std::max(item->y, item->y + height)};
}

// raylib draws in float: beyond this, a float's step is an eighth of a pixel
// or more, and an edge drawn from a far corner may land a pixel away from
// where the box (worked out in double) puts it.
constexpr double float_places_pixels = 1 << 20;

bool far(const Extent& extent) {
    return !(std::fabs(extent.x0) < float_places_pixels && std::fabs(extent.x1) < float_places_pixels &&
             std::fabs(extent.y0) < float_places_pixels && std::fabs(extent.y1) < float_places_pixels);
}

// The pixels an item may cover: its rectangle (a pixel whose centre it
// covers, rounded out), within its clip and the scene.
Box box_of(const SceneObject* scene, const ItemObject* item) {
    if (!item->visible) return Box{};
    const auto [x0, x1, y0, y1] = extent_of(item);
    const Box whole{0, 0, scene->width, scene->height};
    // Far outside: nothing of it shows.
    if (!(x1 > 0.0 && y1 > 0.0 && x0 < scene->width && y0 < scene->height)) return Box{};
    const auto left = static_cast<int>(std::floor(std::max(x0, 0.0)));
    const auto top = static_cast<int>(std::floor(std::max(y0, 0.0)));
    const auto right = static_cast<int>(std::ceil(std::min(x1, static_cast<double>(scene->width))));
    const auto bottom = static_cast<int>(std::ceil(std::min(y1, static_cast<double>(scene->height))));
    Box box = meet(whole, Box{left, top, right - left, bottom - top});
    if (item->clipped) box = meet(box, item->clip);
    return box.empty() ? Box{} : box;
}

}  // namespace

bool make_grid(SceneObject* scene) {
    // Buckets about as large as a widget: few items per bucket, few buckets per item.
    scene->cell = 64;
    scene->columns = (scene->width + scene->cell - 1) / scene->cell;
    scene->rows = (scene->height + scene->cell - 1) / scene->cell;
    try {
        scene->buckets.resize(static_cast<std::size_t>(scene->columns) * static_cast<std::size_t>(scene->rows));
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
    return true;
}

void unplace(SceneObject* scene, ItemObject* item, bool damaged) {
    if (damaged) damage(scene, item->box);
    scene->covered -= area_of(item->box);
    for_buckets(scene, item->box, [&](std::vector<ItemObject*>& bucket) {
        auto found = std::find(bucket.begin(), bucket.end(), item);
        if (found != bucket.end()) {
            *found = bucket.back();
            bucket.pop_back();
        }
    });
    item->box = Box{};
}

bool place(SceneObject* scene, ItemObject* item) {
    const Box box = box_of(scene, item);
    unplace(scene, item, true);
    try {
        for_buckets(scene, box, [&](std::vector<ItemObject*>& bucket) { bucket.push_back(item); });
    } catch (const std::bad_alloc&) {
        // Off the grid again, wherever it got to.
        item->box = box;
        for_buckets(scene, box, [&](std::vector<ItemObject*>& bucket) { std::erase(bucket, item); });
        item->box = Box{};
        PyErr_NoMemory();
        return false;
    }
    item->box = box;
    item->exact = exact(item);
    // Its pixels outside its box would be drawn by a full recomposition and
    // never cleared by a partial one: held to its box.
    item->bounded = item->clipped || far(extent_of(item));
    scene->covered += area_of(box);
    damage(scene, box);
    return true;
}

bool covers(const ItemObject* item, double x, double y) {
    const Extent extent = extent_of(item);
    return extent.x0 <= x && x < extent.x1 && extent.y0 <= y && y < extent.y1;
}

bool query(SceneObject* scene, const Box& box, std::vector<ItemObject*>& out) {
    const std::uint64_t stamp = ++scene->queries;
    try {
        for_buckets(scene, meet(box, Box{0, 0, scene->width, scene->height}), [&](std::vector<ItemObject*>& bucket) {
            for (ItemObject* item : bucket) {
                if (item->seen == stamp) continue;
                item->seen = stamp;
                if (!meet(item->box, box).empty()) out.push_back(item);
            }
        });
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
    return true;
}

}  // namespace kelo_compose
