#include "gui/text/facets.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/externals.h"

namespace kiv::text {

namespace {

const char* const NAMES[] = {
#define KIV_TEXT_TEXT(id, text) text,
    KIV_TEXT_NAMES(KIV_TEXT_TEXT)
#undef KIV_TEXT_TEXT
};
uint32_t symbols[N_COUNT];
bool interned = false;

// The place in face! of the names that are facets (FACET_COUNT: none).
constexpr Facet facet_of(Name n) {
    switch (n) {
        case N_TYPE: return FACET_TYPE;
        case N_TEXT: return FACET_TEXT;
        case N_DATA: return FACET_DATA;
        case N_SIZE: return FACET_SIZE;
        case N_COLOR: return FACET_COLOR;
        case N_FONT: return FACET_FONT;
        case N_PARA: return FACET_PARA;
        case N_STATE: return FACET_STATE;
        default: return FACET_COUNT;
    }
}

// The value of the index-th (0-based) word of an object, or nullptr.
Cell* value_at(const Cell* obj, uint32_t index) {
    if (!obj || obj->type() != TYPE_OBJECT) return nullptr;
    const Off ctx = object::context_of(obj);
    if (index >= context::word_count(ctx)) return nullptr;
    return context::values_at(ctx, index);
}

}  // namespace

void intern_names() {
    if (interned) return;
    for (uint32_t i = 0; i < N_COUNT; ++i) symbols[i] = symbol::resolve(symbol::make(NAMES[i]));
    interned = true;
}

uint32_t symbol_of(Name n) {
    return symbols[n];
}

bool is_name(const Cell& v, Name n) {
    uint32_t t = v.type();
    if (t != TYPE_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD && t != TYPE_SET_WORD) return false;
    return symbol::resolve(v.w2) == symbols[n];
}

const char* const FACET_NAMES[FACET_COUNT] = {
    "type",  "offset", "size",    "text",   "image", "color", "menu", "data",  "enabled?", "visible?", "selected", "flags",
    "options", "parent", "pane", "state", "rate", "edge", "para", "font", "actors", "extra", "draw"};

Cell* face_slot(const Cell* face, Facet facet) {
    return value_at(face, uint32_t(facet));
}

bool check_face_prototype() {
    static int verdict = -1;
    if (verdict >= 0) return verdict == 1;
    Cell name = word::load("face!");
    stack::TopMark guard;
    const Cell* proto = word::push_value(&name);
    if (proto->type() != TYPE_OBJECT) return false;  // not made yet: asked again later
    bool ok = object::word_count(proto) >= FACET_COUNT;
    for (uint32_t i = 0; ok && i < FACET_COUNT; ++i) {
        Cell expected = word::load(FACET_NAMES[i]);
        const Cell* w = object::word_at(proto, i);
        ok = w && symbol::resolve(w->w2) == symbol::resolve(expected.w2);
    }
    verdict = ok ? 1 : 0;
    return ok;
}

Cell* field(const Cell& obj, Name n) {
    if (obj.type() != TYPE_OBJECT) return nullptr;
    const Facet facet = facet_of(n);
    if (facet != FACET_COUNT && uint32_t(facet) < object::word_count(&obj)) {
        const Cell* w = object::word_at(&obj, uint32_t(facet));
        if (w && symbol::resolve(w->w2) == symbols[n]) return face_slot(&obj, facet);
    }
    Off ctx = object::context_of(&obj);
    int32_t i = context::find_word(ctx, symbols[n], true);
    return i < 0 ? nullptr : context::values_at(ctx, uint32_t(i));
}

Cell value_of(const Cell& obj, Name n) {
    Cell* f = field(obj, n);
    return f ? *f : none::cell();
}

void set_quiet(const Cell& obj, Name n, const Cell& v) {
    if (obj.type() != TYPE_OBJECT) return;
    Off ctx = object::context_of(&obj);
    int32_t i = context::find_word(ctx, symbols[n], true);
    if (i >= 0) object::set_field_quiet(ctx, uint32_t(i), &v);
}

// Slot k (1-based) of a block value, or nullptr.
Cell* slot(const Cell& blk, uint32_t k) {
    if (blk.type() != TYPE_BLOCK || block::cells_length(&blk) < k) return nullptr;
    return block::cells_at(&blk, blk.w1 + k - 1);
}

bool live_entry(const Cell* c, uint32_t kind, uint32_t* entry) {
    if (!c || c->type() != TYPE_HANDLE || int32_t(c->w3) < 0) return false;
    if (!externals::is_live(c->w3) || externals::kind_of(c->w3) != kind) return false;
    *entry = c->w3;
    return true;
}

}  // namespace kiv::text
