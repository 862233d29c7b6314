// The lexer's loaders and entry points: text to values (type and payload),
// text to syntax errors (id, arguments, near text), callbacks and their
// events, nested runs, the collector, the transcode worker, hostile input.
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/lexer_values.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/lexer.h"
#include "interp_support.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "test_support.h"

namespace kiv {
namespace {

class LexerLoad : public test::RuntimeTest {
  protected:
    static void SetUpTestSuite() {
        test::boot_runtime();
        lexer::init();
        default_invoker = lexer::invoke_callback;
    }
    void TearDown() override {
        lexer::invoke_callback = default_invoker;
        test::RuntimeTest::TearDown();
    }
    static lexer::CallbackInvoker default_invoker;
};
lexer::CallbackInvoker LexerLoad::default_invoker = nullptr;

// ---- Helpers ----------------------------------------------------------------------------------

Cell* push_text(const std::string& text) {
    Cell* s = stack::push(none::cell());
    string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), s, string::ENC_UTF8);
    return s;
}

Cell* push_binary(const std::string& bytes) {
    Cell* b = stack::push(none::cell());
    lexer::values::make_binary(b, uint32_t(bytes.size()));
    SeriesBuffer* buf = buffer_of(b->w2);
    std::memcpy(buf->head_ptr(), bytes.data(), bytes.size());
    buf->tail = buf->head + uint32_t(bytes.size());
    return b;
}

bool valid_utf8(const std::string& text) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
    const uint8_t* end = p + text.size();
    while (p < end) {
        uint32_t used = 1;
        if (*p >= 0x80 && unicode::check_utf8_char(p, uint32_t(end - p), &used) < 0) return false;
        p += used;
    }
    return true;
}

// Loads the text into a block (on the data stack): from a string! when the
// text is valid UTF-8, else from a binary!.
Cell load(const std::string& text, lexer::Options o = {}, uint32_t* consumed = nullptr) {
    Cell* in = valid_utf8(text) ? push_text(text) : push_binary(text);
    Cell* out = stack::push(unset::cell());
    uint32_t used = 0;
    lexer::load(out, in, -1, o, consumed ? consumed : &used);
    return *out;
}

std::vector<Cell> cells_of(const Cell& blk) {
    std::vector<Cell> out;
    const SeriesBuffer* b = buffer_of(blk.w2);
    for (const Cell* c = b->head_cell() + blk.w1; c < b->tail_cell(); ++c) out.push_back(*c);
    return out;
}

std::string num(double d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    return buf;
}

std::string describe(const Cell& v);

std::string describe_cells(const Cell& blk) {
    std::string s;
    for (const Cell& c : cells_of(blk)) {
        if (!s.empty()) s += ' ';
        if (c.new_line()) s += "\\n ";
        s += describe(c);
    }
    return s;
}

// A canonical text of a value: its datatype and payload.
std::string describe(const Cell& v) {
    switch (v.type()) {
        case TYPE_INTEGER:
            return "integer " + std::to_string(int32_t(v.w2));
        case TYPE_FLOAT:
            return "float " + num(v.get_f64());
        case TYPE_PERCENT:
            return "percent " + num(v.get_f64());
        case TYPE_TIME:
            return "time " + num(v.get_f64());
        case TYPE_CHAR:
            return "char " + std::to_string(v.w2);
        case TYPE_LOGIC:
            return v.w1 ? "true" : "false";
        case TYPE_NONE:
            return "none";
        case TYPE_UNSET:
            return "unset";
        case TYPE_DATATYPE:
            return std::string("datatype ") + datatype::names[v.w1].name;
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_REF: {
            const char* names[] = {"string", "file", "url"};
            std::string t = v.type() <= TYPE_URL     ? names[v.type() - TYPE_STRING]
                            : v.type() == TYPE_TAG   ? "tag"
                            : v.type() == TYPE_EMAIL ? "email"
                                                     : "ref";
            return t + " \"" + test::string_text(v) + "\"";
        }
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT:
        case TYPE_ISSUE: {
            const char* names[] = {"word", "set-word", "lit-word", "get-word", "refinement", "issue"};
            return std::string(names[v.type() - TYPE_WORD]) + " " + std::string(symbol::name_view(v.w2));
        }
        case TYPE_PAIR:
            return "pair " + std::to_string(int32_t(v.w2)) + "x" + std::to_string(int32_t(v.w3));
        case TYPE_POINT2D:
            return "point2D " + num(std::bit_cast<float>(v.w1)) + "," + num(std::bit_cast<float>(v.w2));
        case TYPE_POINT3D:
            return "point3D " + num(std::bit_cast<float>(v.w1)) + "," + num(std::bit_cast<float>(v.w2)) +
                   "," + num(std::bit_cast<float>(v.w3));
        case TYPE_TUPLE: {
            const uint32_t n = (v.header & header::TUPLE_LENGTH_MASK) >> header::TUPLE_LENGTH_SHIFT;
            uint8_t b[12];
            std::memcpy(b, &v.w1, 12);
            std::string s = "tuple ";
            for (uint32_t i = 0; i < n; ++i) s += (i ? "." : "") + std::to_string(b[i]);
            return s;
        }
        case TYPE_DATE: {
            using namespace lexer::values;
            const uint32_t w = v.w1;
            std::string s = "date " + std::to_string(date_year(w)) + "-" + std::to_string(date_month(w)) +
                            "-" + std::to_string(date_day(w));
            if (w & date_bits::TIME_FLAG) {
                const uint32_t z = w & date_bits::ZONE_MASK;
                s += " utc " + num(v.get_f64()) + " zone " + ((z & date_bits::ZONE_SIGN) ? "-" : "+") +
                     std::to_string((z >> 2) & 0xF) + "h" + std::to_string((z & 3) * 15);
            }
            return s;
        }
        case TYPE_MONEY: {
            std::string s = "money ";
            if (v.header & header::MONEY_SIGN) s += "-";
            if (v.w1 & 0xFF) s += "#" + std::to_string(v.w1 & 0xFF) + " ";
            for (uint32_t n = 1; n <= 22; ++n) {
                if (n == 18) s += ".";
                s += char('0' + lexer::values::money_digit(&v, n));
            }
            return s;
        }
        case TYPE_BINARY: {
            std::string s = "binary ";
            const SeriesBuffer* b = buffer_of(v.w2);
            for (const uint8_t* p = b->head_ptr() + v.w1; p < b->tail_ptr(); ++p) {
                char h[3];
                std::snprintf(h, sizeof h, "%02X", *p);
                s += h;
            }
            return s;
        }
        case TYPE_BLOCK:
            return "[" + describe_cells(v) + "]";
        case TYPE_PAREN:
            return "(" + describe_cells(v) + ")";
        case TYPE_PATH:
            return "path[" + describe_cells(v) + "]";
        case TYPE_LIT_PATH:
            return "lit-path[" + describe_cells(v) + "]";
        case TYPE_SET_PATH:
            return "set-path[" + describe_cells(v) + "]";
        case TYPE_GET_PATH:
            return "get-path[" + describe_cells(v) + "]";
        case TYPE_MAP:
            return "map[" + describe_cells(Cell{TYPE_BLOCK, 0, v.w2, 0}) + "]";
        default:
            return "type " + std::to_string(v.type());
    }
}

