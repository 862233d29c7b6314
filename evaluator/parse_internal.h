// Shared by the parse engine's files (parse.cpp: the state machine and the
// keywords; parse_match.cpp: matching values against the input;
// parse_collect.cpp: collect, keep, remove, insert, change). Not for other
// code: evaluator/parse.h is the interface.
//
// Frames on the rule stack are three cells:
//   block frame: none | position record | the enclosing rule block
//   rule frame:  count record (or the copy/set target word) | position
//                record | marker (pair!: x the rule kind, y the flag)
// A position record is a triple! (rule offset, input index, input length
// from that index); a count record a triple! (minimum, maximum or -1,
// round number). Rule offsets count cells from the rule block's buffer
// head. The marker's type tells a rule frame from a block frame.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/cell.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv::parser {

// Pending rule kinds (the marker's x).
enum Kind : uint32_t {
    K_REPEAT = 1,
    K_TO,
    K_THRU,
    K_COPY,
    K_SET,
    K_NOT,
    K_INTO,
    K_REMOVE,
    K_WHILE,
    K_COLLECT,
    K_KEEP,
    K_KEEP_PAREN,
    K_AHEAD,
    K_CHANGE,
    K_CHANGE_ONLY,
    K_CASE,
};

enum State : uint32_t {
    S_PUSH_BLOCK,
    S_POP_BLOCK,
    S_PUSH_RULE,
    S_POP_RULE,
    S_CHECK_PENDING,
    S_DISPATCH,
    S_NEXT_INPUT,
    S_NEXT_RULE,
    S_MATCH_VALUE,
    S_MATCH_RULE,
    S_MATCH_RULE_VALUE,
    S_FIND_ALTERNATIVE,
    S_WORD,
    S_END,
    S_EXIT,
};

// The work stacks' nodes (their block cells live in the root block).
extern Off rule_stack;
extern Off input_stack;

// The state of one parse call. The Cell* members point at data-stack
// slots reserved by the call, so the collector reaches them and they never
// move.
struct Parser {
    Cell* input;        // current input; its index is the input position
    Cell* rules;        // current rule block (its index is where it starts)
    Cell* result;       // the top-level collect block, unset until made
    Cell* paren_value;  // value of the last paren evaluated
    Cell* copied;       // value the last copy rule assigned
    Cell* callback;     // function! or null
    Cell* pending;      // value handed from a keyword to push rule (into: the inner series)
    Cell value;         // the rule value being dispatched (a copy)
    int32_t rp = -1;    // rule pointer: cell index from the rule buffer head
    bool match = true;
    bool end = false;
    bool brk = false;     // break/reject: end the enclosing loop
    bool pop = false;     // break/reject: pop the current block
    bool walked = false;  // the last popped block was walked to its tail
    bool via_word = false;
    bool from_match_rule = false;
    bool paren_ran = false;  // a keyword handler evaluated a paren (its event is due)
    int32_t cmp = 0;         // 0 equal, 2 strict-equal
    int64_t limit = -1;      // /part end as an absolute index of the current input (-1: none)
    int64_t top_limit = -1;
    // Filled by keywords before push rule.
    uint32_t kind = 0;
    int32_t min = 0, max = 0;
    uint32_t flag = 0;
    Cell count_cell{TYPE_NONE, 0, 0, 0};  // count record or target word of the frame to push
    uint32_t last_kind = 0;               // kind of the rule frame popped last (keep copy)
    uint32_t collect_depth = 0;
    bool result_made = false;
    uint32_t rule_base = 0;    // rule stack cells when this call began
    uint32_t input_base = 0;   // input stack cells when this call began
    uint32_t mask = 0;         // trace events wanted
    uint32_t pick_keyword = 0;  // the keyword `pick` names (0: none, unless made a name of one)
    Cell* work_top = nullptr;  // data top of the engine (above its slots and collect targets)
};

