// The set natives (union, intersect, unique, difference, exclude) and
// complement?: one worker checks the pairing of the argument types and hands
// the work to the first argument's datatype.
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/fixed_words.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/natives.h"
#include "runtime/error.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv::natives {

namespace {

inline bool is_block_set(uint32_t t) {
    return t == TYPE_BLOCK || t == TYPE_HASH;
}

template <uint32_t N>
Unwind do_set_op(const int32_t* refs, int32_t op) {
    Cell* a = stack::arg_base;
    Refs<N> r{refs};
    bool case_sensitive = r.template has<"case">();
    Cell* skip = r.template arg<"skip">();
    uint32_t t1 = a->type();
    if (op != block::SET_UNIQUE) {
        uint32_t t2 = a[1].type();
        bool paired =
            is_block_set(t1) ? is_block_set(t2) : t1 == t2 || (t1 == TYPE_TYPESET && t2 == TYPE_DATATYPE);
        if (!paired) fire({"script", "expect-val"}, datatype::cell(t1), datatype::cell(t2));
    }
    Cell result;
    switch (t1) {
        case TYPE_BLOCK:
        case TYPE_HASH: {
            int32_t size = 1;
            if (skip) {
                if (skip->type() != TYPE_INTEGER || int32_t(skip->w2) < 1)
                    fire({"script", "invalid-refine-arg"}, fixed::refinements[fixed::REF_SKIP], *skip);
                size = int32_t(skip->w2);
            }
            result = *block::do_set_op(case_sensitive, size, op);
            break;
        }
        case TYPE_STRING:
            result = *string::do_set_op(case_sensitive, skip, op);
            break;
        case TYPE_BITSET:
            bitset::do_bitwise(op);
            result = *a;
            break;
        case TYPE_TYPESET:
            result = *typeset::do_bitwise(a, op == block::SET_UNIQUE ? a : a + 1, op);
            break;
        case TYPE_DATE:
            // The time between two dates.
            if (op != block::SET_DIFFERENCE) fire({"script", "expect-arg"}, word::load(NAMES[N - 1]),
                                                  datatype::cell(t1), word::load("set1"));
            result = Cell{TYPE_TIME, 0, 0, 0};
            result.set_f64(date::unix_seconds(a) - date::unix_seconds(a + 1));
            break;
        default:
            fire({"script", "expect-arg"}, word::load(NAMES[N - 1]), datatype::cell(t1), word::load("set1"));
    }
    *a = result;
    stack::top = a + 1;
    return UNWIND_NONE;
}

}  // namespace

Unwind union_(const int32_t* refs) {
    return do_set_op<N_UNION>(refs, block::SET_UNION);
}
Unwind intersect(const int32_t* refs) {
    return do_set_op<N_INTERSECT>(refs, block::SET_INTERSECT);
}
Unwind unique(const int32_t* refs) {
    return do_set_op<N_UNIQUE>(refs, block::SET_UNIQUE);
}
Unwind difference(const int32_t* refs) {
    return do_set_op<N_DIFFERENCE>(refs, block::SET_DIFFERENCE);
}
Unwind exclude(const int32_t* refs) {
    return do_set_op<N_EXCLUDE>(refs, block::SET_EXCLUDE);
}

Unwind complement_q(const int32_t*) {
    // The argument's type is tested whatever the check flag says.
    Cell* a = stack::arg_base;
    if (a->type() != TYPE_BITSET)
        fire({"script", "expect-arg"}, word::load("complement?"), datatype::cell(a->type()),
             word::load("bits"));
    bool complemented = (buffer_of(a->w2)->flags & series_flag::COMPLEMENT) != 0;
    *a = logic::cell(complemented);
    stack::top = a + 1;
    return UNWIND_NONE;
}

}  // namespace kiv::natives
