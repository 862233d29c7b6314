// Case mapping and display widths, checked code point by code point against
// the Unicode Character Database files (read at test time from
// /usr/share/unicode; the data tests skip when the files are missing).
#include "runtime/case_fold.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/char_width.h"
#include "runtime/memory.h"
#include "runtime/unicode_tables.h"

using namespace kiv;

namespace {

const std::string UCD = "/usr/share/unicode/";
constexpr uint32_t LIMIT = 0x110000;

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string field;
    std::istringstream in(s);
    while (std::getline(in, field, sep)) out.push_back(field);
    if (!s.empty() && s.back() == sep) out.push_back("");
    return out;
}

// Calls f(first, last, fields after the range) for each data line of a
// property file; false when the file cannot be read.
template <class F>
bool each_range(const std::string& name, F f) {
    std::ifstream in(UCD + name);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        if (trim(line).empty()) continue;
        std::vector<std::string> fields = split(line, ';');
        for (auto& x : fields) x = trim(x);
        std::string range = fields[0];
        size_t dots = range.find("..");
        uint32_t a = uint32_t(std::stoul(range.substr(0, dots), nullptr, 16));
        uint32_t b =
            dots == std::string::npos ? a : uint32_t(std::stoul(range.substr(dots + 2), nullptr, 16));
        fields.erase(fields.begin());
        f(a, b, fields);
    }
    return true;
}

// What the test needs from the database, for every code point.
struct Ucd {
    std::vector<bool> assigned14;  // age 14.0 or earlier
    std::vector<std::string> category;
    std::vector<uint32_t> upper, lower;  // 0 = no mapping
    std::vector<char> eaw;               // 'W', 'F', 'A', 'N' (N, Na, H)
    std::vector<bool> prepended_mark;
    bool ok = false;
};

const Ucd& ucd() {
    static Ucd u = [] {
        Ucd d;
        d.assigned14.assign(LIMIT, false);
        d.category.assign(LIMIT, "Cn");
        d.upper.assign(LIMIT, 0);
        d.lower.assign(LIMIT, 0);
        d.eaw.assign(LIMIT, 'N');
        d.prepended_mark.assign(LIMIT, false);
        bool ok =
            each_range("DerivedAge.txt", [&](uint32_t a, uint32_t b, const std::vector<std::string>& f) {
                int major = std::stoi(f[0]);
                int minor = std::stoi(f[0].substr(f[0].find('.') + 1));
                if (major < 14 || (major == 14 && minor == 0))
                    for (uint32_t c = a; c <= b; ++c) d.assigned14[c] = true;
            });
        ok = ok &&
             each_range("EastAsianWidth.txt", [&](uint32_t a, uint32_t b, const std::vector<std::string>& f) {
                 char w = f[0] == "W" ? 'W' : f[0] == "F" ? 'F' : f[0] == "A" ? 'A' : 'N';
                 for (uint32_t c = a; c <= b; ++c) d.eaw[c] = w;
             });
        ok = ok && each_range("PropList.txt", [&](uint32_t a, uint32_t b, const std::vector<std::string>& f) {
                 if (f[0] == "Prepended_Concatenation_Mark")
                     for (uint32_t c = a; c <= b; ++c) d.prepended_mark[c] = true;
             });
        std::ifstream in(UCD + "UnicodeData.txt");
        ok = ok && bool(in);
        std::string line;
        uint32_t range_start = 0;
        while (ok && std::getline(in, line)) {
            std::vector<std::string> f = split(line, ';');
            uint32_t c = uint32_t(std::stoul(f[0], nullptr, 16));
            if (f[1].find(", First>") != std::string::npos) {
                range_start = c;
                continue;
            }
            uint32_t first = f[1].find(", Last>") != std::string::npos ? range_start : c;
            for (uint32_t x = first; x <= c; ++x) d.category[x] = f[2];
            if (!f[12].empty()) d.upper[c] = uint32_t(std::stoul(f[12], nullptr, 16));
            if (!f[13].empty()) d.lower[c] = uint32_t(std::stoul(f[13], nullptr, 16));
        }
        d.ok = ok;
        return d;
    }();
    return u;
}

#define NEED_UCD()                                                                   \
    do {                                                                             \
        if (!ucd().ok) GTEST_SKIP() << "Unicode data files not found under " << UCD; \
    } while (0)

}  // namespace

