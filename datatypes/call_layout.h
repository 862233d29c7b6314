// Call layouts (typed specifications): the decoded form of a function
// value's argument list that every call reads.
//
// Built on the first call of a function value from its specification block
// and kept in cell 1 of the value's series (a binary! cell; function! and
// routine! call it CELL_SPARE, native! and action! keep it free for this).
// An op! shares its source's series, hence its cache. Layout: a SpecHeader,
// then one SpecEntry per fixed argument, then for each refinement (spec
// order) a refinement entry followed by its argument entries. /local and its
// words only add to `locals`; `return:` only sets `return_type`. The entries
// are read by node and index at every use: argument fetching evaluates code,
// which may move the buffer.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "datatypes/native.h"
#include "datatypes/typeset.h"
#include "runtime/cell.h"
#include "runtime/series.h"

namespace kiv::interpreter::spec {

enum EntryKind : uint32_t { K_ARG = 1, K_REF = 2 };
constexpr uint32_t MODE_MASK = 0x300000;
constexpr uint32_t MODE_EVAL = 0;
constexpr uint32_t MODE_LITERAL = 0x100000;
constexpr uint32_t MODE_QUOTED = 0x200000;

struct SpecHeader {
    uint32_t fixed;        // fixed arguments
    uint32_t refinements;  // refinements (not /local)
    uint32_t frame_cells;  // function layout: args, flags + refinement args, locals
    uint32_t locals;       // cells of /local: its flag and its words (0 without)
    uint32_t entries;
    uint32_t return_type;  // datatype id of the declared result (0 none)
    uint32_t ref_args;     // arguments of all refinements together
    uint32_t ref_table;    // entry index of refinement 0 .. (refinement entries follow in order)
};
struct SpecEntry {
    uint32_t kind_mode;  // kind | fetch mode
    uint32_t symbol;     // as written
    uint32_t canonical;  // case-insensitive id
    uint32_t ts[3];      // typeset payload
    uint32_t fpos;       // function layout: argument cell, or the refinement's flag cell
    uint32_t npos;       // native layout: argument cell, or the refinement's first argument cell
    uint32_t nargs;      // refinement: its argument count
    uint32_t ordinal;    // refinement: 0-based number
    uint32_t accept[2];  // the typeset as a bit per type id below 64 (bit t of word t / 32)
};
static_assert(sizeof(SpecHeader) == 32);
static_assert(sizeof(SpecEntry) == 48);

inline const SpecHeader* spec_header(Off node) {
    return reinterpret_cast<const SpecHeader*>(buffer_of(node)->head_ptr());
}
inline SpecEntry spec_entry(Off node, uint32_t i) {
    SpecEntry e;
    std::memcpy(&e, buffer_of(node)->head_ptr() + sizeof(SpecHeader) + i * sizeof(SpecEntry), sizeof e);
    return e;
}
// Entry i, and the entry index of refinement `ordinal`, read in place from
// the buffer's head (the header, the entries and the refinements' index
// table follow one another): valid only until the next allocation.
inline const SpecEntry* entry_in(const uint8_t* head, uint32_t i) {
    return reinterpret_cast<const SpecEntry*>(head + sizeof(SpecHeader) + i * sizeof(SpecEntry));
}
inline uint32_t ref_index_in(const uint8_t* head, uint32_t ordinal) {
    const uint32_t entries = reinterpret_cast<const SpecHeader*>(head)->entries;
    uint32_t v;
    std::memcpy(&v, head + sizeof(SpecHeader) + entries * sizeof(SpecEntry) + ordinal * sizeof(uint32_t),
                sizeof v);
    return v;
}
inline const SpecEntry* entry_at(Off node, uint32_t i) {
    return entry_in(buffer_of(node)->head_ptr(), i);
}
inline bool ts_has(const uint32_t ts[3], uint32_t type) {
    Cell c{TYPE_TYPESET, ts[0], ts[1], ts[2]};
    return typeset::has(&c, type);
}
// Every type id fits the 64-bit accept mask; the typeset answers for any other.
static_assert(TYPE_ID_LIMIT < 64);
inline bool accepts(const SpecEntry& e, uint32_t type) {
    if (type < 64) [[likely]]
        return (e.accept[type >> 5] >> (type & 31)) & 1;
    return ts_has(e.ts, type);
}
inline bool is_callable(uint32_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

// Builds the typed specification of a callable source value (not op!) and
// links it to the value's series; raises bad-func-def for a malformed spec.
Off build_typed_spec(const Cell* fn);

// The layouts of native! and action! values are held to their entries'
// own. An entry reads its arguments by position and trusts their types, so
// a value made with another argument list (`make native! [[a] 5]`) would
// make it read cells it was never given. The entry's own layout is the one
// the boot image tool computed from the built-in values' argument lists
// (take_own_layouts), or, for an image without them, the first one made for
// its number while start-up runs. Once start-up has closed them, a layout fits
// when it has the same fixed arguments, fetch modes, types and refinements
// with the same argument counts (the interpreter's quick forms of some
// natives rely on the types too); a number with no layout of its own fits
// nothing.
// `head`: the layout's first byte (read in place: nothing here allocates).
bool builtin_layout_fits(uint32_t type, uint32_t number, const uint8_t* head);
// Takes the entries' own layouts from every native! and action! value the
// global context holds (the built-in ones) and closes them. Start-up calls
// it once the library has run, before any script.
void close_builtin_layouts();
bool builtin_layouts_closed();
// Takes the entries' own layouts from the records the boot image tool
// wrote (boot/make_image.cpp, add_layouts): close_builtin_layouts then
// closes them without computing any. False (and nothing taken) when the
// records are malformed or one differs from a layout made already.
bool take_own_layouts(const uint8_t* data, uint32_t size);
// The layout of a callable source value, as bytes (nothing linked).
std::vector<uint8_t> layout_bytes(const Cell& fn);
// build_typed_spec without the check of a native's or action's layout
// against its entry's.
Off build_layout(const Cell* fn);

// The typed specification node of a callable source value when it is
// built already (it is cached in cell 1 of the value's series), else 0.
inline Off built_typed_spec(const Cell* fn) {
    const Cell* cache = buffer_of(fn->w3)->head_cell() + 1;
    return cache->type() == TYPE_BINARY ? cache->w2 : 0;
}
// The typed specification node of a callable source value (not op!). On
// every call path: one test of the cache's type.
inline Off typed_spec(const Cell* fn) {
    const Cell* cache = buffer_of(fn->w3)->head_cell() + 1;
    if (cache->type() == TYPE_BINARY) [[likely]]
        return cache->w2;
    return build_typed_spec(fn);
}
inline uint32_t ref_entry_index(Off node, uint32_t ordinal) {
    return ref_index_in(buffer_of(node)->head_ptr(), ordinal);
}
// The ordinal of the refinement with the canonical id, or -1.
int32_t find_ref(Off node, uint32_t canonical);
// The ordinal of the refinement a word's symbol names (in any case), or -1.
int32_t find_ref_word(Off node, uint32_t symbol);

// The callable behind a value: an op!'s source, anything else itself.
inline Cell source_of(const Cell* fn) {
    return fn->type() == TYPE_OP ? native::op_source(fn) : *fn;
}

}  // namespace kiv::interpreter::spec
