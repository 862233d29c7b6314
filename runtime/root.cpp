#include "runtime/root.h"

#include "runtime/memory.h"
#include "runtime/series.h"

namespace kiv::root {

Cell block{TYPE_NONE, 0, 0, 0};
Off symbol_index = 0;
Off global_context = 0;
bool recording = false;

void init() {
    if (block.type() == TYPE_BLOCK && block.w2 != 0) {
        series::reset_tail(block.w2);
        block.w1 = 0;
        return;
    }
    // A fixed series: the root block never moves and is never collected.
    block = Cell{TYPE_BLOCK, 0, memory::alloc_fixed_series(uint32_t(BLOCK_ROOM), sizeof(Cell), 0), 0};
}

Cell* keep_copy(const Cell& value) {
    if (block.type() != TYPE_BLOCK) init();
    Cell v = value;  // the value may lie in a buffer that the append moves
    Cell* c = block_alloc_tail(&block);
    *c = v;
    return c;
}

uint32_t count() {
    if (block.type() != TYPE_BLOCK) return 0;
    return series::count(block.w2);
}

Cell* at(uint32_t i) {
    return buffer_of(block.w2)->head_cell() + i;
}

}  // namespace kiv::root