// ---- Case mapping -------------------------------------------------------------------

TEST(CaseData, EveryCodePointMapsAsTheDatabaseSays) {
    NEED_UCD();
    const Ucd& d = ucd();
    long wrong = 0;
    uint32_t upper_bmp = 0, lower_bmp = 0, upper_supp = 0, lower_supp = 0;
    for (uint32_t c = 0; c < LIMIT; ++c) {
        uint32_t up = d.assigned14[c] && d.upper[c] ? d.upper[c] : c;
        uint32_t low = d.assigned14[c] && d.lower[c] ? d.lower[c] : c;
        if (casefold::change_char(c, true) != up || casefold::to_upper_char(c) != up) {
            if (++wrong < 10) ADD_FAILURE() << "upper of " << std::hex << c;
        }
        if (casefold::change_char(c, false) != low || casefold::to_lower_char(c) != low) {
            if (++wrong < 10) ADD_FAILURE() << "lower of " << std::hex << c;
        }
        if (up != c) ++(c < 0x10000 ? upper_bmp : upper_supp);
        if (low != c) ++(c < 0x10000 ? lower_bmp : lower_supp);
    }
    EXPECT_EQ(wrong, 0);
    // The generated pair lists are exactly the database's mappings.
    EXPECT_EQ(unicode_tables::counts.upper_bmp, upper_bmp);
    EXPECT_EQ(unicode_tables::counts.lower_bmp, lower_bmp);
    EXPECT_EQ(unicode_tables::counts.upper_supp, upper_supp);
    EXPECT_EQ(unicode_tables::counts.lower_supp, lower_supp);
}

TEST(CaseData, Unicode14Boundary) {
    NEED_UCD();
    // Vithkuqi (new in 14.0) is in; Latin letters new in 15.0 would not be.
    EXPECT_EQ(casefold::change_char(0x10597, true), 0x10570u);
    EXPECT_EQ(casefold::change_char(0x10570, false), 0x10597u);
    for (uint32_t c = 0; c < LIMIT; ++c) {
        if (ucd().assigned14[c] || !ucd().upper[c]) continue;
        EXPECT_EQ(casefold::change_char(c, true), c) << "newer than 14.0: " << std::hex << c;
    }
}

