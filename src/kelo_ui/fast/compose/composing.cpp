// compose(): the damage drawn again, as a plan of steps the window context
// carries out in a scope of its own on the scene's target (compositor.h).
//
// Each damaged box is cleared to the background, then every item meeting it
// is drawn in z order, within the box. An item drawn at whole pixels and at
// its picture's size (`exact`) is drawn as the part of it inside the box: the
// part lands on the same pixels, from the same texels, as the whole would, so
// no clip is needed, and the parts of different boxes (which never meet)
// may be drawn in any order between the boxes. They are ordered so that
// parts from the same texture and in the same blend mode follow each other:
// raylib draws those in one call, and a switch between atlas pages costs more
// than many parts. An item drawn any other way is drawn whole, clipped to the
// box by the scissor: the same pixels as a full recomposition.
//
// A full recomposition (the first, compose(full=True), or damage that would
// cost more) clears the target and draws every item in z order.
#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <utility>

#include "kelo_ui/fast/compose/private/scene.h"

namespace kelo_compose {
namespace {

using kelo_raylib::compositor::Source;
using kelo_raylib::compositor::Step;

// What a draw, a box and a pixel cost, in pixels drawn: a full recomposition
// is chosen once the damage would cost more.
constexpr long long draw_cost = 600;
constexpr long long box_cost = 4000;

struct Plan {
    std::vector<Source> sources;
    std::unordered_map<std::uintptr_t, std::uint32_t> by_key;
    std::vector<Step> steps;

    // The index of the item's source, resolved (a dead one refused, naming
    // the item). A source whose render texture was replaced since the item
    // was added (its render_texture set, its __init__ run again) is refused
    // too: the scene watches the one it was added with, and has its size.
    bool source_of(const ItemObject* item, const char* function, std::uint32_t& out) {
        PyObject* shown = const_cast<PyObject*>(reinterpret_cast<const PyObject*>(item));
        Source source;
        if (!state.api->resolve(item->source.get(), &source, function, shown)) return false;
        if (source.key != item->key) {
            PyErr_Format(PyExc_RuntimeError,
                         "%s: %R shows a source whose render texture was replaced since it was added; remove the "
                         "item and add the source again",
                         function, shown);
            return false;
        }
        auto [found, added] = by_key.try_emplace(source.key, static_cast<std::uint32_t>(sources.size()));
        if (added) sources.push_back(source);
        out = found->second;
        return true;
    }

    void clip(const Box& box) {
        Step step;
        step.kind = Step::clip;
        step.box = box;
        steps.push_back(step);
    }
    void no_clip() { clip(Box{0, 0, -1, -1}); }

    void clear(rl::Color color) {
        Step step;
        step.kind = Step::clear;
        step.color = color;
        steps.push_back(step);
    }

