// Word values: word!, set-word!, lit-word!, get-word!, refinement! (and the
// issue! cell, which shares their layout).
//
//   id  type          parent   written as
//   15  word!         symbol!  name
//   16  set-word!     word!    name:
//   17  lit-word!     word!    'name
//   18  get-word!     word!    :name
//   19  refinement!   word!    /name
//   20  issue!        word!    #name
//
// Cell: header low byte the type id (bit 13, header::WORD_SET, marks a word
// of an object's words series that was set); word 1 the context node (0 =
// unbound; issue!: the global context); word 2 the symbol id; word 3 the
// index in the context (signed, -1 = not yet resolved). The any-word types
// are ids 15 to 20; the types that can be bound are 15 to 19.
//
// Words made global are bound to the global context, whose words and values
// grow as new symbols arrive (datatypes/context.h). While start-up word
// recording is on (runtime/root.h), the words start-up makes are also kept
// as copies in the root block.
//
// Helpers that return a word return it by value (word cells in the global
// words series move when it grows); Cell* results that point into a series
// buffer are valid only until the next allocation, those on the data stack
// stay valid.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace kiv::word {

inline bool bindable_type(uint32_t type) {
    return type >= TYPE_WORD && type <= TYPE_REFINEMENT;
}
// An unbound word of the symbol.
inline Cell unbound(uint32_t symbol, uint32_t type = TYPE_WORD) {
    return Cell{type, 0, symbol, 0xFFFFFFFFu};
}
inline int32_t index_of(const Cell* word) {
    return int32_t(word->w3);
}

// ---- Making words ------------------------------------------------------------------
// Interns the name and returns the global word for it (case-insensitive
// lookup keeping the letter case: a case variant of an existing global word
// gets its own word cell sharing the same value slot). While recording, the
// copy kept in the root block is what is returned.
Cell load(const char* name);
// Interns the name and appends its global word! to the block; returns the new cell.
Cell* load_in(const char* name, const Cell* block);
// Fills the cell as a word! bound to the global context (case-insensitive;
// the word and an unset value added when absent).
Cell* make_at(uint32_t symbol, Cell* cell);
// make_at on a new cell at the block's tail.
Cell* make_in(uint32_t symbol, const Cell* block);
// make_at on the result slot (the argument base).
Cell* box(uint32_t symbol);
// make_at on a new data-stack cell.
Cell* load_at(uint32_t symbol);
// The global word of the symbol (exact lookup, added when absent). While
// recording, a copy is also kept in the root block.
Cell make_global(uint32_t symbol);

// ---- Stack helpers -------------------------------------------------------------------
// Pushes a copy of the word cell.
Cell* push(const Cell* word);
// Pushes a copy of word n of the context's words series.
Cell* push_local(Off ctx, uint32_t n);
// Pushes a copy of value n (from the data stack for a stack context); a
// context without values raises script not-defined with word n.
Cell* get_local(Off ctx, uint32_t n);
// The interpreter's set-word step: the word in the result slot is set to the
// value in the next slot, which becomes the result. An unset value raises
// script need-value with the word. The word's owner may run a change hook:
// its exit code comes back instead of the result.
Outcome set_checked();
// Copies the result slot into the target; unset raises need-value with the target.
Cell* store_checked(Cell* target);
// Pushes a copy of the word's value; unset raises script no-value.
Cell* get_checked(const Cell* word);
// Pushes a copy of the word's value without checking.
Cell* push_value(const Cell* word);
// The symbol cell of the word with its name string built (valid until the
// next allocation).
Cell* get_symbol(const Cell* word);
// Pushes a string! at index 0 sharing the symbol's name string.
Cell* push_name(const Cell* word);

// ---- Type-parametrised family (the subtypes' load, push, set, get) ------------------------
// load, then retype.
Cell load_as(const char* name, uint32_t type);
// load_in, then retype the appended cell.
Cell* load_in_as(const char* name, const Cell* block, uint32_t type);
// push, then retype the stack cell.
Cell* push_as(const Cell* word, uint32_t type);
// push_local, then retype.
Cell* push_local_as(Off ctx, uint32_t n, uint32_t type);
// The word in the result slot is set to the value in the next slot, which
// becomes the result (no check); a change hook's exit code comes back instead.
Outcome set();
// The result slot receives the value of the word in it (no check).
Cell* get();

// ---- Actions ----------------------------------------------------------------------------
// make and to: from any word (kept with its binding), a datatype! (its name
// word), logic! (true/false), a string or char (loaded as one word), a
// refinement or issue (its name must scan as a word); retyped to `type`.
Outcome make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
// index?: none when unresolved, else the 1-based index (writes the result slot).
void index_q();