TEST(CaseFold, KnownMappings) {
    struct Case {
        uint32_t cp, upper, lower;
    };
    const Case cases[] = {
        {'a', 'A', 'a'},
        {'A', 'A', 'a'},
        {'0', '0', '0'},
        {0xFF, 0x178, 0xFF},
        {0x178, 0x178, 0xFF},
        {0xB5, 0x39C, 0xB5},
        {0x131, 'I', 0x131},
        {0x130, 0x130, 'i'},
        {0x1C5, 0x1C4, 0x1C6},
        {0xFF5A, 0xFF3A, 0xFF5A},
        {0xFF3A, 0xFF3A, 0xFF5A},
        {0x10428, 0x10400, 0x10428},
        {0x10400, 0x10400, 0x10428},
        {0x1E922, 0x1E900, 0x1E922},
        {0x1E943, 0x1E921, 0x1E943},
        {0x1E921, 0x1E921, 0x1E943},
        {0x1F600, 0x1F600, 0x1F600},
        {0x10000, 0x10000, 0x10000},
        {0x10FFFF, 0x10FFFF, 0x10FFFF},
        {0x110000, 0x110000, 0x110000},
        {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
    };
    casefold::init();
    casefold::init();  // a second call does nothing
    for (const Case& c : cases) {
        EXPECT_EQ(casefold::change_char(c.cp, true), c.upper) << std::hex << c.cp;
        EXPECT_EQ(casefold::change_char(c.cp, false), c.lower) << std::hex << c.cp;
    }
    EXPECT_EQ(casefold::other_case('a'), uint32_t('A'));
    EXPECT_EQ(casefold::other_case('A'), uint32_t('a'));
    EXPECT_EQ(casefold::other_case('1'), uint32_t('1'));
    EXPECT_EQ(casefold::other_case(0x10428), 0x10400u);
    EXPECT_EQ(casefold::other_case(0x10400), 0x10428u);
    // The supplementary pair tables are sorted (the lookup relies on it).
    for (uint32_t i = 1; i < unicode_tables::counts.upper_supp; ++i)
        EXPECT_LT(unicode_tables::upper_pairs_supp[i - 1].from, unicode_tables::upper_pairs_supp[i].from);
    for (uint32_t i = 1; i < unicode_tables::counts.lower_supp; ++i)
        EXPECT_LT(unicode_tables::lower_pairs_supp[i - 1].from, unicode_tables::lower_pairs_supp[i].from);
}

// ---- Mapping a buffer range -----------------------------------------------------------

namespace {

class Buffers : public ::testing::Test {
  protected:
    void SetUp() override {
        memory::init();
        memory::init_frames();
    }
};

Off make_text(const std::vector<uint32_t>& cps, uint32_t unit) {
    Off node = memory::alloc_series(uint32_t(cps.size()) + 1, unit, 0);
    SeriesBuffer* b = buffer_of(node);
    for (size_t i = 0; i < cps.size(); ++i) std::memcpy(b->head_ptr() + i * unit, &cps[i], unit);
    b->tail = b->head + uint32_t(cps.size()) * unit;
    return node;
}

std::vector<uint32_t> contents(Off node) {
    const SeriesBuffer* b = buffer_of(node);
    std::vector<uint32_t> out;
    for (Off o = b->head; o < b->tail; o += b->unit()) {
        uint32_t v = 0;
        std::memcpy(&v, arena::ptr(o), b->unit());
        out.push_back(v);
    }
    return out;
}

}  // namespace

TEST_F(Buffers, ChangeUnitsMapsRangesAndWidens) {
    using V = std::vector<uint32_t>;
    struct Case {
        V in;
        uint32_t unit, index, count;
        bool upper;
        V want;
        uint32_t want_unit;
    };
    const std::vector<Case> cases = {
        {{'a', 'b', 'c'}, 1, 0, 3, true, {'A', 'B', 'C'}, 1},
        {{'a', 'b', 'c'}, 1, 1, 1, true, {'a', 'B', 'c'}, 1},
        {{'a', 'b', 'c'}, 1, 1, 99, true, {'a', 'B', 'C'}, 1},  // count past the tail: up to the tail
        {{'a', 'b', 'c'}, 1, 7, 2, true, {'a', 'b', 'c'}, 1},   // index past the tail: nothing
        {{'a', 'b', 'c'}, 1, 0, 0, true, {'a', 'b', 'c'}, 1},
        {{0xFF}, 1, 0, 1, true, {0x178}, 2},  // widens 1 -> 2
        {{'x', 0xE9, 0xFF, 'y', 0xB5}, 1, 0, 5, true, {'X', 0xC9, 0x178, 'Y', 0x39C}, 2},
        {{'x', 0xFF, 'y'}, 1, 0, 1, true, {'X', 0xFF, 'y'}, 1},        // 0xFF outside the range: no widening
        {{0x178, 0x100, 'Q'}, 2, 0, 3, false, {0xFF, 0x101, 'q'}, 2},  // never narrows
        {{0x10428, 'b', 0x1E922}, 4, 0, 3, true, {0x10400, 'B', 0x1E900}, 4},
        {{0x10400, 'B', 0x1E900}, 4, 0, 3, false, {0x10428, 'b', 0x1E922}, 4},
    };
    for (const Case& c : cases) {
        Off node = make_text(c.in, c.unit);
        SeriesBuffer* out = casefold::change_units(node, c.index, c.count, c.upper);
        EXPECT_EQ(out, buffer_of(node));
        EXPECT_EQ(out->node, node);
        EXPECT_EQ(out->unit(), c.want_unit);
        EXPECT_EQ(contents(node), c.want);
    }
    // A long 1-byte text whose mapping widens half way through.
    V in(500, 'k');
    in[250] = 0xFF;
    Off node = make_text(in, 1);
    casefold::change_units(node, 0, 500, true);
    V want(500, 'K');
    want[250] = 0x178;
    EXPECT_EQ(contents(node), want);
    EXPECT_EQ(buffer_of(node)->unit(), 2u);
}

// ---- Display widths ---------------------------------------------------------------

TEST(CharWidth, KnownWidths) {
    struct Case {
        uint32_t cp;
        int wide, narrow;
    };
    const Case cases[] = {
        {0x4E00, 2, 2}, {0x0301, 0, 0},   {0x00A1, 2, 1},  {0x41, 1, 1},    {0, 0, 0},
        {0x1B, 1, 1},   {0x7F, 1, 1},     {0x9F, 1, 1},    {0xA0, 1, 1},    {0x00AD, 2, 1},
        {0x200B, 0, 0}, {0xFEFF, 0, 0},   {0x0600, 1, 1},  {0x1100, 2, 2},  {0x1160, 1, 1},
        {0xFF21, 2, 2}, {0x1F600, 2, 2},  {0x20000, 2, 2}, {0x2FFFD, 2, 2}, {0x3FFFE, 1, 1},
        {0xE000, 2, 1}, {0x10FFFD, 2, 1}, {0xE0100, 0, 0}, {0xE0001, 1, 1}, {0x110000, 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(charwidth::char_width(c.cp), c.wide) << std::hex << c.cp;
        EXPECT_EQ(charwidth::narrow_ambiguous(c.cp), c.narrow) << std::hex << c.cp;
    }
}

TEST(CharWidth, InTable) {
    const uint32_t table[] = {0x10, 0x10, 0x20, 0x2F, 0x40, 0x41};
    struct Case {
        uint32_t cp;
        bool in;
    };
    const Case cases[] = {{0x0F, false}, {0x10, true}, {0x11, false}, {0x1F, false},
                          {0x20, true},  {0x25, true}, {0x2F, true},  {0x30, false},
                          {0x40, true},  {0x41, true}, {0x42, false}, {0xFFFFFFFF, false}};
    for (const Case& c : cases) EXPECT_EQ(charwidth::in_table(c.cp, table, 6), c.in) << std::hex << c.cp;
    EXPECT_FALSE(charwidth::in_table(0x10, table, 0));
    EXPECT_TRUE(charwidth::in_table(0x10, table, 2));
    EXPECT_FALSE(charwidth::in_table(0x20, table, 2));
}

// Every code point against the rules applied to the database directly.
TEST(CharWidth, EveryCodePointFollowsTheDatabase) {
    NEED_UCD();
    const Ucd& d = ucd();
    long wrong = 0;
    for (uint32_t c = 0; c < LIMIT; ++c) {
        const std::string& cat = d.category[c];
        bool assigned = d.assigned14[c];
        bool zero = assigned && (cat == "Mn" || cat == "Me" ||
                                 (cat == "Cf" && c < 0x10000 && c != 0xAD && !d.prepended_mark[c]));
        bool plane23 = (c >= 0x20000 && c <= 0x2FFFD) || (c >= 0x30000 && c <= 0x3FFFD);
        bool wide = (d.eaw[c] == 'W' || d.eaw[c] == 'F') && (assigned || plane23);
        bool ambiguous = d.eaw[c] == 'A' && assigned && !zero;
        int narrow = c == 0 ? 0 : (c < 0x20 || (c >= 0x7F && c <= 0x9F)) ? 1 : zero ? 0 : wide ? 2 : 1;
        int full = ambiguous ? 2 : narrow;
        if (charwidth::narrow_ambiguous(c) != narrow || charwidth::char_width(c) != full) {
            if (++wrong < 10) ADD_FAILURE() << "width of " << std::hex << c;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(CharWidth, TablesAreSortedAndDisjoint) {
    struct T {
        const uint32_t* table;
        uint32_t intervals;
    };
    const T tables[] = {{unicode_tables::zero_width, unicode_tables::counts.zero_width},
                        {unicode_tables::wide, unicode_tables::counts.wide},
                        {unicode_tables::ambiguous, unicode_tables::counts.ambiguous}};
    for (const T& t : tables) {
        ASSERT_GT(t.intervals, 0u);
        for (uint32_t i = 0; i < t.intervals; ++i) {
            EXPECT_LE(t.table[2 * i], t.table[2 * i + 1]);
            // Adjacent intervals would have been merged by the generator.
            if (i > 0) {
                EXPECT_GT(t.table[2 * i], t.table[2 * i - 1] + 1);
            }
        }
    }
    // The zero-width and wide tables have the interval counts of the 14.0
    // data they were made from.
    EXPECT_EQ(unicode_tables::counts.zero_width, 339u);
    EXPECT_EQ(unicode_tables::counts.wide, 122u);
}
