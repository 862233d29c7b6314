// The fixed-word lists: counts, group boundaries, the constants' names and the
// agreement of the error-category words with the error catalog.
#include "datatypes/fixed_words.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "runtime/error_catalog.h"

namespace fx = kiv::fixed;

namespace {

struct Entry {
    int index;
    const char* name;
};

// Group starts and ends, and names whose constant is not the plain upper-case
// spelling.
const Entry SYMBOL_CASES[] = {
    {fx::SYM_SPEC, "spec"},           {fx::SYM_LOGIC_T, "logic!"},      {fx::SYM_ANY_TYPE_T, "any-type!"},
    {fx::SYM_RETURN, "return"},       {fx::SYM_WINDOWS, "Windows"},     {fx::SYM_MACOS, "macOS"},
    {fx::SYM_NETBSD, "NetBSD"},       {fx::SYM_REPEAT, "repeat"},       {fx::SYM_REMOVE_EACH, "remove-each"},
    {fx::SYM_ANY, "any"},             {fx::SYM_PIPE, "|"},              {fx::SYM_DASH, "-"},
    {fx::SYM_AFTER, "after"},         {fx::SYM_X, "x"},                 {fx::SYM_EVENTS_Q, "events?"},
    {fx::SYM_TRUE, "true"},           {fx::SYM_OFF, "off"},             {fx::SYM_TYPE, "type"},
    {fx::SYM_CODE, "code"},           {fx::SYM_MID_DOWN_Q, "mid-down?"}, {fx::SYM_ORIENTATION, "orientation"},
    {fx::SYM_GET, "get"},             {fx::SYM_ARGB, "argb"},           {fx::SYM_DATE, "date"},
    {fx::SYM_TIMEZONE, "timezone"},   {fx::SYM_CODE_2, "code"},         {fx::SYM_HOST, "host"},
    {fx::SYM_SYSTEM, "system"},       {fx::SYM_SYSTEM_GLOBAL, "system-global"}, {fx::SYM_NO_TRACE, "no-trace"},
};

const Entry WORD_CASES[] = {
    {fx::W_AT, "at"},
    {fx::W_HEAD_Q, "head?"},
    {fx::W_PUT_ED, "put-ed"},
    {fx::W_SWAPED, "swaped"},
    {fx::W_CHECKSUM, "checksum"},
    {fx::W_PUSH, "push"},
    {fx::W_PAREN, "paren"},
    {fx::W_ANON, "<anon>"},
    {fx::W_NOT_FOUND, "<not-found>"},
    {fx::W_ADD, "add"},
    {fx::W_DIVIDE, "divide"},
    {fx::W_ON_PARSE_EVENT, "on-parse-event"},
    {fx::W_ON_CHANGE_STAR, "on-change*"},
    {fx::W_ON_DEEP_CHANGE_STAR, "on-deep-change*"},
    {fx::W_TYPE, "type"},
    {fx::W_MULTIPLY, "multiply"},
    {fx::W_BROWSE, "browse"},
    {fx::W_WRITE, "write"},
    {fx::W_PRESCAN, "prescan"},
    {fx::W_COMMENT, "comment"},
    {fx::W_INIT, "init"},
    {fx::W_THROW, "throw"},
    {fx::W_EXPR, "expr"},
    {fx::W_INTERP_CALLBACK, "<interp-callback>"},
    {fx::W_COMPARE_CALLBACK, "<compare-callback>"},
    {fx::W_CAT_THROW, "throw"},
    {fx::W_CAT_INTERNAL, "internal"},
    {fx::W_INVALID_ERROR, "invalid-error"},
    {fx::W_LOCAL, "local"},
    {fx::W_APPLIED, "<applied>"},
};

TEST(FixedWords, CountsAndLastEntries) {
    EXPECT_EQ(fx::SYMBOL_COUNT, 113);
    EXPECT_EQ(fx::SYMBOL_WORD_COUNT, 26);
    EXPECT_EQ(fx::WORD_COUNT, 105);
    EXPECT_EQ(fx::REFINEMENT_COUNT, 6);
    EXPECT_EQ(fx::SYM_NO_TRACE, fx::SYMBOL_COUNT - 1);
    EXPECT_EQ(fx::W_APPLIED, fx::WORD_COUNT - 1);
    EXPECT_EQ(fx::SW_END, fx::SYMBOL_WORD_COUNT - 1);
}

TEST(FixedWords, SymbolConstantsNameTheirEntries) {
    for (const Entry& e : SYMBOL_CASES) EXPECT_STREQ(fx::SYMBOL_NAMES[e.index], e.name) << e.index;
    // Group boundaries by position.
    EXPECT_EQ(fx::SYM_WINDOWS, 12);
    EXPECT_EQ(fx::SYM_REPEAT, 17);
    EXPECT_EQ(fx::SYM_ANY, 21);
    EXPECT_EQ(fx::SYM_X, 50);
    EXPECT_EQ(fx::SYM_TRUE, 58);
    EXPECT_EQ(fx::SYM_TYPE, 64);
    EXPECT_EQ(fx::SYM_GET, 81);
    EXPECT_EQ(fx::SYM_DATE, 89);
    EXPECT_EQ(fx::SYM_CODE_2, 104);
    EXPECT_EQ(fx::SYM_SYSTEM, 108);
}

TEST(FixedWords, WordConstantsNameTheirEntries) {
    for (const Entry& e : WORD_CASES) EXPECT_STREQ(fx::WORD_NAMES[e.index], e.name) << e.index;
    EXPECT_EQ(fx::W_PUSH, 43);
    EXPECT_EQ(fx::W_CAT_THROW, 94);
    const char* refs[] = {"local", "extern", "compare", "part", "skip", "with"};
    for (int i = 0; i < fx::REFINEMENT_COUNT; ++i) EXPECT_STREQ(fx::REFINEMENT_NAMES[i], refs[i]);
    EXPECT_EQ(fx::REF_WITH, 5);
}

TEST(FixedWords, BoundSymbolWordsComeFromTheSymbolList) {
    const char* want[] = {"Windows", "Syllable", "macOS", "Linux", "NetBSD", "to",     "thru",   "not",  "remove",
                          "while",   "collect",  "keep",  "ahead", "|",      "any",    "some",   "copy", "opt",
                          "into",    "insert",   "if",    "quote", "collect", "set",   "case",   "end"};
    for (int i = 0; i < fx::SYMBOL_WORD_COUNT; ++i) {
        ASSERT_LT(fx::SYMBOL_WORD_SOURCES[i], fx::SYMBOL_COUNT);
        EXPECT_STREQ(fx::SYMBOL_NAMES[fx::SYMBOL_WORD_SOURCES[i]], want[i]) << i;
    }
    EXPECT_EQ(fx::SYMBOL_WORD_SOURCES[fx::SW_COLLECT], fx::SYMBOL_WORD_SOURCES[fx::SW_COLLECT_2]);
    EXPECT_EQ(fx::SYMBOL_WORD_SOURCES[fx::SW_PIPE], fx::SYM_PIPE);
}

// Within a list a name repeats only where written twice; the interning maps
// repeats to one symbol, so a repeat anywhere else would be a slip.
TEST(FixedWords, RepeatedNamesAreOnlyTheKnownOnes) {
    std::map<std::string, int> syms, words;
    for (const char* n : fx::SYMBOL_NAMES) ++syms[n];
    for (const char* n : fx::WORD_NAMES) ++words[n];
    for (const auto& [name, n] : syms) EXPECT_TRUE(n == 1 || name == "code") << name;
    for (const auto& [name, n] : words) EXPECT_TRUE(n == 1 || name == "throw") << name;
    EXPECT_EQ(syms["code"], 2);
    EXPECT_EQ(words["throw"], 2);
}

TEST(FixedWords, ErrorCategoryWordsMatchTheCatalog) {
    namespace ec = kiv::error_catalog;
    int w = fx::W_CAT_THROW;
    for (int c = 0; c < ec::CATEGORY_COUNT; ++c) {
        if (c == ec::CAT_RESERVED1 || c == ec::CAT_RESERVED2) continue;
        EXPECT_STREQ(fx::WORD_NAMES[w], ec::category(c).name);
        ++w;
    }
    EXPECT_EQ(w, fx::W_INVALID_ERROR);
    EXPECT_EQ(ec::code_of("internal", fx::WORD_NAMES[fx::W_INVALID_ERROR]), 910);
}

}  // namespace
