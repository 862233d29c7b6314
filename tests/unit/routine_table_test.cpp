// Routine rows read their arguments by name: the position of each name in
// the spec text, found at compile time, is the position of its cell.
#include "library/routine_table.h"
#include "test_support.h"

namespace kiv {
namespace {

using argument_text::argument_index;

constexpr const char* SPEC =
    "[\"Doc [not] a word\" r [integer!] \"red\" g [integer!] 'b :c return: [tuple!]]";
static_assert(argument_index(SPEC, "r") == 0);
static_assert(argument_index(SPEC, "g") == 1);
static_assert(argument_index(SPEC, "b") == 2);
static_assert(argument_index(SPEC, "c") == 3);
static_assert(argument_index(SPEC, "return") == -1);
static_assert(argument_index(SPEC, "not") == -1);       // inside the doc string
static_assert(argument_index(SPEC, "integer!") == -1);  // inside a type block
static_assert(argument_index("[[open close error] event input type]", "type") == 2);
static_assert(routine::Args<"[a [integer!] b return: [integer!]]">::arity == 2);

template <class A>
Unwind swap_sum(A a) {
    const int32_t first = int32_t(routine::arg<"first">(a).w2),
                  second = int32_t(routine::arg<"second">(a).w2);
    routine::result(a) = test::int_cell(second * 10 + first);
    return UNWIND_NONE;
}

const routine::Row ROWS[] = {
    KIV_ROUTINE("swap-sum", "[\"Doc\" first [integer!] second [integer!] return: [integer!]]", swap_sum),
};

TEST(RoutineTable, ARowReadsItsArgumentsByName) {
    EXPECT_EQ(ROWS[0].arity, 2u);
    Cell args[2] = {test::int_cell(3), test::int_cell(4)};
    EXPECT_EQ(ROWS[0].fn(args), UNWIND_NONE);
    EXPECT_EQ(args[0].w2, 43u);
}

}  // namespace
}  // namespace kiv