std::string loaded(const std::string& text) {
    try {
        return describe_cells(load(text));
    } catch (const RaisedError& e) {
        return "error " + e.category + " " + e.id;
    }
}

// ---- Values ---------------------------------------------------------------------------------

struct ValueCase {
    std::string text;
    std::string value;
};

void check_values(const std::vector<ValueCase>& cases) {
    for (const ValueCase& k : cases) EXPECT_EQ(loaded(k.text), k.value) << "text: " << k.text;
}

TEST_F(LexerLoad, Numbers) {
    check_values({
        {"0", "integer 0"},
        {"123 -45 +6", "integer 123 integer -45 integer 6"},
        {"1'000 1'000'000", "integer 1000 integer 1000000"},
        {"2147483647", "integer 2147483647"},
        {"-2147483648", "integer -2147483648"},
        {"2147483648", "float 2147483648"},
        {"12345678901", "float 12345678901"},
        {"00000000001", "float 1"},  // more than 10 digits read as a float
        {"1'000'000'000'000", "float 1000000000000"},
        {"1.5 .5 -.5 1. 1,5", "float 1.5 float 0.5 float -0.5 float 1 float 1.5"},
        {"1e3 1.5E-2 -2.5e+2", "float 1000 float 0.014999999999999999 float -250"},
        {"1.#INF -1.#INF", "float inf float -inf"},
        {"1.#NaN", "float nan"},
        {"50% 1.5% -.5% 1e2%",
         "percent 0.5 percent 0.014999999999999999 percent -0.0050000000000000001 percent 1"},
        {"1'000%", "percent 10"},
        {"FFh 0FFh 12h 7FFFFFFFh", "integer 255 integer 255 integer 18 integer 2147483647"},
        {"80000000h FFFFFFFFh 1E5h", "integer -2147483648 integer -1 integer 485"},
        {"1.2.3 255.255.255.0", "tuple 1.2.3 tuple 255.255.255.0"},
        {"1.2.3.4.5.6.7.8.9.10.11.12", "tuple 1.2.3.4.5.6.7.8.9.10.11.12"},
        {"1x2 -1x-2 10X20 1'000x2", "pair 1x2 pair -1x-2 pair 10x20 pair 1000x2"},
        {"10:20 1:02:03 -1:30", "time 37200 time 3723 time -5400"},
        {"0:0:1.5 0:0:0,25 100:00", "time 1.5 time 0.25 time 360000"},
        {"$1 $1.50 -$1.5",
         "money 00000000000000001.00000 money 00000000000000001.50000 money "
         "-00000000000000001.50000"},
        {"USD$1'000.50 EUR$2", "money #155 00000000000001000.50000 money #47 00000000000000002.00000"},
        {"$12345678901234567", "money 12345678901234567.00000"},
        {"(1, 2)", "point2D 1,2"},
        {"(1.5, -2, 3e2)", "point3D 1.5,-2,300"},
        {"( 1 , 2 )", "point2D 1,2"},
        {"(1'000 , 2)", "point2D 1000,2"},       // a paren that a comma turns into a point
        {"(1'000, 2)", "error syntax invalid"},  // 1'000, is a float with a decimal comma
        {"(1.#INF, 0)", "point2D inf,0"},
    });
}

TEST_F(LexerLoad, TimeValuesAreSeconds) {
    EXPECT_EQ(loaded("10:20"), "time 37200");
    EXPECT_EQ(loaded("1:01:01"), "time 3661");
}

TEST_F(LexerLoad, WordsAndFriends) {
    check_values({
        {"abc a-b integer! empty?", "word abc word a-b word integer! word empty?"},
        {"a: 'a :a", "set-word a lit-word a get-word a"},
        {"+ - * ** < <= <> >> = == =? % .",
         "word + word - word * word ** word < word <= word <> word >> word = "
         "word == word =? word % word ."},
        {"caf\xC3\xA9 \xE2\x82\xAC", "word caf\xC3\xA9 word \xE2\x82\xAC"},
        {"/a /local / // /:", "refinement a refinement local word / word // set-word /"},
        {"'/ :/ '//", "lit-word / get-word / lit-word //"},
        {"#a #1.2.3 #a@b$c", "issue a issue 1.2.3 issue a@b$c"},
        {"\xC2\xA0x \xE3\x80\x80y", "word x word y"},  // leading Unicode blanks are blanks
        {"x\xE3\x80\x80y", "word x\xE3\x80\x80y"},     // ... inside a word they are word characters
        {"Ah0", "word Ah0"},
    });
}

