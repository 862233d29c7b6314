#include "datatypes/scalar.h"

#include <cstring>

#include "datatypes/fixed_words.h"
#include "datatypes/load_form.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/error.h"
#include "runtime/series.h"

namespace kiv::scalar {

uint32_t copy_block(const Cell* block, Cell* out, uint32_t max) {
    const SeriesBuffer* b = buffer_of(block->w2);
    const uint32_t total = b->byte_count() / sizeof(Cell);
    if (block->w1 >= total) return 0;
    const uint32_t n = total - block->w1;
    const Cell* from = b->head_cell() + block->w1;
    for (uint32_t i = 0; i < n && i < max; ++i) copy_cell(from + i, out + i);
    return n;
}

Cell* result(const Cell& value) {
    static Cell slot;
    slot = value;
    return &slot;
}

Cell load_text(const Cell* text) {
    Cell target{TYPE_NONE, 0, 0, 0};
    runtime::load_single(text, &target);
    return target;
}

void invalid_path(const Cell* path, const Cell* element) {
    fire({"script", "invalid-path"}, path ? *path : Cell{TYPE_NONE, 0, 0, 0}, *element);
}

Cell word(const char* name) {
    return word::load(name);
}

int32_t append(Cell* out, const char* text) {
    string::concatenate_literal(out, text);
    return int32_t(std::strlen(text));
}

int32_t word_index(const Cell* w, const uint16_t* symbols, int32_t count) {
    if (w->type() != TYPE_WORD) return -1;
    const uint32_t id = symbol::resolve(w->w2);
    for (int32_t i = 0; i < count; ++i)
        if (symbol::resolve(fixed::sym[symbols[i]]) == id) return i + 1;
    return -1;
}

}  // namespace kiv::scalar