// ---- Work stacks ------------------------------------------------------------------------
inline SeriesBuffer* rs_buffer() {
    return buffer_of(rule_stack);
}
inline uint32_t rs_cells() {
    return rs_buffer()->byte_count() >> 4;
}
// The topmost frame's first cell (valid until the next allocation).
inline Cell* rs_top() {
    return rs_buffer()->tail_cell() - 3;
}
inline bool top_is_rule(const Parser& p) {
    return rs_cells() >= p.rule_base + 3 && rs_top()[2].type() == TYPE_PAIR;
}
// The rule stack grown by one frame when its buffer is full (may allocate).
void grow_frames(const Cell* cells);
inline void push_frame(const Cell& a, const Cell& b, const Cell& c) {
    Cell cells[3] = {a, b, c};
    SeriesBuffer* buf = rs_buffer();
    if (uint64_t(buf->tail) + sizeof(cells) <= buf->data_end()) [[likely]] {
        // Room at the tail (the usual case): no call to grow.
        std::memcpy(buf->tail_cell(), cells, sizeof(cells));
        buf->tail += sizeof(cells);
        return;
    }
    grow_frames(cells);
}
inline void drop_frame() {
    SeriesBuffer* b = rs_buffer();
    if (b->byte_count() >= 3 * sizeof(Cell)) b->tail -= 3 * sizeof(Cell);
}

// ---- Rules ------------------------------------------------------------------------------
// The cell at index i of the current rule block, or null past its tail
// (valid until the next allocation).
inline const Cell* rule_cell(const Parser& p, int32_t i) {
    if (i < 0) return nullptr;
    const SeriesBuffer* b = buffer_of(p.rules->w2);
    const Cell* c = b->head_cell() + i;
    return c < b->tail_cell() ? c : nullptr;
}
inline int32_t rule_tail(const Parser& p) {
    return int32_t(buffer_of(p.rules->w2)->byte_count() >> 4);
}

// ---- Input ------------------------------------------------------------------------------
// Units from the buffer head to the tail.
// The round count of a repetition after one more round. It only matters
// against the rule's bounds (at most INT32_MAX), so an unbounded repetition
// (while, any, some) stops counting there instead of overflowing.
inline uint32_t count_round(int32_t round) {
    return round < INT32_MAX ? uint32_t(round) + 1 : uint32_t(round);
}

inline uint32_t input_count(const Cell* input) {
    return series::count(input->w2);
}
inline uint32_t input_index(const Parser& p) {
    return p.input->w1;
}
// The input at index idx (at most n, its unit count), the end flag following.
inline void set_input_index(Parser& p, uint32_t idx, uint32_t n) {
    p.input->w1 = idx;
    p.end = idx >= n || (p.limit >= 0 && int64_t(idx) >= p.limit);
}
// Clamps the input position to its tail and recomputes the end flag.
inline void refresh_end(Parser& p) {
    uint32_t n = input_count(p.input);
    set_input_index(p, p.input->w1 > n ? n : p.input->w1, n);
}
// The input position moves by n units (clamped), end flag follows.
inline void advance(Parser& p, uint32_t n) {
    uint64_t idx = uint64_t(p.input->w1) + n;
    uint32_t count = input_count(p.input);
    p.input->w1 = idx > count ? count : uint32_t(idx);
    p.end = p.input->w1 >= count || (p.limit >= 0 && int64_t(p.input->w1) >= p.limit);
}
inline bool is_string_input(uint32_t t) {
    return is_any_string(t);
}
inline bool is_block_input(uint32_t t) {
    return is_any_block(t);
}
// True when the value is a position in the input's own series.
inline bool same_series(const Parser& p, const Cell& v) {
    return v.type() == p.input->type() && v.w2 == p.input->w2;
}
// The item at an absolute position as a value: the cell, a char!, or a byte as integer!.
Cell item_at(const Cell* input, uint32_t pos);

// One ASCII character matched over narrow text input (string-like, one byte
// per character): a char! or a text (not a tag) of one narrow unit from its
// position. A byte b matches it when (b | *mask) == *low: a letter's mask is
// 0x20 (either case) unless case-sensitive, else 0 (the byte itself). No
// byte outside ASCII folds to an ASCII character, so no other byte matches.
inline bool ascii_target(const Parser& p, const Cell& v, uint32_t* low, uint32_t* mask) {
    if (!is_string_input(p.input->type()) || buffer_of(p.input->w2)->unit() != 1) return false;
    uint32_t vt = v.type(), c;
    if (vt == TYPE_CHAR) {
        c = v.w2;
    } else if (is_any_string(vt) && vt != TYPE_TAG) {
        const SeriesBuffer* vb = buffer_of(v.w2);
        if (vb->unit() != 1 || uint64_t(v.w1) + 1 != vb->byte_count()) return false;
        c = vb->head_ptr()[v.w1];
    } else {
        return false;
    }
    if (c >= 0x80) return false;
    *low = c;
    *mask = 0;
    if (p.cmp != 2 && (c | 0x20) >= 'a' && (c | 0x20) <= 'z') {
        *low = c | 0x20;
        *mask = 0x20;
    }
    return true;
}