TEST_F(LexerLoad, StringsAndTheStringLikeTypes) {
    check_values({
        {"\"abc\" \"\"", "string \"abc\" string \"\""},
        {"\"a^\"b^^c\"", "string \"a\"b^c\""},
        {"\"^-^/^@^~\"", "string \"\t\n" + std::string("\0", 1) + "\x7F\""},
        {"\"^a^Z^[\"", "string \"\x01\x1A\x1B\""},
        {"\"^(41)^(3A9)^(1F600)\"", "string \"A\xCE\xA9\xF0\x9F\x98\x80\""},
        {"\"^(line)^(TAB)^(esc)^(del)^(null)\"", "string \"\n\t\x1B\x7F" + std::string("\0", 1) + "\""},
        {"\"^\xC3\xA9\"", "string \"\xC3\xA9\""},
        {"{a{b}c}", "string \"a{b}c\""},
        {"{a\nb} x", "string \"a\nb\" word x"},
        {"{a^}b^{}", "string \"a}b{\""},
        {"%{a}b}% %%{x}%y}%%", "string \"a}b\" string \"x}%y\""},
        {"%{no ^ escapes}%", "string \"no ^ escapes\""},
        {"\"\xF0\x9F\x98\x80\xC3\xA9\"", "string \"\xF0\x9F\x98\x80\xC3\xA9\""},
        {"#\"a\" #\"^/\" #\"^(3A9)\" #\"\xC3\xA9\" #\"^\"\"", "char 97 char 10 char 937 char 233 char 34"},
        {"%a.txt %/home/ann/x.kiv", "file \"a.txt\" file \"/home/ann/x.kiv\""},
        {"%a%20b %a%C3%A9 %50%", "file \"a b\" file \"a\xC3\xA9\" file \"50%\""},
        {"%\"a b^/\" %%", "file \"a b\n\" file \"%\""},
        {"http://x.com/a?b=1 mailto:a@b.c", "url \"http://x.com/a?b=1\" url \"mailto:a@b.c\""},
        {"http://x.com/a%20b", "url \"http://x.com/a b\""},
        {"a@b.com john.doe@x.org", "email \"a@b.com\" email \"john.doe@x.org\""},
        {"<a> <a href=\"x>y\"> </p>", "tag \"a\" tag \"a href=\"x>y\"\" tag \"/p\""},
        {"@a @a/b", "ref \"a\" ref \"a/b\""},
    });
}

TEST_F(LexerLoad, BinariesInTheirBases) {
    check_values({
        {"#{0A 0b}", "binary 0A0B"},
        {"#{}", "binary "},
        {"#{0 A}", "binary 0A"},  // blanks between the two digits of a byte
        {"16#{FF00}", "binary FF00"},
        {"#{ab ; a } in a comment\ncd}", "binary ABCD"},
        {"64#{QUJD}", "binary 414243"},
        {"64#{QQ==}", "binary 41"},
        {"64#{QUI=}", "binary 4142"},
        {"64#{QQ=x junk after the padding}", "binary 41"},
        {"64#{Q U\nJ D}", "binary 414243"},
        {"2#{00001111 1010 1010}", "binary 0FAA"},
    });
}

TEST_F(LexerLoad, Dates) {
    // 2024-02-29 has day number 739310 (date_to_days); the utc time is the
    // local time less the zone.
    check_values({
        {"2024-02-29", "date 2024-2-29"},
        {"29-Feb-2024 29/feb/2024 29-february-2024", "date 2024-2-29 date 2024-2-29 date 2024-2-29"},
        {"1-Jan-99 1-Jan-49 1-Jan-0099 1-Jan-50", "date 1999-1-1 date 2049-1-1 date 99-1-1 date 1950-1-1"},
        {"15-Mar--44", "date -44-3-15"},
        {"2024-W01 2024-W01-1 2024-W01-7", "date 2024-1-1 date 2024-1-1 date 2024-1-7"},
        {"2021-W01", "date 2021-1-4"},
        {"2024-032 2024-366", "date 2024-2-1 date 2024-12-31"},
        {"20240131T120000Z", "date 2024-1-31 utc 43200 zone +0h0"},
        {"20240131T120000+0100", "date 2024-1-31 utc 39600 zone +1h0"},
        {"20240131T1200Z", "date 2024-1-31 utc 43200 zone +0h0"},
        {"1-Jan-2024/10:20:30.5+5:30", "date 2024-1-1 utc 17430.5 zone +5h30"},
        {"1-Jan-2024/10:20-0:30", "date 2024-1-1 utc 39000 zone -0h30"},
        {"2024-01-01T10:00:00-05:00", "date 2024-1-1 utc 54000 zone -5h0"},
        {"1/1/2000", "date 2000-1-1"},
        {"2024-W01T10:00", "date 2024-1-1 utc 36000 zone +0h0"},
    });
}

TEST_F(LexerLoad, ContainersPathsMapsAndConstructions) {
    check_values({
        {"[1 [2] (3)]", "[integer 1 [integer 2] (integer 3)]"},
        {"[]", "[]"},
        {"a/b/c", "path[word a word b word c]"},
        {"'a/b :a/b", "lit-path[word a word b] get-path[word a word b]"},
        {"a/b: 1", "set-path[word a word b] integer 1"},
        {"a/1/-1/#i/'q/:r", "path[word a integer 1 integer -1 issue i lit-word q get-word r]"},
        {"a/1: 2", "set-path[word a integer 1] integer 2"},
        {"a/(b)/c", "path[word a (word b) word c]"},
        {"a/(1, 2)/b", "path[word a point2D 1,2 word b]"},
        {"a/$1", "path[word a money 00000000000000001.00000]"},
        {"[a/b]", "[path[word a word b]]"},
        {"#[a 1 \"k\" 2]", "map[set-word a integer 1 string \"k\" integer 2]"},
        {"#[]", "map[]"},
        {"#(true) #(FALSE) #(none) #(unset)", "true false none unset"},
        {"#(integer!) #( block! )", "datatype integer! datatype block!"},
        {"; a comment\n1 ; another", "\\n integer 1"},
        {"1, 2", "float 1 integer 2"},
    });
}

TEST_F(LexerLoad, NewLineMarkers) {
    EXPECT_EQ(loaded("[a\n b\n\n; c\n d]"), "[word a \\n word b \\n word d]");
    EXPECT_EQ(loaded("a\n[b]\n{x\ny} c"), "word a \\n [word b] \\n string \"x\ny\" word c");
    EXPECT_EQ(loaded("\"a\" {x\ny} z"),
              "string \"a\" string \"x\ny\" word z");  // line feeds inside do not count
}

TEST_F(LexerLoad, NulEndsTheInput) {
    uint32_t consumed = 0;
    const Cell b = load(std::string("a b\0c d", 7), {}, &consumed);
    EXPECT_EQ(describe_cells(b), "word a word b");
    EXPECT_EQ(consumed, 7u);
}

