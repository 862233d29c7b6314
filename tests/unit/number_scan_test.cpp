// Text to number: integers, floats, tuples and money, in every code unit size,
// with their error out-parameters.
#include "runtime/number_scan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace kiv;
using namespace kiv::number;

namespace {

// The text in units of 1, 2 or 4 bytes (code points taken byte by byte, or
// from a UTF-32 string for the wide cases).
std::vector<uint8_t> widen(const std::u32string& text, uint32_t unit) {
    std::vector<uint8_t> out(text.size() * unit + 1);
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t c = text[i];
        if (unit == 1) out[i] = uint8_t(c);
        if (unit == 2) {
            const uint16_t v = uint16_t(c);
            std::memcpy(&out[i * 2], &v, 2);
        }
        if (unit == 4) std::memcpy(&out[i * 4], &c, 4);
    }
    return out;
}

std::u32string u32(const std::string& s) {
    std::u32string r;
    for (unsigned char c : s) r += char32_t(c);
    return r;
}

int32_t integer(const std::string& s, int* error, uint32_t unit = 1) {
    const auto buf = widen(u32(s), unit);
    return scan_integer(buf.data(), uint32_t(s.size()), unit, error);
}

double to_float(const std::string& s, int* error, uint32_t unit = 1) {
    const auto buf = widen(u32(s), unit);
    return scan_float(buf.data(), uint32_t(s.size()), unit, error);
}

TEST(ScanInteger, ValidAndInvalid) {
    struct Case {
        const char* text;
        int32_t value;
        int error;
    };
    const Case cases[] = {
        {"0", 0, SCAN_OK},
        {"123", 123, SCAN_OK},
        {"-45", -45, SCAN_OK},
        {"+45", 45, SCAN_OK},
        {"007", 7, SCAN_OK},
        {"1'000'000", 1000000, SCAN_OK},
        {"'1'", 1, SCAN_OK},
        {"2147483647", 2147483647, SCAN_OK},
        {"-2147483648", INT32_MIN, SCAN_OK},
        {"-2'147'483'648", INT32_MIN, SCAN_OK},
        {"2147483648", 0, SCAN_OVERFLOW},
        {"-2147483649", 0, SCAN_OVERFLOW},
        {"-21474836480", 0, SCAN_OVERFLOW},  // not cut short at -2147483648
        {"99999999999", 0, SCAN_OVERFLOW},
        {"4294967296", 0, SCAN_OVERFLOW},
        {"12a3", 123, SCAN_BAD},  // the scan goes on past the bad character
        {"1.5", 15, SCAN_BAD},
        {"1-2", 12, SCAN_BAD},
        {" 1", 1, SCAN_BAD},
        {"--1", -1, SCAN_BAD},
        {"", 0, SCAN_BAD},
        {"+", 0, SCAN_BAD},
        {"-", 0, SCAN_BAD},
        {"'", 0, SCAN_BAD},
        {"a99999999999", 0, SCAN_OVERFLOW},  // overflow wins over an earlier bad character
    };
    for (uint32_t unit : {1u, 2u, 4u}) {
        for (const Case& k : cases) {
            int error = 99;
            EXPECT_EQ(integer(k.text, &error, unit), k.value) << k.text << " unit " << unit;
            EXPECT_EQ(error, k.error) << k.text << " unit " << unit;
        }
    }
}

TEST(ScanInteger, WideCharactersAreNotDigits) {
    // U+0661 ARABIC-INDIC DIGIT ONE, and a code unit whose low byte is '1'.
    for (uint32_t unit : {2u, 4u}) {
        for (char32_t c : {char32_t(0x0661), char32_t(0x0131), char32_t(0x10031)}) {
            if (unit == 2 && c > 0xFFFF) continue;
            std::u32string text = U"12";
            text += c;
            const auto buf = widen(text, unit);
            int error = 0;
            EXPECT_EQ(scan_integer(buf.data(), 3, unit, &error), 12);
            EXPECT_EQ(error, SCAN_BAD);
        }
    }
}

