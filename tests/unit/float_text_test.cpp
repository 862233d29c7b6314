// Decimal text <-> double conversion, checked against the C++ library's
// conversions (std::to_chars, strtod, snprintf) used as oracles.
#include "runtime/float_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include "runtime/bigint.h"

using namespace kiv;
using float_text::from_text;

namespace {

#ifdef KIV_SANITIZE
constexpr int SCALE = 5;  // the sanitizer build runs a fifth of the cases
#else
constexpr int SCALE = 1;
#endif

uint64_t bits_of(double d) { return std::bit_cast<uint64_t>(d); }
double from_bits(uint64_t b) { return std::bit_cast<double>(b); }

// Reads from an exactly sized heap copy, so that the sanitizer build catches
// any read past the end.
double parse(const std::string& s, int extra = 0, ptrdiff_t* left = nullptr) {
    std::unique_ptr<char[]> copy(new char[s.size() + (s.empty() ? 1 : 0)]);
    std::memcpy(copy.get(), s.data(), s.size());
    return from_text(copy.get(), copy.get() + s.size(), extra, left);
}

// The oracle: glibc's strtod rounds correctly for any input length.
double oracle_parse(const std::string& s) { return std::strtod(s.c_str(), nullptr); }

// Shortest digits and point position (value = 0.d1d2... x 10^point) from std::to_chars.
void oracle_shortest(double d, std::string& digits, int& point) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
    std::string s(buf, r.ptr);
    size_t e = s.find('e');
    digits.clear();
    for (size_t i = 0; i < e; ++i)
        if (s[i] != '.' && s[i] != '-') digits += s[i];
    point = std::atoi(s.c_str() + e + 1) + 1;
}

// n correctly rounded digits (trailing zeros removed) from snprintf("%.*e").
void oracle_fixed(double d, int n, std::string& digits, int& point) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%.*e", n - 1, std::fabs(d));
    std::string s(buf);
    size_t e = s.find('e');
    digits.clear();
    for (size_t i = 0; i < e; ++i)
        if (s[i] != '.') digits += s[i];
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    point = std::atoi(s.c_str() + e + 1) + 1;
}

std::string hex(double d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(bits_of(d)));
    return buf;
}

// A random double drawn from every exponent range: random bit patterns, half
// of them with a random exponent field to reach subnormals and extremes often.
double random_finite(std::mt19937_64& rng) {
    uint64_t b = rng();
    switch (rng() % 4) {
        case 0:  // subnormal
            b &= (uint64_t{1} << 52) - 1;
            break;
        case 1:  // few mantissa bits (short decimal forms are likelier)
            b &= ~((uint64_t{1} << (rng() % 52)) - 1);
            break;
        default:
            break;
    }
    if ((b & 0x7FF0000000000000ull) == 0x7FF0000000000000ull) b &= ~0x0010000000000000ull;
    return from_bits(b);
}

// ---------------------------------------------------------------------------
// Exact decimal arithmetic for building texts that lie exactly halfway
// between two doubles: a value is int(digits) * 10^exp.

struct Dec {
    std::string digits;  // no leading zeros; "0" for zero
    int64_t exp;
};

Dec exact_decimal(double d) {
    static char buf[1300];
    std::snprintf(buf, sizeof buf, "%.1100e", d);  // glibc prints the exact expansion
    std::string s(buf);
    size_t e = s.find('e');
    Dec r{"", std::atoi(s.c_str() + e + 1) - 1100};
    for (size_t i = 0; i < e; ++i)
        if (s[i] != '.') r.digits += s[i];
    while (r.digits.size() > 1 && r.digits.back() == '0') {
        r.digits.pop_back();
        ++r.exp;
    }
    return r;
}

Dec add(Dec a, Dec b) {
    int64_t e = std::min(a.exp, b.exp);
    a.digits.append(static_cast<size_t>(a.exp - e), '0');
    b.digits.append(static_cast<size_t>(b.exp - e), '0');
    if (a.digits.size() < b.digits.size()) std::swap(a, b);
    b.digits.insert(0, a.digits.size() - b.digits.size(), '0');
    std::string out(a.digits.size() + 1, '0');
    int carry = 0;
    for (size_t i = a.digits.size(); i-- > 0;) {
        int s = (a.digits[i] - '0') + (b.digits[i] - '0') + carry;
        out[i + 1] = static_cast<char>('0' + s % 10);
        carry = s / 10;
    }
    out[0] = static_cast<char>('0' + carry);
    size_t nz = out.find_first_not_of('0');
    return {nz == std::string::npos ? "0" : out.substr(nz), e};
}