// ---- Syntax errors ---------------------------------------------------------------------------

struct ErrorCase {
    const char* text;
    const char* id;
    const char* arg2;  // the datatype name (invalid) or the missing character (missing); "" otherwise
    const char* near;
    uint32_t line;
};

std::string arg_text(const Cell& c) {
    if (c.type() == TYPE_DATATYPE) return datatype::names[c.w1].name;
    if (c.type() == TYPE_STRING) return test::string_text(c);
    return "?";
}

void check_errors(const std::vector<ErrorCase>& cases) {
    for (const ErrorCase& k : cases) {
        try {
            load(k.text);
            ADD_FAILURE() << "no error for: " << k.text;
        } catch (const RaisedError& e) {
            EXPECT_EQ(e.category, "syntax") << k.text;
            EXPECT_EQ(e.id, k.id) << k.text;
            ASSERT_GE(e.arg_count, 2) << k.text;
            EXPECT_EQ(arg_text(e.args[0]), "(line " + std::to_string(k.line) + ")") << k.text;
            if (e.arg_count == 3) {
                EXPECT_EQ(arg_text(e.args[1]), k.arg2) << k.text;
                EXPECT_EQ(arg_text(e.args[2]), k.near) << k.text;
            } else {
                EXPECT_EQ(std::string(k.arg2), "") << k.text;
                EXPECT_EQ(arg_text(e.args[1]), k.near) << k.text;
            }
        }
        stack::reset_all();
    }
}

TEST_F(LexerLoad, SyntaxErrors) {
    check_errors({
        {"[1 2", "missing", "]", "", 1},
        {"(1 2", "missing", ")", "", 1},
        {"[1)", "missing", "]", ")", 1},
        {"(1]", "missing", ")", "]", 1},
        {"1 ]", "missing", "[", "]", 1},
        {")", "missing", "(", ")", 1},
        {"}", "bad-char", "", "}", 1},
        {"x \\y", "bad-char", "", "\\y", 1},
        {"a\n\n\xC0", "bad-char", "", "\xEF\xBF\xBD", 3},
        {"\"abc", "invalid", "string!", "\"abc", 1},
        {"\"a\nb\"", "invalid", "string!", "\"a", 1},
        {"{abc", "invalid", "string!", "abc", 1},
        {"#{ABC}", "invalid", "binary!", "}", 1},
        {"#{0G}", "invalid", "binary!", "G}", 1},
        {"2#{00001111 1}", "invalid", "binary!", "}", 1},
        {"64#{QUJ}", "invalid", "binary!", "}", 1},
        {"64#{Q=}", "invalid", "binary!", "}", 1},
        {"8#{00}", "invalid", "binary!", "8#{00}", 1},
        {"1''000", "invalid", "integer!", "1''000", 1},
        {"1'000.5", "invalid", "float!", "1'000.5", 1},
        {"1a", "invalid", "integer!", "1a", 1},
        {"1h", "invalid", "integer!", "1h", 1},
        {"Ah", "invalid", "word!", "Ah", 1},
        {"123456789h", "invalid", "integer!", "123456789h", 1},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", "invalid", "tuple!", "1.2.3.4.5.6.7.8.9.10.11.12.13", 1},
        {"1.2.256", "invalid", "tuple!", "1.2.256", 1},
        {"1x-", "invalid", "pair!", "1x-", 1},
        {"1.5x2", "invalid", "pair!", "1.5x2", 1},
        {"1:2.5", "invalid", "time!", "1:2.5", 1},
        {"US$1", "invalid", "money!", "US$1", 1},
        {"XYZ$1", "invalid", "money!", "XYZ$1", 1},
        {"$123456789012345678", "invalid", "money!", "$123456789012345678", 1},
        {"$1.123456", "invalid", "money!", "$1.123456", 1},
        {"2023-02-29", "invalid", "date!", "2023-02-29", 1},
        {"2024-W01-8", "invalid", "date!", "2024-W01-8", 1},
        {"2024-000", "invalid", "date!", "2024-000", 1},
        {"20240131T12", "invalid", "date!", "20240131T12", 1},
        {"1-Jan-2024/10:20+16", "invalid", "date!", "1-Jan-2024/10:20+16", 1},
        {"1-Jan-2024/24:00", "invalid", "date!", "1-Jan-2024/24:00", 1},
        {"1-Foo-2024", "invalid", "date!", "1-Foo-2024", 1},
        {"1-Ja-2024", "invalid", "date!", "1-Ja-2024", 1},
        {"31-Apr-2024", "invalid", "date!", "31-Apr-2024", 1},
        {"1-Jan-2024/1:00+1:75", "invalid", "date!", "1-Jan-2024/1:00+1:75", 1},
        {"#\"\"", "invalid", "char!", "#\"\"", 1},
        {"#\"ab\"", "invalid", "char!", "#\"ab\"", 1},
        {"#\"^(110000)\"", "invalid", "char!", "#\"^(110000)\"", 1},
        {"\"^(1234567)\"", "invalid", "string!", "\"^(1234567)\"", 1},
        {"\"^(12\"", "invalid", "string!", "\"^(12\"", 1},
        {"'a:", "invalid", "lit-word!", "'a:", 1},
        {"'a:b", "invalid", "lit-word!", "'a:b", 1},
        {":a:b", "invalid", "get-word!", ":a:b", 1},
        {"'/a", "invalid", "refinement!", "'/a", 1},
        {"#", "invalid", "issue!", "#", 1},
        {"12#abc", "invalid", "issue!", "12#abc", 1},
        {"a@", "invalid", "email!", "a@", 1},
        {"%{a}%%", "invalid", "string!", "%{a}%%", 1},
        {"#(foo)", "malconstruct", "", "#(foo)", 1},
        {"#(none x)", "malconstruct", "", "#(none x)", 1},
        {"#[a]", "invalid", "map!", "#[a]", 1},
        {"#[[1] 2]", "invalid", "map!", "#[[1] 2]", 1},
        {"a, 2", "invalid", "point2D!", ", 2", 1},
        {"(1, 2", "invalid", "point2D!", "(1, 2", 1},
        {"(1, a)", "invalid", "float!", "a)", 1},
    });
}

