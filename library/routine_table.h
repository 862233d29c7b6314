// Routine tables: how a C++ routine is declared and reaches Kiv.
//
// A routine is one row of the table of its module:
//
//     KIV_ROUTINE("as-color", "[\"Combine R, G and B ...\" r [integer!] g [integer!] ...]", as_color)
//
// The row is the declaration: the spec text gives the arity and the names
// of the arguments at compile time. The function is a template over its
// argument view and reads each argument by name through arg<"r">(a) (a
// name the spec does not have does not compile) and leaves its result in
// result(a). A routine has no refinements.
//
// A table is global (each row bound to its word at start-up) or an object
// table (made into an object of its routines on request: the codecs of
// system/codecs, system/view/platform, the window layer's platform object).
// The spec blocks of every row are in the boot image (the image tool reads
// them from all_tables()), so start-up lexes none of them.
#pragma once

#include <cstdint>

#include "datatypes/function.h"
#include "datatypes/argument_text.h"
#include "runtime/cell.h"

namespace kiv::argument_text {

// The 0-based position of argument `name` among the fixed arguments (its
// word with any leading ' or : removed), or -1.
constexpr int32_t argument_index(const char* spec, const char* name) {
    int32_t index = -1, found = -1;
    bool in_refinements = false;
    each_token(spec, [&](const char* t, uint32_t n) {
        if (t[0] == '/') in_refinements = true;
        if (in_refinements || t[n - 1] == ':') return;
        ++index;
        if (t[0] == '\'' || t[0] == ':') ++t, --n;
        if (same(t, n, name)) found = index;
    });
    return found;
}

}  // namespace kiv::argument_text

namespace kiv::routine {

// The arguments of a routine with specification Spec, from the argument base.
template <argument_text::Name Spec>
struct Args {
    static constexpr const char* text = Spec.text;
    static constexpr uint32_t arity = argument_text::fixed_count(text);
    static_assert(argument_text::refinement_total(text) == 0, "a routine takes no refinements");
    static_assert(arity <= 31, "a routine takes at most 31 arguments");
    Cell* base;
};

// The argument named W (checked against the spec at compile time).
template <argument_text::Name W, class A>
inline Cell& arg(A a) {
    constexpr int32_t i = argument_text::argument_index(A::text, W.text);
    static_assert(i >= 0, "the routine's spec has no such argument");
    return a.base[i];
}

// The result slot (the argument base).
template <class A>
inline Cell& result(A a) {
    return a.base[0];
}

// The registered entry of a row: the function with its argument view.
template <argument_text::Name Spec, Unwind (*F)(Args<Spec>)>
Unwind entry(Cell* base) {
    return F(Args<Spec>{base});
}

struct Row {
    const char* name;
    const char* spec;
    Fn fn;
    uint32_t arity;  // the fixed arguments the spec text gives (the image tool checks the lexed spec)
    uint32_t tests = 0;  // a type predicate's datatype (routine::register_fn), else 0
};

// A row: KIV_ROUTINE(name, spec, fn) (fn last: it may be a template
// instance with commas, shift_by<true, false>).
#define KIV_ROUTINE(name, spec, ...)                                                               \
    ::kiv::routine::Row {                                                                          \
        name, spec, &::kiv::routine::entry<spec, __VA_ARGS__>, ::kiv::argument_text::fixed_count(spec) \
    }

struct Table {
    const char* name;  // its word (for object tables, what `routine-table` takes)
    const Row* rows;
    uint32_t count;
    bool global;  // bound to global words at start-up
};

template <uint32_t N>
constexpr Table table(const char* name, const Row (&rows)[N], bool global) {
    return Table{name, rows, N, global};
}

// Every routine table, in one fixed order (the order of the boot image).
const Table* const* all_tables();
uint32_t table_count();

}  // namespace kiv::routine
