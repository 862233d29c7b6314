#include "datatypes/action_dispatch.h"

#include <climits>
#include <utility>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/argument_text.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/error.h"
#include "runtime/lowlevel.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv::actions {

StackEntry generic_table[ACTION_COUNT + 1];
PortActorTable port_actor_table = nullptr;

namespace {

struct SlotInfo {
    const char* name;
    const char* first_arg;
    const char* refinements;  // "[/part /only ...]"
};

// Indexed by slot; slot 0 unused. Rows come from KIV_ACTIONS.
constexpr SlotInfo slot_info[ACTION_COUNT + 1] = {{"", "", "[]"},
#define KIV_ACTION_INFO(name, word, first, refinements, sig) {word, first, refinements},
                                                  KIV_ACTIONS(KIV_ACTION_INFO)
#undef KIV_ACTION_INFO
};

// The refinements of action Slot by name: Refs<ACT_FIND>{r}.arg<"part">().
template <uint32_t Slot>
struct ActionSpec {
    static constexpr const char* text = slot_info[Slot].refinements;
};
template <uint32_t Slot>
using Refs = argument_text::NamedRefs<ActionSpec<Slot>>;

inline Cell none_cell() {
    return Cell{TYPE_NONE, 0, 0, 0};
}

// The word of an argument name for an error report (none for no name).
Cell arg_word(const char* name) {
    if (!name || !*name) return none_cell();
    return word::unbound(symbol::make(name));
}

// script expect-arg for a type without the action. arg1 and arg3 are words
// (the calling function's, and the called function's first argument).
[[noreturn]] void raise_expect_arg(uint32_t type, uint32_t slot) {
    Cell caller = word::caller();
    fire({"script", "expect-arg"}, caller, datatype::cell(type),
         arg_word(slot <= ACTION_COUNT ? slot_info[slot].first_arg : ""));
}

inline ActionEntry table_entry(uint32_t type, uint32_t slot) {
    // A header byte above the registered range has no row: treat it as a
    // type without implementations rather than read past the table.
    return type <= TYPE_ID_LIMIT ? datatype::lookup(type, slot) : nullptr;
}

// ---- Stack-entry helpers ------------------------------------------------------------
inline Cell* arg(uint32_t i) {
    return stack::arg_base + i;
}
inline void result(const Cell* c) {
    if (c) copy_cell(c, stack::arg_base);
}
// An implementation's answer as the entry's: its code, or its cell as the
// result.
inline Unwind answer(Outcome a) {
    if (a.code) return a.code;
    result(a.cell);
    return UNWIND_NONE;
}
inline int32_t int_of(const Cell* c) {
    return int32_t(c->w2);
}

// Elements from the head to the tail of a series value's buffer.
inline int32_t series_length(const Cell* s) {
    return s->w2 ? int32_t(series::count(s->w2)) : 0;
}

inline bool same_series(const Cell* a, const Cell* b) {
    return a->type() == b->type() && a->w2 == b->w2;
}

[[noreturn]] void raise_refine_arg(const Cell* arg) {
    // arg1 is the word `part` once words exist.
    fire({"script", "invalid-refine-arg"}, none_cell(), *arg);
}

// /part of append and insert: a count, or a position in the value being
// inserted. Returns false when the action must return the series unchanged.
bool insert_part(Cell* value, const Cell* part, int32_t& count) {
    count = -1;
    if (!part) return true;
    if (part->type() == TYPE_INTEGER) {
        count = int_of(part);
    } else {
        if (!is_series(value->type())) fire({"script", "invalid-part"}, *part);
        if (!same_series(part, value)) raise_refine_arg(part);
        int32_t at = int32_t(value->w1);
        int32_t len = series_length(value);
        if (at > len) at = len;
        count = int32_t(part->w1) - at;
    }
    if (count == 0) return false;
    if (count < 0) {
        // A value without a position stands at its head: nothing to take.
        if (!is_series(value->type())) return false;
        int32_t at = int32_t(value->w1);
        if (at == 0) return false;
        int32_t to = at + count < 0 ? 0 : at + count;
        value->w1 = uint32_t(to);
        count = at - to;
    }
    return true;
}

// /dup: 1 when absent; a count of 0 or less returns the series unchanged.
bool dup_count(const Cell* dup, int32_t& count) {
    count = dup ? int_of(dup) : 1;
    return count > 0;
}

// Runs a form/mold implementation into a new string with the /part rules.
template <class Call>
void into_string(const Cell* part, Call call) {
    Cell* saved_top = stack::top;
    int32_t limit = INT_MAX;
    if (part) {
        limit = int_of(part);
        if (limit <= 0) {
            string::make_at(stack::arg_base, 0);
            return;
        }
    }
    Cell* out = string::make_at(stack::push_slot(), 0);
    call(out, limit);
    if (part) {
        // Cut what went past the limit.
        SeriesBuffer* b = buffer_of(out->w2);
        uint32_t shift = unit_shift(b->unit());
        uint64_t end = uint64_t(out->w1) + uint64_t(limit);
        if (((b->tail - b->head) >> shift) > end) b->tail = b->head + uint32_t(end << shift);
    }
    copy_cell(out, stack::arg_base);
    stack::top = saved_top;
}

// ---- Stack entries --------------------------------------------------------------------
Unwind make_s(const int32_t*) {
    return answer(make(arg(0), arg(1)));
}
Unwind random_s(const int32_t* r) {
    Refs<ACT_RANDOM> f{r};
    return random(arg(0), f.has<"seed">(), f.has<"secure">(), f.has<"only">());
}
Unwind reflect_s(const int32_t*) {
    reflect(arg(0), arg(1)->w2);
    return UNWIND_NONE;
}
Unwind to_s(const int32_t*) {
    return answer(to(arg(0), arg(1)));
}
// form of an integer! without /part: its digits written straight into a new
// 1-byte string of the size the general path makes (16 bytes of room), no
// working slot pushed. False (nothing done) when the general path must run.
inline bool form_integer_quick(Cell* value) {
    if (value->type() != TYPE_INTEGER || stack::top + 1 >= stack::limit) return false;
    if (datatype::lookup<ACT_FORM>(TYPE_INTEGER) != &integer::form) return false;
    int32_t v = integer::get(value);
    Off node = memory::alloc_narrow(1);
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->head + uint32_t(integer::form_signed_r(v, reinterpret_cast<char*>(b->head_ptr())));
    *stack::arg_base = Cell{TYPE_STRING, 0, node, 0};
    return true;
}

[[gnu::noinline]] Unwind form_general(const int32_t* r) {
    Cell* value = arg(0);
    Cell* part = Refs<ACT_FORM>{r}.arg<"part">();
    into_string(part, [&](Cell* out, int32_t budget) { form(value, out, part, budget); });
    return UNWIND_NONE;
}
Unwind form_s(const int32_t* r) {
    if (!Refs<ACT_FORM>{r}.has<"part">() && form_integer_quick(arg(0))) return UNWIND_NONE;
    return form_general(r);
}
Unwind mold_s(const int32_t* r) {
    Cell* value = arg(0);
    Refs<ACT_MOLD> f{r};
    Cell* part = f.arg<"part">();
    bool only = f.has<"only">(), all = f.has<"all">(), flat = f.has<"flat">();
    into_string(part, [&](Cell* out, int32_t budget) { mold(value, out, only, all, flat, part, budget, 0); });
    return UNWIND_NONE;
}
template <uint32_t Slot>
Unwind stack_op_s(const int32_t*) {
    return entry_as<action::StackOp>(get_action_arg(Slot), Slot)();
}
Unwind negate_s(const int32_t*) {
    negate(arg(0));
    return UNWIND_NONE;
}
Unwind round_s(const int32_t* r) {
    Refs<ACT_ROUND> f{r};
    round(arg(0), f.arg<"to">(), f.has<"even">(), f.has<"down">(), f.has<"half-down">(), f.has<"floor">(),
          f.has<"ceiling">(), f.has<"half-ceiling">());
    return UNWIND_NONE;
}
Unwind even_s(const int32_t*) {
    logic::box(even_q(arg(0)));
    return UNWIND_NONE;
}
Unwind odd_s(const int32_t*) {
    logic::box(odd_q(arg(0)));
    return UNWIND_NONE;
}
Unwind complement_s(const int32_t*) {
    result(complement(arg(0)));
    return UNWIND_NONE;
}
// A series position past the tail moved to the tail, as insert takes it.
inline void clamp_to_tail(Cell* series) {
    int32_t len = series_length(series);
    if (int32_t(series->w1) > len) series->w1 = uint32_t(len);
}
// append/insert once the counts are known: insert clamps a position past
// the tail to the tail first (a port's actor sees the position as it came).
template <bool Append>
inline Unwind insert_counted(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    if (!Append && series->type() != TYPE_PORT && is_series(series->type())) clamp_to_tail(series);
    return action_for<Append ? ACT_APPEND : ACT_INSERT>(series)(series, value, part, only, dup, Append);
}
// append/insert with /part or /dup: their counts, or the series unchanged.
template <bool Append>
[[gnu::noinline]] Unwind insert_with_counts(const int32_t* r, bool only) {
    Cell* series = arg(0);
    Cell* value = arg(1);
    Refs<Append ? ACT_APPEND : ACT_INSERT> f{r};
    int32_t part = -1, dup = 1;
    if (Cell* p = f.template arg<"part">())
        if (!insert_part(value, p, part)) return UNWIND_NONE;
    if (Cell* d = f.template arg<"dup">())
        if (!dup_count(d, dup)) return UNWIND_NONE;
    return insert_counted<Append>(series, value, part, only, dup);
}
// append/insert without /part and /dup by the general lookup (ports, types
// without the action).
template <bool Append>
[[gnu::noinline]] Unwind insert_plain(bool only) {
    return insert_counted<Append>(arg(0), arg(1), -1, only, 1);
}
// A plain append to a string (its type's append is string::insert):
// string::insert's first step taken here, without its call; else a jump
// to it.
[[gnu::noinline]] Unwind append_to_text(bool only) {
    Cell* series = arg(0);
    if (string::append_narrow_quick(series, arg(1))) return UNWIND_NONE;
    return string::insert(series, arg(1), -1, only, 1, true);
}
// A plain append to a block-like series (its type's append is
// block::insert): insert's first case taken here, without its call; else
// the call.
[[gnu::noinline]] Unwind append_to_block(bool only) {
    Cell* series = arg(0);
    if (block::append_cell_quick(series, arg(1), only)) return UNWIND_NONE;
    return block::insert(series, arg(1), -1, only, 1, true);
}
template <bool Append>
Unwind insert_s(const int32_t* r) {
    using F = Refs<Append ? ACT_APPEND : ACT_INSERT>;
    bool only = false;
    if (r) {
        // Absent refinements are -1: one test passes a call with neither
        // /part nor /dup on.
        constexpr uint32_t at_part = F::template index<"part">(), at_dup = F::template index<"dup">();
        only = r[F::template index<"only">()] >= 0;
        if ((r[at_part] & r[at_dup]) >= 0) [[unlikely]]
            return insert_with_counts<Append>(r, only);
    }
    // The lookup of insert_counted, with every call a jump.
    constexpr uint32_t slot = Append ? ACT_APPEND : ACT_INSERT;
    Cell* series = arg(0);
    uint32_t t = series->type();
    if (t == TYPE_PORT || t > TYPE_ID_LIMIT) [[unlikely]]
        return insert_plain<Append>(only);
    SlotFn<slot> e = datatype::lookup<slot>(t);
    if (!e) [[unlikely]]
        return insert_plain<Append>(only);
    if constexpr (Append) {
        if (e == &string::insert) return append_to_text(only);
        if (e == &block::insert) return append_to_block(only);
    } else {
        if (is_series(t)) clamp_to_tail(series);
    }
    return e(series, arg(1), -1, only, 1, Append);
}
Unwind change_s(const int32_t* r) {
    Cell* series = arg(0);
    Cell* value = arg(1);
    Refs<ACT_CHANGE> f{r};
    int32_t part = -1, dup;
    if (const Cell* p = f.arg<"part">()) {
        if (p->type() == TYPE_INTEGER) {
            part = int_of(p);
        } else {
            if (!same_series(p, series)) raise_refine_arg(p);
            part = int32_t(p->w1) - int32_t(series->w1);
        }
        if (part < 0) {
            if (series->type() == TYPE_PORT || series->type() == TYPE_IMAGE) {
                part = 0;
            } else {
                int32_t at = int32_t(series->w1);
                int32_t to = at + part < 0 ? 0 : at + part;
                series->w1 = uint32_t(to);
                part = at - to;
            }
        }
    }
    if (!dup_count(f.arg<"dup">(), dup)) return UNWIND_NONE;
    return change(series, value, part, f.has<"only">(), dup);
}
Unwind clear_s(const int32_t*) {
    return clear(arg(0));
}
Unwind copy_s(const int32_t* r) {
    Refs<ACT_COPY> f{r};
    Cell* types = f.arg<"types">();
    if (types && types->type() != TYPE_DATATYPE && types->type() != TYPE_TYPESET)
        fire({"script", "expect-arg"}, word::caller(), datatype::cell(types->type()), arg_word("types"));
    Cell* saved_top = stack::top;
    Cell* res = none::push();
    Outcome c = copy(arg(0), res, f.arg<"part">(), f.has<"deep">(), types);
    if (c.code) return c.code;
    result(c.cell);
    stack::top = saved_top;
    return UNWIND_NONE;
}
// Whether a call of action Slot came without any refinement (absent ones
// are -1): the common find and select are then passed on with constants.
template <uint32_t Slot>
inline bool no_refinements(const int32_t* r) {
    constexpr uint32_t n = argument_text::refinement_total(slot_info[Slot].refinements);
    if (!r) return true;
    return [r]<size_t... I>(std::index_sequence<I...>) { return (r[I] & ... & -1) < 0; }(std::make_index_sequence<n>{});
}

Unwind find_s(const int32_t* r) {
    if (no_refinements<ACT_FIND>(r)) [[likely]] {
        // A char! in a bitset!: its bit tested in place (as bitset::find does).
        Cell* series = arg(0);
        Cell* value = arg(1);
        if (series->type() == TYPE_BITSET && value->type() == TYPE_CHAR && int64_t(value->w2) <= bitset::MAX_BIT &&
            datatype::lookup<ACT_FIND>(TYPE_BITSET) == &bitset::find) {
            *stack::arg_base = bitset::test_bit(series, value->w2) ? true_value : none_cell();
            return UNWIND_NONE;
        }
        return answer(find(arg(0), arg(1), nullptr, false, false, false, false, nullptr, nullptr, false,
                           false, false, false));
    }
    Refs<ACT_FIND> f{r};
    return answer(find(arg(0), arg(1), f.arg<"part">(), f.has<"only">(), f.has<"case">(), f.has<"same">(),
                       f.has<"any">(), f.arg<"with">(), f.arg<"skip">(), f.has<"last">(), f.has<"reverse">(),
                       f.has<"tail">(), f.has<"match">()));
}
Unwind length_s(const int32_t*) {
    Count counted = length(arg(0));
    if (counted.code) return counted.code;
    int32_t n = counted.n;
    if (n < 0)
        none::push_last();
    else
        *stack::arg_base = Cell{TYPE_INTEGER, 0, uint32_t(n), 0};
    return UNWIND_NONE;
}
Unwind move_s(const int32_t* r) {
    return answer(move(arg(0), arg(1), Refs<ACT_MOVE>{r}.arg<"part">()));
}
// pick of a string or block by an integer!, read in place (as series::pick
// does, without its pushed working cell). False when the general path runs.
inline bool pick_quick(Cell* series, const Cell* index) {
    uint32_t t = series->type();
    if (index->type() != TYPE_INTEGER || !(t == TYPE_STRING || t == TYPE_BLOCK)) return false;
    if (t == TYPE_STRING ? datatype::lookup<ACT_PICK>(TYPE_STRING) != &series::pick
                         : datatype::lookup<ACT_PICK>(TYPE_BLOCK) != &series::pick)
        return false;
    int32_t n = int32_t(index->w2);
    if (n == 0) {
        *stack::arg_base = none_cell();
        return true;
    }
    int64_t place = int64_t(series->w1) + (n > 0 ? int64_t(n) - 1 : int64_t(n));
    const SeriesBuffer* b = series::buffer(series);
    uint32_t shift = series::shift_of(b);
    if (place < 0 || place >= int64_t(b->byte_count() >> shift)) {
        *stack::arg_base = none_cell();
        return true;
    }
    const uint8_t* p = b->head_ptr() + (uint64_t(place) << shift);
    if (t == TYPE_BLOCK)
        copy_cell(reinterpret_cast<const Cell*>(p), stack::arg_base);
    else
        *stack::arg_base = Cell{TYPE_CHAR, 0, string::get_char(p, b->unit()), 0};
    return true;
}
Unwind pick_s(const int32_t*) {
    if (pick_quick(arg(0), arg(1))) return UNWIND_NONE;
    return answer(pick(arg(0), index_argument(arg(1)), arg(1)));
}
Unwind poke_s(const int32_t*) {
    Cell value = *arg(2);
    if (Unwind code = poke(arg(0), index_argument(arg(1)), arg(2), arg(1)).code) return code;
    stack::set_last(value);
    return UNWIND_NONE;
}
Unwind put_s(const int32_t* r) {
    return answer(put(arg(0), arg(1), arg(2), Refs<ACT_PUT>{r}.has<"case">()));
}
Unwind remove_s(const int32_t* r) {
    Refs<ACT_REMOVE> f{r};
    return remove(arg(0), f.arg<"part">(), f.arg<"key">());
}
Unwind reverse_s(const int32_t* r) {
    Refs<ACT_REVERSE> f{r};
    return reverse(arg(0), f.arg<"part">(), f.arg<"skip">());
}
[[gnu::noinline]] Unwind select_plain() {
    return answer(
        select(arg(0), arg(1), nullptr, false, false, false, false, nullptr, nullptr, false, false));
}
[[gnu::noinline]] Unwind select_refined(const int32_t* r) {
    Refs<ACT_SELECT> f{r};
    return answer(select(arg(0), arg(1), f.arg<"part">(), f.has<"only">(), f.has<"case">(), f.has<"same">(),
                         f.has<"any">(), f.arg<"with">(), f.arg<"skip">(), f.has<"last">(),
                         f.has<"reverse">()));
}
Unwind select_s(const int32_t* r) {
    if (!no_refinements<ACT_SELECT>(r)) [[unlikely]]
        return select_refined(r);
    // map!: the value read straight into the result cell.
    Cell* series = arg(0);
    if (series->type() != TYPE_MAP) return select_plain();
    map::select_value(series, series + 1, series);
    return UNWIND_NONE;
}
Unwind sort_s(const int32_t* r) {
    Refs<ACT_SORT> f{r};
    return sort(arg(0), f.has<"case">(), f.arg<"skip">(), f.arg<"compare">(), f.arg<"part">(), f.has<"all">(),
                f.has<"reverse">(), f.has<"stable">());
}
Unwind swap_s(const int32_t*) {
    return swap(arg(0), arg(1));
}
Unwind take_s(const int32_t* r) {
    Refs<ACT_TAKE> f{r};
    return answer(take(arg(0), f.arg<"part">(), f.has<"deep">(), f.has<"last">()));
}
Unwind trim_s(const int32_t* r) {
    Refs<ACT_TRIM> f{r};
    return trim(arg(0), f.has<"head">(), f.has<"tail">(), f.has<"auto">(), f.has<"lines">(), f.has<"all">(),
                f.arg<"with">());
}
template <uint32_t Slot>
Unwind port_op_s(const int32_t*) {
    return answer(port_op(Slot, arg(0)));
}
Unwind modify_s(const int32_t* r) {
    Cell target = *arg(0);
    if (Unwind code = modify(arg(0), arg(1), arg(2), Refs<ACT_MODIFY>{r}.has<"case">()).code) return code;
    stack::set_last(target);
    return UNWIND_NONE;
}
Unwind open_s(const int32_t* r) {
    Refs<ACT_OPEN> f{r};
    return answer(
        open(arg(0), f.has<"new">(), f.has<"read">(), f.has<"write">(), f.has<"seek">(), f.arg<"allow">()));
}
Unwind read_s(const int32_t* r) {
    Refs<ACT_READ> f{r};
    return answer(read(arg(0), f.arg<"part">(), f.arg<"seek">(), f.has<"binary">(), f.has<"lines">(),
                       f.has<"info">(), f.arg<"as">()));
}
Unwind rename_s(const int32_t*) {
    return answer(rename(arg(0), arg(1)));
}
Unwind write_s(const int32_t* r) {
    Refs<ACT_WRITE> f{r};
    return answer(write(arg(0), arg(1), f.has<"binary">(), f.has<"lines">(), f.has<"info">(),
                        f.has<"append">(), f.arg<"part">(), f.arg<"seek">(), f.arg<"allow">(),
                        f.arg<"as">()));
}

const StackEntry entries[ACTION_COUNT] = {
    make_s,
    random_s,
    reflect_s,
    to_s,
    form_s,
    mold_s,
    nullptr,
    nullptr,
    nullptr,  // eval-path, set-path, compare: no stack entry
    stack_op_s<ACT_ABSOLUTE>,
    stack_op_s<ACT_ADD>,
    stack_op_s<ACT_DIVIDE>,
    stack_op_s<ACT_MULTIPLY>,
    negate_s,
    stack_op_s<ACT_POWER>,
    stack_op_s<ACT_REMAINDER>,
    round_s,
    stack_op_s<ACT_SUBTRACT>,
    even_s,
    odd_s,
    stack_op_s<ACT_AND_T>,
    complement_s,
    stack_op_s<ACT_OR_T>,
    stack_op_s<ACT_XOR_T>,
    insert_s<true>,
    stack_op_s<ACT_AT>,
    stack_op_s<ACT_BACK>,
    change_s,
    clear_s,
    copy_s,
    find_s,
    stack_op_s<ACT_HEAD>,
    stack_op_s<ACT_HEAD_Q>,
    stack_op_s<ACT_INDEX_Q>,
    insert_s<false>,
    length_s,
    move_s,
    stack_op_s<ACT_NEXT>,
    pick_s,
    poke_s,
    put_s,
    remove_s,
    reverse_s,
    select_s,
    sort_s,
    stack_op_s<ACT_SKIP>,
    swap_s,
    stack_op_s<ACT_TAIL>,
    stack_op_s<ACT_TAIL_Q>,
    take_s,
    trim_s,
    port_op_s<ACT_CREATE>,
    port_op_s<ACT_CLOSE>,
    port_op_s<ACT_DELETE>,
    modify_s,
    open_s,
    port_op_s<ACT_OPEN_Q>,
    port_op_s<ACT_QUERY>,
    read_s,
    rename_s,
    port_op_s<ACT_UPDATE>,
    write_s,
};

}  // namespace