    // The item, or (exact) its part inside `part`.
    void draw(const ItemObject* item, std::uint32_t index, const Box* part) {
        const Source& source = sources[index];
        const double area[4] = {item->whole ? 0.0 : item->area[0], item->whole ? 0.0 : item->area[1],
                                item->whole ? source.width : item->area[2],
                                item->whole ? source.height : item->area[3]};
        Step step;
        step.kind = Step::draw;
        step.blend = static_cast<unsigned char>(item->blend);
        step.source = index;
        step.color = item->tint;
        if (part != nullptr) {
            step.area[0] = static_cast<float>(area[0] + (part->x - item->x));
            step.area[1] = static_cast<float>(area[1] + (part->y - item->y));
            step.area[2] = static_cast<float>(part->width);
            step.area[3] = static_cast<float>(part->height);
            step.dest[0] = static_cast<float>(part->x), step.dest[1] = static_cast<float>(part->y);
            step.dest[2] = static_cast<float>(part->width), step.dest[3] = static_cast<float>(part->height);
        } else {
            for (int i = 0; i < 4; ++i) step.area[i] = static_cast<float>(area[i]);
            step.dest[0] = static_cast<float>(item->x), step.dest[1] = static_cast<float>(item->y);
            step.dest[2] = static_cast<float>(item->sized ? item->width : area[2]);
            step.dest[3] = static_cast<float>(item->sized ? item->height : area[3]);
        }
        steps.push_back(step);
    }
};

// An item drawn whole, within `box` (the box clipped already when it is
// not); a bounded one within its own box too, which lies inside its clip.
void draw_whole(Plan& plan, const ItemObject* item, std::uint32_t index, const Box* box) {
    if (!item->bounded) return plan.draw(item, index, nullptr);
    plan.clip(box ? meet(*box, item->box) : item->box);
    plan.draw(item, index, nullptr);
    if (box) {
        plan.clip(*box);
    } else {
        plan.no_clip();
    }
}

bool full_plan(SceneObject* scene, Plan& plan, const char* function) {
    std::vector<ItemObject*> drawn;
    for (const Ref& held : scene->items) {
        ItemObject* item = item_of(held.get());
        if (!item->box.empty()) drawn.push_back(item);
    }
    std::sort(drawn.begin(), drawn.end(), below);
    plan.clear(scene->background);
    for (const ItemObject* item : drawn) {
        std::uint32_t index;
        if (!plan.source_of(item, function, index)) return false;
        if (item->exact) {
            plan.draw(item, index, &item->box);
        } else {
            draw_whole(plan, item, index, nullptr);
        }
    }
    return true;
}

// A part of an exact item in a damaged box, and the state raylib draws it in.
struct Part {
    const ItemObject* item;
    std::uint32_t source;
    Box box;
    unsigned long long state;  // texture, then blend mode
    std::size_t damaged;       // its box among the damage
    std::size_t batch = 0;     // the batch it is drawn in
};

// The parts in batches of one state each, drawn batch after batch: a part
// joins the first batch of its state after the last batch holding a part
// below it that it overlaps (parts of different boxes never overlap), so
// every pixel still sees its parts in z order.
std::vector<std::vector<const Part*>> batched(std::vector<Part>& parts, std::size_t boxes) {
    std::vector<std::vector<const Part*>> batches;
    std::vector<unsigned long long> states;                               // each batch's
    std::unordered_map<unsigned long long, std::vector<std::size_t>> of;  // the batches of each state, in order
    std::vector<std::vector<const Part*>> placed(boxes);                  // each box's parts placed so far
    for (Part& part : parts) {
        std::size_t after = 0;  // the first batch it may join
        for (const Part* earlier : placed[part.damaged])
            if (earlier->batch + 1 > after && !meet(earlier->box, part.box).empty()) after = earlier->batch;
        std::vector<std::size_t>& same = of[part.state];
        auto joined = std::lower_bound(same.begin(), same.end(), after);
        if (joined != same.end()) {
            part.batch = *joined;
        } else {
            part.batch = batches.size();
            batches.emplace_back();
            states.push_back(part.state);
            same.push_back(part.batch);
        }
        batches[part.batch].push_back(&part);
        placed[part.damaged].push_back(&part);
    }
    return batches;
}

bool partial_plan(SceneObject* scene, const std::vector<Box>& boxes, const std::vector<std::vector<ItemObject*>>& shown,
                  Plan& plan, const char* function) {
    bool all_exact = true;
    for (const auto& items : shown)
        for (const ItemObject* item : items) all_exact = all_exact && item->exact;
    for (const Box& box : boxes) {
        plan.clip(box);
        plan.clear(scene->background);
    }
    if (!all_exact) {
        for (std::size_t at = 0; at < boxes.size(); ++at) {
            plan.clip(boxes[at]);
            for (const ItemObject* item : shown[at]) {
                std::uint32_t index;
                if (!plan.source_of(item, function, index)) return false;
                if (item->exact) {
                    const Box part = meet(item->box, boxes[at]);
                    plan.draw(item, index, &part);
                } else {
                    draw_whole(plan, item, index, &boxes[at]);
                }
            }
        }
        plan.no_clip();
        return true;
    }
    plan.no_clip();
    // Every part, in z order across the boxes.
    std::vector<Part> parts;
    for (std::size_t at = 0; at < boxes.size(); ++at) {
        for (const ItemObject* item : shown[at]) {
            std::uint32_t index;
            if (!plan.source_of(item, function, index)) return false;
            const unsigned long long state =
                (static_cast<unsigned long long>(plan.sources[index].texture.id) << 8) | item->blend;
            parts.push_back({item, index, meet(item->box, boxes[at]), state, at});
        }
    }
    std::stable_sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) { return below(a.item, b.item); });
    for (const auto& batch : batched(parts, boxes.size()))
        for (const Part* part : batch) plan.draw(part->item, part->source, &part->box);
    return true;
}