// The form of a word's name into a string (appends the name; returns the
// budget less the characters appended).
int32_t form_name(uint32_t symbol, Cell* out, int32_t budget);
// The name with an optional one-character prefix and suffix (the subtypes'
// molds); each affix costs 1 of the budget.
int32_t mold_affixed(Cell* value, Cell* out, int32_t budget, const char* prefix, const char* suffix);

// Registers word!.
void init();
// Registers a subtype of word!: make, to, form and compare inherited, its own
// mold, index? inherited when `index`.
void register_subtype(uint32_t id, const char* name, action::Mold mold, bool index);

// Hook for turning text into one value (the lexer's single-value load):
// fills `result` with the value, none when the text holds more than one,
// unset when it holds none. Installed by the lexer; until then converting
// text to a word raises internal not-done.
using LoadSingle = void (*)(const uint8_t* utf8, uint32_t length, Cell* result);
extern LoadSingle load_single;
// Hook for the lexer's scan-only mode: the datatype id of the first value
// the UTF-8 text holds (0 when none). Until installed, names of refinements
// and issues are checked by a built-in word-character test.
using ScanType = uint32_t (*)(const uint8_t* utf8, uint32_t length);
extern ScanType scan_type;

// The word for an error's `where`: the word of stack::caller_frame()'s
// symbol, bound in the frame's context when it has the symbol, else the
// global word; <not-found> below the bottom, none before the fixed words
// exist (early start-up). Clears the throw position.
Cell caller();

}  // namespace kiv::word

// The subtypes' families (Cell results as in kiv::word).
namespace kiv::lit_word {
inline Cell load(const char* name) {
    return word::load_as(name, TYPE_LIT_WORD);
}
inline Cell* load_in(const char* name, const Cell* block) {
    return word::load_in_as(name, block, TYPE_LIT_WORD);
}
inline Cell* push(const Cell* w) {
    return word::push_as(w, TYPE_LIT_WORD);
}
inline Cell* push_local(Off ctx, uint32_t n) {
    return word::push_local_as(ctx, n, TYPE_LIT_WORD);
}
inline Outcome set() {
    return word::set();
}
inline Cell* get() {
    return word::get();
}
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
// Registers the type.
void init();
}  // namespace kiv::lit_word

namespace kiv::set_word {
inline Cell load(const char* name) {
    return word::load_as(name, TYPE_SET_WORD);
}
inline Cell* load_in(const char* name, const Cell* block) {
    return word::load_in_as(name, block, TYPE_SET_WORD);
}
inline Cell* push(const Cell* w) {
    return word::push_as(w, TYPE_SET_WORD);
}
inline Cell* push_local(Off ctx, uint32_t n) {
    return word::push_local_as(ctx, n, TYPE_SET_WORD);
}
inline Outcome set() {
    return word::set();
}
inline Cell* get() {
    return word::get();
}
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
// Registers the type.
void init();
}  // namespace kiv::set_word

namespace kiv::get_word {
inline Cell load(const char* name) {
    return word::load_as(name, TYPE_GET_WORD);
}
inline Cell* load_in(const char* name, const Cell* block) {
    return word::load_in_as(name, block, TYPE_GET_WORD);
}
inline Cell* push(const Cell* w) {
    return word::push_as(w, TYPE_GET_WORD);
}
inline Cell* push_local(Off ctx, uint32_t n) {
    return word::push_local_as(ctx, n, TYPE_GET_WORD);
}
inline Outcome set() {
    return word::set();
}
// Pushes a copy of the value of the word in the result slot.
Cell* get();
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
// Registers the type.
void init();
}  // namespace kiv::get_word

namespace kiv::refinement {
// Appends to the root block an unbound refinement! of the interned name and
// returns a copy of it.
Cell load(const char* name);
inline Cell* load_in(const char* name, const Cell* block) {
    return word::load_in_as(name, block, TYPE_REFINEMENT);
}
inline Cell* push(const Cell* w) {
    return word::push_as(w, TYPE_REFINEMENT);
}
inline Cell* push_local(Off ctx, uint32_t n) {
    return word::push_local_as(ctx, n, TYPE_REFINEMENT);
}
inline Outcome set() {
    return word::set();
}
inline Cell* get() {
    return word::get();
}
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
// Registers the type.
void init();
}  // namespace kiv::refinement

namespace kiv::issue {
// The cell becomes an issue! of the interned name (global context, index -1).
Cell* make_at(Cell* cell, const char* name);
// The same in a new cell at the block's tail.
Cell* make_in(const Cell* block, const char* name);
// While recording: make_in on the root block; else make_at on a new stack cell.
Cell* load(const char* name);
// Pushes a copy retyped as issue!.
Cell* push(const Cell* word);
Outcome make(Cell* proto, Cell* spec, uint32_t type);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
// Registers issue!.
void init();
}  // namespace kiv::issue