// ---- Table --------------------------------------------------------------------------

void register_entries(const StackEntry* list, uint32_t count) {
    for (uint32_t k = 1; k <= count && k <= ACTION_COUNT; ++k) generic_table[k] = list[k - 1];
}

void init() {
    generic_table[0] = nullptr;
    register_entries(entries, ACTION_COUNT);
}

uint32_t refinement_count(uint32_t slot) {
    return slot <= ACTION_COUNT ? argument_text::refinement_total(slot_info[slot].refinements) : 0;
}
const char* refinements_text(uint32_t slot) {
    return slot <= ACTION_COUNT ? slot_info[slot].refinements : "[]";
}
const char* slot_name(uint32_t slot) {
    return slot <= ACTION_COUNT ? slot_info[slot].name : "";
}
const char* first_arg_name(uint32_t slot) {
    return slot <= ACTION_COUNT ? slot_info[slot].first_arg : "";
}

// ---- Lookup ---------------------------------------------------------------------------

ActionEntry get_action_rare(uint32_t type, const Cell* value, uint32_t slot) {
    if (type == TYPE_PORT && slot > 24 && port_actor_table) {
        if (const ActionEntry* scheme = port_actor_table(value)) {
            ActionEntry e = scheme[slot - 25];
            if (!e) fire({"access", "no-port-action"});
            return e;
        }
    }
    ActionEntry e = table_entry(type, slot);
    if (!e) raise_expect_arg(type, slot);
    return e;
}

