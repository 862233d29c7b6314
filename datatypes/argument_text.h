// Reading a built-in's argument text at compile time: the argument
// block of a native (evaluator/native_list.h) or the refinement list of an
// action (datatypes/actions.h). It gives the fixed-argument count and an
// index per refinement name, so that no built-in keeps positional numbers
// by hand: NamedRefs<Spec>{refs}.has<"part">() answers whether /part was
// used, .arg<"part">() gives its first argument cell, and a name the
// argument text does not have does not compile.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/stack.h"

namespace kiv::argument_text {

constexpr bool space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Calls visit(token, length) for each top-level token of a specification
// block, skipping strings and nested blocks.
template <class Visit>
constexpr void each_token(const char* s, Visit visit) {
    uint32_t i = 0;
    while (s[i] && s[i] != '[') ++i;
    if (s[i]) ++i;
    while (s[i] && s[i] != ']') {
        char c = s[i];
        if (space(c)) {
            ++i;
        } else if (c == '"') {
            for (++i; s[i] && s[i] != '"'; ++i)
                if (s[i] == '^' && s[i + 1]) ++i;
            if (s[i]) ++i;
        } else if (c == '[' || c == '{') {
            char open = c, close = c == '[' ? ']' : '}';
            int depth = 0;
            for (; s[i]; ++i) {
                if (s[i] == open) ++depth;
                if (s[i] == close && --depth == 0) break;
            }
            if (s[i]) ++i;
        } else {
            uint32_t start = i;
            while (s[i] && !space(s[i]) && s[i] != '[' && s[i] != ']' && s[i] != '"') ++i;
            visit(s + start, i - start);
        }
    }
}

constexpr bool same(const char* a, uint32_t length, const char* b) {
    uint32_t k = 0;
    for (; k < length; ++k)
        if (!b[k] || a[k] != b[k]) return false;
    return !b[k];
}

// The number of fixed arguments: the words before the first refinement
// (return: is not an argument).
constexpr uint32_t fixed_count(const char* spec) {
    uint32_t count = 0;
    bool in_refinements = false;
    each_token(spec, [&](const char* t, uint32_t n) {
        if (t[0] == '/') in_refinements = true;
        if (!in_refinements && t[n - 1] != ':') ++count;
    });
    return count;
}

// The 0-based index of refinement `name` (without its slash), or -1.
constexpr int32_t refinement_index(const char* spec, const char* name) {
    int32_t index = -1, found = -1;
    each_token(spec, [&](const char* t, uint32_t n) {
        if (t[0] != '/') return;
        ++index;
        if (same(t + 1, n - 1, name)) found = index;
    });
    return found;
}

// A refinement name given as a template argument: Refs<N>::has<"part">().
template <uint32_t L>
struct Name {
    char text[L];
    consteval Name(const char (&s)[L]) {
        for (uint32_t k = 0; k < L; ++k) text[k] = s[k];
    }
};

// The number of refinements before /local.
constexpr uint32_t refinement_total(const char* spec) {
    uint32_t count = 0;
    bool local = false;
    each_token(spec, [&](const char* t, uint32_t n) {
        if (t[0] != '/' || local) return;
        if (same(t + 1, n - 1, "local")) {
            local = true;
            return;
        }
        ++count;
    });
    return count;
}

// The refinements of a built-in by name. Spec::text is its specification;
// `offsets` holds one int32 per refinement in specification order: -1 when
// absent, else the offset from the argument base of its first argument cell.
template <class Spec>
struct NamedRefs {
    const int32_t* offsets;  // may be null: none given

    template <Name R>
    static consteval uint32_t index() {
        constexpr int32_t i = refinement_index(Spec::text, R.text);
        static_assert(i >= 0, "the spec block has no such refinement");
        return uint32_t(i);
    }
    // Whether the refinement was used.
    template <Name R>
    bool has() const {
        return offsets && offsets[index<R>()] >= 0;
    }
    // The refinement's first argument cell, or nullptr when it was not used.
    template <Name R>
    Cell* arg() const {
        int32_t at = offsets ? offsets[index<R>()] : -1;
        return at < 0 ? nullptr : stack::arg_base + at;
    }
};

}  // namespace kiv::argument_text
