#include "evaluator/literal_table.h"

#include "runtime/arena.h"

namespace kiv::literal_table {

Off base = 0;

Off set_base(Off new_base) {
    Off old = base;
    base = new_base;
    return old;
}

Cell* at(uint32_t index) {
    return arena::ptr<Cell>(base) + index;
}

Off node_at(uint32_t index) {
    const Cell* c = at(index);
    // Series values keep their position in word 1 and their node in word 2.
    return is_series(c->type()) ? c->w2 : c->w1;
}

}  // namespace kiv::literal_table