TEST_F(LexerLoad, PointErrors) {
    check_errors({
        {"(1 2, 3)", "invalid", "point2D!", "(1 2, 3)", 1},
        {"(1, 2, 3, 4)", "invalid", "point3D!", "(1, 2, 3, 4)", 1},
        {"(x, y)", "invalid", "point2D!", "(x, y)", 1},
        {"(x, [2])", "invalid", "point2D!", "[2])", 1},
        {"(1'0 , 2 , 3 , 4)", "invalid", "point3D!", "(1'0 , 2 , 3 , 4)", 1},
        {"a/ b", "invalid", "path!", " b", 1},
        {"'a/b:", "invalid", "lit-path!", "'a/b:", 1},
        {"\xC3(", "invalid", "word!", "\xEF\xBF\xBD(", 1},
    });
}

TEST_F(LexerLoad, LineTextsCountLineFeeds) {
    check_errors({
        {"a\nb\n\"c", "invalid", "string!", "\"c", 3},
        {"[\n1\n2", "missing", "]", "", 3},
        {"x\r\n}", "bad-char", "", "}", 2},
    });
}

// The near text: at most 30 bytes, never across a line feed, never through
// the middle of a character.
TEST_F(LexerLoad, NearTextsAreCutAtCharacterBoundaries) {
    // 29 ASCII bytes then a 2-byte character: 31 bytes would be needed.
    std::string text = "\"" + std::string(28, 'a') + "\xC3\xA9" + "bbbb";
    try {
        load(text);
        FAIL();
    } catch (const RaisedError& e) {
        EXPECT_EQ(arg_text(e.args[2]), "\"" + std::string(28, 'a'));
    }
    stack::reset_all();
    // A 4-byte character across the cut.
    text = "\"" + std::string(27, 'a') + "\xF0\x9F\x98\x80" + "bb";
    try {
        load(text);
        FAIL();
    } catch (const RaisedError& e) {
        EXPECT_EQ(arg_text(e.args[2]), "\"" + std::string(27, 'a'));
    }
    stack::reset_all();
    // Exactly 30 bytes ending with a whole character: kept.
    text = "\"" + std::string(27, 'a') + "\xC3\xA9" + "bbbb";
    try {
        load(text);
        FAIL();
    } catch (const RaisedError& e) {
        EXPECT_EQ(arg_text(e.args[2]), "\"" + std::string(27, 'a') + "\xC3\xA9");
    }
    stack::reset_all();
    // A line feed ends the near text.
    try {
        load("#{0G\n00}");
        FAIL();
    } catch (const RaisedError& e) {
        EXPECT_EQ(arg_text(e.args[2]), "G");
    }
}

// Loading with the collector on (at every allocation in a GC-torture build)
// gives the same values as loading with it off: no value is left
// unreachable while the lexer allocates.
TEST_F(LexerLoad, LoadsTheSameWithTheCollectorOn) {
    const std::string text =
        "[a b: 'c :d /e #f \"str^(3A9)\" {br{a}ce} %{raw}% %file%20x %\"q f\" http://u/%41 a@b.c <t> @r]\n"
        "(1 2.5 50% 1.2.3 3x4 10:20 $1.50 USD$2 FFh (1, 2) (1, 2, 3) #\"c\" #{0A0B} 64#{QQ==} 2#{00001111})\n"
        "#[k 1 \"s\" [2]] a/b/(c d)/#e x/y: 2024-02-29 1-Jan-2024/10:20:30+5:30 2024-W01-1 #(none) #(block!)";
    std::string expected;
    for (int i = 0; i < 20; ++i) expected += describe(load(text)) + "\n";
    collector::init();
    const uint32_t cycles = collector::cycle_count();
    memory::collection_enabled = true;
    std::string got;
    for (int i = 0; i < 20; ++i) {
        got += describe(load(text)) + "\n";
        collector::collect();
    }
    memory::collection_enabled = false;
    EXPECT_EQ(got, expected);
    EXPECT_GT(collector::cycle_count(), cycles);
}

// ---- Hostile input ---------------------------------------------------------------------------

TEST_F(LexerLoad, DeepNestingLoadsWithoutRecursion) {
#ifdef KIV_GC_TORTURE
    // Every allocation collects and marks the whole nesting built so far:
    // quadratic, so a smaller depth (still far past any recursion limit
    // that matters here).
    const int depth = 5000;
#else
    const int depth = 100000;
#endif
    std::string text(depth, '[');
    text += "1";
    text += std::string(depth, ']');
    Cell b = load(text);
    int levels = 0;
    while (b.type() == TYPE_BLOCK) {
        const std::vector<Cell> c = cells_of(b);
        ASSERT_EQ(c.size(), 1u);
        b = c[0];
        ++levels;
    }
    EXPECT_EQ(levels, depth + 1);
    EXPECT_EQ(describe(b), "integer 1");
    // Unbalanced deep nesting is a syntax error, not a crash.
    try {
        load(std::string(depth, '(') + std::string(depth - 1, ')'));
        FAIL();
    } catch (const RaisedError& e) {
        EXPECT_EQ(e.id, "missing");
    }
}

TEST_F(LexerLoad, HugeLiterals) {
    const std::string digits(5000, '7');
    EXPECT_EQ(loaded(digits), "error syntax invalid");  // too long even for a float
    const std::string s = "\"" + std::string(300000, 'x') + "\"";
    const Cell b = load(s);
    EXPECT_EQ(string::length_from_head(&cells_of(b)[0]), 300000u);
    const std::string word(70000, 'w');
    EXPECT_EQ(cells_of(load(word))[0].type(), uint32_t(TYPE_WORD));
}

TEST_F(LexerLoad, RandomInputEndsInValuesOrSyntaxErrors) {
    std::mt19937 rng(20240229);
    const std::string alphabet =
        "[](){}\"#':xThEeaF/\\<>=%,;@.$+-^ \n0123456789\x01\x7F\xC2\xA0\xC0\xFF\xE2\x80\xF0\x9F\x98\x80Wz";
    for (int round = 0; round < 30000; ++round) {
        const size_t n = rng() % 48;
        std::string text;
        for (size_t i = 0; i < n; ++i) {
            text += (round % 3 == 0) ? char(rng() & 0xFF) : alphabet[rng() % alphabet.size()];
        }
        try {
            load(text);
        } catch (const RaisedError& e) {
            ASSERT_EQ(e.category, "syntax") << "'" << text << "': " << e.id;
        }
        ASSERT_EQ(lexer::live_runs(), 0u);
        stack::reset_all();
    }
}

