#include "gui/window/accessors.h"

#include <cmath>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/handle.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/point.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gui/window/windows.h"
#include "library/library.h"
#include "runtime/error.h"
#include "runtime/externals.h"
#include "runtime/stack.h"

namespace kiv::gui {

double scale_factor = 1.0;

void set_dpi(double dpi) {
    scale_factor = dpi > 0 ? dpi / 96.0 : 1.0;
}

bool logical_of(const Cell* v, double* x, double* y) {
    if (!v) return false;
    if (v->type() == TYPE_PAIR) {
        *x = int32_t(v->w2);
        *y = int32_t(v->w3);
        return true;
    }
    if (v->type() == TYPE_POINT2D) {
        *x = point::coord(v, 0);
        *y = point::coord(v, 1);
        return true;
    }
    return false;
}

bool pixels_of(const Cell* v, int32_t* x, int32_t* y) {
    double lx, ly;
    if (!logical_of(v, &lx, &ly)) return false;
    *x = to_pixels(lx);
    *y = to_pixels(ly);
    return true;
}

int32_t to_pixels(double logical) {
    const double v = std::trunc(logical * scale_factor + 0.5);
    if (!(v > -2147483648.0)) return INT32_MIN;
    if (v > 2147483647.0) return INT32_MAX;
    return int32_t(v);
}

double to_logical(int32_t pixels) {
    return double(pixels) / scale_factor;
}

bool has_face(Hwnd h) {
    return windows::get_slot(h, SLOT_FACE) != 0;
}

Cell window_face_cell(Hwnd h) {
    if (!h) return none::cell();
    const Cell* c = slots::at(uint32_t(windows::get_slot(h, SLOT_FACE)));
    if (!c || c->type() != TYPE_OBJECT) return none::cell();
    return *c;
}

Cell* face_value_slot(const Cell* obj, uint32_t index) {
    if (!obj || obj->type() != TYPE_OBJECT || index == 0) return nullptr;
    const Off ctx = object::context_of(obj);
    if (index > context::word_count(ctx)) return nullptr;
    return context::values_at(ctx, index - 1);
}

namespace {

// At engine load: the facet table must match the face! just made.
void check_at_engine_load() {
    if (!check_face_prototype()) fire({"internal", "not-here"}, word::load("face!"));
}

const bool registered = (library::check_face_facets = check_at_engine_load, true);

}  // namespace

bool facet_is(const Cell* face, Facet facet, const char* name) {
    const Cell* v = face_slot(face, facet);
    if (!v || v->type() != TYPE_WORD) return false;
    const Cell value = *v;  // loading the name may allocate
    Cell w = word::load(name);
    return symbol::resolve(value.w2) == symbol::resolve(w.w2);
}

Hwnd face_handle_q(const Cell* face) {
    Cell* state = face_slot(face, FACET_STATE);
    if (!state || state->type() != TYPE_BLOCK) return 0;
    Cell blk = *state;
    if (block::cells_at_tail(&blk)) return 0;
    const Cell* first = block::cells_at(&blk, blk.w1);
    if (first->type() != TYPE_HANDLE) return 0;
    return handle::get(first);
}

Hwnd window_from_point(int32_t x, int32_t y) {
    const std::vector<Hwnd> tops = windows::top_levels();
    for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
        const Window* w = windows::get(*it);
        if (!w || !w->visible || !w->native) continue;
        if (x >= w->x && y >= w->y && x < w->x + w->w && y < w->y + w->h)
            return windows::deepest_at(*it, x - w->x, y - w->y);
    }
    return 0;
}

int32_t event_window(const Msg* m) {
    if (!m) return -1;
    if (windows::alive(m->hwnd)) {
        if (has_face(m->hwnd)) return int32_t(m->hwnd);
        const Hwnd p = windows::parent(m->hwnd);
        if (p && has_face(p)) return int32_t(p);
    }
    const Hwnd under = window_from_point(m->pt_x, m->pt_y);
    if (under && has_face(under)) return int32_t(under);
    return -1;
}

Cell event_face(const Msg* m) {
    const int32_t h = event_window(m);
    return h < 0 ? none::cell() : window_face_cell(Hwnd(h));
}

void window_position(Hwnd h, int32_t* x, int32_t* y) {
    const Window* w = windows::get(h);
    *x = w ? w->x : 0;
    *y = w ? w->y : 0;
}

Hwnd child_at(Hwnd h, int32_t x, int32_t y) {
    return windows::child_at(h, x, y, true);
}

int32_t window_slot(Hwnd h, int32_t byte_index) {
    return windows::get_slot(h, byte_index);
}

}  // namespace kiv::gui