// Eight bytes from p (any alignment).
inline uint64_t load8(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}
constexpr uint64_t BYTES_01 = 0x0101010101010101ull;
constexpr uint64_t BYTES_80 = 0x8080808080808080ull;

// A repetition (min, max with -1 unbounded) of one ASCII character over
// narrow text (ascii_target's low and mask): its bytes skipped in place,
// eight at a time while all of them match. The match flag's value; the
// input moves past the run when it matches.
[[gnu::always_inline]] inline bool repeat_ascii(Parser& p, uint32_t low, uint32_t mask, int32_t min, int32_t max) {
    const SeriesBuffer* b = buffer_of(p.input->w2);
    uint32_t count = uint32_t(b->byte_count());  // one byte per unit
    uint32_t start = p.input->w1;
    uint32_t stop = p.limit >= 0 && p.limit < int64_t(count) ? uint32_t(p.limit) : count;
    uint32_t left = stop > start ? stop - start : 0;
    if (left < uint32_t(min) || left == 0) return min == 0;
    uint32_t limit = start + (max >= 0 && uint32_t(max) < left ? uint32_t(max) : left);
    const uint8_t* head = b->head_ptr();
    const uint64_t lo8 = low * BYTES_01, m8 = mask * BYTES_01;
    uint32_t pos = start;
    while (pos + 8 <= limit && (load8(head + pos) | m8) == lo8) pos += 8;
    while (pos < limit && (head[pos] | mask) == low) ++pos;
    if (pos - start < uint32_t(min)) return false;
    // The position stays within the text: only the end flag to set.
    set_input_index(p, pos, count);
    return true;
}

// ---- Matching (parse_match.cpp) --------------------------------------------------------
// The value at the input position: match flag set, input moved past a match.
void match_value(Parser& p, const Cell& value);
// A datatype! or typeset! rule.
void match_type(Parser& p, const Cell& value);
// The fast loop of a repetition of a plain value (min, max with -1 unbounded).
bool repeat_plain(Parser& p, const Cell& value, int32_t min, int32_t max);
// The search of to/thru for a plain value; on success *found is the start
// of the found value and the input lies past it.
bool search_plain(Parser& p, const Cell& value, uint32_t* found);
// A repetition whose rule is a block of single-unit alternatives (chars and
// bitsets separated by |) over string or binary input, run as one loop.
// Returns false when the block has another shape (nothing was done).
bool repeat_alternatives(Parser& p, const Cell& block, int32_t min, int32_t max, bool* matched);
// A bitset test of a code point (characters past its size take the complement flag).
bool bitset_has(const Cell* bitset, uint32_t cp);

// True when the word is a parse keyword (by its canonical symbol).
bool is_keyword(const Cell& word);
// True when the word is the alternative bar |.
bool is_pipe(const Cell& word);

// ---- Events and Kiv code (parse.cpp) ---------------------------------------------------
// Evaluates a paren; its value lands in p.paren_value. Returns the unwind code.
Unwind eval_paren(Parser& p, const Cell& paren);
// Looks a word up: its value (copied out).
Cell word_value(const Cell& word);

// ---- Collecting and modifying (parse_collect.cpp) ----------------------------------------
// Keyword handlers: return the next state (or S_EXIT with *code set).
State kw_remove(Parser& p, const Cell& keyword, Unwind* code);
State kw_insert(Parser& p, const Cell& keyword, Unwind* code);
State kw_change(Parser& p, const Cell& keyword, Unwind* code);
State kw_collect(Parser& p, const Cell& keyword);
State kw_keep(Parser& p, const Cell& keyword);
// Completions at pop rule: `frame` holds the three cells of the popped frame.
// Each answers the exit code of an owner's handler that the change ran.
Unwind finish_remove(Parser& p, const Cell* frame);
Unwind finish_change(Parser& p, const Cell* frame, bool only);
Unwind finish_collect(Parser& p, const Cell* frame);
Unwind finish_keep(Parser& p, const Cell* frame, bool paren);

// Raises a parse error after the work stacks were cut back (the call's guard does it).
[[noreturn]] void parse_error(IdIn<error_catalog::CAT_SCRIPT> id);
[[noreturn]] void parse_error(IdIn<error_catalog::CAT_SCRIPT> id, const Cell& arg);

}  // namespace kiv::parser
