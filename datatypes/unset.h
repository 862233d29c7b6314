// unset!: the value of a word that has none and the result of expressions
// that return nothing. Header only, no payload.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "datatypes/actions.h"

namespace kiv {

// The shared unset! constant (set by unset::init, never changed afterwards).
extern Cell unset_value;

namespace unset {

void init();

// The value itself (not on any stack).
inline Cell cell() {
    return Cell{TYPE_UNSET, 0, 0, 0};
}
// Sets the return slot (argument base) to unset!.
Cell* push_last();
// Pushes a new unset! cell.
Cell* push();
// Appends an unset! cell to a block value.
Cell* make_in(const Cell* block);

Outcome make_to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);

}  // namespace unset
}  // namespace kiv