// ---- Input kinds and buffer sizes --------------------------------------------------------------

// Strings of 2- and 4-byte units take up to 3 and 4 UTF-8 bytes per
// character: the text copy must hold all of them, also above the size of
// the shared text buffer.
TEST_F(LexerLoad, WideStringInputIsConvertedWhole) {
    std::string euro;
    for (int i = 0; i < 40000; ++i) euro += "\xE2\x82\xAC ";  // 160,000 bytes of UTF-8, 80,000 characters
    const Cell b = load(euro);
    const std::vector<Cell> v = cells_of(b);
    ASSERT_EQ(v.size(), 40000u);
    EXPECT_EQ(describe(v.back()), "word \xE2\x82\xAC");

    std::string faces;
    for (int i = 0; i < 30000; ++i) faces += "\xF0\x9F\x98\x80 ";
    EXPECT_EQ(cells_of(load(faces)).size(), 30000u);

    // Latin-1 text in 1-byte units: two UTF-8 bytes per character above 127.
    std::string latin;
    for (int i = 0; i < 60000; ++i) latin += "\xC3\xA9 ";
    Cell* in = push_text(latin);
    EXPECT_EQ(buffer_of(in->w2)->unit(), 1u);
    EXPECT_EQ(cells_of(load(latin)).size(), 60000u);

    // A string with 4-byte units holding only ASCII after a wide character.
    const Cell w = load("\"\xF0\x9F\x98\x80\" abc");
    EXPECT_EQ(describe_cells(w), "string \"\xF0\x9F\x98\x80\" word abc");
}

