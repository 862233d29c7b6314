// map!: an associative table from keys to values, molded "#[" key value ... "]".
//
// A map value: word 1 = position (always 0), word 2 = node of the pair block,
// word 3 = its hash table (map kind, runtime/hashtable.h), whose record also
// counts the live entries.
//
// Pair block: key cell then value cell, in insertion order. Entries never
// move: a removed entry keeps its key and has its value cell's header set to
// 0; a later put of the same key revives it in place (so it keeps its place in
// the mold order).
//
// Keys are normalised when stored: string-like keys (string!, file!, url!,
// binary!, tag!, email!, ref!) become a copy of their text from their
// position (changing the original afterwards does not change the key); the
// four word kinds become set-word!; the other accepted types stay as they are.
#pragma once

#include <cstdint>
#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/hash_values.h"
#include "runtime/cell.h"
#include "runtime/hashtable.h"

namespace kiv::map {

// The types a key may have.
bool key_type(uint32_t type);
// Normalises a key in place (may allocate). A type that is not a key type
// raises script invalid-path (the path, or none; the key's datatype).
void normalize_key(Cell* key, const Cell* path);
// Live entries.
uint32_t live_count(const Cell* map);
// Makes the cell a map over the pair block (a new one with room for `room`
// entries when 0) and the table (a new one indexing the pairs when 0).
Cell* make_at(Cell* cell, Off pairs, Off table, uint32_t room);
Cell* push(const Cell* map);
// Adds or updates the pairs of a block (extend): an odd count raises script
// invalid-arg with the block.
void extend(Cell* map, Cell* block, bool case_sensitive);

// A key not in the map: a new pair, the key normalised (reporting `path` on
// error); `hash` is the key's hash as the look-up gave it.
void add_pair(Cell* map, const Cell* key, const Cell* value, bool case_sensitive, const Cell* path,
              uint32_t hash);
// Stores a value under a key: updates a live entry, revives a removed one or
// appends a new pair (the key normalised, reporting `path` on error).
// The update half of store: a key the map holds (live or removed) takes
// the value in place, and true; false, with nothing changed, for a new key
// (*hash is then the key's hash as the look-up made it). Nothing here
// allocates or raises.
inline bool update(const Cell* map, const Cell* key, const Cell* value, bool case_sensitive, uint32_t* hash) {
    Off table = map->w3;
    Cell* k = hash_values::find_in_map(table, key, case_sensitive, hash);
    if (!k) return false;
    if (k[1].header == 0) ++hashtable::record(table)->live;
    // One 16-byte copy, then the flag cleared in place (a copy made in a
    // local and changed there is assembled field by field).
    std::memmove(&k[1], value, sizeof(Cell));
    k[1].clear_new_line();
    return true;
}
inline void store(Cell* map, const Cell* key, const Cell* value, bool case_sensitive, const Cell* path) {
    // An existing key (the usual case) is updated in place: the look-up
    // never collects, so nothing needs holding on the stack.
    uint32_t hash = 0;
    if (!update(map, key, value, case_sensitive, &hash)) [[unlikely]]
        add_pair(map, key, value, case_sensitive, path, hash);
}
// The path set `map/key: value` (no /case): as eval_path's set step, without
// the step's cells (the map cell, key and value are read before anything is
// allocated; `path` is only reported on error).
inline void set_key(Cell* map, const Cell* key, const Cell* value, const Cell* path) {
    store(map, key, value, false, path);
}
// `select map key` without refinements: the value of a live entry, or none,
// written to *out (which may be the map's or the key's cell).
inline void select_value(const Cell* map, const Cell* key, Cell* out) {
    const Cell* k = hash_values::find_in_map(map->w3, key, false);
    if (k && k[1].header != 0) {
        std::memcpy(out, &k[1], sizeof(Cell));  // as store: one copy, the flag cleared in place
        out->clear_new_line();
    } else {
        *out = Cell{TYPE_NONE, 0, 0, 0};
    }
}

// ---- Actions (signatures of datatypes/actions.h) ------------------------------------------
Outcome make(Cell* proto, Cell* spec, uint32_t type);
Outcome to(Cell* proto, Cell* spec, uint32_t type);
void reflect(Cell* value, uint32_t field_symbol);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grandparent, Cell* previous,
                int32_t position, bool case_sensitive, bool get_path, bool last_element, bool notify_owner);
int32_t compare(Cell* value, Cell* other, int32_t op);
Unwind clear(Cell* series);
Outcome copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
Outcome find(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
Count length_q(Cell* value);
Outcome put(Cell* series, Cell* key, Cell* value, bool case_sensitive);
Unwind remove(Cell* series, Cell* part, Cell* key);
Outcome select(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
               Cell* with, Cell* skip, bool last, bool reverse);

// Registers map!.
void init();

}  // namespace kiv::map