Dec half(const Dec& a) {  // a / 2 = a * 5 / 10
    std::string out(a.digits.size() + 1, '0');
    int carry = 0;
    for (size_t i = a.digits.size(); i-- > 0;) {
        int s = (a.digits[i] - '0') * 5 + carry;
        out[i + 1] = static_cast<char>('0' + s % 10);
        carry = s / 10;
    }
    out[0] = static_cast<char>('0' + carry);
    size_t nz = out.find_first_not_of('0');
    Dec r{out.substr(nz), a.exp - 1};
    while (r.digits.size() > 1 && r.digits.back() == '0') {
        r.digits.pop_back();
        ++r.exp;
    }
    return r;
}

std::string text_of(const Dec& d) { return d.digits + "e" + std::to_string(d.exp); }

// The exact midpoint between positive finite x and the next double up.
Dec midpoint_above(double x) {
    double next = std::nextafter(x, INFINITY);
    Dec hi = std::isinf(next) ? add(exact_decimal(0x1p1023), exact_decimal(0x1p1023)) : exact_decimal(next);
    return half(add(exact_decimal(x), hi));
}

}  // namespace

// ---------------------------------------------------------------------------
// The table of powers of five against exact big-integer arithmetic.

TEST(FloatText, PowerOfFiveTableIsExact) {
    using bigint::BigInt;
    for (int q = -342; q <= 342; ++q) {
        uint64_t hi, lo;
        int l2;
        float_text::detail::pow5_entry(q, &hi, &lo, &l2);
        ASSERT_EQ(hi >> 63, 1u) << q;
        BigInt t(hi);
        t.shift_left(64);
        t.mul_add_small(1, lo);
        BigInt t1 = t;
        t1.mul_add_small(1, 1);
        if (q >= 0) {
            // T * 2^(L-127) <= 5^q < (T + 1) * 2^(L-127), and L = floor(log2 5^q)
            BigInt p(1);
            p.mul_pow5(static_cast<uint32_t>(q));
            ASSERT_EQ(p.bit_length() - 1, l2) << q;
            if (l2 >= 127) {
                t.shift_left(static_cast<uint32_t>(l2 - 127));
                t1.shift_left(static_cast<uint32_t>(l2 - 127));
            } else {
                p.shift_left(static_cast<uint32_t>(127 - l2));
            }
            ASSERT_LE(bigint::compare(t, p), 0) << q;
            ASSERT_LT(bigint::compare(p, t1), 0) << q;
        } else {
            // T * 5^m <= 2^(127-L) < (T + 1) * 5^m
            ASSERT_LT(l2, 0);
            t.mul_pow5(static_cast<uint32_t>(-q));
            t1.mul_pow5(static_cast<uint32_t>(-q));
            BigInt p(1);
            p.shift_left(static_cast<uint32_t>(127 - l2));
            ASSERT_LE(bigint::compare(t, p), 0) << q;
            ASSERT_LT(bigint::compare(p, t1), 0) << q;
            // L = floor(log2 5^-m): 2^L <= 5^-m < 2^(L+1), i.e. 2^-L >= 5^m > 2^(-L-1)
            BigInt five(1), lowp(1), highp(1);
            five.mul_pow5(static_cast<uint32_t>(-q));
            highp.shift_left(static_cast<uint32_t>(-l2));
            lowp.shift_left(static_cast<uint32_t>(-l2 - 1));
            ASSERT_LE(bigint::compare(five, highp), 0) << q;
            ASSERT_GT(bigint::compare(five, lowp), 0) << q;
        }
        ASSERT_FALSE(t.overflowed || t1.overflowed);
    }
}

// ---------------------------------------------------------------------------
// Text to double