// ---- Dispatchers -------------------------------------------------------------------------

namespace {
// make and to dispatch on the type a datatype! prototype names, else on the
// prototype's own type.
inline Outcome make_to(Cell* proto, Cell* spec, uint32_t slot) {
    uint32_t type = proto->type() == TYPE_DATATYPE ? proto->w1 : proto->type();
    return entry_as<action::Make>(get_action_from(type, proto, slot), slot)(proto, spec, type);
}
}  // namespace

Outcome make(Cell* proto, Cell* spec) {
    return make_to(proto, spec, ACT_MAKE);
}
Outcome to(Cell* proto, Cell* spec) {
    return make_to(proto, spec, ACT_TO);
}

Unwind random(Cell* value, bool seed, bool secure, bool only) {
    return action_for<ACT_RANDOM>(value)(value, seed, secure, only);
}

void reflect(Cell* value, uint32_t field_symbol) {
    action_for<ACT_REFLECT>(value)(value, field_symbol);
}

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget) {
    return action_for<ACT_FORM>(value)(value, out, part, budget);
}

int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent) {
    return action_for<ACT_MOLD>(value)(value, out, only, all, flat, part, budget, indent);
}

void raise_bad_path(const Cell* parent, const Cell* element, const Cell* path, int32_t position) {
    if (path) {
        // arg3: the part of the path that produced the parent, that is
        // a copy cut before the element that does not apply to it.
        Cell whole = *path;
        Cell reached = whole;
        uint32_t n = whole.w2 ? series::count(whole.w2) : 0;
        if (position > int32_t(whole.w1) && uint32_t(position) <= n) {
            Off cut = series::copy_part(whole.w2, whole.w1, uint32_t(position) - whole.w1);
            reached = *stack::push(Cell{TYPE_PATH, 0, cut, 0});  // rooted while the error is made
        }
        fire({"script", "bad-path-type"}, whole, datatype::cell(parent->type()), reached);
    }
    fire({"script", "bad-path-type2"}, *element, datatype::cell(parent->type()));
}

