// none!: the absence of a value. Header only, no payload. The series actions
// that make sense on "nothing" (clear, find, select, take, remove) answer none
// and length? answers none, so `find none x` and the like need no test first.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "datatypes/actions.h"

namespace kiv {

// The shared none! constant (set by none::init, never changed afterwards).
extern Cell none_value;

namespace none {

void init();

// The value itself (not on any stack).
inline Cell cell() {
    return Cell{TYPE_NONE, 0, 0, 0};
}
// Sets the return slot (argument base) to none!: the usual way for natives
// and actions to return none.
Cell* push_last();
// Pushes a new none! cell.
Cell* push();
// Appends a none! cell to a block value.
Cell* make_in(const Cell* block);

Outcome make_to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
Unwind clear(Cell* series);
Outcome find(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
Count length(Cell* value);
Unwind remove(Cell* series, Cell* part, Cell* key);
Outcome select(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
               Cell* with, Cell* skip, bool last, bool reverse);
Outcome take(Cell* series, Cell* part, bool deep, bool last);

}  // namespace none
}  // namespace kiv