PyObject* box_list(const std::vector<Box>& boxes) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(boxes.size())));
    if (!list) return nullptr;
    for (std::size_t at = 0; at < boxes.size(); ++at) {
        const Box& box = boxes[at];
        PyObject* shown = Py_BuildValue("(iiii)", box.x, box.y, box.width, box.height);
        if (shown == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(at), shown);
    }
    return list.release();
}

}  // namespace

PyObject* compose(SceneObject* scene, bool full, const char* function) {
    if (!full && !scene->whole_damaged && scene->damage.empty()) return PyList_New(0);
    const Box everything{0, 0, scene->width, scene->height};
    // The damage to draw, taken: what is noted while it is drawn (a scene
    // showing this one is told as its target is drawn) stays for the next.
    std::vector<Box> damaged = std::move(scene->damage);
    scene->damage.clear();
    const bool whole_damaged = std::exchange(scene->whole_damaged, false);
    // Refused or failed: the damage is noted again, nothing lost.
    auto keep = [&] {
        scene->whole_damaged = scene->whole_damaged || whole_damaged;
        for (const Box& box : damaged) damage(scene, box);
    };
    try {
        Plan plan;
        std::vector<Box> boxes;
        bool whole = full || whole_damaged;
        std::vector<std::vector<ItemObject*>> shown;
        if (!whole) {
            for (const Box& box : merged(damaged)) {
                const Box inside = meet(box, everything);
                if (!inside.empty()) boxes.push_back(inside);
            }
            // What the damage costs to draw, against a full recomposition.
            long long cost = 0;
            const long long full_cost =
                area_of(everything) + scene->covered + draw_cost * static_cast<long long>(scene->items.size());
            shown.resize(boxes.size());
            for (std::size_t at = 0; at < boxes.size() && !whole; ++at) {
                if (!query(scene, boxes[at], shown[at])) return keep(), nullptr;
                std::sort(shown[at].begin(), shown[at].end(), below);
                cost += area_of(boxes[at]) + box_cost;
                for (const ItemObject* item : shown[at]) cost += area_of(meet(item->box, boxes[at])) + draw_cost;
                whole = cost >= full_cost;
            }
        }
        if (whole) {
            boxes.assign(1, everything);
            if (!full_plan(scene, plan, function)) return keep(), nullptr;
        } else if (!partial_plan(scene, boxes, shown, plan, function)) {
            return keep(), nullptr;
        }
        Ref result = Ref::steal(box_list(boxes));
        if (!result || !state.api->compose(scene->target.get(), scene->key, plan.sources.data(), plan.steps.data(),
                                           plan.steps.size(), function))
            return keep(), nullptr;
        // The window shows it once the scene is presented.
        if (whole) {
            scene->whole_unshown = true;
            scene->unshown.clear();
        } else if (scene->unshown.size() + boxes.size() > most_boxes) {
            // Composed many times and never presented (a scene shown in
            // another): all of it, once it is.
            scene->whole_unshown = true;
            scene->unshown.clear();
        } else if (!scene->whole_unshown) {
            try {
                scene->unshown.insert(scene->unshown.end(), boxes.begin(), boxes.end());
            } catch (const std::bad_alloc&) {
                scene->whole_unshown = true;  // all of it, then: never too little
            }
        }
        return result.release();
    } catch (const std::bad_alloc&) {
        keep();
        return PyErr_NoMemory();
    }
}

}  // namespace kelo_compose