TEST_F(LexerLoad, BinaryInputAndPartialLengths) {
    Cell* bin = push_binary("1 2 3");
    Cell* out = stack::push(unset::cell());
    uint32_t consumed = 0;
    lexer::load(out, bin, 3, {}, &consumed);
    EXPECT_EQ(describe(*out), "[integer 1 integer 2]");
    EXPECT_EQ(consumed, 3u);
    // Consumed counts characters for strings.
    Cell* s = push_text("\xC3\xA9t\xC3\xA9 x");
    bin = stack::push(unset::cell());
    lexer::Options o;
    o.one = true;
    lexer::load(bin, s, -1, o, &consumed);
    EXPECT_EQ(describe(*bin), "word \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(consumed, 3u);
}

// ---- Scan modes ----------------------------------------------------------------------------------

int32_t scan_text(const std::string& text, bool prescan) {
    Cell* in = push_text(text);
    Cell* out = stack::push(unset::cell());
    lexer::Options o;
    o.one = true;
    if (prescan)
        o.scan = false;
    else
        o.load = false;
    return lexer::load(out, in, -1, o, nullptr);
}

TEST_F(LexerLoad, ScanAndPrescanClassify) {
    struct Case {
        const char* text;
        int32_t scan;
        int32_t prescan;
    } cases[] = {
        {"", 0, 0},
        {"abc", TYPE_WORD, TYPE_WORD},
        {"a: 1", TYPE_SET_WORD, TYPE_SET_WORD},
        {"'a", TYPE_LIT_WORD, TYPE_LIT_WORD},
        {"[1 2] 3", TYPE_BLOCK, TYPE_BLOCK},
        {"; c\n12", TYPE_INTEGER, TYPE_INTEGER},
        {"a/b", TYPE_PATH, TYPE_PATH},
        {"a/b: 1", TYPE_SET_PATH, TYPE_PATH},
        {"(1, 2)", TYPE_POINT2D, TYPE_POINT2D},
        {"2023-02-29", TYPE_DATE, TYPE_DATE},  // classified, not checked
        {"[1 2", -int32_t(TYPE_ERROR), TYPE_BLOCK},
        {"\"abc", -int32_t(TYPE_STRING), -int32_t(TYPE_STRING)},
        {"}", -int32_t(TYPE_ERROR), -int32_t(TYPE_ERROR)},
        {"FFh", TYPE_INTEGER, TYPE_INTEGER},
        {"/", TYPE_WORD, TYPE_WORD},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(scan_text(k.text, false), k.scan) << k.text;
        EXPECT_EQ(scan_text(k.text, true), k.prescan) << k.text;
    }
}

// ---- Callbacks -----------------------------------------------------------------------------------

struct Event {
    std::string word;
    std::string type;
    uint32_t line;
    std::string token;
    uint32_t index;
};
std::vector<Event> events;
// Test knobs of the fake callback.
std::string refuse_event;      // answer false for this event word
std::string refuse_type;       // ... only when the type is this (empty: any)
int32_t move_by = 0;           // move the input index by this much when refusing
bool collect_on_load = false;  // run a collection at every load event
int nested_at_load = -1;       // start a nested load at the Nth load event
int nested_count = 0;          // values the nested load made
std::vector<std::string> nested_results;

std::string type_text(const Cell& t) {
    if (t.type() == TYPE_DATATYPE) return datatype::names[t.w1].name;
    if (t.type() == TYPE_WORD) return std::string(symbol::name_view(t.w2));
    return "none";
}

Unwind fake_callback(const Cell* callback, Cell* args, bool* go_on) {
    (void)callback;
    Event e;
    e.word = std::string(symbol::name_view(args[0].w2));
    e.type = type_text(args[2]);
    e.line = args[3].w2;
    e.token = args[4].type() == TYPE_PAIR
                  ? std::to_string(int32_t(args[4].w2)) + "x" + std::to_string(int32_t(args[4].w3))
                  : describe(args[4]);
    e.index = args[1].w1;
    events.push_back(e);
    if (e.word == "load" && collect_on_load) collector::collect();
    if (e.word == "load" && nested_at_load >= 0) {
        int n = 0;
        for (const Event& x : events) n += x.word == "load";
        if (n - 1 == nested_at_load) {
            // A nested run big enough to grow the output buffer several times.
            std::string text;
            nested_count = int(lexer::output_capacity()) + 100;
            for (int i = 0; i < nested_count; ++i) text += "n" + std::to_string(i) + " ";
            lexer::invoke_callback = nullptr;
            const Cell b = load(text);
            lexer::invoke_callback = &fake_callback;
            const std::vector<Cell> v = cells_of(b);
            nested_results.push_back(std::to_string(v.size()) + " " + describe(v.back()));
        }
    }
    if (e.word == refuse_event && (refuse_type.empty() || e.type == refuse_type)) {
        args[1].w1 += uint32_t(move_by);
        *go_on = false;
        return UNWIND_NONE;
    }
    return UNWIND_NONE;
}

class LexerCallback : public LexerLoad {
  protected:
    void SetUp() override {
        LexerLoad::SetUp();
        events.clear();
        refuse_event.clear();
        refuse_type.clear();
        move_by = 0;
        collect_on_load = false;
        nested_at_load = -1;
        nested_results.clear();
        lexer::invoke_callback = &fake_callback;
    }
};

// A function! whose specification is the given text (only its spec is
// read by the lexer; the fake invoker stands in for the interpreter).
Cell callback_with_spec(const std::string& spec) {
    const lexer::CallbackInvoker saved = lexer::invoke_callback;
    lexer::invoke_callback = nullptr;
    const Cell b = load(spec);
    lexer::invoke_callback = saved;
    stack::push(b);  // keeps its spec reachable
    return Cell{TYPE_FUNCTION, 0, b.w2, 0};
}

Cell load_traced(const std::string& text, const Cell& callback, lexer::Options o = {}) {
    o.callback = &callback;
    return load(text, o);
}

std::string event_list() {
    std::string s;
    for (const Event& e : events) {
        if (!s.empty()) s += " | ";
        s += e.word + " " + e.type + " " + e.token;
    }
    return s;
}

TEST_F(LexerCallback, EveryEventInOrder) {
    const Cell cb = callback_with_spec("event input type line token");
    const Cell b = load_traced("[a 1]", cb);
    EXPECT_EQ(describe(b), "[[word a integer 1]]");
    EXPECT_EQ(event_list(),
              "prescan block! 1x2 | open block! 1x2 | "
              "prescan word! 2x3 | scan word! 2x3 | load word! word a | "
              "prescan integer! 4x5 | scan integer! 4x5 | load integer! integer 1 | "
              "prescan block! 5x6 | close block! 1x6 | prescan eof 6x6");
    // The input is positioned at the token's start for prescan and open,
    // at its end for the others; lines are counted.
    ASSERT_GE(events.size(), 5u);
    EXPECT_EQ(events[0].index, 0u);
    EXPECT_EQ(events[3].index, 2u);
    events.clear();
    load_traced("x\n\"s\"", cb);
    ASSERT_EQ(events.size(), 7u);
    EXPECT_EQ(events[3].line, 2u);
    EXPECT_EQ(events[4].type, "string!");
}

TEST_F(LexerCallback, TheSpecificationBlockSelectsEvents) {
    const Cell a = callback_with_spec("[scan] e i t l k");
    const Cell b = callback_with_spec("[load error other] e i t l k");
    const Cell c = callback_with_spec("e i t l k");
    EXPECT_EQ(lexer::event_mask(&a), uint32_t(lexer::EV_SCAN));
    EXPECT_EQ(lexer::event_mask(&b), uint32_t(lexer::EV_LOAD | lexer::EV_ERROR));
    EXPECT_EQ(lexer::event_mask(&c), uint32_t(lexer::EV_ALL));
    const Cell cb = callback_with_spec("[scan] e i t l k");
    load_traced("a [b] \"c\"", cb);
    EXPECT_EQ(event_list(), "scan word! 1x2 | scan word! 4x5 | scan string! 7x10");
}

TEST_F(LexerCallback, RefusingAnErrorAndMovingOnSkipsTheBadCharacter) {
    const Cell cb = callback_with_spec("[error] e i t l k");
    refuse_event = "error";
    move_by = 1;
    EXPECT_EQ(describe(load_traced("a \\ b } c", cb)), "[word a word b word c]");
    EXPECT_EQ(events.size(), 2u);
    // Without moving the input the run still goes on past the error.
    events.clear();
    move_by = 0;
    EXPECT_EQ(describe(load_traced("a \\ b", cb)), "[word a word b]");
    // A loader's error: the value is dropped.
    events.clear();
    EXPECT_EQ(describe(load_traced("1 2023-02-29 3", cb)), "[integer 1 integer 3]");
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, "date!");
}

TEST_F(LexerCallback, ErrorAtTheEndHandledGivesNone) {
    const Cell cb = callback_with_spec("[error] e i t l k");
    refuse_event = "error";
    EXPECT_EQ(describe(load_traced("[1 2", cb)), "none");
    EXPECT_EQ(describe(load_traced("x \"abc", cb)), "none");
    EXPECT_EQ(lexer::live_runs(), 0u);
}

TEST_F(LexerCallback, RefusedPrescanDropsTheTokenAndRefusedLoadTakesTheValueBack) {
    const Cell cb = callback_with_spec("[prescan load] e i t l k");
    refuse_event = "prescan";
    refuse_type = "integer!";
    EXPECT_EQ(describe(load_traced("a 1 [2 b] 3", cb)), "[word a [word b]]");
    events.clear();
    refuse_event = "load";
    refuse_type = "word!";
    EXPECT_EQ(describe(load_traced("a 1 [2 b] c", cb)), "[integer 1 [integer 2]]");
    // A dropped opening bracket: its contents load at the outer level.
    events.clear();
    refuse_event = "prescan";
    refuse_type = "block!";
    EXPECT_EQ(describe(load_traced("[a]", cb)), "[word a]");
}

TEST_F(LexerCallback, NestedRunsKeepTheOuterCells) {
    const Cell cb = callback_with_spec("[load] e i t l k");
    const uint32_t before = lexer::output_capacity();
    nested_at_load = 1;
    const Cell b = load_traced("x [\"y\" z] w", cb);
    EXPECT_EQ(describe(b), "[word x [string \"y\" word z] word w]");
    ASSERT_EQ(nested_results.size(), 1u);
    EXPECT_EQ(nested_results[0], std::to_string(nested_count) + " word n" + std::to_string(nested_count - 1));
    EXPECT_GT(lexer::output_capacity(), before);  // the nested run grew the buffer
    EXPECT_EQ(lexer::live_runs(), 0u);
}