TEST(FloatText, ReadsTheHardCasesCorrectlyRounded) {
    struct Case {
        const char* text;
        double expected;
    };
    const Case cases[] = {
        {"0.1", 0.1},
        {"1e23", 1e23},
        {"2.2250738585072011e-308", 0x0.fffffffffffffp-1022},
        {"2.2250738585072012e-308", 0x1p-1022},
        // 50 significant digits, exactly halfway between (2^52 + 12345) * 2^-47 and the
        // next double up: ties go to the even mantissa, the upper one.
        {"32.000000000087720053443263168446719646453857421875", std::ldexp(4503599627382842.0, -47)},
        {"32.000000000087720053443263168446719646453857421874", std::ldexp(4503599627382841.0, -47)},
        {"32.0000000000877200534432631684467196464538574218750000000000000000000000001",
         std::ldexp(4503599627382842.0, -47)},
        {"9007199254740993", 9007199254740992.0},  // halfway, ties to even
        {"9007199254740995", 9007199254740996.0},
        {"4.9406564584124654e-324", 0x1p-1074},
        {"2.4703282292062327e-324", 0.0},  // just below half the smallest subnormal
        {"2.4703282292062328e-324", 0x1p-1074},
        {"1.7976931348623157e308", std::numeric_limits<double>::max()},
        {"1.7976931348623158e308", std::numeric_limits<double>::max()},
        {"1.7976931348623159e308", INFINITY},
        {"1e400", INFINITY},
        {"-1e400", -INFINITY},
        {"1e-400", 0.0},
        {"123456789012345678901234567890", 1.2345678901234568e29},
        {"0.000001", 1e-6},
        {"1.", 1.0},
        {".5", 0.5},
        {"+7", 7.0},
        {"1e22", 1e22},
        {"1e37", 1e37},  // beyond the exact power table, still one exact product
        {"123456789e30", 1.23456789e38},
        {"1E+2", 100.0},
        {"000000000000000000000000000000000000000001.5", 1.5},
        {"1.000000000000000000000000000000000000000000000000000000000000000000000000000001", 1.0},
    };
    for (const Case& c : cases) {
        double got = parse(c.text);
        EXPECT_EQ(bits_of(got), bits_of(c.expected)) << c.text << " gave " << got;
        EXPECT_EQ(bits_of(got), bits_of(oracle_parse(c.text))) << c.text;
    }
}

TEST(FloatText, SignsZerosAndSpecialForms) {
    EXPECT_EQ(bits_of(parse("-0")), bits_of(0.0));  // a sign and zeros alone: +0.0
    EXPECT_EQ(bits_of(parse("-000")), bits_of(0.0));
    EXPECT_EQ(bits_of(parse("-0.0")), bits_of(-0.0));
    EXPECT_EQ(bits_of(parse("-0e5")), bits_of(-0.0));
    EXPECT_EQ(bits_of(parse("0.000")), bits_of(0.0));
    EXPECT_EQ(bits_of(parse("-1e-400")), bits_of(-0.0));

    ptrdiff_t left = -1;
    EXPECT_EQ(parse("1.#INF", 0, &left), INFINITY);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(parse("-1.#INF", 0, &left), -INFINITY);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(parse("1.#inf", 0, &left), INFINITY);
    double nan = parse("1.#NaN", 0, &left);
    EXPECT_EQ(bits_of(nan), 0x7FF8000000000000ull);  // quiet NaN, sign clear
    EXPECT_EQ(left, 0);
    EXPECT_EQ(bits_of(parse("-1.#NaN")), 0x7FF8000000000000ull);
    // Only one significant digit may precede ".#".
    EXPECT_EQ(parse("12.#INF", 0, &left), 12.0);
    EXPECT_EQ(left, 4);
    EXPECT_EQ(parse("0.#INF", 0, &left), 0.0);
    EXPECT_EQ(left, 4);
}