TEST(ScanInteger, BadUnitIsRefused) {
    int error = 0;
    EXPECT_EQ(scan_integer("12", 2, 3, &error), 0);
    EXPECT_EQ(error, SCAN_BAD);
}

TEST(ScanFloat, ValidTexts) {
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {
        {"1.5", 1.5},
        {"1,5", 1.5},
        {"-0.25", -0.25},
        {"+2", 2.0},
        {".5", 0.5},
        {"-.5", -0.5},
        {"5.", 5.0},
        {"1e3", 1000.0},
        {"1E+3", 1000.0},
        {"2.5e-3", 0.0025},
        {"1'000.5", 1000.5},
        {"1.000'5", 1.0005},
        {"0.1", 0.1},
        {"0.30000000000000004", 0.30000000000000004},
        {"9007199254740993", 9007199254740992.0},  // halfway: ties to even
        {"9007199254740995", 9007199254740996.0},
        {"1e23", 1e23},
        {"2.2250738585072011e-308", 2.2250738585072011e-308},
        {"4.9406564584124654e-324", 4.9406564584124654e-324},
        {"1.7976931348623157e308", 1.7976931348623157e308},
        {"123456789012345678901234567890", 123456789012345678901234567890.0},
        {"1e-400", 0.0},
    };
    for (uint32_t unit : {1u, 2u, 4u}) {
        for (const Case& k : cases) {
            int error = 99;
            const double v = to_float(k.text, &error, unit);
            EXPECT_EQ(error, SCAN_OK) << k.text;
            EXPECT_EQ(v, k.value) << k.text << " unit " << unit;
        }
    }
    int error = 0;
    EXPECT_TRUE(std::signbit(to_float("-0.0", &error)));
    EXPECT_EQ(error, SCAN_OK);
    EXPECT_EQ(to_float("1e400", &error), HUGE_VAL);
    EXPECT_EQ(error, SCAN_OK);
}

TEST(ScanFloat, InvalidTexts) {
    for (const char* bad :
         {"",    "abc", "1.5x", "1e", "1e+", "e5", "1.e5", "1..2",   "1.2.3", "'1",    "1''2", "1'.5", "1.'5",
          "--1", "+-1", ".",    "+.", "-",   " 1", "1 ",   "1.#INF", "0x10",  "1,5,5", "inf",  "nan"}) {
        int error = 0;
        const double v = to_float(bad, &error);
        EXPECT_EQ(error, SCAN_BAD) << bad;
        EXPECT_TRUE(std::isnan(v)) << bad;
    }
    // A character above 255 that would pass as a digit by its low byte.
    const auto buf = widen(
        U"1\u0135"
        U"5",
        2);
    int error = 0;
    EXPECT_TRUE(std::isnan(scan_float(buf.data(), 3, 2, &error)));
    EXPECT_EQ(error, SCAN_BAD);
}

TEST(ScanFloat, LengthLimit) {
    std::string text = "0." + std::string(309, '0') + "1";  // 312 characters
    ASSERT_EQ(text.size(), 312u);
    int error = 99;
    EXPECT_EQ(to_float(text, &error), 1e-310);
    EXPECT_EQ(error, SCAN_OK);
    text += "0";  // 313 characters fail at once
    EXPECT_TRUE(std::isnan(to_float(text, &error)));
    EXPECT_EQ(error, SCAN_BAD);
    const std::string digits(40, '1');
    EXPECT_EQ(to_float(digits, &error), 1111111111111111111111111111111111111111.0);
}