bool compare(Cell* a, Cell* b, int32_t op) {
    int32_t r = action_for<ACT_COMPARE>(a)(a, b, op);
    switch (op) {
        case COMP_EQUAL:
        case COMP_STRICT_EQUAL:
        case COMP_SAME:
        case COMP_EQUAL_10:
        case COMP_EQUAL_11:
        case COMP_FIND:
            return r == 0;
        case COMP_NOT_EQUAL:
            return r != 0;
        default:
            break;
    }
    if (r == NOT_COMPARABLE) fire({"script", "invalid-compare"}, *a, *b);
    switch (op) {
        case COMP_LESSER:
            return r < 0;
        case COMP_LESSER_EQUAL:
            return r <= 0;
        case COMP_GREATER:
            return r > 0;
        case COMP_GREATER_EQUAL:
            return r >= 0;
        default:  // the sort orderings: "comes first"
            return r < 0;
    }
}

int32_t compare_value(Cell* a, Cell* b, int32_t op) {
    uint32_t t = a->type();
    if (t == b->type()) {
        switch (t) {
            case TYPE_LOGIC:
                return int32_t(a->w1 != 0) - int32_t(b->w1 != 0);
            case TYPE_NATIVE:
            case TYPE_ACTION:
            case TYPE_OP:
                return a->w1 == b->w1 ? 0 : a->w1 < b->w1 ? -1 : 1;
            case TYPE_FUNCTION:
            case TYPE_ROUTINE:
                return a->w3 == b->w3 ? 0 : a->w3 < b->w3 ? -1 : 1;
            default:
                break;
        }
    }
    return action_for<ACT_COMPARE>(a)(a, b, op);
}

