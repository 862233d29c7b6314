// The path types: path!, lit-path!, set-path!, get-path!.
//
// A path is a block written with "/" between its values (a/b/1), in four
// forms: plain, quoted ('a/b), set (a/b:) and get (:a/b). As data a path is
// a block: same payload (word 1 position, word 2 node), same buffers, and
// most actions are block!'s. The evaluator gives each form its meaning
// (evaluator/interpreter.h).
//
//   id  type        parent   written
//   25  path!       block!   values joined by "/"
//   26  lit-path!   path!    "'" then the path
//   27  set-path!   path!    the path then ":"
//   28  get-path!   path!    ":" then the path
//
// path! implements make, to, form and mold; copy and the navigation actions
// are block!'s; random, sort and trim stay empty. The other three implement
// mold only.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "datatypes/actions.h"

namespace kiv::path {

inline bool is_path_type(uint32_t t) {
    return t >= TYPE_PATH && t <= TYPE_GET_PATH;
}

// Gives the cell the path type and pushes a copy of it.
Cell* push(Cell* cell, uint32_t type = TYPE_PATH);
// Makes the cell an empty path! with room for n cells (at least one).
Cell* make_at(Cell* cell, int32_t n);

// ---- Actions (signatures of datatypes/actions.h) ------------------------------------------
// make: an integer!, float! or percent! gives an empty path with room for
// that many cells (truncated toward zero, at least one); a block-like spec
// gives a copy; anything else raises script bad-make-arg.
Outcome make(Cell* proto, Cell* spec, uint32_t type);
// to: a map!, object! or typeset! gives a path of that one value; anything
// else converts as block! to does.
Outcome to(Cell* proto, Cell* spec, uint32_t type);
// The bare path, values formed, "/" between them.
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
// Values molded with "/" between them; lit-path! "'" before, get-path! ":"
// before, set-path! ":" after.
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);

// Registers the four types, path! first.
void init();

}  // namespace kiv::path