TEST_F(LexerCallback, CollectionsDuringARunKeepItsValues) {
    collector::init();
    const Cell cb = callback_with_spec("[load] e i t l k");
    collect_on_load = true;
    std::string text = "[";
    for (int i = 0; i < 300; ++i)
        text += "\"s" + std::to_string(i) + "\" #{" + std::to_string(10 + i % 90) + "} ";
    text += "]";
    const Cell b = load_traced(text, cb);
    const std::vector<Cell> v = cells_of(cells_of(b)[0]);
    ASSERT_EQ(v.size(), 600u);
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(describe(v[2 * i]), "string \"s" + std::to_string(i) + "\"");
        EXPECT_EQ(describe(v[2 * i + 1]), "binary " + std::to_string(10 + i % 90));
    }
    EXPECT_GT(collector::cycle_count(), 0u);
}

TEST_F(LexerCallback, ANonLocalExitOutOfTheCallbackEndsTheRun) {
    const Cell cb = callback_with_spec("[load] e i t l k");
    lexer::invoke_callback = [](const Cell*, Cell* args, bool*) -> Unwind {
        if (args[4].type() == TYPE_INTEGER && args[4].w2 == 2) return UNWIND_THROW;
        return UNWIND_NONE;
    };
    Cell* out = stack::push(unset::cell());
    Cell* in = push_text("1 [2 3] 4");
    lexer::Options o;
    o.callback = &cb;
    lexer::load(out, in, -1, o, nullptr);
    EXPECT_EQ(lexer::pending_exit, uint32_t(UNWIND_THROW));
    EXPECT_EQ(describe(*out), "unset");  // nothing stored
    EXPECT_EQ(lexer::live_runs(), 0u);
    lexer::invoke_callback = &fake_callback;
    load("5");
    EXPECT_EQ(lexer::pending_exit, 0u);
}

// The interpreter's invoker with real function! callbacks.
class LexerInterpreted : public test::InterpTest {
  protected:
    static void SetUpTestSuite() {
        test::boot_interpreter();
        lexer::init();
    }
};

TEST_F(LexerInterpreted, FunctionCallbacksSeeEventsAndMoveTheInput) {
    // Every error is refused and the input moved one character on.
    Cell* f = stack::push(
        test::hold(test::make_func("event input type line token",
                                   "either event = 'error [record type input: next input false] [true]")));
    lexer::Options o;
    o.callback = f;
    EXPECT_EQ(describe(load("a \\ b } c", o)), "[word a word b word c]");
    EXPECT_EQ(log_text(), "[error! error!]");
    // Only the events named in the leading block.
    reset_log();
    f = stack::push(test::hold(test::make_func("[scan] event input type line token", "record type true")));
    o.callback = f;
    EXPECT_EQ(describe(load("x [1] \"s\"", o)), "[word x [integer 1] string \"s\"]");
    EXPECT_EQ(log_text(), "[word! integer! string!]");
    // A callback that answers false at load takes every value back.
    f = stack::push(test::hold(test::make_func("[load] event input type line token", "false")));
    o.callback = f;
    EXPECT_EQ(describe(load("x 1 y", o)), "[]");
}

// ---- transcode ------------------------------------------------------------------------------------

Cell transcode(const Cell& src, const lexer::TranscodeArgs& a) {
    Cell* s = stack::push(src);
    (void)lexer::transcode(s, a, s);
    return *s;
}

TEST_F(LexerLoad, TranscodeRefinements) {
    const Cell text = *push_text("1 2");
    lexer::TranscodeArgs a;
    EXPECT_EQ(describe(transcode(text, a)), "[integer 1 integer 2]");
    a.one = true;
    EXPECT_EQ(describe(transcode(text, a)), "integer 1");
    a = {};
    a.next = true;
    Cell r = transcode(text, a);
    std::vector<Cell> v = cells_of(r);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(describe(v[0]), "integer 1");
    EXPECT_EQ(v[1].w1, 1u);  // the rest of the input, after the first value
    EXPECT_EQ(v[1].w2, text.w2);
    a = {};
    a.scan = true;
    EXPECT_EQ(describe(transcode(text, a)), "datatype integer!");
    EXPECT_EQ(describe(transcode(*push_text(""), a)), "none");
    EXPECT_EQ(describe(transcode(*push_text("\"ab"), a)), "datatype error!");
    a = {};
    a.prescan = true;
    EXPECT_EQ(describe(transcode(*push_text("abc"), a)), "datatype word!");
    a = {};
    const Cell part = Cell{TYPE_INTEGER, 0, 1, 0};
    a.part = &part;
    EXPECT_EQ(describe(transcode(text, a)), "[integer 1]");
    const Cell minus = Cell{TYPE_INTEGER, 0, uint32_t(-5), 0};
    a.part = &minus;
    EXPECT_EQ(describe(transcode(text, a)), "[]");
    a = {};
    Cell* into = stack::push(load("a"));
    a.into = into;
    r = transcode(text, a);
    EXPECT_EQ(r.w2, into->w2);
    EXPECT_EQ(describe(r), "[word a integer 1 integer 2]");
}

TEST_F(LexerLoad, TranscodeBinarySourcesAndLimits) {
    Cell* bin = push_binary(
        "\xEF\xBB\xBF"
        "a b");
    lexer::TranscodeArgs a;
    a.next = true;
    const Cell r = transcode(*bin, a);
    const std::vector<Cell> v = cells_of(r);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(describe(v[0]), "word a");
    EXPECT_EQ(v[1].w1, 4u);  // past the byte-order mark and the value
    // A limit of the other kind of series.
    a = {};
    const Cell text = *push_text("x");
    a.part = &text;
    test::expect_error([&] { transcode(*bin, a); }, "script", "not-same-type");
    // A series limit of the same kind: up to its index.
    Cell limit = *bin;
    limit.w1 = 4;
    a.part = &limit;
    EXPECT_EQ(describe(transcode(*bin, a)), "[word a]");
}

}  // namespace
}  // namespace kiv