TEST(FloatText, ExtraExponentAndCharactersLeft) {
    EXPECT_EQ(parse("12", -2), 0.12);
    EXPECT_EQ(parse("12.5", -2), 0.125);
    EXPECT_EQ(parse("1e3", -2), 10.0);
    EXPECT_EQ(parse("3", 400), INFINITY);
    struct Case {
        const char* text;
        double value;
        ptrdiff_t left;
    };
    const Case cases[] = {
        {"1.5", 1.5, 0},    {"1.5x", 1.5, 1},   {"1e", 1.0, 1},   {"1e+", 1.0, 2},   {"1e5x", 1e5, 1},
        {"1e-2", 0.01, 0},  {"2.5e+3", 2500, 0}, {"", 0.0, 0},    {"-", 0.0, 1},     {".", 0.0, 1},
        {"x1", 0.0, 2},     {"7.e2", 700, 0},    {"1.2.3", 1.2, 2}, {"5%", 5.0, 1}, {"1e1e1", 10.0, 2},
    };
    for (const Case& c : cases) {
        ptrdiff_t left = -1;
        std::string s(c.text);
        EXPECT_EQ(parse(s, 0, &left), c.value) << c.text;
        EXPECT_EQ(left, c.left) << c.text;
    }
    // Huge exponents saturate instead of overflowing.
    EXPECT_EQ(parse("1e99999999999999999999999"), INFINITY);
    EXPECT_EQ(parse("1e-99999999999999999999999"), 0.0);
    EXPECT_EQ(parse("0.0000000000000000000000000000000000000001e40"), 1.0);
}

TEST(FloatText, RandomDecimalTextsReadLikeTheOracle) {
    std::mt19937_64 rng(12345);
    const int count = 1000000 / SCALE;
    std::string s;
    for (int i = 0; i < count; ++i) {
        s.clear();
        if (rng() % 4 == 0) s += '-';
        int nd;
        switch (rng() % 8) {
            case 0: nd = 1 + static_cast<int>(rng() % 60); break;
            case 1: nd = 16 + static_cast<int>(rng() % 6); break;
            default: nd = 1 + static_cast<int>(rng() % 19); break;
        }
        if (i % 1000 == 0) nd = 100 + static_cast<int>(rng() % 1000);
        std::string digits;
        for (int j = 0; j < nd; ++j) digits += static_cast<char>('0' + rng() % 10);
        if (rng() % 3 == 0) {
            // runs of nines or zeros make carries and ties likelier
            for (int j = 1 + static_cast<int>(rng() % 10); j > 0 && !digits.empty(); --j)
                digits[rng() % digits.size()] = (rng() & 1) ? '9' : '0';
        }
        int point = static_cast<int>(rng() % (nd + 1));
        s += digits.substr(0, point);
        if (point < nd || rng() % 2) s += '.';
        s += digits.substr(point);
        int target = static_cast<int>(rng() % 680) - 345;  // decimal exponent of the value
        int ex = target - point;
        if (rng() % 8 != 0) s += (rng() & 1 ? 'e' : 'E') + std::to_string(ex);
        double want = oracle_parse(s);
        if (want == 0 && s.find_first_of(".eE") == std::string::npos) want = 0.0;  // "-000" reads as +0.0
        double got = parse(s);
        ASSERT_EQ(bits_of(got), bits_of(want)) << s;
    }
}

TEST(FloatText, ShortestAndLongTextsOfRandomDoublesReadBack) {
    std::mt19937_64 rng(777);
    const int count = 1000000 / SCALE;
    char buf[64];
    for (int i = 0; i < count; ++i) {
        double d = random_finite(rng);
        if (rng() & 1) d = -d;
        auto r = std::to_chars(buf, buf + sizeof buf, d);
        if (d == 0) continue;  // "-0" reads as +0.0
        ASSERT_EQ(bits_of(from_text(buf, r.ptr)), bits_of(d)) << std::string(buf, r.ptr);
        int n = std::snprintf(buf, sizeof buf, "%.25e", d);
        ASSERT_EQ(bits_of(from_text(buf, buf + n)), bits_of(d)) << buf;
    }
}

