#include "gui/text/facets.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
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

Cell* field(const Cell& obj, Name n) {
    if (obj.type() != TYPE_OBJECT) return nullptr;
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
