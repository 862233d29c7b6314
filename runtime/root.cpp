#include "runtime/root.h"

#include "datatypes/block.h"

namespace kiv::root {

Cell block{TYPE_NONE, 0, 0, 0};
Off symbol_index = 0;
Off global_context = 0;
bool recording = false;

void init() {
    if (block.type() == TYPE_BLOCK && block.w2 != 0) {
        block::ks_clear_at(&block, 0);
        block.w1 = 0;
        return;
    }
    block::make_at_fixed(&block, int32_t(BLOCK_ROOM), true);
}

Cell* keep_copy(const Cell& value) {
    if (block.type() != TYPE_BLOCK) init();
    Cell v = value;  // the value may lie in a buffer that the append moves
    return block::ks_append(&block, &v);
}

uint32_t count() {
    if (block.type() != TYPE_BLOCK) return 0;
    return series::count(block.w2);
}

Cell* at(uint32_t i) {
    return buffer_of(block.w2)->head_cell() + i;
}

}  // namespace kiv::root