TEST(FloatSyntax, SharedCheck) {
    auto ok = [](const std::string& s) {
        return float_syntax_ok(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    for (const char* good : {"1", "1.", ".5", "1.5", "1e5", "1E-5", "1'000", "1.5'5", "-1", "+.5", "1'"})
        EXPECT_TRUE(ok(good)) << good;
    for (const char* bad : {"", "e", "1e", "1.e5", "1,5", "1''0", "'1", "1x", "1.5.5", "1e5.5"})
        EXPECT_FALSE(ok(bad)) << bad;
    EXPECT_TRUE(ok(std::string(312, '1')));
    EXPECT_FALSE(ok(std::string(313, '1')));
}

Cell tuple_of(const std::string& s, int* error, uint32_t unit = 1) {
    Cell c{0xDEADBEEF, 1, 2, 3};
    const auto buf = widen(u32(s), unit);
    scan_tuple(buf.data(), uint32_t(s.size()), unit, error, &c);
    return c;
}

TEST(ScanTuple, ValidAndInvalid) {
    int error = 99;
    Cell c = tuple_of("1.2.3", &error);
    EXPECT_EQ(error, SCAN_OK);
    EXPECT_EQ(c.type(), uint32_t(TYPE_TUPLE));
    EXPECT_EQ((c.header & header::TUPLE_LENGTH_MASK) >> header::TUPLE_LENGTH_SHIFT, 3u);
    EXPECT_EQ(c.w1, 0x00030201u);
    EXPECT_EQ(c.w2, 0u);
    EXPECT_EQ(c.w3, 0u);

    for (uint32_t unit : {1u, 2u, 4u}) {
        c = tuple_of("255.255.255.255.255.255.255.255.255.255.255.254", &error, unit);
        EXPECT_EQ(error, SCAN_OK);
        EXPECT_EQ((c.header & header::TUPLE_LENGTH_MASK) >> header::TUPLE_LENGTH_SHIFT, 12u);
        EXPECT_EQ(c.w1, 0xFFFFFFFFu);
        EXPECT_EQ(c.w3, 0xFEFFFFFFu);
    }
    c = tuple_of("10.20", &error);  // padded to the shortest tuple
    EXPECT_EQ(error, SCAN_OK);
    EXPECT_EQ((c.header & header::TUPLE_LENGTH_MASK) >> header::TUPLE_LENGTH_SHIFT, 3u);
    EXPECT_EQ(c.w1, 0x0000140Au);
    c = tuple_of("1.2.3.4.5.6.7", &error);
    EXPECT_EQ(c.w2, 0x00070605u);

    for (const char* bad : {"", "1.2.3.4.5.6.7.8.9.10.11.12.13", "1.256.3", "1..3", "1.2.", ".1.2", "1.2.a",
                            "1,2,3", "-1.2.3", "1.2.99999999999999"}) {
        c = tuple_of(bad, &error);
        EXPECT_EQ(error, SCAN_BAD) << bad;
        EXPECT_EQ(c.header, 0xDEADBEEFu) << bad << ": the result cell stays as it was";
    }
}

bool money_text(const std::string& s, MoneyText* m, uint32_t unit = 1) {
    const auto buf = widen(u32(s), unit);
    return scan_money_text(buf.data(), uint32_t(s.size()), unit, m);
}

TEST(ScanMoney, Pieces) {
    struct Case {
        const char* text;
        bool negative;
        int32_t currency;
        uint32_t digits, point;
    };
    const Case cases[] = {
        {"$1", false, -1, 1, 2},       {"1", false, -1, 0, 1},           {"-$1.5", true, -1, 2, 3},
        {"+$1,5", false, -1, 2, 3},    {"USD$1'000.50", false, 0, 4, 9}, {"-usd$12", true, 1, 5, 7},
        {"1'2'3.45", false, -1, 0, 5}, {"$0.00001", false, -1, 1, 2},
    };
    for (uint32_t unit : {1u, 2u, 4u}) {
        for (const Case& k : cases) {
            MoneyText m;
            ASSERT_TRUE(money_text(k.text, &m, unit)) << k.text;
            EXPECT_EQ(m.negative, k.negative) << k.text;
            EXPECT_EQ(m.currency, k.currency) << k.text;
            EXPECT_EQ(m.digits, k.digits) << k.text;
            EXPECT_EQ(m.point, k.point) << k.text;
            EXPECT_EQ(m.end, std::strlen(k.text)) << k.text;
        }
    }
}

TEST(ScanMoney, Refused) {
    for (const char* bad : {"",    "$",     "-",     "-$",    "US$1",   "USDX$1", "USD1", "USD$",   "$'1",
                            "$1.", "$1.'5", "$1''0", "$1'",   "$1'.5",  "$.5",    ".5",   "$1.5.5", "$1x",
                            "$-1", "1$",    "U1D$1", "$1.5'", "USD$$1", "$ 1",    "--$1"}) {
        MoneyText m;
        EXPECT_FALSE(money_text(bad, &m)) << bad;
    }
    // A letter above ASCII is not a currency letter.
    const auto buf = widen(U"\u00C9UR$1", 2);
    MoneyText m;
    EXPECT_FALSE(scan_money_text(buf.data(), 5, 2, &m));
}

TEST(ScanMoney, BuildsThroughTheMaker) {
    static int calls;
    calls = 0;
    auto maker = [](Cell* result, const MoneyText& m, const void*, uint32_t) {
        ++calls;
        if (m.point - m.digits > 17) return false;  // the datatype refuses too many digits
        result->header = TYPE_MONEY;
        result->w1 = m.point - m.digits;
        return true;
    };
    Cell c{};
    int error = 99;
    const std::string ok = "$123.45";
    scan_money(ok.data(), uint32_t(ok.size()), 1, &error, &c, maker);
    EXPECT_EQ(error, SCAN_OK);
    EXPECT_EQ(c.type(), uint32_t(TYPE_MONEY));
    EXPECT_EQ(c.w1, 3u);
    const std::string big = "$" + std::string(18, '9');
    scan_money(big.data(), uint32_t(big.size()), 1, &error, &c, maker);
    EXPECT_EQ(error, SCAN_BAD);
    const std::string bad = "$1.";
    scan_money(bad.data(), uint32_t(bad.size()), 1, &error, &c, maker);
    EXPECT_EQ(error, SCAN_BAD);
    EXPECT_EQ(calls, 2) << "the maker sees only checked text";
    scan_money(ok.data(), uint32_t(ok.size()), 1, &error, &c, nullptr);
    EXPECT_EQ(error, SCAN_BAD);
}

TEST(UpcaseAscii, OnlyAsciiLetters) {
    char text[] = "abc-XYZ_\xe9z";
    upcase_ascii(text);
    EXPECT_STREQ(text, "ABC-XYZ_\xe9Z");
}

// Random texts over the number alphabet: every scanner returns, and a float
// that scans agrees with the C library on the same text (apostrophes dropped,
// comma as point).
TEST(NumberScan, RandomTexts) {
    std::mt19937 rng(7);
    const std::string alphabet = "0123456789+-.,'eE$xUSD ";
    for (int round = 0; round < 50000; ++round) {
        std::string s;
        const size_t n = rng() % 14;
        for (size_t i = 0; i < n; ++i) s += alphabet[rng() % alphabet.size()];
        int error = 0;
        scan_integer(s.data(), uint32_t(s.size()), 1, &error);
        const double v = scan_float(s.data(), uint32_t(s.size()), 1, &error);
        if (error == SCAN_OK) {
            std::string c;
            for (char ch : s) {
                if (ch != '\'') c += ch == ',' ? '.' : ch;
            }
            char* end = nullptr;
            const double ref = std::strtod(c.c_str(), &end);
            EXPECT_EQ(size_t(end - c.c_str()), c.size()) << s;
            EXPECT_EQ(v, ref) << s;
        }
        Cell cell{};
        scan_tuple(s.data(), uint32_t(s.size()), 1, &error, &cell);
        MoneyText m;
        scan_money_text(s.data(), uint32_t(s.size()), 1, &m);
    }
}

}  // namespace