Unwind stack_op(uint32_t slot) {
    return entry_as<action::StackOp>(get_action_arg(slot), slot)();
}

void negate(Cell* value) {
    action_for<ACT_NEGATE>(value)(value);
}

void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    action_for<ACT_ROUND>(value)(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
}

bool even_q(Cell* value) {
    return action_for<ACT_EVEN_Q>(value)(value);
}
bool odd_q(Cell* value) {
    return action_for<ACT_ODD_Q>(value)(value);
}

Cell* complement(Cell* value) {
    return action_for<ACT_COMPLEMENT>(value)(value);
}

Unwind insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    if (append) return action_for<ACT_APPEND>(series)(series, value, part, only, dup, true);
    return action_for<ACT_INSERT>(series)(series, value, part, only, dup, false);
}

Unwind change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return action_for<ACT_CHANGE>(series)(series, value, part, only, dup);
}

Unwind clear(Cell* series) {
    return action_for<ACT_CLEAR>(series)(series);
}

Outcome copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types) {
    return action_for<ACT_COPY>(series)(series, result, part, deep, types);
}

Outcome find(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    return action_for<ACT_FIND>(series)(series, value, part, only, case_sensitive, same, any, with, skip,
                                        last, reverse, tail, match);
}

Count length(Cell* value) {
    return action_for<ACT_LENGTH_Q>(value)(value);
}

