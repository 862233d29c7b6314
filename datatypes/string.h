// string! storage: fixed-width units (1, 2 or 4 bytes per code point), widened
// as a whole when a character that does not fit arrives. The helpers here are
// what every form and mold uses to write text.
//
// A string cell: word 1 index, word 2 node, word 3 conversion-cache node.
// Helpers that may widen or grow take and return the buffer to use afterwards.
//
// Invariants the rest of the code relies on:
//   - a text buffer's unit is 1 (code points 0-255), 2 (0-0xFFFF) or 4; any
//     other unit is an internal fault that ends the process (runtime error 101);
//   - a buffer is widened as a whole and never narrowed, except by reset();
//   - appending at the tail keeps a 1-byte buffer only for 0-127, writing or
//     inserting at a position keeps it for 0-255 (so that Latin-1 text poked
//     into place stays compact while appended text widens early);
//   - every helper that may allocate re-reads buffers through their nodes; a
//     SeriesBuffer* or byte pointer the caller held before is stale after it.
//     Cell* arguments must not lie in a buffer that an allocation may move
//     (use data-stack cells or local copies).
#pragma once

#include <cstdint>
#include <vector>

#include "datatypes/series.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "datatypes/actions.h"

namespace kiv::string {

// ---- The first helpers (used by every form and mold) -----------------------------

// Makes `cell` an empty string! with room for max(count, 1) one-byte units.
Cell* make_at(Cell* cell, uint32_t count);
// Appends one code point at the tail (0-127 keep a 1-byte buffer; above widens).
SeriesBuffer* append_char(SeriesBuffer* buf, uint32_t cp);
// Appends every byte of a NUL-terminated text as a code point.
void concatenate_literal(Cell* str, const char* text);
// When the value's series is being molded further out (runtime/cycles.h),
// appends its cycle marker, subtracts the marker's length from the budget
// and returns true; otherwise writes nothing and returns false.
bool append_cycle_marker(const Cell* value, Cell* out, int32_t& budget, bool mold);
// Appends `count` bytes as code points 0-255.
void append_latin1(Cell* str, const char* bytes, uint32_t count);

// ---- Cells ----------------------------------------------------------------------

// The text types (string!, file!, url!, tag!, email!, ref!) are tested with
// is_any_string (runtime/cell.h).

// The same with the given unit (1, 2 or 4); the cell's header flags are kept.
Cell* make_at_width(Cell* cell, uint32_t count, uint32_t unit);
// Pushes a copy of a string-like cell on the data stack.
Cell* push(const Cell* str);
// Pushes a new empty string! with room for `count` units of 1 byte.
Cell* push_new(uint32_t count);
// Pushes a new string! holding any value's formed text, or its molded text
// (`only`: a block's contents without its brackets). The value is copied to
// the stack first, since forming may allocate and move the buffer it lies
// in. The caller restores the stack top when done with the text.
Cell* push_formed(const Cell& value);
Cell* push_molded(const Cell& value, bool only);

// ---- Reading and positions --------------------------------------------------------

// A unit width other than 1, 2 or 4: runtime error 101 ends the process.
[[noreturn]] void bad_unit();

inline uint32_t get_char(const uint8_t* p, uint32_t unit) {
    switch (unit) {
        case 1:
            return *p;
        case 2:
            return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
        case 4: {
            uint32_t v;
            __builtin_memcpy(&v, p, 4);
            return v;
        }
        default:
            bad_unit();
    }
}
inline void set_char(uint8_t* p, uint32_t unit, uint32_t cp) {
    switch (unit) {
        case 1:
            *p = uint8_t(cp);
            return;
        case 2:
            p[0] = uint8_t(cp);
            p[1] = uint8_t(cp >> 8);
            return;
        case 4:
            __builtin_memcpy(p, &cp, 4);
            return;
        default:
            bad_unit();
    }
}

inline SeriesBuffer* buffer(const Cell* str) {
    return buffer_of(str->w2);
}

// Address of the unit at the index; an index past the tail is first clamped
// to the tail (the cell's index is rewritten).
uint8_t* head(Cell* str);
// Address of the buffer's tail.
inline uint8_t* tail(const Cell* str) {
    return buffer(str)->tail_ptr();
}
// True when the index is at or past the tail.
bool is_tail(const Cell* str);
// Units from the index to the tail; a past-tail index is clamped and gives 0.
uint32_t length(Cell* str);
// Units from the head to the tail, ignoring the index.
uint32_t length_from_head(const Cell* str);
// Moves the index by n units, clamped to head and tail.
void skip(Cell* str, int32_t n);
inline void next(Cell* str) {
    skip(str, 1);
}
// Code point at a position counted from the head.
uint32_t abs_at(const Cell* str, uint32_t position);
// Offset in units from the index of the first unit equal to cp (exact), or -1.
int32_t find_char(Cell* str, uint32_t cp);
// True when a unit at index, index + step, ... equals cp; folded to upper case
// on both sides unless case_sensitive.
bool has_char_stepped(Cell* str, uint32_t cp, uint32_t step, bool case_sensitive);
// True when the characters from the index equal the bytes of text (exact case).
bool starts_with_text(Cell* str, const char* text);

// ---- Writing single characters (each returns the buffer to use afterwards) --------

// Widens by the write rule, re-bases *addr, stores cp there; the tail stays.
SeriesBuffer* poke_char(SeriesBuffer* buf, uint8_t** addr, uint32_t cp);
// Widens by the write rule, grows until the position fits, stores cp; a
// position at or past the tail moves the tail to position + 1.
SeriesBuffer* poke_char_at(SeriesBuffer* buf, uint32_t position, uint32_t cp);
// Widens by the write rule, moves the units from the position up by one unit
// and stores cp there.
SeriesBuffer* insert_char_at(SeriesBuffer* buf, uint32_t position, uint32_t cp);
// Removes count units at the position (from the head); nothing when the
// position is at or past the tail; count is clamped to the units after it.
void remove_units(Cell* str, uint32_t position, uint32_t count);
inline void remove_unit_at(Cell* str, uint32_t position) {
    remove_units(str, position, 1);
}
// Sets the tail at head + count units when that lies before the tail.
void truncate_at(SeriesBuffer* buf, uint32_t count);
// Empties the string and sets its unit back to 1 (the one narrowing).
void reset(Cell* str);
// Widens the whole buffer from one unit to a wider one.
SeriesBuffer* widen_to(SeriesBuffer* buf, uint32_t from, uint32_t to);
// The unit a code point needs when appended (append rule) or written in place.
inline uint32_t append_unit(uint32_t cp) {
    return cp < 0x80 ? 1 : cp < 0x10000 ? 2 : 4;
}
inline uint32_t write_unit(uint32_t cp) {
    return cp < 0x100 ? 1 : cp < 0x10000 ? 2 : 4;
}

// Makes room for `units` more units at the tail, first widening the buffer
// to at least `unit` bytes per unit. Returns the buffer to use.
SeriesBuffer* reserve(SeriesBuffer* buf, uint64_t units, uint32_t unit);

// ---- Concatenation ------------------------------------------------------------------

enum ConcatMode : int32_t { CONCAT_APPEND = 0, CONCAT_INSERT = 1, CONCAT_OVERWRITE = 2 };

// Appends, inserts or overwrites the characters of one string-like value (or
// symbol!) in another. part < 0: the whole source from its index; offset in
// units from the target's index. Without `convert` a narrower source buffer
// is widened itself; with it, the source is left as it is.
void concatenate(Cell* target, Cell* source, int32_t part, int32_t offset, bool convert, int32_t mode);
inline void concatenate_at(Cell* target, Cell* source, int32_t part, int32_t offset, bool convert,
                           int32_t mode) {
    concatenate(target, source, part, offset, convert, mode);
}
inline void overwrite(Cell* target, Cell* source, int32_t part, int32_t offset, bool convert) {
    concatenate(target, source, part, offset, convert, CONCAT_OVERWRITE);
}
// Exchanges two adjacent byte runs of one buffer: [first, first + len1) and
// [second, second + len2), second = first + len1 + gap. The smaller run is
// parked in a scratch block while the larger moves.
void exchange_runs(SeriesBuffer* buf, uint8_t* first, uint32_t len1, uint8_t* second, uint32_t len2,
                   uint32_t gap);
// Inserts the source's units from its index (byte_count bytes of them) at
// the target's index, then removes them from the source.
void move_units(Cell* source, Cell* target, uint32_t byte_count);
// Repeats the last `run` units before the tail `times` more times in place.
void fill_repeat(Cell* str, uint32_t run_start, uint32_t run_units, uint32_t times);

// ---- Loading --------------------------------------------------------------------------

// ENC_SYSTEM: bytes from the system (names, arguments, the environment),
// decoded without loss as unicode::load_escaped decodes them.
enum Encoding : int32_t { ENC_UTF8 = 0, ENC_UTF16LE = -1, ENC_SYSTEM = -2 };

// Builds a string from bytes into `cell` (a new data-stack slot when null).
// An unsupported encoding is a faulty caller: it is reported and the process
// ends with runtime error 98 (never with a success status).
Cell* load(const uint8_t* bytes, uint32_t count, Cell* cell, int32_t encoding);
inline Cell* load_push(const uint8_t* bytes, uint32_t count, int32_t encoding) {
    return load(bytes, count, nullptr, encoding);
}
// Into a new cell at the tail of a block.
Cell* load_in(const uint8_t* bytes, uint32_t count, const Cell* block, int32_t encoding);
// A new string on the data stack from strict UTF-8: invalid input raises
// access invalid-utf8 with a binary! of every byte from the first one not
// decoded to the end of the input.
Cell* load_utf8_strict(const uint8_t* bytes, uint32_t count);

// ---- Number text helpers ---------------------------------------------------------------

// Two upper-case hex digits of a byte (static buffer, valid until the next call).
const char* byte_to_hex(uint8_t byte);
// Upper-case hex digits, NUL-terminated (static buffer). Without trim: 8
// digits, negative numbers padded with F. With trim: no leading zeros, "00"
// for zero.
const char* to_hex(int32_t value, bool trim);
// The float value of the 1-byte text in [start, end).
double to_float(const uint8_t* start, const uint8_t* end);

// ---- Text workers shared with other types ---------------------------------------------

// The marker that turns on the caret escape table (string! and char! molds).
constexpr uint32_t ESCAPE_MARKER = 253;
// Appends one character as mold writes it: code 30, 128-159 (and with `all`
// everything above 127) as caret-parenthesis hex; with the marker the caret
// table (^@ ^A ... ^/ ^- ^" ^^) and "^~" for 127; else the character itself.
void escape_char(Cell* out, uint32_t cp, uint32_t marker, bool all);

// Compares two string-like values (or symbol!s) from their indexes with a
// comparison code; folds case unless the code is 2 (strict) or 8 (case
// sort). With `match`, answers 0 when the second is a prefix of the first.
int32_t equal(Cell* a, Cell* b, int32_t op, bool match);

// The set operations on strings: operands at the argument base (and the next
// cell), op 8 unique, 9 union, 10 intersect, 11 exclude, 12 difference; skip
// is the /skip argument cell or null. The result replaces the argument base.
Cell* do_set_op(bool case_sensitive, const Cell* skip, int32_t op);

// Character tests of the parse dialect.
bool char_in_bitset(Cell* str, const Cell* bitset);
bool tag_delimited(Cell* str, uint32_t tag_length);
// The series at its index starts with the value (op 2: exact; else folded).
bool match_at(Cell* str, Cell* value, int32_t op);

// The order a /compare function's answer gives to its two arguments: -1 puts
// the first argument first, 1 the second, 0 leaves them equal. true, a
// positive number, or any value that is not logic!, a number or none puts
// the first first; false, none or a negative number the second. Blocks and
// strings share this rule.
int32_t compare_answer_order(const Cell* answer);

// ---- Appending at the tail -----------------------------------------------------------------

// append of a char! below 128, or of a whole text (not a tag) of 1 to 16 1-byte
// units, to a 1-byte string that no owner watches and that has room at its tail
// (16 bytes of it for a text): the bytes are written there and the string's index goes to its head, as
// insert(series, value, -1, only, 1, true) does. False, with nothing done,
// for every other case (the general path then runs).
[[gnu::always_inline]] inline bool append_narrow_quick(Cell* series, const Cell* value) {
    constexpr uint32_t max_bytes = 0x7FFFFFFFu;  // the size rule of the general path
    constexpr uint64_t texts = kinds::ANY_STRING & ~type_bit(TYPE_TAG);
    SeriesBuffer* tb = buffer(series);
    if ((tb->flags & (series_flag::OWNED | series_flag::UNIT_MASK)) != 1) return false;
    uint32_t t = value->type();
    if (t == TYPE_CHAR) {
        uint32_t cp = value->w2;
        Off tail = tb->tail;
        if (cp >= 0x80 || tail >= tb->data_end() || tail - tb->head >= max_bytes) return false;
        *arena::ptr(tail) = uint8_t(cp);
        tb->tail = tail + 1;
        series->w1 = 0;
        return true;
    }
    if (!(texts & type_bit(t))) return false;
    const SeriesBuffer* sb = buffer_of(value->w2);
    uint32_t count = sb->tail - sb->head - value->w1;  // from the index; wraps when past the tail
    if (sb->unit() != 1 || count - 1u >= 16u) return false;
    Off from = sb->tail - count;
    Off tail = tb->tail;
    // 16 bytes are copied whatever the count (one vector move): they must
    // lie in both data areas. Bytes past a string's tail mean nothing.
    if (uint64_t(from) + 16 > sb->data_end() || uint64_t(tail) + 16 > tb->data_end() ||
        tail + count - tb->head > max_bytes)
        return false;
    // The source lies before its own tail, the copy at this tail: the
    // counted bytes never overlap, even for a string appended to itself
    // (what the move writes past them is read first).
    typedef uint8_t Bytes16 __attribute__((vector_size(16), aligned(1)));
    Bytes16 v;
    __builtin_memcpy(&v, arena::ptr(from), 16);
    __builtin_memcpy(arena::ptr(tail), &v, 16);
    tb->tail = tail + count;
    series->w1 = 0;
    return true;
}

// ---- Actions (signatures of datatypes/actions.h) ------------------------------------------

Outcome make(Cell* proto, Cell* spec, uint32_t type);
Outcome to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grandparent, Cell* previous,
                int32_t position, bool case_sensitive, bool get_path, bool last_element, bool notify_owner);
int32_t compare(Cell* value, Cell* other, int32_t op);
Unwind insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Unwind change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Outcome find(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
Outcome select(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
               Cell* with, Cell* skip, bool last, bool reverse);
// The positions (from the head) at which find (with /case when asked) finds
// the value again and again: from the series' index, each time on from the
// end of the match before. The length of a match comes back through length.
std::vector<uint32_t> find_each(Cell* series, Cell* value, bool case_sensitive, uint32_t* length);
Unwind sort(Cell* series, bool case_sensitive, Cell* skip, Cell* comparator, Cell* part, bool all,
            bool reverse, bool stable);
Unwind swap(Cell* series1, Cell* series2);
Outcome take(Cell* series, Cell* part, bool deep, bool last);
Unwind trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);

// ---- Registration -------------------------------------------------------------------------

// Registers string! (after series!).
void init();

}  // namespace kiv::string
