// logic!: true and false. Payload word 1 = 1 for true, 0 for false.
//
// Truth rule, used by every conditional: a value is false when it is none!
// or logic! false; every other value (0, empty series, unset! where allowed)
// is true.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "datatypes/actions.h"

namespace kiv {

// The shared logic! constants (set by logic::init, never changed afterwards).
extern Cell true_value;
extern Cell false_value;

namespace logic {

void init();

// A logic! value (not on any stack).
inline Cell cell(bool b) {
    return Cell{TYPE_LOGIC, b ? 1u : 0u, 0, 0};
}
// Sets the return slot (argument base) to a logic! of b.
Cell* box(bool b);
// Pushes a new logic! cell.
Cell* push(bool b);
// Appends a logic! cell to a block value.
Cell* make_in(const Cell* block, bool b);
inline bool get(const Cell* c) {
    return c->w1 != 0;
}

// The truth rule on one value.
inline bool is_false(const Cell* c) {
    uint32_t t = c->type();
    return t == TYPE_NONE || (t == TYPE_LOGIC && c->w1 == 0);
}
inline bool is_true(const Cell* c) {
    return !is_false(c);
}

// The return slot is true; an unset! there raises script no-return.
bool true_q();
// The return slot is none! or logic! false (unset! counts as true, no error).
bool false_q();
// The topmost data-stack value (the argument base when nothing is above it)
// is none! or logic! false.
bool top_false_q();
bool top_true_q();
// With `check` set, an unset! value raises script no-value with `word`;
// otherwise the truth rule. `word` may be null (none is passed then).
bool check_true_q(const Cell* value, bool check, const Cell* word);

// Actions.
Outcome make(Cell* proto, Cell* spec, uint32_t type);
Outcome to(Cell* proto, Cell* spec, uint32_t type);
void random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
Cell* complement(Cell* value);
void and_t();
void or_t();
void xor_t();

}  // namespace logic
}  // namespace kiv