Outcome move(Cell* origin, Cell* target, Cell* part) {
    return action_for<ACT_MOVE>(origin)(origin, target, part);
}

Outcome pick(Cell* series, int32_t index, Cell* index_cell) {
    return action_for<ACT_PICK>(series)(series, index, index_cell);
}

Outcome poke(Cell* series, int32_t index, Cell* value, Cell* index_cell) {
    return action_for<ACT_POKE>(series)(series, index, value, index_cell);
}

Outcome put(Cell* series, Cell* key, Cell* value, bool case_sensitive) {
    return action_for<ACT_PUT>(series)(series, key, value, case_sensitive);
}

Unwind remove(Cell* series, Cell* part, Cell* key) {
    return action_for<ACT_REMOVE>(series)(series, part, key);
}

Unwind reverse(Cell* series, Cell* part, Cell* skip) {
    return action_for<ACT_REVERSE>(series)(series, part, skip);
}

Outcome select(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
               Cell* with, Cell* skip, bool last, bool reverse) {
    return action_for<ACT_SELECT>(series)(series, value, part, only, case_sensitive, same, any, with, skip,
                                          last, reverse);
}

Unwind sort(Cell* series, bool case_sensitive, Cell* skip, Cell* comparator, Cell* part, bool all,
            bool reverse, bool stable) {
    return action_for<ACT_SORT>(series)(series, case_sensitive, skip, comparator, part, all, reverse, stable);
}

