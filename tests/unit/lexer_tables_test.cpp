// The lexer's tables and token loop: byte classes, the derived transition
// table, token classification with extents, the scan-only walk over
// structure, and robustness on hostile input.
#include "runtime/lexer_tables.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "runtime/cell.h"
#include "tests/support/lexer_walker.h"

using namespace kiv;
using namespace kiv::lexer;

namespace {

const uint8_t* bytes(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

// The first token of `text`, scanned from `start_state`. The text is kept
// until the next call, so that the token's pointers stay valid.
Token first_token(const std::string& input, uint8_t start_state = S_START) {
    static std::string text;
    text = input;
    Cursor c;
    c.pos = bytes(text);
    c.end = c.pos + text.size();
    c.start_state = start_state;
    Token t;
    scan_token(c, t);
    return t;
}

std::string token_text(const Token& t) {
    return std::string(reinterpret_cast<const char*>(t.start), size_t(t.end - t.start));
}

const char* type_name(uint8_t type) {
    switch (type) {
        case 0:
            return "none";
        case TYPE_BLOCK:
            return "block";
        case TYPE_PAREN:
            return "paren";
        case TYPE_STRING:
            return "string";
        case TYPE_FILE:
            return "file";
        case TYPE_URL:
            return "url";
        case TYPE_CHAR:
            return "char";
        case TYPE_INTEGER:
            return "integer";
        case TYPE_FLOAT:
            return "float";
        case TYPE_WORD:
            return "word";
        case TYPE_SET_WORD:
            return "set-word";
        case TYPE_REFINEMENT:
            return "refinement";
        case TYPE_ISSUE:
            return "issue";
        case TYPE_PATH:
            return "path";
        case TYPE_LIT_PATH:
            return "lit-path";
        case TYPE_SET_PATH:
            return "set-path";
        case TYPE_GET_PATH:
            return "get-path";
        case TYPE_ERROR:
            return "error";
        case TYPE_PAIR:
            return "pair";
        case TYPE_PERCENT:
            return "percent";
        case TYPE_TUPLE:
            return "tuple";
        case TYPE_MAP:
            return "map";
        case TYPE_BINARY:
            return "binary";
        case TYPE_TIME:
            return "time";
        case TYPE_TAG:
            return "tag";
        case TYPE_EMAIL:
            return "email";
        case TYPE_DATE:
            return "date";
        case TYPE_MONEY:
            return "money";
        case TYPE_REF:
            return "ref";
        case TYPE_POINT2D:
            return "point2D";
        case TYPE_POINT3D:
            return "point3D";
        default:
            return "?";
    }
}

// The walk of `text` as one line: "type:text" per value, "type(" and ")type"
// for containers, "end", or "error:kind:type-or-missing@offset".
std::string walk(const std::string& text) {
    Walker w(bytes(text), bytes(text) + text.size());
    std::string out;
    for (size_t guard = 0; guard < 2 * text.size() + 4; ++guard) {
        const Item& it = w.next();
        if (!out.empty()) out += ' ';
        switch (it.event) {
            case Event::value:
                out += std::string(type_name(it.type)) + ":" +
                       std::string(reinterpret_cast<const char*>(it.start), size_t(it.end - it.start));
                break;
            case Event::open:
                out += std::string(type_name(it.type)) + "(";
                break;
            case Event::close:
                out += ")" + std::string(type_name(it.type));
                break;
            case Event::end:
                out += "end";
                return out;
            case Event::error:
                out += "error:";
                if (it.error == ErrorKind::invalid) out += std::string("invalid:") + type_name(it.type);
                if (it.error == ErrorKind::bad_char) out += "bad-char";
                if (it.error == ErrorKind::missing) out += std::string("missing:") + it.missing;
                out += "@" + std::to_string(it.start - bytes(text));
                return out;
        }
    }
    return out + " <no end>";
}

// ---------------------------------------------------------------------------
// Tables

TEST(LexerTables, ByteClassesFollowTheCharacterTable) {
    struct Range {
        int first, last;
        uint32_t cls;
    };
    const Range ranges[] = {
        {'\t', '\t', 0},  {'\r', '\r', 0},  {' ', ' ', 0},    {'\n', '\n', 1},  {'1', '9', 2},
        {'0', '0', 3},    {'[', '[', 4},    {']', ']', 5},    {'(', '(', 6},    {')', ')', 7},
        {'{', '{', 8},    {'}', '}', 9},    {'"', '"', 10},   {'#', '#', 11},   {'\'', '\'', 12},
        {':', ':', 13},   {'X', 'X', 14},   {'x', 'x', 14},   {'T', 'T', 15},   {'h', 'h', 16},
        {'e', 'e', 17},   {'E', 'E', 18},   {'a', 'd', 19},   {'f', 'f', 19},   {'A', 'D', 20},
        {'F', 'F', 20},   {'/', '/', 21},   {'\\', '\\', 22}, {'<', '<', 23},   {'>', '>', 24},
        {'=', '=', 25},   {'%', '%', 26},   {',', ',', 27},   {';', ';', 28},   {'@', '@', 29},
        {'.', '.', 30},   {'$', '$', 31},   {'+', '+', 32},   {'-', '-', 33},   {'^', '^', 34},
        {1, 8, 35},       {0x0B, 0x0C, 35}, {0x0E, 0x1F, 35}, {0x7F, 0xBF, 36}, {'G', 'S', 37},
        {'U', 'W', 37},   {'Y', 'Z', 37},   {'g', 'g', 37},   {'i', 'w', 37},   {'y', 'z', 37},
        {0xC2, 0xF7, 37}, {0xC0, 0xC1, 38}, {0xF8, 0xFF, 38}, {0, 0, 39},
    };
    int covered[256] = {};
    for (const Range& r : ranges) {
        for (int b = r.first; b <= r.last; ++b) {
            EXPECT_EQ(byte_class(uint8_t(b)), r.cls) << "byte " << b;
            ++covered[b];
        }
    }
    for (char c : std::string("!&*?_`|~")) {
        EXPECT_EQ(byte_class(uint8_t(c)), 37u) << c;
        ++covered[uint8_t(c)];
    }
    for (int b = 0; b < 256; ++b) EXPECT_EQ(covered[b], 1) << "byte " << b << " classed once";
}

TEST(LexerTables, FlagBits) {
    struct Flag {
        int byte;
        int bit;
    };
    const Flag flags[] = {{'%', 18}, {'>', 19}, {'<', 20},  {'+', 21},  {'-', 21},  {0, 22},
                          {'#', 23}, {'E', 24}, {'e', 24},  {'\'', 25}, {':', 26},  {',', 27},
                          {'.', 28}, {'^', 29}, {0xC2, 30}, {0xEF, 30}, {0xF0, 31}, {0xF7, 31}};
    for (const Flag& f : flags) {
        EXPECT_EQ(tables::classes[f.byte] & ~flag::CLASS_MASK, 1u << f.bit) << "byte " << f.byte;
    }
    EXPECT_EQ(tables::classes['a'] & ~flag::CLASS_MASK, 0u);
    EXPECT_EQ(tables::classes[0xC1] & ~flag::CLASS_MASK, 0u);
    EXPECT_EQ(tables::classes[0xF8] & ~flag::CLASS_MASK, 0u);
}

TEST(LexerTables, StartRowAndInvariants) {
    const uint8_t start_row[CLASS_COUNT] = {0,  0,  23, 23, 68, 69, 70, 71, 72, 67, 2,  16, 51, 51,
                                            52, 52, 52, 52, 40, 52, 40, 13, 67, 43, 52, 58, 6,  78,
                                            1,  57, 49, 36, 47, 47, 52, 0,  67, 52, 67, 66};
    for (int c = 0; c < CLASS_COUNT; ++c) EXPECT_EQ(next_state(0, c), start_row[c]) << "class " << c;
    for (int s = 0; s < STATE_COUNT; ++s) {
        EXPECT_EQ(next_state(s, C_INVALID), F_ERROR) << "state " << s;
        EXPECT_GE(next_state(s, C_END), FINAL_FIRST) << "state " << s;
        for (int c = 0; c < CLASS_COUNT; ++c) {
            const uint32_t n = next_state(s, c);
            EXPECT_TRUE(n < 65 || (n >= 66 && n <= 101)) << s << "," << c;
            if (s != 0) {
                EXPECT_NE(n, 0u) << "only the start state leads back to it";
            }
        }
    }
    for (int s = 0; s < STATE_TABLE_SIZE; ++s) EXPECT_EQ(tables::skip[s], s == 0 ? 1 : 0);
    for (int c = 0; c < CLASS_COUNT; ++c) EXPECT_EQ(tables::line_increment[c], c == 1 ? 1 : 0);
    const int delimiters[] = {0, 1, 4, 5, 6, 7, 8, 10, 13, 23, 28, 37, 38, 39};
    int expected[CLASS_COUNT] = {};
    for (int c : delimiters) expected[c] = 1;
    for (int c = 0; c < CLASS_COUNT; ++c) EXPECT_EQ(tables::delimiter[c], expected[c]) << c;
}

TEST(LexerTables, FinalStateTypes) {
    const uint8_t types[] = {7,  15, 20, 11, 19, 10, 8, 41, 38, 12, 12, 39,
                             47, 37, 51, 43, 49, 44, 9, 45, 11, 7,  50};
    for (int i = 0; i < 23; ++i) EXPECT_EQ(tables::state_type[79 + i], types[i]) << 79 + i;
    EXPECT_EQ(tables::state_type[F_ERROR], TYPE_ERROR);
    for (int s = 68; s <= 78; ++s) EXPECT_EQ(tables::state_type[s], 0) << s;
    EXPECT_EQ(tables::state_type[0], 0);
    EXPECT_EQ(tables::state_type[2], TYPE_STRING);
    EXPECT_EQ(tables::state_type[23], TYPE_INTEGER);
    EXPECT_EQ(tables::state_type[53], TYPE_SET_WORD);
    EXPECT_EQ(tables::state_type[59], TYPE_PATH);
}

TEST(LexerTables, FloatAutomatonAsGiven) {
    const uint8_t rows[11][7] = {
        {10, 0, 1, 10, 4, 10, 10},  {10, 10, 1, 6, 5, 2, 9},     {10, 10, 1, 10, 10, 10, 9},
        {10, 10, 3, 6, 10, 4, 9},   {10, 10, 3, 10, 10, 10, 9},  {10, 10, 3, 10, 10, 10, 9},
        {10, 7, 8, 10, 10, 10, 10}, {10, 10, 8, 10, 10, 10, 10}, {10, 10, 8, 10, 10, 10, 9},
        {9, 9, 9, 9, 9, 9, 9},      {10, 10, 10, 10, 10, 10, 10}};
    for (int s = 0; s < 11; ++s)
        for (int c = 0; c < 7; ++c) EXPECT_EQ(tables::float_transitions[s * 7 + c], rows[s][c]);
    for (int b = 0; b < 256; ++b) {
        uint8_t want = 0;
        if (b == '+' || b == '-') want = 1;
        if (b >= '0' && b <= '9') want = 2;
        if (b == 'e' || b == 'E') want = 3;
        if (b == '.') want = 4;
        if (b == '\'') want = 5;
        EXPECT_EQ(tables::float_classes[b], want) << b;
    }
}

// ---------------------------------------------------------------------------
// One token from the start state: final state, datatype, extent

struct Case {
    const char* text;
    uint8_t state;
    const char* token;  // the token's extent (the closing byte a loader owns is outside it)
};

void check_cases(const std::vector<Case>& cases) {
    for (const Case& k : cases) {
        const std::string text = k.text;
        const Token t = first_token(text);
        EXPECT_EQ(int(t.state), int(k.state)) << "'" << text << "'";
        EXPECT_EQ(token_text(t), k.token) << "'" << text << "'";
        EXPECT_EQ(t.type, tables::state_type[t.state]) << "'" << text << "'";
    }
}

TEST(LexerScan, Numbers) {
    check_cases({
        {"123", F_INTEGER, "123"},
        {"0 ", F_INTEGER, "0"},
        {"-1]", F_INTEGER, "-1"},
        {"+7", F_INTEGER, "+7"},
        {"1'000'000", F_INTEGER, "1'000'000"},
        {"12345678901", F_INTEGER, "12345678901"},
        {"1.5", F_FLOAT, "1.5"},
        {"1.", F_FLOAT, "1."},
        {".5", F_FLOAT, ".5"},
        {"-.5", F_FLOAT, "-.5"},
        {"+.5)", F_FLOAT, "+.5"},
        {"1e10", F_FLOAT, "1e10"},
        {"1E-5", F_FLOAT, "1E-5"},
        {"1.5e+3", F_FLOAT, "1.5e+3"},
        {"1,5", F_FLOAT, "1,5"},
        {"1.#INF", F_SPECIAL_FLOAT, "1.#INF"},
        {"-1.#INF", F_SPECIAL_FLOAT, "-1.#INF"},
        {"1.#NaN ", F_SPECIAL_FLOAT, "1.#NaN"},
        {"10%", F_PERCENT, "10"},
        {"1.5% ", F_PERCENT, "1.5"},
        {"-.5%", F_PERCENT, "-.5"},
        {"1e2%", F_PERCENT, "1e2"},
        {"$1", F_MONEY, "$1"},
        {"$1.50", F_MONEY, "$1.50"},
        {"$1,50", F_MONEY, "$1,50"},
        {"-$1.5", F_MONEY, "-$1.5"},
        {"USD$1'000.50", F_MONEY, "USD$1'000.50"},
        {"EUR$2", F_MONEY, "EUR$2"},
        {"-CAD$2", F_MONEY, "-CAD$2"},
        {"1x2", F_PAIR, "1x2"},
        {"-1x-2", F_PAIR, "-1x-2"},
        {"10X20]", F_PAIR, "10X20"},
        {"1x-", F_PAIR, "1x-"},  // a bare sign: the loader's invalid pair!
        {"1.2.3", F_TUPLE, "1.2.3"},
        {"255.255.255.0", F_TUPLE, "255.255.255.0"},
        {"1.2.3.4.5.6.7.8.9.10.11.12", F_TUPLE, "1.2.3.4.5.6.7.8.9.10.11.12"},
        {"10:20", F_TIME, "10:20"},
        {"10:20:30.5", F_TIME, "10:20:30.5"},
        {"-1:30", F_TIME, "-1:30"},
        {"0:0:0,5", F_TIME, "0:0:0,5"},
        {"FFh", F_HEX, "FFh"},
        {"0FFh", F_HEX, "0FFh"},
        {"12345678h", F_HEX, "12345678h"},
        {"ABCDEFh", F_HEX, "ABCDEFh"},
        {"1Eh", F_HEX, "1Eh"},
        {"12h", F_HEX, "12h"},
        {"Ah", F_HEX, "Ah"},  // a single hex letter: the loader's invalid word!
    });
}

TEST(LexerScan, Dates) {
    check_cases({
        {"2024-02-29", F_DATE, "2024-02-29"},
        {"29-Feb-2024", F_DATE, "29-Feb-2024"},
        {"29/feb/2024", F_DATE, "29/feb/2024"},
        {"1-Jan-99", F_DATE, "1-Jan-99"},
        {"1-Jan-2024/10:20:30.5+5:30", F_DATE, "1-Jan-2024/10:20:30.5+5:30"},
        {"20240131T120000Z", F_DATE, "20240131T120000Z"},
        {"20240131T120000+0100", F_DATE, "20240131T120000+0100"},
        {"2024-W01", F_DATE, "2024-W01"},
        {"2024-W01-1T10:00", F_DATE, "2024-W01-1T10:00"},
        {"2024-032", F_DATE, "2024-032"},
        {"1/1/2000 x", F_DATE, "1/1/2000"},
        {"-44-Mar-15]", F_DATE, "-44-Mar-15"},
        {"2024-01-01T10:00:00-05:00", F_DATE, "2024-01-01T10:00:00-05:00"},
    });
}

TEST(LexerScan, WordsAndWordForms) {
    check_cases({
        {"abc", F_WORD, "abc"},
        {"a-b c", F_WORD, "a-b"},
        {"integer!", F_WORD, "integer!"},
        {"empty?", F_WORD, "empty?"},
        {"+", F_WORD, "+"},
        {"- 1", F_WORD, "-"},
        {"-a", F_WORD, "-a"},
        {"--", F_WORD, "--"},
        {"*", F_WORD, "*"},
        {"**", F_WORD, "**"},
        {"<", F_WORD, "<"},
        {"< 2", F_WORD, "<"},
        {"<=", F_WORD, "<="},
        {"<>", F_WORD, "<>"},
        {"<<", F_WORD, "<<"},
        {">", F_WORD, ">"},
        {">=", F_WORD, ">="},
        {">>>", F_WORD, ">>>"},
        {"->", F_WORD, "->"},
        {"=", F_WORD, "="},
        {"==", F_WORD, "=="},
        {"=?", F_WORD, "=?"},
        {"=<", F_WORD, "=<"},
        {"%", F_WORD, "%"},
        {"% 2", F_WORD, "%"},
        {".", F_WORD, "."},
        {"...", F_WORD, "..."},
        {".foo", F_WORD, ".foo"},
        {"a.b", F_WORD, "a.b"},
        {"^a", F_WORD, "^a"},
        {"it's", F_WORD, "it's"},
        {"FF", F_WORD, "FF"},
        {"Apple", F_WORD, "Apple"},
        {"E", F_WORD, "E"},
        {"e", F_WORD, "e"},
        {"x", F_WORD, "x"},
        {"T", F_WORD, "T"},
        {"h", F_WORD, "h"},
        {"Ahx", F_WORD, "Ahx"},
        {"FFhh1(", F_WORD, "FFhh1"},
        {"a[", F_WORD, "a"},
        {"a\"s\"", F_WORD, "a"},
        {"a;c", F_WORD, "a"},
        {"a<b>", F_WORD, "a"},
        {"a,b", F_WORD, "a"},
        {"caf\xC3\xA9", F_WORD, "caf\xC3\xA9"},
        {"\xC3\xA9t\xC3\xA9", F_WORD, "\xC3\xA9t\xC3\xA9"},
        {"a:", F_WORD, "a:"},
        {"a: 1", F_WORD, "a:"},
        {"a:[", F_WORD, "a:"},
        {":a", F_WORD, ":a"},
        {"'a", F_WORD, "'a"},
        {"'+", F_WORD, "'+"},
        {"'<", F_WORD, "'<"},
        {"'=", F_WORD, "'="},
        {"/a", F_REFINEMENT, "/a"},
        {"/local", F_REFINEMENT, "/local"},
        {"/", F_REFINEMENT, "/"},
        {"/ 2", F_REFINEMENT, "/"},
        {"//", F_REFINEMENT, "//"},
        {"/:", F_REFINEMENT, "/:"},
        {"'/", F_REFINEMENT, "'/"},
        {":/", F_REFINEMENT, ":/"},
        {"/1", F_REFINEMENT, "/1"},
        {"#a", F_ISSUE, "#a"},
        {"#1.2.3", F_ISSUE, "#1.2.3"},
        {"#a@b$c", F_ISSUE, "#a@b$c"},
        {"#", F_ISSUE, "#"},            // the issue scanner refuses a lone #
        {"12#abc", F_ISSUE, "12#abc"},  // and a token that does not start with #
        {"@a", F_REF, "@a"},
        {"@a/b", F_REF, "@a/b"},
        {"@", F_REF, "@"},
    });
}

TEST(LexerScan, StringLikeForms) {
    check_cases({
        {"\"abc\"", F_STRING, "\"abc"},
        {"\"a^\"b\" x", F_STRING, "\"a^\"b"},
        {"\"\"", F_STRING, "\""},
        {"%a.txt", F_FILE, "%a.txt"},
        {"%/home/ann/x.kiv]", F_FILE, "%/home/ann/x.kiv"},
        {"%a%20b", F_FILE, "%a%20b"},
        {"%\"a b\"", F_FILE, "%\"a b"},
        {"%%", F_FILE, "%%"},
        {"%{a}b}%", F_RAW_STRING, "%{a}b}%"},
        {"%{a\nb}% x", F_RAW_STRING, "%{a\nb}%"},
        {"%%{a}%b}%%", F_RAW_STRING, "%%{a}%b}%%"},
        {"http://x.com/a?b=1&c#d", F_URL, "http://x.com/a?b=1&c#d"},
        {"mailto:a@b.c", F_URL, "mailto:a@b.c"},
        {"a:b", F_URL, "a:b"},
        {"ftp://a,b x", F_URL, "ftp://a,b"},
        {"'a:b", F_URL, "'a:b"},  // the url loader raises invalid lit-word!
        {"a@b.com", F_EMAIL, "a@b.com"},
        {"john.doe@x.org]", F_EMAIL, "john.doe@x.org"},
        {"123@x.org", F_EMAIL, "123@x.org"},
        {"a@", F_EMAIL, "a@"},  // the email loader refuses an empty domain
        {"<a>", F_TAG, "<a"},
        {"<a href=\"x>y\">", F_TAG, "<a href=\"x>y\""},
        {"</p>", F_TAG, "</p"},
        {"<!-- c -->", F_TAG, "<!-- c --"},
        {"<a\nb>", F_TAG, "<a\nb"},
        {"#{0A 0b}", F_BINARY, "#{0A 0b"},
        {"#{}", F_BINARY, "#{"},
        {"2#{00001111}", F_BINARY, "2#{00001111"},
        {"16#{FF}", F_BINARY, "16#{FF"},
        {"64#{QQ==}", F_BINARY, "64#{QQ=="},
        {"#{ab ; a } in a comment\ncd}", F_BINARY, "#{ab ; a } in a comment\ncd"},
        {"#\"a\"", F_CHAR, "#\"a"},
        {"#\"^\"\"", F_CHAR, "#\"^\""},
        {"#\"^(line)\"", F_CHAR, "#\"^(line)"},
        {"#\"\xC3\xA9\"", F_CHAR, "#\"\xC3\xA9"},
    });
}

TEST(LexerScan, StructuralTokens) {
    check_cases({
        {"", F_END, ""},
        {"   ", F_END, ""},
        {"\n\t\r \n", F_END, ""},
        {"\x01\x0C ", F_END, ""},  // control bytes are skipped like blanks
        {"[", F_BLOCK_OPEN, ""},
        {" ]", F_BLOCK_CLOSE, ""},
        {"(", F_PAREN_OPEN, ""},
        {")", F_PAREN_CLOSE, ""},
        {"{x}", F_BRACE_OPEN, ""},
        {"#[a 1]", F_MAP_OPEN, "#"},
        {"a/b", F_PATH, "a"},
        {"'a/b", F_PATH, "'a"},
        {":a/b", F_PATH, ":a"},
        {"#(none)", F_CONSTRUCT, "#(none"},
        {"#(a\nb)", F_CONSTRUCT, "#(a\nb"},
        {"; note\nx", F_COMMENT, "; note"},
        {"; at the end", F_COMMENT, "; at the end"},
        {",", F_COMMA, ""},
    });
}

TEST(LexerScan, NulEndsTheInput) {
    const std::string text("ab\0cd", 5);
    Cursor c;
    c.pos = bytes(text);
    c.end = c.pos + text.size();
    Token t;
    scan_token(c, t);
    EXPECT_EQ(t.state, F_WORD);
    scan_token(c, t);
    EXPECT_EQ(t.state, F_END);
    EXPECT_EQ(t.end - bytes(text), 2);
}

// Errors: the machine stops in state 67 and the state before it names the
// datatype in error (none: a bad character).
TEST(LexerScan, Errors) {
    struct ErrorCase {
        const char* text;
        uint8_t type;
    };
    const ErrorCase cases[] = {
        {"}", 0},
        {"\\", 0},
        {"\xC0", 0},
        {"\xFF", 0},
        {"\x80", 0},
        {"\"abc", TYPE_STRING},
        {"\"a\nb\"", TYPE_STRING},
        {"\"a^", TYPE_STRING},
        {"#{ab", TYPE_BINARY},
        {"#{a{b}", TYPE_BINARY},
        {"#\"a", TYPE_CHAR},
        {"#\"a\n\"", TYPE_CHAR},
        {"<a", TYPE_TAG},
        {"<a \"b>", TYPE_TAG},
        {"%{a}", TYPE_STRING},
        {"%{a}%b", TYPE_STRING},
        {"%\"a", TYPE_FILE},
        {"#(none", 0},
        {"1a", TYPE_INTEGER},
        {"1+", TYPE_INTEGER},
        {"0abh", TYPE_INTEGER},
        {"1A", TYPE_INTEGER},
        {"1.5.a", TYPE_TUPLE},
        {"1.e5", TYPE_FLOAT},
        {"1.5e5x", TYPE_FLOAT},
        {"1.#INF.", TYPE_FLOAT},
        {"a#b", TYPE_WORD},
        {"a}", TYPE_WORD},
        {"a\\b", TYPE_WORD},
        {"abc\xC1", TYPE_WORD},
        {"a\x01", TYPE_WORD},
        {"1x", TYPE_PAIR},
        {"1x2x3", TYPE_PAIR},
        {"$", TYPE_MONEY},
        {"$'1", TYPE_MONEY},
        {"$1.'5", TYPE_MONEY},
        {"$1/2", TYPE_MONEY},
        {"1:", TYPE_TIME},
        {"1:2:", TYPE_TIME},
        {"'1", TYPE_WORD},
        {"::", TYPE_WORD},
        {"'", TYPE_WORD},
        {":", TYPE_WORD},
        {"#a:b", TYPE_ISSUE},
        {"##", TYPE_ISSUE},
        {"/a/b", TYPE_REFINEMENT},
        {"/a:", TYPE_REFINEMENT},
        {"///", TYPE_WORD},
        {"12hx", TYPE_INTEGER},
        {"a@b@c", TYPE_EMAIL},
        {"a:}", TYPE_SET_WORD},
    };
    for (const ErrorCase& k : cases) {
        const std::string text = k.text;
        const Token t = first_token(text);
        EXPECT_EQ(t.state, F_ERROR) << "'" << text << "'";
        EXPECT_EQ(t.error_type(), k.type) << "'" << text << "' stopped in state " << int(t.previous);
    }
}

TEST(LexerScan, PathElementsFromThePathState) {
    struct PathCase {
        const char* text;
        uint8_t state;
        const char* token;
        uint8_t element_type;  // datatype of the state before the final one
    };
    const PathCase cases[] = {
        {"b/c", F_PATH, "b", TYPE_WORD},      {"b ", F_WORD, "b", TYPE_WORD},
        {"1/c", F_PATH, "1", TYPE_INTEGER},   {"12]", F_INTEGER, "12", TYPE_INTEGER},
        {"-1/", F_PATH, "-1", TYPE_INTEGER},  {"-a", F_WORD, "-a", TYPE_WORD},
        {"'b/", F_PATH, "'b", TYPE_WORD},     {":b", F_WORD, ":b", TYPE_WORD},
        {"#b/", F_PATH, "#b", TYPE_ISSUE},    {"$1 ", F_MONEY, "$1", TYPE_MONEY},
        {"b: 1", F_WORD, "b:", TYPE_WORD},    {"1: 1", F_WORD, "1:", TYPE_WORD},
        {"(b)", F_PAREN_OPEN, "", TYPE_PATH},
    };
    for (const PathCase& k : cases) {
        const std::string text = k.text;
        const Token t = first_token(text, S_PATH);
        EXPECT_EQ(t.state, k.state) << text;
        EXPECT_EQ(token_text(t), k.token) << text;
        EXPECT_EQ(tables::state_type[t.previous], k.element_type) << text;
    }
    for (const char* bad : {" b", "/b", "[b]", "\"b\"", "@b", "", "b@c", "1.5"}) {
        const Token t = first_token(bad, S_PATH);
        EXPECT_EQ(t.state, F_ERROR) << bad;
    }
}

TEST(LexerScan, PointBodyFromThePointState) {
    Token t = first_token("1, 2)", S_POINT);
    EXPECT_EQ(t.state, F_POINT);
    EXPECT_EQ(token_text(t), "1, 2");
    t = first_token("-1.5e3, 1.#INF, +.5)", S_POINT);
    EXPECT_EQ(t.state, F_POINT);
    t = first_token("1, 2\n)", S_POINT);
    EXPECT_EQ(t.state, F_ERROR);
    EXPECT_EQ(t.error_type(), TYPE_POINT2D);
    t = first_token("1, 2", S_POINT);
    EXPECT_EQ(t.state, F_ERROR);
}

TEST(LexerScan, LinesAndFlags) {
    const std::string text = "a\n\n  b ; c\nd";
    Cursor c;
    c.pos = bytes(text);
    c.end = c.pos + text.size();
    Token t;
    scan_token(c, t);
    EXPECT_EQ(t.line, 1u);
    EXPECT_EQ(t.line_feeds, 0u);
    scan_token(c, t);
    EXPECT_EQ(token_text(t), "b");
    EXPECT_EQ(t.line, 3u);
    EXPECT_EQ(t.line_feeds, 2u);
    scan_token(c, t);
    EXPECT_EQ(t.state, F_COMMENT);
    scan_token(c, t);
    EXPECT_EQ(token_text(t), "d");
    EXPECT_EQ(t.line, 4u);
    EXPECT_EQ(t.line_feeds, 1u);
    EXPECT_EQ(c.line, 4u);

    // Flags: the OR over the bytes read, the byte that stopped the token included.
    t = first_token("1'000.5e3,");
    EXPECT_EQ(t.flags & flag::QUOTE, flag::QUOTE);
    EXPECT_EQ(t.flags & flag::DOT, flag::DOT);
    EXPECT_EQ(t.flags & flag::EXPONENT, flag::EXPONENT);
    EXPECT_EQ(t.flags & flag::COMMA, flag::COMMA);
    t = first_token("12%");
    EXPECT_EQ(t.flags, flag::PERCENT);
    t = first_token("\"a^b\xC3\xA9\xF0\x9F\x98\x80\"");
    EXPECT_EQ(t.flags, flag::CARET | flag::UTF8_2_3 | flag::UTF8_4);
    t = first_token("a:b");
    EXPECT_EQ(t.flags, flag::COLON);
}

TEST(LexerScan, UnicodeBlanksBeforeAToken) {
    struct BlankCase {
        const char* text;
        uint8_t state;
        const char* token;
    };
    const BlankCase cases[] = {
        {"\xC2\xA0"
         "abc",
         F_WORD, "abc"},
        {"\xC2\x85\xE3\x80\x80"
         "123",
         F_INTEGER, "123"},
        {"\xE2\x80\x8B\"s\"", F_STRING, "\"s"},
        {"\xE2\x80\xA8:a", F_WORD, ":a"},  // the rest is classified afresh: a get-word, not a url
        {"\xE1\x9A\x80\xE1\xA0\x8E\xE2\x80\xAF\xE2\x81\x9F"
         "x",
         F_WORD, "x"},
        {"\xC2\xA0"
         "a/b",
         F_PATH, "a"},
        {"\xC2\xA0"
         "a@b",
         F_EMAIL, "a@b"},
        {"\xC2\xA0}", F_ERROR, ""},  // the error is that of the byte after the blank
        {"\xC2\xA0", F_END, ""},
        {"\xC2\xA0\xC2\xA0 ", F_END, ""},
        {"\xC3\xA9\xC2\xA0", F_WORD, "\xC3\xA9\xC2\xA0"},  // only leading blanks are blanks
    };
    for (const BlankCase& k : cases) {
        const std::string text = k.text;
        const Token t = first_token(text);
        EXPECT_EQ(t.state, k.state) << text;
        EXPECT_EQ(token_text(t), k.token) << text;
    }
    // Every one of the 21 blanks, and a few neighbours that are not blanks.
    const uint32_t blanks[] = {0x85,   0xA0,   0x1680, 0x180E, 0x2000, 0x2001, 0x2002,
                               0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009,
                               0x200A, 0x200B, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
    for (uint32_t cp : blanks) EXPECT_TRUE(is_unicode_blank(cp)) << cp;
    for (uint32_t cp : {0x20u, 0x84u, 0x86u, 0xA1u, 0x1FFFu, 0x200Cu, 0x202Au, 0x3001u, 0xFEFFu})
        EXPECT_FALSE(is_unicode_blank(cp)) << cp;

    // Bytes that do not decode where the blanks are looked for: invalid word!.
    for (const char* bad : {"\xC3(", "\xE2\x80", "\xC2\xA0\xE0\x9F\x80x", "\xF4\x90\x80\x80"}) {
        const Token t = first_token(bad);
        EXPECT_EQ(t.state, F_ERROR) << bad;
        EXPECT_TRUE(t.bad_utf8) << bad;
    }
    // Inside a path a blank cannot start an element.
    const Token t = first_token(
        "\xC2\xA0"
        "b",
        S_PATH);
    EXPECT_EQ(t.state, F_ERROR);
    EXPECT_EQ(t.error_type(), TYPE_PATH);
}

// ---------------------------------------------------------------------------
// The scan-only walk: structure and full extents

TEST(LexerWalk, Sequences) {
    struct WalkCase {
        const char* text;
        const char* walk;
    };
    const WalkCase cases[] = {
        {"", "end"},
        {"[1 2]", "block( integer:1 integer:2 )block end"},
        {"[[a] (b)]", "block( block( word:a )block paren( word:b )paren )block end"},
        {"#[a 1]", "map( word:a integer:1 )map end"},
        {"\"a\" \"b c\"", "string:\"a\" string:\"b c\" end"},
        {"{a{b}c} x", "string:{a{b}c} word:x end"},
        {"{a^}b}", "string:{a^}b} end"},
        {"{}", "string:{} end"},
        {"<a> b", "tag:<a> word:b end"},
        {"10% x", "percent:10% word:x end"},
        {"#\"a\"#\"b\"", "char:#\"a\" char:#\"b\" end"},
        {"#{0A}", "binary:#{0A} end"},
        {"%{x}% %\"a b\" c", "string:%{x}% file:%\"a b\" word:c end"},
        {"#(none)", "none:#(none) end"},
        {"; c\n1", "integer:1 end"},
        {"a/b/c", "path( word:a word:b word:c )path end"},
        {"'a/b", "lit-path( word:a word:b )lit-path end"},
        {":a/b", "get-path( word:a word:b )get-path end"},
        {"a/b: 1", "path( word:a word:b: )set-path integer:1 end"},
        {"a/1/-1/#i/'q", "path( word:a integer:1 integer:-1 issue:#i word:'q )path end"},
        {"a/(b)/c", "path( word:a paren( word:b )paren word:c )path end"},
        {"a/(b): 1", "path( word:a paren( word:b )paren )set-path integer:1 end"},
        {"[a/b]", "block( path( word:a word:b )path )block end"},
        {"a/$1", "path( word:a money:$1 )path end"},
        {"(1, 2)", "point2D:(1, 2) end"},
        {"(1, 2, 3)", "point3D:(1, 2, 3) end"},
        {"(1 2)", "paren( integer:1 integer:2 )paren end"},
        {"(x, y)", "paren( word:x word:y )point2D end"},
        {"(x, y, z)", "paren( word:x word:y word:z )point3D end"},
        {"a/(1, 2)/b", "path( word:a point2D:(1, 2) word:b )path end"},
        {"a/(b/c)/d", "path( word:a paren( path( word:b word:c )path )paren word:d )path end"},
        {"a/(b)c", "path( word:a paren( word:b )paren )path word:c end"},
        {"\xC2\xA0[\xE3\x80\x80]", "block( )block end"},
    };
    for (const WalkCase& k : cases) EXPECT_EQ(walk(k.text), k.walk) << "'" << k.text << "'";
}

TEST(LexerWalk, Errors) {
    struct WalkCase {
        const char* text;
        const char* walk;
    };
    const WalkCase cases[] = {
        {"[1 2", "block( integer:1 integer:2 error:missing:]@4"},
        {"(1 2", "paren( integer:1 integer:2 error:missing:)@4"},
        {"[1)", "block( integer:1 error:missing:]@2"},
        {"(1]", "paren( integer:1 error:missing:)@2"},
        {"1 ]", "integer:1 error:missing:[@2"},
        {")", "error:missing:(@0"},
        {"}", "error:bad-char@0"},
        {"x \\y", "word:x error:bad-char@2"},
        {"{abc", "error:invalid:string@1"},
        {"\"abc", "error:invalid:string@0"},
        {"a/ b", "path( word:a error:invalid:path@2"},
        {"a/", "path( word:a error:invalid:path@2"},
        {"'a/b:", "lit-path( word:a word:b: error:invalid:lit-path@0"},
        {"a, 2", "word:a error:invalid:point2D@1"},
        {"1, 2", "float:1, integer:2 end"},  // a decimal comma: the float loader judges "1,"
        {"(1 [2])", "paren( integer:1 block( integer:2 )block )paren end"},
        {"(x, [2])", "paren( word:x error:invalid:point2D@4"},
        {"(x, y, z, w)", "paren( word:x word:y word:z word:w error:invalid:point3D@0"},
        {"(1, 2", "error:invalid:point2D@0"},
        {"(1 2 3", "error:invalid:point2D@0"},
        {"1a", "error:invalid:integer@0"},
        {"\xC3(", "error:invalid:word@0"},
    };
    for (const WalkCase& k : cases) EXPECT_EQ(walk(k.text), k.walk) << "'" << k.text << "'";
}

TEST(LexerWalk, NewLineMarkersAndLines) {
    const std::string text = "[a\n b\n\n; c\n d]";
    Walker w(bytes(text), bytes(text) + text.size());
    std::vector<std::pair<uint32_t, uint32_t>> seen;  // (line, line feeds before)
    for (;;) {
        const Item& it = w.next();
        if (it.event == Event::end || it.event == Event::error) break;
        if (it.event == Event::value) seen.emplace_back(it.line, it.line_feeds);
    }
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], std::make_pair(1u, 0u));
    EXPECT_EQ(seen[1], std::make_pair(2u, 1u));
    EXPECT_EQ(seen[2], std::make_pair(5u, 3u));
    EXPECT_EQ(w.line(), 5u);
}

TEST(LexerWalk, DeepNestingNeedsNoRecursion) {
    const int depth = 200000;
    std::string text(depth, '[');
    text += std::string(depth, ']');
    Walker w(bytes(text), bytes(text) + text.size());
    int opens = 0, closes = 0;
    for (;;) {
        const Item& it = w.next();
        if (it.event == Event::open) ++opens;
        if (it.event == Event::close) ++closes;
        if (it.event == Event::end || it.event == Event::error) {
            EXPECT_EQ(it.event, Event::end);
            break;
        }
    }
    EXPECT_EQ(opens, depth);
    EXPECT_EQ(closes, depth);
}

// Random and mutated input: the walk always ends (end or error) within a
// bounded number of items, and every extent lies inside the input.
TEST(LexerWalk, HostileInputAlwaysEnds) {
    std::mt19937 rng(12345);
    const std::string alphabet =
        "[](){}\"#':xThEeaF/\\<>=%,;@.$+-^ \n0123456789\x01\x7F\xC2\xA0\xC0\xFF\xE2\x80";
    for (int round = 0; round < 20000; ++round) {
        const size_t n = rng() % 40;
        std::string text;
        for (size_t i = 0; i < n; ++i) {
            text += (round & 1) ? char(rng() & 0xFF) : alphabet[rng() % alphabet.size()];
        }
        Walker w(bytes(text), bytes(text) + text.size());
        size_t items = 0;
        for (;;) {
            const Item& it = w.next();
            ASSERT_GE(it.start, bytes(text));
            ASSERT_LE(it.end, bytes(text) + text.size());
            ASSERT_LE(it.start, it.end);
            if (it.event == Event::end || it.event == Event::error) break;
            ASSERT_LT(++items, 2 * n + 4) << "no progress on '" << text << "'";
        }
    }
}

}  // namespace