TEST(FloatText, TextsAtAndAroundMidpointsBetweenDoubles) {
    std::mt19937_64 rng(4242);
    const int count = 3000 / SCALE;
    for (int i = 0; i < count; ++i) {
        double x;
        switch (i) {
            case 0: x = std::numeric_limits<double>::max(); break;
            case 1: x = 0x1p-1074; break;
            case 2: x = 0x0.fffffffffffffp-1022; break;
            case 3: x = 1.0; break;
            default: x = std::fabs(random_finite(rng)); break;
        }
        if (x == 0) continue;
        double next = std::nextafter(x, INFINITY);
        double even = (bits_of(x) & 1) ? next : x;
        Dec mid = midpoint_above(x);
        std::string at = text_of(mid);
        ASSERT_EQ(bits_of(parse(at)), bits_of(even)) << at;
        ASSERT_EQ(bits_of(parse(at)), bits_of(oracle_parse(at))) << at;
        // A trace above or below settles it; also past the 800 digits read exactly.
        for (size_t pad : {size_t{3}, size_t{1200}}) {
            Dec above = mid;
            above.digits += std::string(pad, '0') + "1";
            above.exp -= static_cast<int64_t>(pad) + 1;
            ASSERT_EQ(bits_of(parse(text_of(above))), bits_of(next)) << text_of(above);
            Dec below = mid;
            below.digits.back() = static_cast<char>(below.digits.back() - 1);  // midpoints end in 5
            below.digits += std::string(pad, '9');
            below.exp -= static_cast<int64_t>(pad);
            ASSERT_EQ(bits_of(parse(text_of(below))), bits_of(x)) << text_of(below);
        }
        // The same digits with a decimal point and leading zeros.
        std::string plain = "0.000" + mid.digits + "e" + std::to_string(mid.exp + 3 + static_cast<int64_t>(mid.digits.size()));
        ASSERT_EQ(bits_of(parse(plain)), bits_of(even)) << plain;
    }
}

// ---------------------------------------------------------------------------
// Double to digits

namespace {
void expect_shortest(double d) {
    if (d == 0) return;  // zero has its own texts (SpecialAndZeroResults)
    std::string want;
    int want_point;
    oracle_shortest(d, want, want_point);
    int point, sign, count;
    const char* got = float_text::dtoa(d, 0, &point, &sign, &count, true);
    ASSERT_EQ(std::string(got), want) << hex(d);
    ASSERT_EQ(point, want_point) << hex(d);
    ASSERT_EQ(count, static_cast<int>(want.size()));
    ASSERT_EQ(sign, std::signbit(d) ? 1 : 0);
}
}  // namespace

TEST(FloatText, ShortestDigitsOfRandomDoubles) {
    std::mt19937_64 rng(99);
    const int count = 2000000 / SCALE;
    for (int i = 0; i < count; ++i) expect_shortest(random_finite(rng) * ((i & 1) ? -1 : 1));
}

TEST(FloatText, ShortestDigitsOfBoundaryFamilies) {
    // Every power of two (the lower neighbour is closer) and its neighbours,
    // and the largest mantissa of every binade.
    for (uint64_t e = 1; e < 2047; ++e) {
        uint64_t b = e << 52;
        expect_shortest(from_bits(b));
        expect_shortest(from_bits(b + 1));
        expect_shortest(from_bits(b - 1));
        expect_shortest(from_bits(b | ((uint64_t{1} << 52) - 1)));
    }
    // The smallest subnormals, one by one.
    for (uint64_t c = 1; c <= 200000 / static_cast<uint64_t>(SCALE); ++c) expect_shortest(from_bits(c));
    // Powers of ten and their neighbours, and small integers.
    for (int k = -323; k <= 308; ++k) {
        double p = std::strtod(("1e" + std::to_string(k)).c_str(), nullptr);
        expect_shortest(p);
        expect_shortest(std::nextafter(p, 0.0));
        expect_shortest(std::nextafter(p, INFINITY));
    }
    for (int i = 1; i < 100000; ++i) expect_shortest(static_cast<double>(i));
    expect_shortest(9007199254740991.0);
    expect_shortest(9007199254740992.0);
    expect_shortest(18014398509481984.0);
}