Unwind swap(Cell* series1, Cell* series2) {
    return action_for<ACT_SWAP>(series1)(series1, series2);
}

Outcome take(Cell* series, Cell* part, bool deep, bool last) {
    return action_for<ACT_TAKE>(series)(series, part, deep, last);
}

Unwind trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    return action_for<ACT_TRIM>(series)(series, head, tail, auto_, lines, all, with);
}

Outcome port_op(uint32_t slot, Cell* value) {
    return entry_as<action::PortOp>(get_action(value, slot), slot)(value);
}

Outcome modify(Cell* target, Cell* field, Cell* value, bool case_sensitive) {
    return action_for<ACT_MODIFY>(target)(target, field, value, case_sensitive);
}

Outcome open(Cell* spec, bool new_, bool read, bool write, bool seek, Cell* allow) {
    return action_for<ACT_OPEN>(spec)(spec, new_, read, write, seek, allow);
}

Outcome read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    return action_for<ACT_READ>(source)(source, part, seek, binary, lines, info, as);
}

Outcome rename(Cell* from, Cell* to) {
    return action_for<ACT_RENAME>(from)(from, to);
}

Outcome write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part,
              Cell* seek, Cell* allow, Cell* as) {
    return action_for<ACT_WRITE>(destination)(destination, data, binary, lines, info, append, part, seek,
                                              allow, as);
}

void unexpected_unwind(Unwind code) {
    lowlevel::print_line({"*** Action Error: an exit left an action that runs no Kiv code: ", int32_t(code)});
    lowlevel::quit(lowlevel::ERR_ASSERTION, lowlevel::caller_address());
}

int32_t index_argument(const Cell* index) {
    switch (index->type()) {
        case TYPE_LOGIC:
            return index->w1 ? 1 : 2;
        case TYPE_INTEGER:
        case TYPE_CHAR:
            return int32_t(index->w2);
        default:
            return 0;
    }
}

}  // namespace kiv::actions
