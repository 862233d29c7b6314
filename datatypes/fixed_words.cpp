#include "datatypes/fixed_words.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/root.h"

namespace kiv::fixed {

#define KIV_FIXED_NAME(id, name) name,
#define KIV_FIXED_SOURCE(id, symbol) symbol,

const char* const SYMBOL_NAMES[SYMBOL_COUNT] = {KIV_FIXED_SYMBOLS(KIV_FIXED_NAME)};
const char* const WORD_NAMES[WORD_COUNT] = {KIV_FIXED_WORDS(KIV_FIXED_NAME)};
const char* const REFINEMENT_NAMES[REFINEMENT_COUNT] = {KIV_FIXED_REFINEMENTS(KIV_FIXED_NAME)};
const Symbol SYMBOL_WORD_SOURCES[SYMBOL_WORD_COUNT] = {KIV_FIXED_SYMBOL_WORDS(KIV_FIXED_SOURCE)};

#undef KIV_FIXED_NAME
#undef KIV_FIXED_SOURCE

}  // namespace kiv::fixed

// ---- Interning ---------------------------------------------------------------------------------

namespace kiv::fixed {

uint32_t sym[SYMBOL_COUNT] = {};
Cell symbol_words[SYMBOL_WORD_COUNT] = {};
Cell words[WORD_COUNT] = {};
Cell refinements[REFINEMENT_COUNT] = {};
Cell refinement_block{TYPE_NONE, 0, 0, 0};

void bind_type_names() {
    bool was = root::recording;
    root::recording = true;
    for (uint32_t t = 1; t <= datatype::highest_type_id && t <= TYPE_ID_LIMIT; ++t) {
        datatype::NameRecord& rec = datatype::names[t];
        if (!rec.name) continue;
        rec.word = word::load(rec.name);
    }
    root::recording = was;
}

void build() {
    bool was = root::recording;
    root::recording = true;
    for (uint32_t i = 0; i < SYMBOL_COUNT; ++i) sym[i] = symbol::make(SYMBOL_NAMES[i]);
    for (uint32_t i = 0; i < SYMBOL_WORD_COUNT; ++i)
        symbol_words[i] = word::make_global(sym[SYMBOL_WORD_SOURCES[i]]);
    for (uint32_t i = 0; i < WORD_COUNT; ++i) words[i] = word::load(WORD_NAMES[i]);
    // The refinement values live in a block of their own, kept in the root block.
    uint32_t slot = root::count();
    block::make_in(&root::block, int32_t(REFINEMENT_COUNT));
    refinement_block = *root::at(slot);
    for (uint32_t i = 0; i < REFINEMENT_COUNT; ++i) {
        Cell r = word::unbound(symbol::make(REFINEMENT_NAMES[i]), TYPE_REFINEMENT);
        refinements[i] = r;
        block::cells_append(&refinement_block, &r);
    }
    stack::body_symbol = words[W_BODY].w2;
    stack::anon_symbol = words[W_ANON].w2;
    root::recording = was;
}

uint32_t canonical(Symbol id) {
    uint32_t s = sym[id];
    return symbol::resolve(s ? s : symbol::make(SYMBOL_NAMES[id]));
}

uint32_t canonical(Refinement id) {
    uint32_t s = refinements[id].w2;
    return symbol::resolve(s ? s : symbol::make(REFINEMENT_NAMES[id]));
}

}  // namespace kiv::fixed