TEST(FloatText, DigitLimitRoundsExactly) {
    std::mt19937_64 rng(5);
    const int count = 400000 / SCALE;
    char got[float_text::MAX_FIXED_DIGITS + 1];
    for (int i = 0; i < count; ++i) {
        double d = random_finite(rng);
        if (d == 0) continue;
        int n = 1 + static_cast<int>(rng() % 17);
        if (i % 100 == 0) n = 18 + static_cast<int>(rng() % 23);
        std::string want;
        int want_point;
        oracle_fixed(d, n, want, want_point);
        int point = 0;
        int len = float_text::fixed_digits(d, n, got, &point);
        ASSERT_EQ(std::string(got, static_cast<size_t>(len)), want) << hex(d) << " n=" << n;
        ASSERT_EQ(point, want_point) << hex(d) << " n=" << n;
        // dtoa with a limit: the shortest digits when they fit, else exactly these.
        if (n <= 17) {
            std::string shortest;
            int sp;
            oracle_shortest(d, shortest, sp);
            int p2, s2, c2;
            const char* lim = float_text::dtoa(d, n, &p2, &s2, &c2, true);
            if (static_cast<int>(shortest.size()) <= n) {
                ASSERT_EQ(std::string(lim), shortest) << hex(d) << " n=" << n;
                ASSERT_EQ(p2, sp);
            } else {
                ASSERT_EQ(std::string(lim), want) << hex(d) << " n=" << n;
                ASSERT_EQ(p2, want_point);
            }
        }
    }
    // Ties of the exact value go to the even digit, integers included.
    const struct {
        double value;
        int n;
        const char* digits;
        int point;
    } ties[] = {
        {0.125, 2, "12", 0}, {0.375, 2, "38", 0}, {2.5, 1, "2", 1},          {3.5, 1, "4", 1},
        {25.0, 1, "2", 2},   {35.0, 1, "4", 2},   {1234565.0, 6, "123456", 7}, {1234575.0, 6, "123458", 7},
        {9999999.0, 6, "1", 8}, {0.3, 17, "29999999999999999", 0}, {5e-324, 3, "494", -323},
    };
    for (const auto& t : ties) {
        int point;
        int len = float_text::fixed_digits(t.value, t.n, got, &point);
        EXPECT_EQ(std::string(got, static_cast<size_t>(len)), t.digits) << t.value;
        EXPECT_EQ(point, t.point) << t.value;
    }
    EXPECT_EQ(float_text::fixed_digits(0.0, 5, got, nullptr), 0);
    EXPECT_EQ(float_text::fixed_digits(INFINITY, 5, got, nullptr), 0);
    EXPECT_EQ(float_text::fixed_digits(1.0, 0, got, nullptr), 0);
}

TEST(FloatText, FormatGMatchesPrintf) {
    std::mt19937_64 rng(31337);
    const int count = 300000 / SCALE;
    char got[float_text::FORMAT_G_BUFFER];
    char want[128];
    auto check = [&](double d, int p) {
        float_text::format_g(d, p, got);
        std::snprintf(want, sizeof want, "%.*g", p, d);
        ASSERT_STREQ(got, want) << hex(d) << " p=" << p;
    };
    for (int i = 0; i < count; ++i) {
        double d = random_finite(rng);
        if (rng() & 1) d = -d;
        check(d, static_cast<int>(rng() % 18));
    }
    const double values[] = {0.0,  -0.0, 1.0,   3.0,  0.1,     0.7 + 0.1, 1e20,   1e-5,  123456.0, 1234567.0,
                             0.0001, 0.00001, 100.0, 1e16, 1e15, 2.5,      0.5,    1e300, 5e-324,  12345.678};
    for (double v : values)
        for (int p : {0, 1, 2, 5, 6, 7, 13, 14, 16, 17, 20, 30}) check(v, p);
    EXPECT_EQ(float_text::format_g(INFINITY, 16, got), 6u);
    EXPECT_STREQ(got, "1.#INF");
    float_text::format_g(-INFINITY, 16, got);
    EXPECT_STREQ(got, "-1.#INF");
    float_text::format_g(NAN, 16, got);
    EXPECT_STREQ(got, "1.#NaN");
}

// ---------------------------------------------------------------------------
// Special results, layout and the per-thread buffer

TEST(FloatText, SpecialAndZeroResults) {
    struct Case {
        double value;
        bool point_zero;
        const char* text;
        int point;
        int sign;
    };
    const Case cases[] = {
        {INFINITY, true, "1.#INF", 9999, 0}, {-INFINITY, true, "-1.#INF", 9999, 1},
        {NAN, true, "1.#NaN", 9999, 0},      {-NAN, false, "1.#NaN", 9999, 0},
        {0.0, true, "0.0", 9998, 0},         {-0.0, true, "-0.0", 9998, 1},
        {0.0, false, "0", 9998, 0},          {-0.0, false, "-0", 9998, 1},
    };
    for (const Case& c : cases) {
        int point, sign, count;
        const char* s = float_text::dtoa(c.value, 0, &point, &sign, &count, c.point_zero);
        EXPECT_STREQ(s, c.text);
        EXPECT_EQ(point, c.point) << c.text;
        EXPECT_EQ(sign, c.sign) << c.text;
        EXPECT_EQ(count, static_cast<int>(std::strlen(c.text)));
        EXPECT_STREQ(float_text::form_shortest(c.value, 0, c.point_zero), c.text);
        EXPECT_STREQ(float_text::form_shortest(c.value, 6, c.point_zero), c.text);
    }
}

