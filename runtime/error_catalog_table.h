// The error catalog's table as constant data: every category and its ids
// with their message templates, in code order. runtime/error_catalog.cpp
// answers the look-ups over it; runtime/error.h checks the names a fire call
// gives against it when the call is compiled.
#pragma once

#include <cstddef>

#include "runtime/error_catalog.h"

namespace kiv::error_catalog::table {

inline constexpr Shape STRING = Shape::STRING;
inline constexpr Shape BLOCK = Shape::BLOCK;
inline constexpr Shape WORD = Shape::WORD;

// Argument references: A1 is :arg1 (get-word), W1 the plain word arg1.
inline constexpr Piece A1{1, true};
inline constexpr Piece A2{2, true};
inline constexpr Piece A3{3, true};
inline constexpr Piece W1{1, false};
inline constexpr Piece W2{2, false};

// clang-format off
// throw: codes 0..4
inline constexpr IdEntry THROW_IDS[] = {
    {"break", STRING, {"no loop to break"}},
    {"return", STRING, {"return or exit not in function"}},
    {"throw", BLOCK, {"no catch for throw:", A1}},
    {"continue", STRING, {"no loop to continue"}},
    {"while-cond", STRING, {"BREAK/CONTINUE cannot be used in WHILE condition block"}},
};

// note: codes 100..100
inline constexpr IdEntry NOTE_IDS[] = {
    {"no-load", BLOCK, {"cannot load: ", A1}},
};

// syntax: codes 200..206
inline constexpr IdEntry SYNTAX_IDS[] = {
    {"invalid", BLOCK, {A1, "invalid", A2, "at", A3}},
    {"missing", BLOCK, {A1, "missing", A2, "at", A3}},
    {"no-header", BLOCK, {"script is missing a Kiv header:", A1}},
    {"no-ks-header", BLOCK, {"script is missing a Kiv/System header:", A1}},
    {"bad-header", BLOCK, {"script header is not valid:", A1}},
    {"malconstruct", BLOCK, {A1, "invalid construction spec at", A2}},
    {"bad-char", BLOCK, {A1, "invalid character at", A2}},
};

// script: codes 300..393
inline constexpr IdEntry SCRIPT_IDS[] = {
    {"no-value", BLOCK, {A1, "has no value"}},
    {"need-value", BLOCK, {A1, "needs a value"}},
    {"not-defined", BLOCK, {A1, "word is not bound to a context"}},
    {"not-in-context", BLOCK, {"context for", A1, "is not available"}},
    {"no-arg", BLOCK, {A1, "is missing its", A2, "argument"}},
    {"expect-arg", BLOCK, {A1, "does not allow", A2, "for its", A3, "argument"}},
    {"expect-val", BLOCK, {"expected", A1, "not", A2}},
    {"expect-type", BLOCK, {A1, A2, "field must be of type", A3}},
    {"cannot-use", BLOCK, {"cannot use", A1, "on", A2, "value"}},
    {"invalid-arg", BLOCK, {"invalid argument:", A1}},
    {"invalid-type", BLOCK, {A1, "type is not allowed here"}},
    {"invalid-type-spec", BLOCK, {"invalid type specifier:", A1}},
    {"invalid-key-type", BLOCK, {"invalid key type:", A1}},
    {"invalid-op", BLOCK, {"invalid operator:", A1}},
    {"no-op-arg", BLOCK, {A1, "operator is missing an argument"}},
    {"bad-op-spec", STRING, {"making an op! requires a function with only 2 arguments and no lit/get-word on left argument"}},
    {"invalid-data", BLOCK, {"data not in correct format:", A1}},
    {"invalid-part", BLOCK, {"invalid /part count:", A1}},
    {"not-same-type", STRING, {"values must be of the same type"}},
    {"not-same-class", BLOCK, {"cannot coerce", A1, "to", A2}},
    {"not-related", BLOCK, {"incompatible argument for", A1, "of", A2}},
    {"bad-func-def", BLOCK, {"invalid function definition:", A1}},
    {"bad-func-arg", BLOCK, {"function argument", A1, "is not valid"}},
    {"bad-func-extern", BLOCK, {"invalid /extern value:", A1}},
    {"no-refine", BLOCK, {A1, "has no refinement called", A2}},
    {"bad-refines", STRING, {"incompatible or invalid refinements"}},
    {"bad-refine", BLOCK, {"invalid refinement value:", A1}},
    {"dup-refine", BLOCK, {"duplicate refinement usage in:", A1}},
    {"word-first", BLOCK, {"path must start with a word:", A1}},
    {"empty-path", STRING, {"cannot evaluate an empty path value"}},
    {"unset-path", BLOCK, {A2, "is unset in path", A1}},
    {"invalid-path", BLOCK, {"cannot access", A2, "in path", A1}},
    {"invalid-path-set", BLOCK, {"unsupported type in", A1, "set-path"}},
    {"invalid-path-get", BLOCK, {"unsupported type in", A1, "get-path"}},
    {"bad-path-type", BLOCK, {A3, "returned a", A2, "value, so", A1, "could not be accessed"}},
    {"bad-path-type2", BLOCK, {"path element >", A1, "< does not apply to", A2, "type"}},
    {"bad-path-set", BLOCK, {"cannot set", A2, "in path", A1}},
    {"bad-field-set", BLOCK, {"cannot set", A1, "field to", A2, "datatype"}},
    {"dup-vars", BLOCK, {"duplicate variable specified:", A1}},
    {"past-end", STRING, {"out of range or past end"}},
    {"missing-arg", STRING, {"missing a required argument or refinement"}},
    {"out-of-range", BLOCK, {"value out of range:", A1}},
    {"invalid-chars", STRING, {"contains invalid characters"}},
    {"invalid-compare", BLOCK, {"cannot compare", A1, "with", A2}},
    {"wrong-type", BLOCK, {"datatype assertion failed for:", A1}},
    {"invalid-refine-arg", BLOCK, {"invalid", A1, "argument:", A2}},
    {"type-limit", BLOCK, {A1, "overflow/underflow"}},
    {"size-limit", BLOCK, {"maximum limit reached:", A1}},
    {"no-return", STRING, {"block did not return a value"}},
    {"throw-usage", STRING, {"invalid use of a thrown error value"}},
    {"locked-word", BLOCK, {"protected word - cannot modify:", A1}},
    {"protected", STRING, {"protected value or series - cannot modify"}},
    {"bad-bad", BLOCK, {A1, "error:", A2}},
    {"bad-make-arg", BLOCK, {"cannot MAKE", A1, "from:", A2}},
    {"bad-to-arg", BLOCK, {"cannot MAKE/TO", A1, "from:", A2}},
    {"invalid-months", STRING, {"invalid system/locale/month list"}},
    {"invalid-spec-field", BLOCK, {"invalid", A1, "field in spec block"}},
    {"missing-spec-field", BLOCK, {A1, "not found in spec block"}},
    {"move-bad", BLOCK, {"Cannot MOVE elements from", A1, "to", A2}},
    {"too-long", STRING, {"Content too long"}},
    {"invalid-char", BLOCK, {"Invalid char! value:", A1}},
    {"bad-loop-series", BLOCK, {"Loop series changed to invalid value:", A1}},
    {"wrong-denom", BLOCK, {A1, "not same denomination as", A2}},
    {"bad-denom", BLOCK, {"invalid denomination:", A1}},
    {"invalid-obj-evt", BLOCK, {"invalid object event handler:", A1}},
    {"parse-rule", BLOCK, {"PARSE - invalid rule or usage of rule:", A1}},
    {"parse-end", BLOCK, {"PARSE - unexpected end of rule after:", A1}},
    {"parse-invalid-ref", BLOCK, {"PARSE - get-word refers to a different series!", A1}},
    {"parse-block", BLOCK, {"PARSE - input must be of any-block! type:", A1}},
    {"parse-unsupported", STRING, {"PARSE - matching by datatype not supported for any-string! input"}},
    {"parse-infinite", BLOCK, {"PARSE - infinite recursion at rule: [", A1, "]"}},
    {"parse-stack", STRING, {"PARSE - stack limit reached"}},
    {"parse-keep", STRING, {"PARSE - KEEP is used without a wrapping COLLECT"}},
    {"parse-into-bad", STRING, {"PARSE - COLLECT INTO/AFTER invalid series! argument"}},
    {"parse-into-type", STRING, {"PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype"}},
    {"draw-invalid", BLOCK, {"DRAW - invalid input at:", A1}},
    {"draw-infinite", BLOCK, {"DRAW - infinite recursion at:", A1}},
    {"invalid-data-facet", BLOCK, {"invalid DATA facet content", A1}},
    {"face-type", BLOCK, {"VIEW - invalid face type:", A1}},
    {"not-window", STRING, {"VIEW - expected a window root face"}},
    {"bad-window", STRING, {"VIEW - a window face cannot be nested in another window"}},
    {"not-linked", STRING, {"VIEW - face not linked to a window"}},
    {"not-event-type", BLOCK, {"VIEW - not a valid event type", A1}},
    {"invalid-facet-type", BLOCK, {"VIEW - invalid rate value:", A1}},
    {"vid-invalid-syntax", BLOCK, {"VID - invalid syntax at:", A1}},
    {"rtd-invalid-syntax", BLOCK, {"RTD - invalid syntax at:", A1}},
    {"rtd-no-match", BLOCK, {"RTD - opening/closing tag not matching for:", A1}},
    {"react-bad-func", STRING, {"REACT - /LINK option requires a function! as argument"}},
    {"react-not-enough", STRING, {"REACT - reactive functions must accept at least 2 arguments"}},
    {"react-no-match", STRING, {"REACT - objects block length must match reaction function arg count"}},
    {"react-bad-obj", STRING, {"REACT - target can only contain object values"}},
    {"react-gctx", BLOCK, {"REACT - word", A1, "is not a reactor's field"}},
    {"lib-invalid-arg", BLOCK, {"LIBKIV - invalid argument for", A1}},
    {"kb-invalid-record", BLOCK, {"KIVBIN - invalid record at index", A1}},
};

// math: codes 400..402
inline constexpr IdEntry MATH_IDS[] = {
    {"zero-divide", STRING, {"attempt to divide by zero"}},
    {"overflow", STRING, {"math or number overflow"}},
    {"positive", STRING, {"positive number required"}},
};

// access: codes 500..514
inline constexpr IdEntry ACCESS_IDS[] = {
    {"cannot-open", BLOCK, {"cannot open:", A1}},
    {"cannot-close", BLOCK, {"cannot close:", A1}},
    {"invalid-utf8", BLOCK, {"invalid UTF-8 encoding:", A1}},
    {"not-open", BLOCK, {"port is not open:", A1}},
    {"no-connect", BLOCK, {"cannot connect:", A1, "reason: timeout"}},
    {"no-scheme", BLOCK, {"missing port scheme:", A1}},
    {"unknown-scheme", BLOCK, {"scheme is unknown:", A1}},
    {"invalid-spec", BLOCK, {"invalid spec or options:", A1}},
    {"invalid-port", BLOCK, {"invalid port object (invalid field values)"}},
    {"invalid-actor", BLOCK, {"invalid port actor (must be handle or object)"}},
    {"no-port-action", STRING, {"port action not supported"}},
    {"no-create", BLOCK, {"cannot create:", A1}},
    {"no-codec", BLOCK, {"cannot decode or encode (no codec):", A1}},
    {"bad-media", BLOCK, {"bad media data (corrupt image, sound, video)"}},
    {"invalid-cmd", BLOCK, {"invalid port command:", A1}},
};

// user: codes 800..800
inline constexpr IdEntry USER_IDS[] = {
    {"message", WORD, {W1}},
};

// internal: codes 900..913
inline constexpr IdEntry INTERNAL_IDS[] = {
    {"bad-path", BLOCK, {"bad path:", W1}},
    {"not-here", BLOCK, {W1, "not supported on your system"}},
    {"no-memory", STRING, {"not enough memory"}},
    {"wrong-mem", STRING, {"failed to release memory"}},
    {"stack-overflow", STRING, {"stack overflow"}},
    {"limit-hit", BLOCK, {"internal limit reached:", A1}},
    {"too-deep", STRING, {"block or paren series is too deep to process"}},
    {"no-cycle", STRING, {"circular reference not allowed"}},
    {"feature-na", STRING, {"feature not available"}},
    {"not-done", STRING, {"reserved for future use (or not yet implemented)"}},
    {"invalid-error", BLOCK, {"invalid error object field value:", A1}},
    {"routines", STRING, {"routines require compilation, from OS shell: `kiv -r <script.kiv>`"}},
    {"kiv-system", STRING, {"contains Kiv/System code which requires compilation"}},
    {"deprecated", BLOCK, {W1, "is DEPRECATED, please use", W2, "instead"}},
};

// clang-format on

template <size_t N>
constexpr uint8_t count_of(const IdEntry (&)[N]) {
    return static_cast<uint8_t>(N);
}

inline constexpr CategoryEntry CATEGORIES[CATEGORY_COUNT] = {
    {"throw", "Throw Error", 0, count_of(THROW_IDS), THROW_IDS},
    {"note", "note", 100, count_of(NOTE_IDS), NOTE_IDS},
    {"syntax", "Syntax Error", 200, count_of(SYNTAX_IDS), SYNTAX_IDS},
    {"script", "Script Error", 300, count_of(SCRIPT_IDS), SCRIPT_IDS},
    {"math", "Math Error", 400, count_of(MATH_IDS), MATH_IDS},
    {"access", "Access Error", 500, count_of(ACCESS_IDS), ACCESS_IDS},
    {"reserved1", "Reserved1 Error", 600, 0, nullptr},
    {"reserved2", "Reserved2 Error", 700, 0, nullptr},
    {"user", "User Error", 800, count_of(USER_IDS), USER_IDS},
    {"internal", "Internal Error", 900, count_of(INTERNAL_IDS), INTERNAL_IDS},
};

// The id counts fix every code; a slip in the table above shows here.
static_assert(count_of(THROW_IDS) == 5);
static_assert(count_of(NOTE_IDS) == 1);
static_assert(count_of(SYNTAX_IDS) == 7);
static_assert(count_of(SCRIPT_IDS) == 94);
static_assert(count_of(MATH_IDS) == 3);
static_assert(count_of(ACCESS_IDS) == 15);
static_assert(count_of(USER_IDS) == 1);
static_assert(count_of(INTERNAL_IDS) == 14);

// Whether `id` names an error of category `category`, at compile time.
constexpr bool same_word(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}
constexpr bool known(const char* category, const char* id) {
    for (const CategoryEntry& c : CATEGORIES) {
        if (!same_word(c.name, category)) continue;
        for (int i = 0; i < c.id_count; ++i)
            if (same_word(c.ids[i].name, id)) return true;
        return false;
    }
    return false;
}

}  // namespace kiv::error_catalog::table
