// datatype!: a value naming a datatype. Payload word 1 = the type id named.
// Implements form, mold and compare (equality only); every other action is
// empty. The registration of the type itself is datatype::init().
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::datatype {

// Registers datatype! (first of the start-up registrations).
void init();

// A datatype! value naming `type` (not on any stack).
inline Cell cell(uint32_t type) {
    return Cell{TYPE_DATATYPE, type, 0, 0};
}
// A new datatype! cell on the data stack.
Cell* push(uint32_t type);
// A new datatype! cell appended to a block value.
Cell* make_in(const Cell* block, uint32_t type);

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);

}  // namespace kiv::datatype
