// The parse engine: the state machine over the two work stacks, the
// keywords, the trace events and the calls into Kiv code.
#include "evaluator/parse.h"

#include <cstring>
#include <vector>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/fixed_words.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/keyword_map.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/parse_internal.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/stack.h"

namespace kiv::parser {

Off rule_stack = 0;
Off input_stack = 0;

namespace {

// ---- Keywords ---------------------------------------------------------------------------

enum Keyword : uint8_t {
    KW_NO = 0,
    KW_PIPE,
    KW_SKIP,
    KW_ANY,
    KW_SOME,
    KW_OPT,
    KW_WHILE,
    KW_TO,
    KW_THRU,
    KW_BREAK,
    KW_REJECT,
    KW_FAIL,
    KW_NONE,
    KW_END,
    KW_IF,
    KW_NOT,
    KW_AHEAD,
    KW_QUOTE,
    KW_CASE,
    KW_INTO,
    KW_COPY,
    KW_SET,
    KW_REMOVE,
    KW_INSERT,
    KW_CHANGE,
    KW_COLLECT,
    KW_KEEP,
};

KeywordMap keywords;

void build_keywords() {
    using fixed::sym;
    const KeywordMap::Entry entries[] = {
        {sym[fixed::SYM_PIPE], KW_PIPE},       {sym[fixed::SYM_SKIP], KW_SKIP},
        {sym[fixed::SYM_ANY], KW_ANY},         {sym[fixed::SYM_SOME], KW_SOME},
        {sym[fixed::SYM_OPT], KW_OPT},         {sym[fixed::SYM_WHILE], KW_WHILE},
        {sym[fixed::SYM_TO], KW_TO},           {sym[fixed::SYM_THRU], KW_THRU},
        {sym[fixed::SYM_BREAK], KW_BREAK},     {sym[fixed::SYM_REJECT], KW_REJECT},
        {sym[fixed::SYM_FAIL], KW_FAIL},       {sym[fixed::SYM_NONE], KW_NONE},
        {sym[fixed::SYM_END], KW_END},         {sym[fixed::SYM_IF], KW_IF},
        {sym[fixed::SYM_NOT], KW_NOT},         {sym[fixed::SYM_AHEAD], KW_AHEAD},
        {sym[fixed::SYM_QUOTE], KW_QUOTE},     {sym[fixed::SYM_CASE], KW_CASE},
        {sym[fixed::SYM_INTO], KW_INTO},       {sym[fixed::SYM_COPY], KW_COPY},
        {sym[fixed::SYM_SET], KW_SET},         {sym[fixed::SYM_REMOVE], KW_REMOVE},
        {sym[fixed::SYM_INSERT], KW_INSERT},   {fixed::words[fixed::W_CHANGE].w2, KW_CHANGE},
        {sym[fixed::SYM_COLLECT], KW_COLLECT}, {sym[fixed::SYM_KEEP], KW_KEEP},
    };
    keywords.build(entries, std::size(entries));
}

inline Keyword keyword_of(const Cell& word) {
    return Keyword(keywords.of(word.w2));
}

// ---- Trace events -----------------------------------------------------------------------

enum EventBit : uint32_t {
    EV_PUSH = 1,
    EV_POP = 2,
    EV_FETCH = 4,
    EV_MATCH = 8,
    EV_ITERATE = 16,
    EV_PAREN = 32,
    EV_END = 64,
    EV_ALL = 127,
};
// Not an unwind code: the callback returned false.
constexpr uint32_t STOPPED = 1;

Cell event_word(uint32_t bit) {
    switch (bit) {
        case EV_PUSH:
            return fixed::words[fixed::W_PUSH];
        case EV_POP:
            return fixed::words[fixed::W_POP];
        case EV_FETCH:
            return fixed::words[fixed::W_FETCH];
        case EV_MATCH:
            return fixed::words[fixed::W_MATCH];
        case EV_ITERATE:
            return fixed::words[fixed::W_ITERATE];
        case EV_PAREN:
            return fixed::words[fixed::W_PAREN];
        default:
            return fixed::symbol_words[fixed::SW_END];
    }
}

// The events a callback wants: the words of a block that starts its body,
// or every event.
uint32_t event_mask(const Cell* callback) {
    Cell body = function::body_of(callback);
    if (body.type() != TYPE_BLOCK) return EV_ALL;
    const SeriesBuffer* b = buffer_of(body.w2);
    const Cell* c = b->head_cell() + body.w1;
    if (c >= b->tail_cell() || c->type() != TYPE_BLOCK) return EV_ALL;
    Cell words = *c;
    uint32_t mask = 0;
    uint32_t n = series::count(words.w2);
    for (uint32_t i = words.w1; i < n; ++i) {
        Cell w = *block::cells_at(&words, i);
        if (w.type() != TYPE_WORD) continue;
        for (uint32_t bit = EV_PUSH; bit <= EV_END; bit <<= 1) {
            if (symbol::resolve(event_word(bit).w2) == symbol::resolve(w.w2)) mask |= bit;
        }
    }
    return mask;
}

// Rule pointer kept inside the block after Kiv code ran (the block may have
// shrunk): clamped to its last cell.
inline void refresh_rules(Parser& p) {
    int32_t tail = rule_tail(p);
    if (p.rp > tail) p.rp = tail;
    if (p.rp < int32_t(p.rules->w1) - 1) p.rp = int32_t(p.rules->w1) - 1;
}

// Sends one event to the callback with its five arguments: the event word,
// the match flag, the rule block at the current rule, the input at its
// position and a copy of this call's frames of the rule stack. Returns 0,
// STOPPED when the callback answered false, or the unwind code of a
// non-local exit out of it.
uint32_t send_event(Parser& p, uint32_t bit) {
    Cell* first = stack::top;
    stack::push(event_word(bit));
    stack::push(logic::cell(p.match));
    Cell* r = stack::push(*p.rules);
    uint32_t rtail = series::count(r->w2);
    r->w1 = p.rp < 0 ? 0 : uint32_t(p.rp) > rtail ? rtail : uint32_t(p.rp);
    r->set_type(TYPE_BLOCK);
    stack::push(*p.input);
    Cell* frames = stack::push_slot();
    uint32_t cells = rs_cells() - p.rule_base;
    block::make_at(frames, int32_t(cells));
    {
        const Cell* src = rs_buffer()->head_cell() + p.rule_base;
        SeriesBuffer* dst = buffer_of(frames->w2);
        std::memcpy(dst->head_cell(), src, size_t(cells) * sizeof(Cell));
        dst->tail = dst->head + cells * sizeof(Cell);
    }
    Cell fn = *p.callback;
    Cell name = fixed::words[fixed::W_PARSE_CALLBACK];
    uint32_t code = interpreter::call_pushed(&name, &fn, first, false);
    if (code) return code;
    Cell answer = *first;
    stack::top = p.work_top;
    refresh_end(p);
    refresh_rules(p);
    return natives::lenient_true(&answer) ? 0 : STOPPED;
}

// Cuts the work stacks back to where a call found them, however it ends.
struct StackGuard {
    uint32_t rules;
    uint32_t inputs;
    ~StackGuard() {
        SeriesBuffer* r = buffer_of(rule_stack);
        if ((r->byte_count() >> 4) > rules) r->tail = r->head + rules * sizeof(Cell);
        SeriesBuffer* i = buffer_of(input_stack);
        if ((i->byte_count() >> 4) > inputs) i->tail = i->head + inputs * sizeof(Cell);
    }
};

void check_limit() {
    // Both stacks hold cells: their byte counts against the limit.
    constexpr uint32_t bytes = STACK_LIMIT * sizeof(Cell);
    if (rs_buffer()->byte_count() >= bytes || buffer_of(input_stack)->byte_count() >= bytes) [[unlikely]]
        parse_error("parse-stack");
}

// The record of rule offset `offset` at input index idx of n units.
inline Cell position_record_at(int32_t offset, uint32_t idx, uint32_t n) {
    return triple::cell(offset, int32_t(idx), int32_t(idx < n ? n - idx : 0));
}
Cell position_record(const Parser& p, int32_t offset) {
    return position_record_at(offset, p.input->w1, input_count(p.input));
}

inline bool truthy(const Cell& v) {
    return natives::lenient_true(&v);
}

inline bool is_plain(uint32_t t, bool via_word) {
    switch (t) {
        case TYPE_BLOCK:
        case TYPE_INTEGER:
        case TYPE_PAREN:
        case TYPE_TYPESET:
        case TYPE_DATATYPE:
        case TYPE_PATH:
            return false;
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_GET_WORD:
            return via_word;
        default:
            return true;
    }
}

// The value a rule cell stands for (a word that is not a keyword: its value)
// when it is a text, binary!, char! or bitset!: the values that repetitions
// and searches match without a rule frame. v is replaced by that value.
inline bool searchable_value(Cell& v) {
    if (v.type() == TYPE_WORD) {
        if (keyword_of(v) != KW_NO) return false;
        v = word_value(v);
    }
    uint32_t t = v.type();
    if (t != TYPE_CHAR && t != TYPE_BITSET && t != TYPE_BINARY && !is_any_string(t)) return false;
    v.clear_new_line();
    return true;
}

}  // namespace

// ---- Rules run without a frame --------------------------------------------------------------

namespace {

// The first byte from pos up to stop that matches one ASCII character
// (ascii_target's low and mask: (b | mask) == low), or stop when none does.
[[gnu::always_inline]] inline uint32_t find_ascii(const uint8_t* head, uint32_t pos, uint32_t stop, uint32_t low,
                                                  uint32_t mask) {
    // Eight bytes at a time: x has a zero byte where a byte matches, and
    // the lowest byte flagged by the zero test is the first match.
    const uint64_t lo8 = low * BYTES_01, m8 = mask * BYTES_01;
    // Short spans (the usual word) eight bytes, then one byte at a time;
    // the rest by memchr.
    uint32_t near = stop > pos && stop - pos > 16 ? pos + 16 : stop;
    for (; pos + 8 <= near; pos += 8) {
        uint64_t x = (load8(head + pos) | m8) ^ lo8;
        uint64_t z = (x - BYTES_01) & ~x & BYTES_80;
        if (z) return pos + (uint32_t(__builtin_ctzll(z)) >> 3);
    }
    for (; pos < near; ++pos)
        if ((head[pos] | mask) == low) return pos;
    if (pos >= stop) return stop;
    // The nearest of the two bytes: the second searched only up to the first.
    const uint8_t* q = static_cast<const uint8_t*>(std::memchr(head + pos, int(low), stop - pos));
    uint32_t at = q ? uint32_t(q - head) : stop;
    if (mask && at > pos) {
        const uint8_t* q2 = static_cast<const uint8_t*>(std::memchr(head + pos, int(low & ~mask), at - pos));
        if (q2) at = uint32_t(q2 - head);
    }
    return at;
}

// to (thru: past it) one ASCII character over narrow text (ascii_target's
// low and mask), the usual delimiter: scanned here for its bytes, as
// search_plain's narrow search would find it.
[[gnu::always_inline]] inline void scan_ascii(Parser& p, uint32_t low, uint32_t mask, bool thru) {
    const SeriesBuffer* b = buffer_of(p.input->w2);
    uint32_t n = uint32_t(b->byte_count());
    uint32_t stop = p.limit >= 0 && p.limit < int64_t(n) ? uint32_t(p.limit) : n;
    uint32_t at = find_ascii(b->head_ptr(), p.input->w1, stop, low, mask);
    if (at < stop) {
        // The input moves to the match (past it for thru).
        p.match = true;
        set_input_index(p, thru ? at + 1 : at, n);
        return;
    }
    p.match = p.limit >= 0 && int64_t(p.input->w1) > p.limit;
}

// to (thru: past the value) over a value searchable_value accepted, run in
// place: the match flag and the input end as the rule's frame would leave them.
[[gnu::always_inline]] inline void search_here(Parser& p, const Cell& v, bool thru) {
    uint32_t low, mask;
    if (ascii_target(p, v, &low, &mask)) return scan_ascii(p, low, mask, thru);
    uint32_t found = 0;
    p.match = search_plain(p, v, &found);
    if (p.match) {
        if (!thru) p.input->w1 = found;
        refresh_end(p);
    } else if (p.limit >= 0 && int64_t(p.input->w1) > p.limit) {
        p.match = true;
    }
}

void search_in_place(Parser& p, const Cell& v, bool thru) {
    search_here(p, v, thru);
}

// A span of sizeof(W) to 2 * sizeof(W) bytes moved as two words, its
// first and its last (overlapping when shorter): no call, no byte loop.
template <class W>
inline void move_short(uint8_t* dst, const uint8_t* src, uint32_t bytes) {
    W lo, hi;
    std::memcpy(&lo, src, sizeof(W));
    std::memcpy(&hi, src + bytes - sizeof(W), sizeof(W));
    std::memcpy(dst, &lo, sizeof(W));
    std::memcpy(dst + bytes - sizeof(W), &hi, sizeof(W));
}

// A copied span of `bytes` bytes: short ones without a call.
[[gnu::always_inline]] inline void move_span(uint8_t* dst, const uint8_t* src, uint32_t bytes) {
    if (bytes > 16) {
        std::memcpy(dst, src, bytes);
    } else if (bytes >= 8) {
        move_short<uint64_t>(dst, src, bytes);
    } else if (bytes >= 4) {
        move_short<uint32_t>(dst, src, bytes);
    } else if (bytes >= 2) {
        move_short<uint16_t>(dst, src, bytes);
    } else if (bytes) {
        dst[0] = src[0];
    }
}

// Text input (the usual one): `count` units from `start` (within the text)
// into a new string's node, of the input's width, as copy/part makes it,
// without the action's argument cells. May move the input's buffer.
[[gnu::always_inline]] inline Off copy_text(Parser& p, uint32_t start, uint32_t count) {
    uint32_t unit = buffer_of(p.input->w2)->unit();
    // One-byte text takes the short path of the same allocation.
    Off node = unit == 1 ? memory::alloc_narrow(count ? count : 1) : memory::alloc_series(count ? count : 1, unit, 0);
    const SeriesBuffer* b = buffer_of(p.input->w2);
    SeriesBuffer* nb = buffer_of(node);
    uint32_t bytes = count * unit;
    move_span(nb->head_ptr(), b->head_ptr() + uint64_t(start) * unit, bytes);
    nb->tail = nb->head + bytes;
    return node;
}

// The copied text (node `node`, of the input's type) kept and set to the
// target word; a global or function word is stored straight into its slot.
[[gnu::always_inline]] inline Unwind set_copied_text(Parser& p, Off node, const Cell& target) {
    *p.copied = Cell{p.input->type(), 0, node, 0};
    Cell w = target, v = *p.copied;
    if (Cell* slot = context::direct_slot(&w)) [[likely]] {
        *slot = v;
        return UNWIND_NONE;
    }
    return context::set_word(&w, &v).code;
}

// copy's completion: the input from `from` up to the position, copied and
// set to the target word.
[[gnu::always_inline]] inline Unwind copy_here(Parser& p, uint32_t from, const Cell& target) {
    uint32_t n = input_count(p.input);
    uint32_t idx = p.input->w1 > n ? n : p.input->w1;
    if (is_string_input(p.input->type())) {
        uint32_t start = from > idx ? idx : from;
        return set_copied_text(p, copy_text(p, start, idx - start), target);
    }
    Cell* part = stack::push(*p.input);
    part->w1 = from > idx ? idx : from;
    Cell* count = stack::push(integer::cell(int32_t(idx - part->w1)));
    Cell* out = stack::push_slot();
    *p.copied = *actions::cell_of(actions::copy(part, out, count, false, nullptr));
    stack::top = p.work_top;
    Cell w = target, v = *p.copied;
    return context::set_word(&w, &v).code;
}

Unwind copy_span(Parser& p, uint32_t from, const Cell& target) {
    return copy_here(p, from, target);
}

// copy_here over narrow text after a match of scan_ascii (the input lies
// from `from` up to a position within the text): no count to clamp, one
// unit per byte.
[[gnu::always_inline]] inline Unwind copy_narrow(Parser& p, uint32_t from, const Cell& target) {
    uint32_t count = p.input->w1 - from;
    Off node = memory::alloc_narrow(count ? count : 1);  // may move the input's buffer
    const uint8_t* src = buffer_of(p.input->w2)->head_ptr() + from;
    SeriesBuffer* nb = buffer_of(node);
    move_span(nb->head_ptr(), src, count);
    nb->tail = nb->head + count;
    return set_copied_text(p, node, target);
}

// copy's search and copy from `from`: on a match the span is copied and
// set to the target word, else the input goes back to `from`. The exit
// code of Kiv code the store ran.
// One ASCII character (ascii_target's low and mask) over narrow text:
[[gnu::always_inline]] inline Unwind scan_and_copy(Parser& p, uint32_t low, uint32_t mask, bool thru, uint32_t from,
                                                   const Cell& target) {
    scan_ascii(p, low, mask, thru);
    if (p.match) return copy_narrow(p, from, target);
    p.input->w1 = from;
    refresh_end(p);
    return UNWIND_NONE;
}
// Any other searchable value: out of line, so the one-character path keeps
// a small frame.
[[gnu::noinline]] Unwind search_and_copy(Parser& p, const Cell& v, bool thru, uint32_t from, const Cell& target) {
    search_here(p, v, thru);
    if (p.match) return copy_here(p, from, target);
    p.input->w1 = from;
    refresh_end(p);
    return UNWIND_NONE;
}

// S_CHECK_PENDING's answer, for the hot steps that go on without the hop.
inline State after_rule(const Parser& p) {
    return top_is_rule(p) ? S_POP_RULE : p.match ? S_NEXT_RULE : S_FIND_ALTERNATIVE;
}

// copy or set at the rule pointer: the next state (S_EXIT with *code set
// when Kiv code the copy ran exits). in_block: called by run_items, whose
// block frame is the topmost frame.
State kw_copy_set(Parser& p, Keyword kw, const Cell& word, Unwind* code, bool in_block = false) {
    // The rule block read once (the keyword sits at p.rp, inside it).
    const SeriesBuffer* rb = buffer_of(p.rules->w2);
    const Cell* at = rb->head_cell() + p.rp;
    int32_t left = int32_t(rb->byte_count() >> 4) - p.rp;  // cells from the keyword on
    const Cell* target = left > 1 ? at + 1 : nullptr;
    if (!target || target->type() != TYPE_WORD || left <= 2) parse_error("parse-end", word);
    if (kw == KW_COPY && !p.callback) {
        // copy word to/thru a text, char! or bitset! with no trace to tell:
        // searched and copied here, without the two rule frames it would get.
        const Cell* r2 = at + 2;
        Keyword k2 = r2->type() == TYPE_WORD ? keyword_of(*r2) : KW_NO;
        const Cell* r3 = left > 3 ? at + 3 : nullptr;
        if ((k2 == KW_TO || k2 == KW_THRU) && r3 && !(r3->type() == TYPE_WORD && keyword_of(*r3) == KW_END)) {
            Cell v = *r3;
            if (searchable_value(v)) {
                Cell w;
                std::memcpy(&w, target, sizeof(Cell));  // one move: a field-wise copy gets shuffled
                w.clear_new_line();
                bool via_word = r3->type() == TYPE_WORD;
                uint32_t from = p.input->w1;
                p.rp += 3;
                p.value = v;
                p.via_word = via_word;
                uint32_t low, mask;
                bool thru = k2 == KW_THRU;
                if ((*code = ascii_target(p, v, &low, &mask) ? scan_and_copy(p, low, mask, thru, from, w)
                                                             : search_and_copy(p, v, thru, from, w)))
                    return S_EXIT;
                p.last_kind = K_COPY;
                if (in_block) return p.match ? S_NEXT_RULE : S_FIND_ALTERNATIVE;
                return after_rule(p);
            }
        }
    }
    p.count_cell = *target;
    p.count_cell.clear_new_line();
    ++p.rp;
    p.kind = kw == KW_COPY ? K_COPY : K_SET;
    p.flag = 0;
    return S_PUSH_RULE;
}

// copy word to/thru one ASCII character (a char! or a one-character text
// written in the rules) over narrow text, at p.rp in run_items' block: the
// usual way of cutting fields, run here without kw_copy_set's frame. False,
// with nothing changed, for any other shape (kw_copy_set decides); else
// *next is the state to go on with, as kw_copy_set would answer it.
[[gnu::always_inline]] inline bool copy_to_ascii(Parser& p, Unwind* code, State* next) {
    const SeriesBuffer* rb = buffer_of(p.rules->w2);
    const Cell* at = rb->head_cell() + p.rp;
    if (int32_t(rb->byte_count() >> 4) - p.rp <= 3) return false;
    if (at[1].type() != TYPE_WORD || at[2].type() != TYPE_WORD) return false;
    Keyword k2 = keyword_of(at[2]);
    if (k2 != KW_TO && k2 != KW_THRU) return false;
    Cell v = at[3];
    v.clear_new_line();
    uint32_t low, mask;
    if (!ascii_target(p, v, &low, &mask)) return false;
    Cell w;
    std::memcpy(&w, at + 1, sizeof(Cell));
    w.clear_new_line();
    uint32_t from = p.input->w1;
    p.rp += 3;
    p.value = v;
    if ((*code = scan_and_copy(p, low, mask, k2 == KW_THRU, from, w))) {
        *next = S_EXIT;
        return true;
    }
    p.last_kind = K_COPY;
    *next = p.match ? S_NEXT_RULE : S_FIND_ALTERNATIVE;
    return true;
}

// The value of a word in the rules (copied whole): from its slot when the
// word reaches it directly, else by the ordinary look-up (and its errors).
[[gnu::always_inline]] inline Cell rule_word_value(const Cell& word) {
    if (const Cell* slot = context::direct_slot(&word)) [[likely]]
        return *slot;
    return *context::get_word(&word);
}

// keep any/some/opt over a text, char! or bitset! (directly or as a
// word's value) at p.rp in run_items' block, over text input, into a
// collect's block, with no trace to tell: the usual way of keeping fields,
// matched and kept here without keep's rule frame and the copy action's
// argument cells. False, with nothing changed, for any other shape (keep's
// ordinary steps decide); else *next is the state to go on with, as those
// steps leave it.
[[gnu::always_inline]] inline bool keep_in_place(Parser& p, State* next) {
    if (p.collect_depth == 0 || !is_string_input(p.input->type()) || p.work_top <= p.pending + 1 ||
        (p.work_top - 1)->type() != TYPE_BLOCK)
        return false;
    const SeriesBuffer* rb = buffer_of(p.rules->w2);
    const Cell* at = rb->head_cell() + p.rp;
    if (int32_t(rb->byte_count() >> 4) - p.rp <= 2 || at[1].type() != TYPE_WORD) return false;
    Keyword k = keyword_of(at[1]);
    if (k != KW_ANY && k != KW_SOME && k != KW_OPT) return false;
    if (p.pick_keyword == k) return false;  // pick made a name of the keyword
    const Cell r = at[2];
    const bool via_word = r.type() == TYPE_WORD;
    if (via_word && keyword_of(r) != KW_NO) return false;
    // The value matched (a word's value read: no code runs), copied whole.
    const Cell v = via_word ? rule_word_value(r) : r;
    const uint32_t vt = v.type();
    if (vt != TYPE_CHAR && vt != TYPE_BITSET && vt != TYPE_BINARY && !is_any_string(vt)) return false;
    uint32_t from = p.input->w1;
    p.rp += 2;
    p.value = v;
    p.value.clear_new_line();
    p.via_word = via_word;
    int32_t min = k == KW_SOME ? 1 : 0, max = k == KW_OPT ? 1 : -1;
    uint32_t low, mask;
    p.match = ascii_target(p, v, &low, &mask) ? repeat_ascii(p, low, mask, min, max) : repeat_plain(p, v, min, max);
    p.last_kind = K_KEEP;
    if (!p.match) {
        p.input->w1 = from;
        refresh_end(p);
        *next = S_FIND_ALTERNATIVE;
        return true;
    }
    *next = S_NEXT_RULE;
    uint32_t cur = p.input->w1;
    if (cur <= from) return true;
    if (cur - from == 1) {
        Cell item = item_at(p.input, from);
        block::cells_append(p.work_top - 1, &item);
        return true;
    }
    // The copy, reachable from p.copied while a cell is added for it; the
    // cells written a word at a time.
    const uint32_t type = p.input->type();
    const Off node = copy_text(p, from, cur - from);
    Cell* held = p.copied;
    held->header = type;
    held->w1 = 0;
    held->w2 = node;
    held->w3 = 0;
    Cell* slot = series::alloc_tail_cell(buffer_of((p.work_top - 1)->w2));
    slot->header = type;
    slot->w1 = 0;
    slot->w2 = node;
    slot->w3 = 0;
    return true;
}

// The end of a block that a repetition repeats (some [...], any [...],
// while [...]), reached with no trace callback: when the repetition goes on
// and its rule is still a block, the next round starts in place, as popping
// the block frame, iterating the rule frame and pushing the block again
// would leave it (the block frame is reused). Returns false, with nothing
// changed, when the ordinary steps must decide.
[[gnu::always_inline]] inline bool next_round(Parser& p) {
    SeriesBuffer* rsb = rs_buffer();
    uint32_t bytes = rsb->byte_count();
    constexpr uint32_t frame_bytes = 3 * sizeof(Cell), limit_bytes = STACK_LIMIT * sizeof(Cell);
    if (bytes < (p.rule_base + 6) * sizeof(Cell) || p.brk) return false;
    // The stacks as the ordinary steps check them after the block frame went.
    if (bytes - frame_bytes >= limit_bytes || buffer_of(input_stack)->byte_count() >= limit_bytes)
        return false;
    Cell* bf = rsb->tail_cell() - 3;
    Cell* rf = bf - 3;
    if (rf[2].type() != TYPE_PAIR) return false;
    uint32_t kind = rf[2].w2;
    if (kind != K_REPEAT && kind != K_WHILE) return false;
    int32_t max = int32_t(rf[0].w2), round = int32_t(rf[0].w3);
    if (!p.match || !(max == -1 || round < max)) return false;
    uint32_t n = input_count(p.input);
    uint32_t pos = p.input->w1;
    uint32_t idx = pos > n ? n : pos;
    if (kind != K_WHILE && !((n - idx) < rf[1].w3)) return false;
    // The repeated rule: the cell after the keyword in the enclosing block.
    int32_t at = int32_t(rf[1].w1) + 1;
    if (at < 0) return false;
    const SeriesBuffer* pb = buffer_of(bf[2].w2);
    const Cell* c = pb->head_cell() + at;
    if (c >= pb->tail_cell() || c->type() != TYPE_BLOCK) return false;
    p.walked = true;
    p.pop = false;
    p.last_kind = 0;
    rf[1].w2 = idx;
    rf[1].w3 = n - idx;
    rf[0].w3 = count_round(round);
    const Cell block = *c;
    p.value = block;
    p.value.clear_new_line();
    p.via_word = false;
    p.from_match_rule = false;
    // The block frame as pushing it again would make it.
    bf[1] = position_record_at(at, pos, n);
    *p.rules = block;
    p.rules->header = (block.header & ~(header::TYPE_MASK | header::NEW_LINE)) | TYPE_BLOCK;
    p.rp = int32_t(p.rules->w1) - 1;
    p.match = true;
    set_input_index(p, idx, n);  // refresh_end over the same input
    return true;
}

// match_value, with one ASCII character over narrow text compared here.
[[gnu::always_inline]] inline void match_item(Parser& p, const Cell& v) {
    uint32_t low, mask;
    if (v.type() == TYPE_CHAR && !p.end && ascii_target(p, v, &low, &mask)) {
        p.match = (buffer_of(p.input->w2)->head_ptr()[p.input->w1] | mask) == low;
        if (p.match) advance(p, 1);
        return;
    }
    match_value(p, v);
}

// S_PUSH_BLOCK's frame for the current block at p.rp (none, the position
// record, the block), written in place: its cells are not gathered first.
inline void push_block_frame(Parser& p) {
    SeriesBuffer* buf = rs_buffer();
    if (uint64_t(buf->tail) + 3 * sizeof(Cell) > buf->data_end()) [[unlikely]] {
        push_frame(none::cell(), position_record(p, p.rp), *p.rules);
        return;
    }
    Cell* f = buf->tail_cell();
    f[0] = none::cell();
    f[1] = position_record(p, p.rp);
    f[2] = *p.rules;
    buf->tail += 3 * sizeof(Cell);
}

// Pops the block frame on top (a frame lies below it): the enclosing
// block and its rule pointer come back. The state to go on with.
inline State pop_block_frame(Parser& p) {
    const Cell* f = rs_top();
    int32_t offset = int32_t(f[1].w1);
    *p.rules = f[2];
    drop_frame();
    p.rp = offset;
    p.pop = false;
    p.last_kind = 0;
    if (top_is_rule(p)) return S_POP_RULE;
    return p.match ? S_NEXT_RULE : S_FIND_ALTERNATIVE;
}

// The end of the current block (p.rp at its tail), no trace callback: its
// frame popped as S_POP_BLOCK would when a frame lies below it. The state to
// go on with: S_NEXT_RULE when the enclosing block goes on in run_items.
inline State pop_in_place(Parser& p) {
    if (rs_cells() <= p.rule_base + 3) return S_POP_BLOCK;
    p.walked = true;
    return pop_block_frame(p);
}

// S_NEXT_RULE with no trace callback while a block frame is on top: the
// usual items (skip, | , copy/to/thru/any/some/opt over a text, char! or
// bitset!, a paren, a literal value) run here one after another, each as
// its ordinary steps would run it, and a repeated block starts its next
// round in place. Any other item, a failing one or the end of the rules is
// handed back: the state to go on with, p.value and the flags as S_NEXT_RULE
// leaves them (S_EXIT with *code set when Kiv code exits). At the end of the
// rules p.value is left as it was: the states that follow write it before
// they read it.
[[gnu::always_inline]] inline State run_items_step(Parser& p, Unwind* code) {
    for (;;) {
        ++p.rp;
        const Cell* c = rule_cell(p, p.rp);
        if (!c) {
            if (next_round(p)) continue;
            State s = pop_in_place(p);
            if (s == S_NEXT_RULE) continue;
            return s;
        }
        // The item in a local cell, copied whole: p.value is written when
        // the item is handed back or its handler reads it (the ones that go
        // on never do), without its new-line flag. The flag is cleared in
        // the copies handed on, not in val: a cell read whole right after a
        // part of it was written waits for the write to land.
        const Cell val = *c;
        p.via_word = false;
        p.from_match_rule = false;
        auto plain = [&]() {
            Cell v = val;
            v.clear_new_line();
            return v;
        };
        auto hand = [&](State s) {
            p.value = val;
            p.value.clear_new_line();
            return s;
        };
        uint32_t t = val.type();
        if (t == TYPE_WORD) {
            Keyword kw = keyword_of(val);
            switch (kw) {
                case KW_SKIP:
                    if (p.end) {
                        p.match = false;
                        return hand(S_FIND_ALTERNATIVE);
                    }
                    p.match = true;
                    advance(p, 1);
                    continue;
                case KW_PIPE:
                    // The alternative matched: the rest of the block is skipped.
                    p.rp = rule_tail(p);
                    if (next_round(p)) continue;
                    if (State s = pop_in_place(p); s != S_NEXT_RULE) return hand(s);
                    continue;
                case KW_COPY: {
                    State s;
                    if (copy_to_ascii(p, code, &s)) {
                        if (s == S_NEXT_RULE) continue;
                        return s;
                    }
                    p.value = plain();
                    Cell word = plain();
                    s = kw_copy_set(p, kw, word, code, true);
                    if (s == S_NEXT_RULE) continue;
                    return s;
                }
                case KW_NO: {
                    // A word naming a block (a sub-rule): its frame pushed
                    // here, as S_WORD, S_DISPATCH and S_PUSH_BLOCK would.
                    const Cell v = rule_word_value(val);
                    const uint32_t vt = v.type();
                    if (vt == TYPE_CHAR || vt == TYPE_BITSET || vt == TYPE_BINARY || is_any_string(vt)) {
                        // A word naming a value to match: matched here, as
                        // S_WORD, S_DISPATCH and S_MATCH_VALUE would.
                        p.value = v;
                        p.value.clear_new_line();
                        p.via_word = true;
                        match_item(p, v);
                        if (!p.match) return S_FIND_ALTERNATIVE;
                        continue;
                    }
                    if (vt != TYPE_BLOCK) return hand(S_WORD);
                    check_limit();
                    push_block_frame(p);
                    p.value = v;
                    p.value.clear_new_line();
                    p.via_word = true;
                    *p.rules = v;
                    p.rules->clear_new_line();
                    p.rp = int32_t(v.w1) - 1;
                    p.match = true;
                    refresh_end(p);
                    continue;
                }
                case KW_KEEP: {
                    State s;
                    if (!keep_in_place(p, &s)) return hand(S_WORD);
                    if (s == S_NEXT_RULE) continue;
                    return s;
                }
                case KW_TO:
                case KW_THRU: {
                    const Cell* next = rule_cell(p, p.rp + 1);
                    if (!next || (next->type() == TYPE_WORD && keyword_of(*next) == KW_END))
                        return hand(S_WORD);
                    Cell v = *next;
                    if (!searchable_value(v)) return hand(S_WORD);
                    ++p.rp;
                    p.value = v;
                    p.via_word = next->type() == TYPE_WORD;
                    search_in_place(p, v, kw == KW_THRU);
                    p.last_kind = kw == KW_TO ? K_TO : K_THRU;
                    if (!p.match) return S_FIND_ALTERNATIVE;
                    continue;
                }
                case KW_ANY:
                case KW_SOME:
                case KW_OPT: {
                    const Cell* next = rule_cell(p, p.rp + 1);
                    if (!next) return hand(S_WORD);
                    Cell v = *next;
                    if (!searchable_value(v)) return hand(S_WORD);
                    ++p.rp;
                    p.value = v;
                    p.via_word = next->type() == TYPE_WORD;
                    int32_t min = kw == KW_SOME ? 1 : 0, max = kw == KW_OPT ? 1 : -1;
                    // One ASCII character over narrow text (any " " between
                    // fields, the usual case) runs here, without the call.
                    uint32_t low, mask;
                    p.match = ascii_target(p, v, &low, &mask) ? repeat_ascii(p, low, mask, min, max)
                                                              : repeat_plain(p, v, min, max);
                    p.last_kind = K_REPEAT;
                    if (!p.match) return S_FIND_ALTERNATIVE;
                    continue;
                }
                default:
                    return hand(S_WORD);
            }
        }
        switch (t) {
            case TYPE_BLOCK:
            case TYPE_DATATYPE:
            case TYPE_TYPESET:
            case TYPE_SET_WORD:
            case TYPE_GET_WORD:
            case TYPE_INTEGER:
            case TYPE_PATH:
                return hand(S_DISPATCH);
            case TYPE_PAREN: {
                if ((*code = eval_paren(p, plain()))) return hand(S_EXIT);
                refresh_rules(p);
                refresh_end(p);
                if (!p.match) return hand(S_FIND_ALTERNATIVE);
                continue;
            }
            default: {
                if (t == TYPE_CHAR) {
                    match_item(p, val);
                } else {
                    match_value(p, plain());
                }
                if (!p.match) return hand(S_FIND_ALTERNATIVE);
                continue;
            }
        }
    }
}

// S_FIND_ALTERNATIVE after an item of run_items' block failed (a block
// frame on top), no trace callback: the input goes back to where the block
// began and the rules on after the next bar; with none, the block fails
// and is popped as S_POP_BLOCK would pop it, and the enclosing block looks
// for its own alternative. The state to go on with: S_NEXT_RULE when an
// alternative was found.
inline State find_alternative_in_place(Parser& p) {
    for (;;) {
        const Cell* f = rs_top();
        p.input->w1 = f[1].w2;
        refresh_end(p);
        const SeriesBuffer* rb = buffer_of(p.rules->w2);
        const Cell* cells = rb->head_cell();
        int32_t tail = int32_t(rb->byte_count() >> 4);
        int32_t i = p.rp < int32_t(p.rules->w1) ? int32_t(p.rules->w1) : p.rp + 1;
        for (; i < tail; ++i)
            if (cells[i].type() == TYPE_WORD && keyword_of(cells[i]) == KW_PIPE) {
                p.rp = i;
                p.match = true;
                return S_NEXT_RULE;
            }
        p.rp = tail;
        p.match = false;
        State s = pop_in_place(p);
        if (s != S_FIND_ALTERNATIVE) return s;
    }
}

// S_NEXT_RULE with no trace callback while a block frame is on top (see
// run_items_step); a failing item's alternative is found in place.
State run_items(Parser& p, Unwind* code) {
    for (;;) {
        State s = run_items_step(p, code);
        if (s != S_FIND_ALTERNATIVE) return s;
        s = find_alternative_in_place(p);
        if (s != S_NEXT_RULE) return s;
    }
}

}  // namespace

// ---- Shared helpers -------------------------------------------------------------------------

bool is_keyword(const Cell& word) {
    return keyword_of(word) != KW_NO;
}

bool is_pipe(const Cell& word) {
    return keyword_of(word) == KW_PIPE;
}

void parse_error(IdIn<error_catalog::CAT_SCRIPT> id) {
    fire(id);
}
void parse_error(IdIn<error_catalog::CAT_SCRIPT> id, const Cell& arg) {
    fire(id, arg);
}

void grow_frames(const Cell* cells) {
    Off at = series::reserve_tail(rs_buffer(), 3 * sizeof(Cell));
    std::memcpy(arena::ptr<Cell>(at), cells, 3 * sizeof(Cell));
}

Cell item_at(const Cell* input, uint32_t pos) {
    const SeriesBuffer* b = buffer_of(input->w2);
    uint32_t t = input->type();
    if (is_block_input(t)) {
        Cell c = b->head_cell()[pos];
        c.clear_new_line();
        return c;
    }
    if (t == TYPE_BINARY) return integer::cell(b->head_ptr()[pos]);
    uint32_t unit = b->unit();
    const uint8_t* q = b->head_ptr() + size_t(pos) * unit;
    uint32_t cp = unit == 1 ? q[0] : unit == 2 ? uint32_t(q[0] | (q[1] << 8)) : 0;
    if (unit == 4) std::memcpy(&cp, q, 4);
    return Cell{TYPE_CHAR, 0, cp, 0};
}

Cell word_value(const Cell& word) {
    Cell w = word;
    return *context::get_word(&w);
}

Unwind eval_paren(Parser& p, const Cell& paren) {
    stack::top = p.work_top;
    Cell v = paren;
    if (Unwind code = interpreter::eval(&v, false)) return code;
    *p.paren_value = *p.work_top;
    stack::top = p.work_top;
    return UNWIND_NONE;
}

void init() {
    if (rule_stack) return;
    // Each block is made in its root-block cell, reachable from the start.
    rule_stack = block::make_in(&root::block, RULE_STACK_ROOM)->w2;
    input_stack = block::make_in(&root::block, INPUT_STACK_ROOM)->w2;
    build_keywords();
}

uint32_t rule_stack_cells() {
    return rule_stack ? series::count(rule_stack) : 0;
}
uint32_t input_stack_cells() {
    return input_stack ? series::count(input_stack) : 0;
}

// ---- The engine -------------------------------------------------------------------------------

Unwind process(const Cell* input, const Cell* rules, int32_t cmp, int64_t part_end, const Cell* callback,
               Cell* result) {
    if (!rule_stack) init();
    Parser p;
    Cell in = *input, rl = *rules;
    bool traced = callback && callback->type() == TYPE_FUNCTION;
    Cell cb = traced ? *callback : none::cell();
    p.input = stack::push(in);
    p.input->clear_new_line();
    p.rules = stack::push(rl);
    p.result = stack::push_slot();
    p.paren_value = stack::push_slot();
    p.copied = stack::push_slot();
    p.callback = stack::push(cb);
    p.pending = stack::push_slot();
    if (!traced) p.callback = nullptr;
    p.work_top = stack::top;
    p.cmp = cmp;
    p.limit = p.top_limit = part_end;
    p.rule_base = rs_cells();
    p.input_base = series::count(input_stack);
    StackGuard guard{p.rule_base, p.input_base};
    if (traced) p.mask = event_mask(p.callback);
    p.pick_keyword = keywords.of(fixed::sym[fixed::SYM_PICK]);

    {
        Cell is{TYPE_BLOCK, 0, input_stack, 0};
        Cell copy = *p.input;
        block::cells_append(&is, &copy);
    }
    refresh_end(p);
    p.rp = int32_t(p.rules->w1) - 1;

    Unwind code = UNWIND_NONE;
    State state = S_PUSH_BLOCK;
    bool new_block = false;  // push block: the value in p.value becomes the current block

#define EVENT(bit)                              \
    do {                                        \
        if (p.mask & (bit)) {                   \
            uint32_t c_ = send_event(p, (bit)); \
            if (c_ == STOPPED) goto stopped;    \
            if (c_) return Unwind(c_);          \
        }                                       \
    } while (0)

    for (;;) {
        switch (state) {
            case S_PUSH_BLOCK: {
                check_limit();
                Cell parent = *p.rules;
                push_frame(none::cell(), position_record(p, p.rp), parent);
                if (new_block) {
                    *p.rules = p.value;
                    p.rules->set_type(TYPE_BLOCK);
                    p.rules->clear_new_line();
                    p.rp = int32_t(p.rules->w1) - 1;
                    new_block = false;
                }
                p.match = true;
                refresh_end(p);
                EVENT(EV_PUSH);
                state = S_NEXT_RULE;
                break;
            }
            case S_POP_BLOCK: {
                p.walked = p.rp >= rule_tail(p);
                if (rs_cells() <= p.rule_base + 3) {
                    EVENT(EV_POP);
                    state = S_END;
                    break;
                }
                EVENT(EV_POP);
                state = pop_block_frame(p);
                break;
            }
            case S_PUSH_RULE: {
                check_limit();
                // The marker's spare word keeps where the input was when the
                // rule began: a rule that fails gives the input back.
                Cell marker{TYPE_PAIR, p.input->w1, p.kind, p.flag};
                push_frame(p.count_cell, position_record(p, p.rp), marker);
                if (p.kind == K_INTO) {
                    // The inner series becomes the input (the outer one waits on
                    // the input stack with its position in the frame).
                    Cell is{TYPE_BLOCK, 0, input_stack, 0};
                    Cell inner = *p.pending;
                    block::cells_append(&is, &inner);
                    *p.input = *p.pending;
                    p.input->clear_new_line();
                    p.limit = -1;
                    refresh_end(p);
                }
                p.last_kind = 0;
                int32_t tail = rule_tail(p);
                p.rp = p.rp + 1 < tail ? p.rp + 1 : tail;
                EVENT(EV_PUSH);
                state = S_MATCH_RULE;
                break;
            }
            case S_MATCH_RULE: {
                const Cell* c = rule_cell(p, p.rp);
                uint32_t kind = uint32_t(rs_top()[2].w2);
                if (!c) {
                    switch (kind) {
                        case K_TO:
                        case K_THRU:
                        case K_NOT:
                        case K_REMOVE:
                        case K_WHILE:
                        case K_COLLECT:
                        case K_KEEP:
                        case K_KEEP_PAREN:
                        case K_AHEAD: {
                            // The keyword's word is the cell before the frame's rule.
                            const Cell* kw = rule_cell(p, int32_t(rs_top()[1].w1));
                            parse_error("parse-end", kw ? *kw : none::cell());
                        }
                        default:
                            p.match = true;
                            state = S_CHECK_PENDING;
                            break;
                    }
                    break;
                }
                p.value = *c;
                p.value.clear_new_line();
                p.via_word = false;
                state = S_MATCH_RULE_VALUE;
                break;
            }
            case S_MATCH_RULE_VALUE: {
                uint32_t t = p.value.type();
                const Cell* f = rs_top();
                uint32_t kind = uint32_t(f[2].w2);
                if (t == TYPE_WORD && !p.via_word) {
                    p.from_match_rule = true;
                    state = S_WORD;
                    break;
                }
                if (t == TYPE_BLOCK) {
                    if (kind == K_REPEAT && !p.callback) {
                        bool matched;
                        if (repeat_alternatives(p, p.value, int32_t(f[0].w1), int32_t(f[0].w2), &matched)) {
                            p.match = matched;
                            drop_frame();
                            state = S_CHECK_PENDING;
                            break;
                        }
                    }
                    new_block = true;
                    state = S_PUSH_BLOCK;
                    break;
                }
                if (!is_plain(t, p.via_word)) {
                    state = S_DISPATCH;
                    break;
                }
                if (kind == K_REPEAT) {
                    Cell v = p.value;
                    p.match = repeat_plain(p, v, int32_t(f[0].w1), int32_t(f[0].w2));
                    EVENT(EV_MATCH);
                    EVENT(EV_POP);
                    drop_frame();
                    p.last_kind = K_REPEAT;
                    state = S_CHECK_PENDING;
                    break;
                }
                if (kind == K_TO || kind == K_THRU) {
                    Cell v = p.value;
                    uint32_t found = 0;
                    p.match = search_plain(p, v, &found);
                    EVENT(EV_MATCH);
                    if (p.match) {
                        if (kind == K_TO) p.input->w1 = found;
                        refresh_end(p);
                    } else if (p.limit >= 0 && int64_t(p.input->w1) > p.limit) {
                        p.match = true;
                    }
                    EVENT(EV_POP);
                    drop_frame();
                    p.last_kind = kind;
                    state = S_CHECK_PENDING;
                    break;
                }
                // A word reached through a word is a literal value here.
                state = p.via_word && is_all_word(t) ? S_MATCH_VALUE : S_DISPATCH;
                break;
            }
            case S_CHECK_PENDING:
                if (top_is_rule(p))
                    state = S_POP_RULE;
                else
                    state = p.match ? S_NEXT_RULE : S_FIND_ALTERNATIVE;
                break;
            case S_NEXT_INPUT: {
                uint32_t step = 1;
                advance(p, step);
                state = S_CHECK_PENDING;
                break;
            }
            case S_NEXT_RULE: {
                if (!p.callback && !top_is_rule(p)) {
                    state = run_items(p, &code);
                    if (state == S_EXIT) return code;
                    break;
                }
                ++p.rp;
                const Cell* c = rule_cell(p, p.rp);
                if (!c) {
                    state = top_is_rule(p) ? S_POP_RULE : S_POP_BLOCK;
                    break;
                }
                p.value = *c;
                p.value.clear_new_line();
                p.via_word = false;
                p.from_match_rule = false;
                EVENT(EV_FETCH);
                // A word (the usual rule) is what S_DISPATCH would hand to S_WORD.
                state = p.value.type() == TYPE_WORD ? S_WORD : S_DISPATCH;
                break;
            }
            case S_FIND_ALTERNATIVE: {
                const Cell* f = rs_top();
                p.input->w1 = f[1].w2;
                refresh_end(p);
                int32_t tail = rule_tail(p);
                int32_t i = p.rp < int32_t(p.rules->w1) ? int32_t(p.rules->w1) : p.rp + 1;
                int32_t found = -1;
                for (; i < tail; ++i) {
                    const Cell* c = rule_cell(p, i);
                    if (c->type() == TYPE_WORD && keyword_of(*c) == KW_PIPE) {
                        found = i;
                        break;
                    }
                }
                if (found < 0) {
                    p.rp = tail;
                    p.match = false;
                    state = S_POP_BLOCK;
                    break;
                }
                p.rp = found;
                p.match = true;
                state = S_NEXT_RULE;
                break;
            }
            case S_DISPATCH: {
                uint32_t t = p.value.type();
                p.from_match_rule = false;
                switch (t) {
                    case TYPE_WORD:
                        if (p.via_word) parse_error("parse-rule", p.value);
                        state = S_WORD;
                        break;
                    case TYPE_BLOCK:
                        new_block = true;
                        state = S_PUSH_BLOCK;
                        break;
                    case TYPE_DATATYPE:
                    case TYPE_TYPESET: {
                        Cell v = p.value;
                        match_type(p, v);
                        EVENT(EV_MATCH);
                        state = S_CHECK_PENDING;
                        break;
                    }
                    case TYPE_SET_WORD: {
                        Cell w = p.value;
                        Cell at = *p.input;
                        if (Unwind code = context::set_word(&w, &at).code) return code;
                        p.match = true;
                        state = S_CHECK_PENDING;
                        break;
                    }
                    case TYPE_GET_WORD: {
                        Cell v = word_value(p.value);
                        if (!same_series(p, v)) parse_error("parse-invalid-ref", p.value);
                        p.input->w1 = v.w1;
                        refresh_end(p);
                        p.match = true;
                        state = S_CHECK_PENDING;
                        break;
                    }
                    case TYPE_INTEGER: {
                        int32_t n = int32_t(p.value.w2);
                        Cell first = p.value;
                        if (n < 0) parse_error("out-of-range", first);
                        int32_t m = n;
                        const Cell* next = rule_cell(p, p.rp + 1);
                        if (!next) parse_error("parse-rule", first);
                        Cell nv = *next;
                        if (nv.type() == TYPE_WORD && keyword_of(nv) == KW_NO) nv = word_value(nv);
                        bool range = nv.type() == TYPE_INTEGER;
                        if (range) {
                            m = int32_t(nv.w2);
                            if (m < 0) parse_error("out-of-range", nv);
                            if (m < n) parse_error("parse-rule", nv);
                            ++p.rp;
                            if (!rule_cell(p, p.rp + 1)) parse_error("parse-rule", nv);
                        }
                        if (m == 0) {
                            // Zero times: the rule after the count is skipped.
                            ++p.rp;
                            p.match = true;
                            state = S_CHECK_PENDING;
                            break;
                        }
                        p.kind = K_REPEAT;
                        p.flag = 0;
                        p.count_cell = triple::cell(n, m, 1);
                        state = S_PUSH_RULE;
                        break;
                    }
                    case TYPE_PAREN: {
                        Cell v = p.value;
                        if (Unwind c = eval_paren(p, v)) return c;
                        EVENT(EV_PAREN);
                        refresh_rules(p);
                        refresh_end(p);
                        state = after_rule(p);
                        break;
                    }
                    case TYPE_PATH:
                        parse_error("parse-rule", p.value);
                    default:
                        state = S_MATCH_VALUE;
                        break;
                }
                break;
            }
            case S_MATCH_VALUE: {
                Cell v = p.value;
                match_value(p, v);
                EVENT(EV_MATCH);
                state = S_CHECK_PENDING;
                break;
            }
            case S_WORD: {
                Cell word = p.value;
                bool pending = p.from_match_rule;
                p.from_match_rule = false;
                Keyword kw = keyword_of(word);
                if (kw == KW_NO) {
                    Cell v = word_value(word);
                    if (v.type() == TYPE_UNSET) parse_error("parse-rule", word);
                    v.clear_new_line();
                    p.value = v;
                    p.via_word = true;
                    if (!pending) {
                        state = S_DISPATCH;
                        break;
                    }
                    uint32_t kind = uint32_t(rs_top()[2].w2);
                    if (kind == K_COLLECT || kind == K_KEEP) {
                        state = S_DISPATCH;
                        break;
                    }
                    state = S_MATCH_RULE_VALUE;
                    break;
                }
                int32_t tail = rule_tail(p);
                bool last = p.rp + 1 >= tail;
                switch (kw) {
                    case KW_PIPE:
                        p.rp = tail;
                        state = top_is_rule(p) ? S_POP_RULE : S_POP_BLOCK;
                        break;
                    case KW_SKIP:
                        if (p.end) {
                            p.match = false;
                            EVENT(EV_MATCH);
                            state = S_CHECK_PENDING;
                        } else {
                            p.match = true;
                            EVENT(EV_MATCH);
                            advance(p, 1);
                            state = after_rule(p);
                        }
                        break;
                    case KW_ANY:
                    case KW_SOME:
                    case KW_OPT:
                    case KW_WHILE:
                        if (last && kw != KW_WHILE) parse_error("parse-end", word);
                        if (kw != KW_WHILE && !p.callback) {
                            // A repeated text, char! or bitset! (directly or as a
                            // word's value) with no trace to tell: the repetition
                            // runs here, without the rule frame it would get.
                            Cell v = *rule_cell(p, p.rp + 1);
                            if (searchable_value(v)) {
                                ++p.rp;
                                p.value = v;
                                p.via_word = rule_cell(p, p.rp)->type() == TYPE_WORD;
                                p.match = repeat_plain(p, v, kw == KW_SOME ? 1 : 0, kw == KW_OPT ? 1 : -1);
                                p.last_kind = K_REPEAT;
                                state = S_CHECK_PENDING;
                                break;
                            }
                        }
                        p.kind = kw == KW_WHILE ? K_WHILE : K_REPEAT;
                        p.flag = 0;
                        p.count_cell = kw == KW_SOME  ? triple::cell(1, -1, 1)
                                       : kw == KW_OPT ? triple::cell(0, 1, 1)
                                                      : triple::cell(0, -1, 1);
                        state = S_PUSH_RULE;
                        break;
                    case KW_TO:
                    case KW_THRU: {
                        const Cell* next = rule_cell(p, p.rp + 1);
                        if (next && next->type() == TYPE_WORD && keyword_of(*next) == KW_END) {
                            uint32_t n = input_count(p.input);
                            p.input->w1 = p.limit >= 0 && p.limit < int64_t(n) ? uint32_t(p.limit) : n;
                            refresh_end(p);
                            ++p.rp;
                            p.match = true;
                            EVENT(EV_MATCH);
                            state = S_CHECK_PENDING;
                            break;
                        }
                        if (!p.callback && next) {
                            // A text, char! or bitset! to search for (directly or
                            // as a word's value) with no trace to tell: the search
                            // runs here, without the rule frame it would get.
                            Cell v = *next;
                            if (searchable_value(v)) {
                                ++p.rp;
                                p.value = v;
                                p.via_word = next->type() == TYPE_WORD;
                                search_in_place(p, v, kw == KW_THRU);
                                p.last_kind = kw == KW_TO ? K_TO : K_THRU;
                                state = S_CHECK_PENDING;
                                break;
                            }
                        }
                        p.kind = kw == KW_TO ? K_TO : K_THRU;
                        p.flag = 0;
                        // The search covers the input as it is now: a rule
                        // whose action makes it longer cannot push the end away.
                        {
                            uint32_t n = input_count(p.input);
                            int64_t stop = p.limit >= 0 && p.limit < int64_t(n) ? p.limit : n;
                            p.count_cell = triple::cell(int32_t(stop), 0, 1);
                        }
                        state = S_PUSH_RULE;
                        break;
                    }
                    case KW_BREAK:
                    case KW_REJECT:
                        p.match = kw == KW_BREAK;
                        p.brk = p.pop = true;
                        EVENT(EV_MATCH);
                        state = S_POP_RULE;
                        break;
                    case KW_FAIL:
                        p.match = false;
                        EVENT(EV_MATCH);
                        state = S_POP_RULE;
                        break;
                    case KW_NONE:
                        p.match = true;
                        EVENT(EV_MATCH);
                        state = S_CHECK_PENDING;
                        break;
                    case KW_END:
                        p.match = p.end;
                        EVENT(EV_MATCH);
                        state = S_CHECK_PENDING;
                        break;
                    case KW_IF: {
                        const Cell* next = rule_cell(p, p.rp + 1);
                        if (!next || next->type() != TYPE_PAREN) parse_error("parse-end", word);
                        Cell paren = *next;
                        ++p.rp;
                        if (Unwind c = eval_paren(p, paren)) return c;
                        refresh_rules(p);
                        refresh_end(p);
                        p.match = truthy(*p.paren_value);
                        EVENT(EV_MATCH);
                        state = S_CHECK_PENDING;
                        break;
                    }
                    case KW_NOT:
                    case KW_AHEAD:
                        p.kind = kw == KW_NOT ? K_NOT : K_AHEAD;
                        p.flag = 0;
                        p.count_cell = triple::cell(0, 0, 1);
                        state = S_PUSH_RULE;
                        break;
                    case KW_QUOTE: {
                        const Cell* next = rule_cell(p, p.rp + 1);
                        if (!next) parse_error("parse-end", word);
                        p.value = *next;
                        p.value.clear_new_line();
                        ++p.rp;
                        state = S_MATCH_VALUE;
                        break;
                    }
                    case KW_CASE: {
                        const Cell* next = rule_cell(p, p.rp + 1);
                        if (!next || next->type() != TYPE_WORD) parse_error("parse-end", word);
                        Cell flag_word = *next;
                        ++p.rp;
                        Cell v = word_value(flag_word);
                        p.kind = K_CASE;
                        p.flag = 0;
                        p.count_cell = triple::cell(0, p.cmp, 1);
                        p.cmp = truthy(v) ? 2 : 0;
                        state = S_PUSH_RULE;
                        break;
                    }
                    case KW_INTO: {
                        if (!is_block_input(p.input->type())) parse_error("parse-block", *p.input);
                        const Cell* next = rule_cell(p, p.rp + 1);
                        if (!next) parse_error("parse-end", word);
                        Cell rule = *next;
                        if (rule.type() == TYPE_WORD) rule = word_value(rule);
                        if (rule.type() != TYPE_BLOCK) parse_error("parse-end", word);
                        if (p.end) {
                            ++p.rp;
                            p.match = false;
                            EVENT(EV_MATCH);
                            state = S_CHECK_PENDING;
                            break;
                        }
                        Cell item = item_at(p.input, p.input->w1);
                        uint32_t it = item.type();
                        if (!(is_block_input(it) || is_string_input(it) || it == TYPE_BINARY)) {
                            ++p.rp;
                            p.match = false;
                            EVENT(EV_MATCH);
                            state = S_CHECK_PENDING;
                            break;
                        }
                        check_limit();
                        *p.pending = item;
                        p.kind = K_INTO;
                        p.flag = 0;
                        p.count_cell = triple::cell(0, 0, 1);
                        state = S_PUSH_RULE;
                        break;
                    }
                    case KW_COPY:
                    case KW_SET:
                        state = kw_copy_set(p, kw, word, &code);
                        if (state == S_EXIT) return code;
                        break;
                    case KW_REMOVE:
                        state = kw_remove(p, word, &code);
                        if (state == S_EXIT) return code;
                        break;
                    case KW_INSERT:
                        p.paren_ran = false;
                        state = kw_insert(p, word, &code);
                        if (state == S_EXIT) return code;
                        if (p.paren_ran) EVENT(EV_PAREN);
                        break;
                    case KW_CHANGE:
                        p.paren_ran = false;
                        state = kw_change(p, word, &code);
                        if (state == S_EXIT) return code;
                        if (p.paren_ran) EVENT(EV_PAREN);
                        break;
                    case KW_COLLECT:
                        state = kw_collect(p, word);
                        break;
                    case KW_KEEP:
                        state = kw_keep(p, word);
                        break;
                    case KW_NO:
                        break;
                }
                break;
            }
            case S_POP_RULE: {
                if (!top_is_rule(p)) {
                    // A block frame on top: break and reject leave the block; a
                    // failing rule (fail) makes the current alternative fail.
                    if (p.pop)
                        state = S_POP_BLOCK;
                    else
                        state = p.match ? S_NEXT_RULE : S_FIND_ALTERNATIVE;
                    break;
                }
                Cell frame[3];
                std::memcpy(frame, rs_top(), sizeof(frame));
                uint32_t kind = frame[2].w2;
                bool again = false;
                uint32_t n = input_count(p.input);
                uint32_t idx = p.input->w1 > n ? n : p.input->w1;
                uint32_t rec_idx = frame[1].w2;
                switch (kind) {
                    case K_REPEAT:
                    case K_WHILE: {
                        int32_t min = int32_t(frame[0].w1), max = int32_t(frame[0].w2);
                        int32_t round = int32_t(frame[0].w3);
                        bool ended_by_break = p.brk;
                        if (p.brk) {
                            p.brk = false;
                            p.pop = false;
                        }
                        if (!ended_by_break && p.match && (max == -1 || round < max)) {
                            // Progress is input consumed: less of it left than
                            // when the round began. A round that only inserted
                            // (the position moved, the rest as long as before)
                            // would go on forever.
                            bool moved = (n - idx) < frame[1].w3;
                            if (kind == K_WHILE || moved) again = true;
                        }
                        if (again) {
                            Cell* f = rs_top();
                            f[1].w2 = idx;
                            f[1].w3 = n - idx;
                            f[0].w3 = count_round(round);
                            p.rp = int32_t(f[1].w1);
                            EVENT(EV_ITERATE);
                            state = S_NEXT_RULE;
                            if (!p.callback) {
                                // A repeated block (some [...]): pushed again
                                // here, as fetching and dispatching it would.
                                const Cell* c = rule_cell(p, p.rp + 1);
                                if (c && c->type() == TYPE_BLOCK) {
                                    ++p.rp;
                                    p.value = *c;
                                    p.value.clear_new_line();
                                    p.via_word = false;
                                    p.from_match_rule = false;
                                    new_block = true;
                                    state = S_PUSH_BLOCK;
                                }
                            }
                            break;
                        }
                        if (p.match)
                            p.match = round >= min;
                        else
                            p.match = min == 0 || round - 1 >= min;
                        break;
                    }
                    case K_TO:
                    case K_THRU: {
                        if (p.match) {
                            if (kind == K_TO) p.input->w1 = rec_idx;
                            refresh_end(p);
                            break;
                        }
                        uint64_t stop = p.limit >= 0 && p.limit < int64_t(n) ? uint64_t(p.limit) : n;
                        if (frame[0].w1 < stop) stop = frame[0].w1;
                        if (rec_idx >= stop) break;
                        p.input->w1 = rec_idx + 1;
                        refresh_end(p);
                        Cell* f = rs_top();
                        f[1].w2 = p.input->w1;
                        f[1].w3 = n - p.input->w1;
                        p.rp = int32_t(f[1].w1);
                        p.match = true;
                        EVENT(EV_POP);
                        EVENT(EV_ITERATE);
                        again = true;
                        state = S_NEXT_RULE;
                        break;
                    }
                    case K_COPY:
                        if (p.match) {
                            if (Unwind code = copy_span(p, rec_idx, frame[0])) return code;
                        }
                        break;
                    case K_SET:
                        if (p.match) {
                            Cell v = rec_idx < idx ? item_at(p.input, rec_idx) : none::cell();
                            Cell w = frame[0];
                            if (Unwind code = context::set_word(&w, &v).code) return code;
                        }
                        break;
                    case K_NOT:
                        // Never consumes: the input goes back where the rule began.
                        p.match = !p.match;
                        p.input->w1 = rec_idx;
                        refresh_end(p);
                        break;
                    case K_AHEAD:
                        p.input->w1 = rec_idx;
                        refresh_end(p);
                        break;
                    case K_CASE:
                        p.cmp = int32_t(frame[0].w2);
                        break;
                    case K_INTO: {
                        bool done = p.input->w1 >= input_count(p.input) && p.walked;
                        p.match = p.match && done;
                        SeriesBuffer* ib = buffer_of(input_stack);
                        ib->tail -= sizeof(Cell);
                        *p.input = *(buffer_of(input_stack)->tail_cell() - 1);
                        p.input->w1 = rec_idx;
                        if (series::count(input_stack) == p.input_base + 1) p.limit = p.top_limit;
                        refresh_end(p);
                        if (p.match) advance(p, 1);
                        break;
                    }
                    case K_REMOVE:
                        if (Unwind c = finish_remove(p, frame)) return c;
                        break;
                    case K_CHANGE:
                    case K_CHANGE_ONLY:
                        p.paren_ran = false;
                        if (Unwind c = finish_change(p, frame, kind == K_CHANGE_ONLY)) return c;
                        if (p.paren_ran) EVENT(EV_PAREN);
                        break;
                    case K_COLLECT:
                        if (Unwind c = finish_collect(p, frame)) return c;
                        break;
                    case K_KEEP:
                    case K_KEEP_PAREN:
                        if (Unwind c = finish_keep(p, frame, kind == K_KEEP_PAREN)) return c;
                        break;
                    default:
                        break;
                }
                if (again) break;
                if (!p.match && kind != K_INTO) {
                    p.input->w1 = frame[2].w1;
                    refresh_end(p);
                }
                EVENT(EV_POP);
                drop_frame();
                p.last_kind = kind;
                state = S_CHECK_PENDING;
                break;
            }
            case S_END: {
                int32_t tail = rule_tail(p);
                p.match = p.match && p.rp >= tail;
                uint32_t n = input_count(p.input);
                uint64_t stop = p.limit >= 0 && p.limit < int64_t(n) ? uint64_t(p.limit) : n;
                if (p.input->w1 < stop && series::count(input_stack) <= p.input_base + 1) p.match = false;
                EVENT(EV_END);
                state = S_EXIT;
                break;
            }
            case S_EXIT:
                *result = p.result_made ? *p.result : logic::cell(p.match);
                stack::top = p.work_top;
                return UNWIND_NONE;
        }
    }
stopped:
    *result = logic::cell(p.match);
    stack::top = p.work_top;
    return UNWIND_NONE;
#undef EVENT
}

}  // namespace kiv::parser
