#include "runtime/float_text.h"

#include <bit>
#include <cstring>

#include "runtime/bigint.h"

namespace kiv::float_text {
namespace {

using u128 = unsigned __int128;
using bigint::BigInt;

constexpr uint64_t SIGN_BIT = uint64_t{1} << 63;
constexpr uint64_t HIDDEN_BIT = uint64_t{1} << 52;
constexpr uint64_t FRAC_MASK = HIDDEN_BIT - 1;
constexpr uint64_t INF_BITS = 0x7FF0000000000000ull;
constexpr uint64_t QNAN_BITS = 0x7FF8000000000000ull;
constexpr int MIN_EXP = -1074;  // binary exponent of the smallest subnormal

// ---------------------------------------------------------------------------
// Powers of five, 128 bits each.
//
// Entry q holds T = floor(5^q * 2^(127 - L)), L = floor(log2(5^q)), so that
// 2^127 <= T < 2^128 and 5^q lies in [T, T + 1) * 2^(L - 127). The entry is
// exact for 0 <= q <= 55 (5^55 < 2^128). The table is computed by the
// compiler from exact integers: 5^q by repeated multiplication, and 5^-m as
// floor(2^1024 / 5^m) by repeated exact division (floor(floor(a) / 5) is
// floor(a / 5), so no rounding error builds up).

constexpr int POW5_MIN = -342;
constexpr int POW5_MAX = 342;
constexpr int POW5_COUNT = POW5_MAX - POW5_MIN + 1;

struct Pow5 {
    uint64_t hi, lo;
};

struct Pow5Table {
    Pow5 entry[POW5_COUNT];
    int16_t log2[POW5_COUNT];
};

constexpr uint64_t limb_or_zero(const uint64_t* x, int n, int i) { return i >= 0 && i < n ? x[i] : 0; }

// Bits [from, from + 64) of the little-endian limbs x; missing bits are zero.
constexpr uint64_t bits_at(const uint64_t* x, int n, int from) {
    int word = from >= 0 ? from / 64 : -((-from + 63) / 64);
    int shift = from - word * 64;
    uint64_t low = limb_or_zero(x, n, word) >> shift;
    uint64_t high = shift != 0 ? limb_or_zero(x, n, word + 1) << (64 - shift) : 0;
    return low | high;
}

constexpr int bit_length(const uint64_t* x, int n) { return n * 64 - std::countl_zero(x[n - 1]); }

constexpr Pow5Table make_pow5_table() {
    Pow5Table t{};
    uint64_t x[16] = {1};
    int n = 1;
    for (int q = 0; q <= POW5_MAX; ++q) {
        if (q > 0) {
            uint64_t carry = 0;
            for (int i = 0; i < n; ++i) {
                u128 p = static_cast<u128>(x[i]) * 5 + carry;
                x[i] = static_cast<uint64_t>(p);
                carry = static_cast<uint64_t>(p >> 64);
            }
            if (carry != 0) x[n++] = carry;
        }
        int bl = bit_length(x, n);
        t.entry[q - POW5_MIN] = {bits_at(x, n, bl - 64), bits_at(x, n, bl - 128)};
        t.log2[q - POW5_MIN] = static_cast<int16_t>(bl - 1);
    }
    uint64_t y[17] = {};
    y[16] = 1;  // 2^1024
    int m_n = 17;
    for (int m = 1; m <= -POW5_MIN; ++m) {
        uint64_t rem = 0;
        for (int i = m_n - 1; i >= 0; --i) {
            u128 cur = (static_cast<u128>(rem) << 64) | y[i];
            y[i] = static_cast<uint64_t>(cur / 5);
            rem = static_cast<uint64_t>(cur % 5);
        }
        while (y[m_n - 1] == 0) --m_n;
        int bl = bit_length(y, m_n);
        t.entry[-m - POW5_MIN] = {bits_at(y, m_n, bl - 64), bits_at(y, m_n, bl - 128)};
        t.log2[-m - POW5_MIN] = static_cast<int16_t>(bl - 1 - 1024);
    }
    return t;
}

constexpr Pow5Table POW5 = make_pow5_table();

inline const Pow5& pow5(int q) { return POW5.entry[q - POW5_MIN]; }
constexpr int pow5_log2(int q) { return POW5.log2[q - POW5_MIN]; }

// floor(e * log10(2)) and floor(log10(3/4 * 2^e)), for |e| <= 1500.
constexpr int floor_log10_pow2(int e) { return static_cast<int>((int64_t{e} * 661971961083) >> 41); }
constexpr int floor_log10_three_quarters_pow2(int e) {
    return static_cast<int>((int64_t{e} * 661971961083 - 274743187321) >> 41);
}

// Checks floor_log10_pow2 against the exact table: k is right when
// 10^k <= 2^e < 10^(k+1). For k != 0, 10^k <= 2^e exactly when
// floor(log2(10^k)) = k + L(k) < e (10^k is never a power of two).
constexpr bool pow10_at_most_pow2(int k, int e) { return k == 0 ? e >= 0 : k + pow5_log2(k) < e; }
constexpr bool check_floor_log10_pow2() {
    for (int e = -1100; e <= 1100; ++e) {
        int k = floor_log10_pow2(e);
        if (!pow10_at_most_pow2(k, e) || pow10_at_most_pow2(k + 1, e)) return false;
    }
    return true;
}
static_assert(check_floor_log10_pow2());
static_assert(POW5.entry[0 - POW5_MIN].hi == (uint64_t{1} << 63) && POW5.entry[0 - POW5_MIN].lo == 0);
static_assert(POW5.entry[1 - POW5_MIN].hi == (uint64_t{5} << 61) && pow5_log2(1) == 2);
static_assert(pow5_log2(-1) == -3 && POW5.entry[-1 - POW5_MIN].hi == 0xCCCCCCCCCCCCCCCCull);

constexpr double POW10_DOUBLE[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                     1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr uint64_t POW10_INT[20] = {1ull,
                                    10ull,
                                    100ull,
                                    1000ull,
                                    10000ull,
                                    100000ull,
                                    1000000ull,
                                    10000000ull,
                                    100000000ull,
                                    1000000000ull,
                                    10000000000ull,
                                    100000000000ull,
                                    1000000000000ull,
                                    10000000000000ull,
                                    100000000000000ull,
                                    1000000000000000ull,
                                    10000000000000000ull,
                                    100000000000000000ull,
                                    1000000000000000000ull,
                                    10000000000000000000ull};

inline int decimal_length(uint64_t v) {
    int t = ((64 - std::countl_zero(v | 1)) * 1233) >> 12;  // floor(log10(2^bits)), at most 19
    return t + 1 - (v < POW10_INT[t]);
}

constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the `len` decimal digits of v ending just before `end`.
inline void write_digits(uint64_t v, char* end, int len) {
    while (len >= 2) {
        unsigned pair = static_cast<unsigned>(v % 100);
        v /= 100;
        end -= 2;
        std::memcpy(end, DIGIT_PAIRS + pair * 2, 2);
        len -= 2;
    }
    if (len == 1) *--end = static_cast<char>('0' + v);
}

inline uint64_t strip_zeros(uint64_t f, int& k) {
    if (f == 0) return f;
    while (f % 100 == 0) {
        f /= 100;
        k += 2;
    }
    if (f % 10 == 0) {
        f /= 10;
        ++k;
    }
    return f;
}

// Splits positive finite bits into c * 2^q.
inline void decode(uint64_t bits, uint64_t& c, int& q) {
    int be = static_cast<int>(bits >> 52);
    uint64_t frac = bits & FRAC_MASK;
    if (be == 0) {
        c = frac;
        q = MIN_EXP;
    } else {
        c = frac | HIDDEN_BIT;
        q = be - 1075;
    }
}

// ---------------------------------------------------------------------------
// Shortest digits.
//
// v = c * 2^q has the rounding interval R between the midpoints to its
// neighbours (closed when c is even, as ties go to even). Scaled by 10^-k with
// k = floor(log10(2^q)) (or of 3/4 * 2^q when the lower neighbour is closer),
// R is at least 1 and less than 10 wide, so it holds at most one multiple of
// 10 and at least one integer. The answer is that multiple of 10 when there
// is one, else the integer of R closest to v (even on a tie), both of which
// lie next to s = floor(v * 10^-k). The scaled values are computed four times
// over (vb = 4 v 10^-k and the bounds vbl, vbr) from g, the 126-bit upper
// approximation of 10^-k, rounded to odd: with g that precise, comparing them
// against 4s, 4(s+1) and the multiples of 40 gives the exact answer.

struct Decimal {
    uint64_t f;  // value = f * 10^k
    int k;
};

// g = g1 * 2^63 + g0 (63-bit halves); returns floor(g * cp / 2^127) with the
// lowest bit set when the bits from 2^64 to 2^127 of the product are not all
// zero. The bits below 2^64 are left out on purpose: they hold the excess of g
// over 10^-k, which must not count as a fraction.
inline uint64_t round_to_odd(uint64_t g1, uint64_t g0, uint64_t cp) {
    uint64_t x1 = static_cast<uint64_t>((static_cast<u128>(g0) * cp) >> 64);
    u128 y = static_cast<u128>(g1) * cp;
    uint64_t y0 = static_cast<uint64_t>(y);
    uint64_t y1 = static_cast<uint64_t>(y >> 64);
    uint64_t z = (y0 >> 1) + x1;
    uint64_t vbp = y1 + (z >> 63);
    return vbp | (((z & ~SIGN_BIT) + ~SIGN_BIT) >> 63);
}

Decimal shortest(uint64_t bits) {
    uint64_t c;
    int q;
    decode(bits, c, q);
    // Integers below 2^53: the interval holds no other integer and no shorter decimal.
    if (q <= 0 && q >= -52 && c >= HIDDEN_BIT) {
        uint64_t mask = (uint64_t{1} << -q) - 1;
        if ((c & mask) == 0) return {c >> -q, 0};
    }
    uint64_t out = c & 1;
    uint64_t cb = c << 2;
    uint64_t cbr = cb + 2;
    uint64_t cbl;
    int k;
    if (c != HIDDEN_BIT || q == MIN_EXP) {
        cbl = cb - 2;
        k = floor_log10_pow2(q);
    } else {
        cbl = cb - 1;
        k = floor_log10_three_quarters_pow2(q);
    }
    int h = q + pow5_log2(-k) - k + 2;
    const Pow5& t = pow5(-k);
    // g = floor(T / 4) + 1: 10^-k to 126 bits, rounded up, split in 63-bit halves.
    uint64_t g_lo = (t.lo >> 2) | (t.hi << 62);
    uint64_t g_hi = t.hi >> 2;
    if (++g_lo == 0) ++g_hi;
    uint64_t g1 = (g_hi << 1) | (g_lo >> 63);
    uint64_t g0 = g_lo & ~SIGN_BIT;

    uint64_t vb = round_to_odd(g1, g0, cb << h);
    uint64_t vbl = round_to_odd(g1, g0, cbl << h);
    uint64_t vbr = round_to_odd(g1, g0, cbr << h);

    uint64_t s = vb >> 2;
    uint64_t sp10 = s / 10 * 10;
    uint64_t tp10 = sp10 + 10;
    bool upin = vbl + out <= sp10 << 2;
    bool wpin = (tp10 << 2) + out <= vbr;
    if (upin != wpin) return {upin ? sp10 : tp10, k};

    uint64_t t1 = s + 1;
    bool uin = vbl + out <= s << 2;
    bool win = (t1 << 2) + out <= vbr;
    if (uin != win) return {uin ? s : t1, k};
    int64_t cmp = static_cast<int64_t>(vb - ((s + t1) << 1));
    return {cmp < 0 || (cmp == 0 && (s & 1) == 0) ? s : t1, k};
}

// ---------------------------------------------------------------------------
// Rounding to n significant digits.

struct U192 {
    uint64_t w0, w1, w2;
};

inline U192 mul_192(uint64_t a, const Pow5& t) {
    u128 lo = static_cast<u128>(a) * t.lo;
    u128 hi = static_cast<u128>(a) * t.hi;
    u128 mid = static_cast<u128>(static_cast<uint64_t>(hi)) + static_cast<uint64_t>(lo >> 64);
    return {static_cast<uint64_t>(lo), static_cast<uint64_t>(mid),
            static_cast<uint64_t>(hi >> 64) + static_cast<uint64_t>(mid >> 64)};
}

inline uint64_t word_of(const U192& x, int i) { return i == 0 ? x.w0 : i == 1 ? x.w1 : i == 2 ? x.w2 : 0; }

// floor(x / 2^n) for 64 <= n < 192, when it fits 64 bits.
inline uint64_t shift_right(const U192& x, int n) {
    int w = n / 64, s = n % 64;
    uint64_t low = word_of(x, w) >> s;
    return s == 0 ? low : low | (word_of(x, w + 1) << (64 - s));
}

// x mod 2^n for 0 < n <= 192.
inline U192 low_bits(U192 x, int n) {
    if (n < 64) return {x.w0 & ((uint64_t{1} << n) - 1), 0, 0};
    if (n < 128) return {x.w0, n == 64 ? 0 : x.w1 & ((uint64_t{1} << (n - 64)) - 1), 0};
    if (n < 192) return {x.w0, x.w1, n == 128 ? 0 : x.w2 & ((uint64_t{1} << (n - 128)) - 1)};
    return x;
}

inline U192 pow2_192(int n) {
    U192 r{0, 0, 0};
    uint64_t b = uint64_t{1} << (n % 64);
    if (n < 64) r.w0 = b;
    else if (n < 128) r.w1 = b;
    else r.w2 = b;
    return r;
}

inline int compare_192(const U192& a, const U192& b) {
    if (a.w2 != b.w2) return a.w2 < b.w2 ? -1 : 1;
    if (a.w1 != b.w1) return a.w1 < b.w1 ? -1 : 1;
    if (a.w0 != b.w0) return a.w0 < b.w0 ? -1 : 1;
    return 0;
}

inline U192 add_192(U192 a, uint64_t b) {
    a.w0 += b;
    if (a.w0 < b && ++a.w1 == 0) ++a.w2;
    return a;
}

// Rounds c * 2^q to n <= 17 digits with 128-bit products: m (exactly n
// digits, or fewer when the value is an integer with fewer digits) times
// 10^(x - len(m) + 1). Returns false when the product cannot decide.
bool fixed_fast(uint64_t c, int q, int n, uint64_t& m, int& x) {
    int bl = 64 - std::countl_zero(c);
    // Integers below 2^64 are rounded with integer arithmetic.
    if ((q >= 0 && bl + q <= 64) || (q < 0 && q > -64 && (c & ((uint64_t{1} << -q) - 1)) == 0)) {
        uint64_t u = q >= 0 ? c << q : c >> -q;
        int d = decimal_length(u);
        x = d - 1;
        if (d <= n) {
            m = u;
            return true;
        }
        uint64_t p = POW10_INT[d - n];
        uint64_t r = u % p;
        m = u / p;
        if (r > p - r || (r == p - r && (m & 1))) ++m;
        if (m == POW10_INT[n]) {
            m = POW10_INT[n - 1];
            ++x;
        }
        return true;
    }
    int x0 = floor_log10_pow2(q + bl - 1);  // the decimal exponent is x0 or x0 + 1
    for (int attempt = 0; attempt < 2; ++attempt) {
        int k = x0 + attempt - n + 1;  // y = v * 10^-k has n digits before the point
        int idx = -k;
        if (idx < POW5_MIN || idx > POW5_MAX) return false;
        U192 p = mul_192(c, pow5(idx));
        int sh = 127 - pow5_log2(idx) - q + k;  // y = p / 2^sh (approximately)
        if (sh < 64 || sh >= 182) return false;
        uint64_t ip = shift_right(p, sh);
        if (ip >= POW10_INT[n]) continue;
        if (ip < POW10_INT[n - 1]) return false;
        U192 f = low_bits(p, sh);
        U192 half = pow2_192(sh - 1);
        bool up;
        if (idx >= 0 && idx <= 55) {  // exact product
            int cmp = compare_192(f, half);
            up = cmp > 0 || (cmp == 0 && (ip & 1));
        } else {
            // The exact fraction lies strictly between f and f + c.
            U192 fc = add_192(f, c);
            if (compare_192(fc, pow2_192(sh)) > 0) return false;
            if (compare_192(f, half) >= 0) up = true;
            else if (compare_192(fc, half) <= 0) up = false;
            else return false;
        }
        m = ip + up;
        x = x0 + attempt;
        if (m == POW10_INT[n]) {
            m = POW10_INT[n - 1];
            ++x;
        }
        return true;
    }
    return false;
}

// Rounds c * 2^q to n digits exactly with big integers; writes the digits
// (not NUL-terminated, possibly with trailing zeros) and returns the decimal
// exponent of the first one.
int fixed_exact(uint64_t c, int q, int n, char* digits) {
    BigInt num(c), den(1);
    if (q >= 0) num.shift_left(static_cast<uint32_t>(q));
    else den.shift_left(static_cast<uint32_t>(-q));
    int bl = 64 - std::countl_zero(c);
    int x = floor_log10_pow2(q + bl - 1);
    if (x >= 0) den.mul_pow10(static_cast<uint32_t>(x));
    else num.mul_pow10(static_cast<uint32_t>(-x));
    BigInt den10 = den;
    den10.mul_small(10);
    if (bigint::compare(num, den10) >= 0) {
        den = den10;
        ++x;
    }
    BigInt den2 = den, den4 = den, den8 = den;
    den2.shift_left(1);
    den4.shift_left(2);
    den8.shift_left(3);
    for (int i = 0; i < n; ++i) {
        if (i > 0) num.mul_small(10);
        digits[i] = static_cast<char>('0' + bigint::divide_small_quotient(num, den, den2, den4, den8));
    }
    // num is the remainder: round up when 2 * num > den, or equal and odd.
    num.shift_left(1);
    int cmp = bigint::compare(num, den);
    if (cmp > 0 || (cmp == 0 && ((digits[n - 1] - '0') & 1))) {
        int i = n - 1;
        while (i >= 0 && digits[i] == '9') digits[i--] = '0';
        if (i >= 0) {
            ++digits[i];
        } else {
            digits[0] = '1';
            ++x;
        }
    }
    return x;
}

// The rounded digits of positive finite non-zero bits, without trailing
// zeros and NUL-terminated; returns the count and sets the point position.
int fixed_digits_bits(uint64_t bits, int n, char* digits, int& point) {
    uint64_t c;
    int q;
    decode(bits, c, q);
    uint64_t m;
    int x;
    if (n <= 17 && fixed_fast(c, q, n, m, x)) {
        int k = 0;
        m = strip_zeros(m, k);
        int len = decimal_length(m);
        write_digits(m, digits + len, len);
        digits[len] = 0;
        point = x + 1;
        return len;
    }
    x = fixed_exact(c, q, n, digits);
    int len = n;
    while (len > 1 && digits[len - 1] == '0') --len;
    digits[len] = 0;
    point = x + 1;
    return len;
}

// ---------------------------------------------------------------------------
// Text to double.

// The double nearest w * 10^q for w != 0 and -342 <= q <= 308, from the
// 192-bit product of w and the table entry. `ok` is false when the product
// cannot decide the rounding; the bits are then within one unit of the answer.
[[gnu::always_inline]] inline uint64_t eisel_lemire(uint64_t w, int q, bool& ok) {
    int lz = std::countl_zero(w);
    w <<= lz;
    const Pow5& t = pow5(q);
    bool exact = q >= 0 && q <= 55;  // the table entry is exact: a zero remainder is a true tie
    // The product with the high half of the entry usually decides alone: the
    // low half adds less than 2^128, which can only carry into the rounding
    // bit when every bit of w2 below it is one.
    U192 p;
    bool full = exact;
    if (full) {
        p = mul_192(w, t);
    } else {
        u128 h = static_cast<u128>(w) * t.hi;
        p = {0, static_cast<uint64_t>(h), static_cast<uint64_t>(h >> 64)};
    }
    int base = pow5_log2(q) - 127 + q - lz;  // bit i of p weighs 2^(i + base)
    ok = true;
    for (;;) {
        int top = 190 + static_cast<int>(p.w2 >> 63);  // index of the leading one
        int e_top = top + base;
        if (e_top >= 1024) return INF_BITS;
        if (e_top < -1076) return 0;
        bool normal = e_top >= -1022;
        int unit = normal ? top - 52 : MIN_EXP - base;  // bit index of the last mantissa bit
        int hb = unit - 1 - 128;                        // bits of w2 below the rounding bit: 9..64
        uint64_t low_mask = hb == 64 ? ~uint64_t{0} : (uint64_t{1} << hb) - 1;
        if (!full && (p.w2 & low_mask) == low_mask) {
            p = mul_192(w, t);
            full = true;
            continue;
        }
        uint64_t quotient = hb == 64 ? 0 : p.w2 >> hb;
        uint64_t mant = quotient >> 1;
        if (exact) {
            bool rest_zero = (p.w2 & low_mask) == 0 && p.w1 == 0 && p.w0 == 0;
            if ((quotient & 1) && (!rest_zero || (mant & 1))) ++mant;
        } else {
            // The exact product exceeds p by less than 2^64; it cannot carry into
            // the rounding bit unless all bits between are ones.
            if (full && (p.w2 & low_mask) == low_mask && p.w1 == ~uint64_t{0}) ok = false;
            if (quotient & 1) ++mant;
        }
        uint64_t bits = normal ? (static_cast<uint64_t>(e_top + 1023) << 52) + (mant - HIDDEN_BIT) : mant;
        return bits >= INF_BITS ? INF_BITS : bits;
    }
}

// Where the significant digits of a number text are: [a1, b1) then [a2, b2).
struct DigitSpans {
    const char* a1;
    const char* b1;
    const char* a2;
    const char* b2;
};

constexpr int64_t MAX_EXACT_DIGITS = 800;

// Compares D * 10^e with M * 2^E exactly. The two sides are within a few
// units of each other, so after the powers of two are lined up both are about
// as long as the longer of D (at most 801 digits, 2,661 bits) and M * 5^-e
// (e >= -1125: 54 + 2,612 bits); with e >= 0 both stay below 1,100 bits. That
// is well inside a BigInt.
int compare_exact(const BigInt& d, int64_t e, uint64_t mm, int64_t be) {
    BigInt left = d;
    BigInt right(mm);
    if (e >= 0) {
        left.mul_pow5(static_cast<uint32_t>(e));
        int64_t s = e - be;
        if (s >= 0) left.shift_left(static_cast<uint32_t>(s));
        else right.shift_left(static_cast<uint32_t>(-s));
    } else {
        right.mul_pow5(static_cast<uint32_t>(-e));
        int64_t s = be - e;
        if (s >= 0) right.shift_left(static_cast<uint32_t>(s));
        else left.shift_left(static_cast<uint32_t>(-s));
    }
    return bigint::compare(left, right);
}

// The exact path: the digits as a big integer D (at most 800 of them; a
// longer text, whose last digit is not zero, is cut and given a final digit
// 1, which keeps it on the same side of every midpoint between doubles, as
// those have at most 768 significant digits), compared with the midpoints
// around the estimate, which moves one unit at a time until the text lies
// between its two midpoints (ties to even).
uint64_t exact_path(const DigitSpans& sp, int64_t nd, int64_t e, uint64_t x) {
    BigInt d;
    d.set(0);
    int64_t take = nd > MAX_EXACT_DIGITS ? MAX_EXACT_DIGITS : nd;
    uint64_t chunk = 0;
    int chunk_len = 0;
    const char* p = sp.a1;
    const char* end = sp.b1;
    bool second = false;
    for (int64_t i = 0; i < take; ++i) {
        while (p == end && !second) {
            p = sp.a2;
            end = sp.b2;
            second = true;
        }
        chunk = chunk * 10 + static_cast<uint64_t>(*p++ - '0');
        if (++chunk_len == 19) {
            d.mul_add_small(POW10_INT[19], chunk);
            chunk = 0;
            chunk_len = 0;
        }
    }
    if (chunk_len > 0) d.mul_add_small(POW10_INT[chunk_len], chunk);
    if (nd > take) {
        d.mul_add_small(10, 1);
        e += nd - take - 1;
    }
    int dir = 0;
    for (int guard = 0; guard < 1000; ++guard) {
        uint64_t c;
        int q;
        decode(x, c, q);  // infinity decodes as 2^52 * 2^972 = 2^1024
        if (x < INF_BITS && dir >= 0) {
            int cmp = compare_exact(d, e, 2 * c + 1, q - 1);
            if (cmp > 0) {
                ++x;
                dir = 1;
                continue;
            }
            if (cmp == 0) return x + (x & 1);
        }
        if (x > 0 && dir <= 0) {
            bool narrow = (x & FRAC_MASK) == 0 && (x >> 52) > 1;  // the lower neighbour is closer
            int cmp = narrow ? compare_exact(d, e, 4 * c - 1, q - 2) : compare_exact(d, e, 2 * c - 1, q - 1);
            if (cmp < 0) {
                --x;
                dir = -1;
                continue;
            }
            if (cmp == 0) return x - (x & 1);
        }
        break;
    }
    return x;
}

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Eight characters at once (little-endian loads: the first character is the
// lowest byte). A byte is a digit when its high nibble is 3 and adding 6
// keeps it so; a carry out of a byte only happens for non-digits.
inline uint64_t load8(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline bool all_digits8(uint64_t v) {
    return ((v & 0xF0F0F0F0F0F0F0F0ull) | (((v + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) >> 4)) ==
           0x3333333333333333ull;
}
// The value of eight digit characters: pairs first (each byte becomes ten
// times itself plus the next), then the four pairs weighted 10^6, 10^4, 100, 1.
inline uint64_t digits8_value(uint64_t v) {
    v -= 0x3030303030303030ull;
    v = v * 10 + (v >> 8);
    uint64_t a = (v & 0x000000FF000000FFull) * (100 + (1000000ull << 32));
    uint64_t b = ((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32));
    return (a + b) >> 32;
}
constexpr bool SWAR_DIGITS = std::endian::native == std::endian::little;

// Reads the digits from p on: the first 19 significant ones accumulate in w,
// all of them count in nd. Returns where the digits end.
[[gnu::always_inline]] inline const char* read_digits(const char* p, const char* end, uint64_t& w, int64_t& nd) {
    if constexpr (SWAR_DIGITS) {
        while (end - p >= 8 && nd <= 11) {
            uint64_t v = load8(p);
            if (!all_digits8(v)) break;
            w = w * 100000000 + digits8_value(v);
            nd += 8;
            p += 8;
        }
    }
    while (p < end && nd < 19 && is_digit(*p)) {
        w = w * 10 + static_cast<uint64_t>(*p - '0');
        ++nd;
        ++p;
    }
    if (nd >= 19) {
        if constexpr (SWAR_DIGITS) {
            while (end - p >= 8 && all_digits8(load8(p))) {
                nd += 8;
                p += 8;
            }
        }
        while (p < end && is_digit(*p)) {
            ++nd;
            ++p;
        }
    }
    return p;
}

inline double with_sign(uint64_t bits, bool negative) {
    return std::bit_cast<double>(negative ? bits | SIGN_BIT : bits);
}

// Consumes as much of `word` (lower case) as matches, ignoring case.
inline const char* match_word(const char* p, const char* end, const char* word) {
    while (*word && p < end && (*p | 0x20) == *word) {
        ++p;
        ++word;
    }
    return p;
}

thread_local Digits tls_digits;
thread_local char tls_text[BUFFER_SIZE];

}  // namespace

// ---------------------------------------------------------------------------

double from_text(const char* start, const char* end, int extra_exp, ptrdiff_t* left) {
    const char* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const char* digits_begin = p;
    while (p < end && *p == '0') ++p;
    bool any_digit = p > digits_begin;

    uint64_t w = 0;   // the first 19 significant digits
    int64_t nd = 0;   // significant digits (trailing zeros included)
    const char* a1 = p;
    p = read_digits(p, end, w, nd);
    const char* b1 = p;
    any_digit |= b1 > a1;

    // 1.#INF, 1.#NaN
    if (b1 - a1 == 1 && end - p >= 3 && p[0] == '.' && p[1] == '#') {
        char c = static_cast<char>(p[2] | 0x20);
        if (c == 'i' || c == 'n') {
            const char* stop = match_word(p + 2, end, c == 'i' ? "inf" : "nan");
            if (left) *left = end - stop;
            return c == 'i' ? with_sign(INF_BITS, negative) : std::bit_cast<double>(QNAN_BITS);
        }
    }

    const char* a2 = p;
    const char* b2 = p;
    int64_t frac_len = 0;
    bool saw_point = false;
    if (p < end && *p == '.') {
        const char* f = p + 1;
        const char* s = f;
        if (nd == 0) {
            while (s < end && *s == '0') ++s;
        }
        a2 = s;
        s = read_digits(s, end, w, nd);
        b2 = s;
        any_digit |= s > f;
        if (any_digit) {
            saw_point = true;
            frac_len = s - f;
            p = s;
        } else {
            a2 = b2 = p;
        }
    }
    if (!any_digit) {
        if (left) *left = end - start;
        return 0.0;
    }

    int64_t exp = 0;
    bool saw_exp = false;
    if (end - p >= 2 && (*p == 'e' || *p == 'E')) {
        const char* s = p + 1;
        bool eneg = false;
        if (*s == '+' || *s == '-') {
            eneg = *s == '-';
            ++s;
        }
        if (s < end && is_digit(*s)) {
            while (s < end && is_digit(*s)) {
                if (exp < 1000000000000000) exp = exp * 10 + (*s - '0');
                ++s;
            }
            if (eneg) exp = -exp;
            saw_exp = true;
            p = s;
        }
    }
    if (left) *left = end - p;

    int64_t e = exp + extra_exp - frac_len;
    if (nd == 0) return saw_point || saw_exp ? with_sign(0, negative) : 0.0;
    DigitSpans spans{a1, b1, a2, b2};

    if (nd > 19) {
        // Drop trailing zeros, then read the first 19 digits again.
        while (spans.b2 > spans.a2 && spans.b2[-1] == '0') {
            --spans.b2;
            ++e;
            --nd;
        }
        if (spans.b2 == spans.a2) {
            while (spans.b1 > spans.a1 && spans.b1[-1] == '0') {
                --spans.b1;
                ++e;
                --nd;
            }
        }
        if (nd > 19) {
            int64_t sci = nd + e;  // the value lies in [10^(sci-1), 10^sci)
            if (sci > 310) return with_sign(INF_BITS, negative);
            if (sci <= -324) return with_sign(0, negative);
            int q = static_cast<int>(e + nd - 19);
            bool ok1, ok2;
            uint64_t lo = eisel_lemire(w, q, ok1);
            if (ok1 && eisel_lemire(w + 1, q, ok2) == lo && ok2) return with_sign(lo, negative);
            return with_sign(exact_path(spans, nd, e, lo), negative);
        }
        // At most 19 digits remain: w / 10^(19 - nd) drops the zeros read into w.
        w /= POW10_INT[19 - nd];
    }

    // At most 19 digits: w is exact.
    if (w == 0) return with_sign(0, negative);
    if (e > 308) return with_sign(INF_BITS, negative);
    if (e < -342) return with_sign(0, negative);
    int q = static_cast<int>(e);
    if (w <= (uint64_t{1} << 53)) {
        double d = static_cast<double>(static_cast<int64_t>(w));
        if (q >= 0 && q <= 22) return negative ? -(d * POW10_DOUBLE[q]) : d * POW10_DOUBLE[q];
        if (q < 0 && q >= -22) return negative ? -(d / POW10_DOUBLE[-q]) : d / POW10_DOUBLE[-q];
        if (q > 22 && q <= 22 + 15 && w <= (uint64_t{1} << 53) / POW10_INT[q - 22]) {
            double r = static_cast<double>(static_cast<int64_t>(w * POW10_INT[q - 22])) * 1e22;
            return negative ? -r : r;
        }
    }
    bool ok;
    uint64_t bits = eisel_lemire(w, q, ok);
    if (!ok) bits = exact_path(spans, nd, e, bits);
    return with_sign(bits, negative);
}

void dtoa_r(double value, int limit, bool point_zero, Digits& out) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    bool negative = (bits & SIGN_BIT) != 0;
    uint64_t abs = bits & ~SIGN_BIT;
    out.text[0] = '-';
    out.negative = negative;
    if (abs >= INF_BITS || abs == 0) {
        const char* text;
        if (abs == 0) {
            out.point = POINT_ZERO;
            text = point_zero ? "0.0" : "0";
        } else {
            out.point = POINT_SPECIAL;
            if (abs > INF_BITS) negative = out.negative = false;
            text = abs == INF_BITS ? "1.#INF" : "1.#NaN";
        }
        size_t len = std::strlen(text);
        std::memcpy(out.text + 1, text, len + 1);
        out.start = negative ? 0 : 1;
        out.count = static_cast<int>(len) + negative;
        return;
    }
    out.start = 1;
    char* digits = out.text + 1;
    Decimal d = shortest(abs);
    d.f = strip_zeros(d.f, d.k);
    int len = decimal_length(d.f);
    if (limit > 0 && len > limit) {
        out.count = fixed_digits_bits(abs, limit, digits, out.point);
        return;
    }
    write_digits(d.f, digits + len, len);
    digits[len] = 0;
    out.count = len;
    out.point = d.k + len;
}

const char* dtoa(double value, int limit, int* point, int* sign, int* count, bool point_zero) {
    Digits& d = tls_digits;
    dtoa_r(value, limit, point_zero, d);
    if (point) *point = d.point;
    if (sign) *sign = d.negative ? 1 : 0;
    if (count) *count = d.count;
    return d.string();
}

size_t form_shortest_r(double value, int limit, bool point_zero, char* out) {
    Digits d;
    dtoa_r(value, limit, point_zero, d);
    if (d.point >= POINT_ZERO) {
        std::memcpy(out, d.string(), static_cast<size_t>(d.count) + 1);
        return static_cast<size_t>(d.count);
    }
    const char* digits = d.text + 1;
    int n = d.count;
    int p = d.point;
    char* o = out;
    if (d.negative) *o++ = '-';
    if (p >= 18 || p < -6) {
        *o++ = digits[0];
        if (n > 1) {
            *o++ = '.';
            std::memcpy(o, digits + 1, static_cast<size_t>(n - 1));
            o += n - 1;
        } else if (point_zero) {
            *o++ = '.';
            *o++ = '0';
        }
        *o++ = 'e';
        int x = p - 1;
        if (x < 0) {
            *o++ = '-';
            x = -x;
        }
        int xl = decimal_length(static_cast<uint64_t>(x));
        write_digits(static_cast<uint64_t>(x), o + xl, xl);
        o += xl;
    } else if (p >= 1) {
        if (p >= n) {
            std::memcpy(o, digits, static_cast<size_t>(n));
            o += n;
            std::memset(o, '0', static_cast<size_t>(p - n));
            o += p - n;
            if (point_zero) {
                *o++ = '.';
                *o++ = '0';
            }
        } else {
            std::memcpy(o, digits, static_cast<size_t>(p));
            o += p;
            *o++ = '.';
            std::memcpy(o, digits + p, static_cast<size_t>(n - p));
            o += n - p;
        }
    } else {
        *o++ = '0';
        *o++ = '.';
        std::memset(o, '0', static_cast<size_t>(-p));
        o += -p;
        std::memcpy(o, digits, static_cast<size_t>(n));
        o += n;
    }
    *o = 0;
    return static_cast<size_t>(o - out);
}

const char* form_shortest(double value, int limit, bool point_zero) {
    form_shortest_r(value, limit, point_zero, tls_text);
    return tls_text;
}

int fixed_digits(double value, int n, char* digits, int* point) {
    uint64_t abs = std::bit_cast<uint64_t>(value) & ~SIGN_BIT;
    if (abs == 0 || abs >= INF_BITS || n < 1 || n > MAX_FIXED_DIGITS) return 0;
    int pt;
    int len = fixed_digits_bits(abs, n, digits, pt);
    if (point) *point = pt;
    return len;
}

size_t format_g(double value, int precision, char* out) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    bool negative = (bits & SIGN_BIT) != 0;
    uint64_t abs = bits & ~SIGN_BIT;
    char* o = out;
    if (abs >= INF_BITS) {
        const char* text = abs == INF_BITS ? (negative ? "-1.#INF" : "1.#INF") : "1.#NaN";
        size_t len = std::strlen(text);
        std::memcpy(out, text, len + 1);
        return len;
    }
    if (negative) *o++ = '-';
    if (abs == 0) {
        *o++ = '0';
        *o = 0;
        return static_cast<size_t>(o - out);
    }
    int prec = precision < 0 ? 6 : precision == 0 ? 1 : precision > MAX_FIXED_DIGITS ? MAX_FIXED_DIGITS : precision;
    char digits[MAX_FIXED_DIGITS + 1];
    int point;
    int n = fixed_digits_bits(abs, prec, digits, point);
    int x = point - 1;
    if (x < -4 || x >= prec) {
        *o++ = digits[0];
        if (n > 1) {
            *o++ = '.';
            std::memcpy(o, digits + 1, static_cast<size_t>(n - 1));
            o += n - 1;
        }
        *o++ = 'e';
        *o++ = x < 0 ? '-' : '+';
        if (x < 0) x = -x;
        int xl = decimal_length(static_cast<uint64_t>(x));
        if (xl < 2) xl = 2;
        write_digits(static_cast<uint64_t>(x), o + xl, xl);
        o += xl;
    } else if (x >= 0) {
        int ip = x + 1;
        if (n <= ip) {
            std::memcpy(o, digits, static_cast<size_t>(n));
            o += n;
            std::memset(o, '0', static_cast<size_t>(ip - n));
            o += ip - n;
        } else {
            std::memcpy(o, digits, static_cast<size_t>(ip));
            o += ip;
            *o++ = '.';
            std::memcpy(o, digits + ip, static_cast<size_t>(n - ip));
            o += n - ip;
        }
    } else {
        *o++ = '0';
        *o++ = '.';
        std::memset(o, '0', static_cast<size_t>(-x - 1));
        o += -x - 1;
        std::memcpy(o, digits, static_cast<size_t>(n));
        o += n;
    }
    *o = 0;
    return static_cast<size_t>(o - out);
}

namespace detail {
void pow5_entry(int q, uint64_t* hi, uint64_t* lo, int* log2) {
    *hi = pow5(q).hi;
    *lo = pow5(q).lo;
    *log2 = pow5_log2(q);
}
}  // namespace detail

}  // namespace kiv::float_text