TEST(FloatText, LayoutOfShortestText) {
    struct Case {
        double value;
        int limit;
        bool point_zero;
        const char* text;
    };
    const Case cases[] = {
        {1.0, 0, true, "1.0"},
        {1.0, 0, false, "1"},
        {0.1, 0, true, "0.1"},
        {1e16, 0, true, "10000000000000000.0"},
        {1e17, 0, true, "1.0e17"},
        {1e17, 0, false, "1e17"},
        {1e-7, 0, true, "0.0000001"},
        {1e-8, 0, true, "1.0e-8"},
        {123.456, 0, true, "123.456"},
        {-2.5e-10, 0, true, "-2.5e-10"},
        {100.0, 0, false, "100"},
        {100.0, 0, true, "100.0"},
        {0.1 + 0.2, 0, true, "0.30000000000000004"},
        {5e-324, 0, true, "5.0e-324"},
        {1.7976931348623157e308, 0, true, "1.7976931348623157e308"},
        {-1.7976931348623157e308, 0, true, "-1.7976931348623157e308"},
        {2.0 / 3.0, 6, true, "0.666667"},
        {1234567.0, 6, true, "1234570.0"},
        {1234567.0, 6, false, "1234570"},
        {9999999.0, 6, true, "10000000.0"},
        {1.5, 6, true, "1.5"},
        {123456789012345680.0, 0, true, "1.2345678901234568e17"},
        {12345678901234567.0, 0, true, "12345678901234568.0"},
        {-0.00012345, 0, true, "-0.00012345"},
        {1.2345e-7, 0, true, "0.00000012345"},
        {1.2345e-8, 0, true, "1.2345e-8"},
        {1e100, 0, true, "1.0e100"},
        {-1e-100, 0, false, "-1e-100"},
        {2.2250738585072014e-308, 0, true, "2.2250738585072014e-308"},
        {1.0 / 3.0, 0, true, "0.3333333333333333"},
        {-123456789.0, 0, true, "-123456789.0"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(float_text::form_shortest(c.value, c.limit, c.point_zero), c.text) << c.text;
        char out[float_text::BUFFER_SIZE];
        size_t n = float_text::form_shortest_r(c.value, c.limit, c.point_zero, out);
        EXPECT_STREQ(out, c.text);
        EXPECT_EQ(n, std::strlen(c.text));
    }
    // The longest texts fit the 32-byte buffer, and every text reads back.
    std::mt19937_64 rng(8);
    char out[float_text::BUFFER_SIZE];
    for (int i = 0; i < 200000 / SCALE; ++i) {
        double d = random_finite(rng) * ((i & 1) ? -1 : 1);
        size_t n = float_text::form_shortest_r(d, 0, true, out);
        ASSERT_LT(n, float_text::BUFFER_SIZE);
        ASSERT_EQ(bits_of(from_text(out, out + n)), bits_of(d)) << out;
    }
    size_t n = float_text::form_shortest_r(-1.2345678901234568e-5, 0, true, out);
    EXPECT_STREQ(out, "-0.000012345678901234568");
    EXPECT_EQ(n, 24u);
}

TEST(FloatText, BufferHoldsTheMinusSignAndIsReusedByTheNextCall) {
    int point, sign, count;
    const char* a = float_text::dtoa(-1.25, 0, &point, &sign, &count, true);
    EXPECT_STREQ(a, "125");
    EXPECT_EQ(point, 1);
    EXPECT_EQ(sign, 1);
    EXPECT_EQ(count, 3);
    EXPECT_STREQ(a - 1, "-125");  // the sign sits just before the digits
    const char* b = float_text::dtoa(42.0, 0, &point, &sign, &count, true);
    EXPECT_EQ(a, b);  // the same buffer, now holding the new digits
    EXPECT_STREQ(a, "42");
    EXPECT_EQ(sign, 0);

    float_text::Digits d;
    float_text::dtoa_r(-0.5, 0, true, d);
    EXPECT_STREQ(d.string(), "5");
    EXPECT_EQ(d.point, 0);
    EXPECT_TRUE(d.negative);
    EXPECT_EQ(d.text[0], '-');
}
