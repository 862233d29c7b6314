#include "runtime/bigint.h"

#include <bit>

namespace kiv::bigint {

using u128 = unsigned __int128;

void BigInt::mul_add_small(uint64_t m, uint64_t a) {
    uint64_t carry = a;
    for (int i = 0; i < size; ++i) {
        u128 p = static_cast<u128>(limb[i]) * m + carry;
        limb[i] = static_cast<uint64_t>(p);
        carry = static_cast<uint64_t>(p >> 64);
    }
    if (carry != 0) {
        if (size == CAPACITY) {
            overflowed = true;
            return;
        }
        limb[size++] = carry;
    }
}

void BigInt::mul_pow5(uint32_t e) {
    // 5^27 is the largest power of five below 2^64.
    constexpr uint64_t POW5_27 = 7450580596923828125ull;
    static constexpr uint64_t small[28] = {
        1ull,
        5ull,
        25ull,
        125ull,
        625ull,
        3125ull,
        15625ull,
        78125ull,
        390625ull,
        1953125ull,
        9765625ull,
        48828125ull,
        244140625ull,
        1220703125ull,
        6103515625ull,
        30517578125ull,
        152587890625ull,
        762939453125ull,
        3814697265625ull,
        19073486328125ull,
        95367431640625ull,
        476837158203125ull,
        2384185791015625ull,
        11920928955078125ull,
        59604644775390625ull,
        298023223876953125ull,
        1490116119384765625ull,
        POW5_27,
    };
    if (size == 0) return;
    while (e >= 27) {
        mul_small(POW5_27);
        e -= 27;
    }
    if (e != 0) mul_small(small[e]);
}

void BigInt::shift_left(uint32_t bits) {
    if (size == 0 || bits == 0) return;
    uint32_t words = bits / 64;
    uint32_t rest = bits % 64;
    int new_size = size + static_cast<int>(words) + (rest != 0 ? 1 : 0);
    if (new_size > CAPACITY) {
        overflowed = true;
        size = 0;
        return;
    }
    if (rest == 0) {
        for (int i = size - 1; i >= 0; --i) limb[i + words] = limb[i];
    } else {
        limb[size + words] = 0;
        for (int i = size - 1; i >= 0; --i) {
            limb[i + words + 1] |= limb[i] >> (64 - rest);
            limb[i + words] = limb[i] << rest;
        }
    }
    for (uint32_t i = 0; i < words; ++i) limb[i] = 0;
    size = new_size;
    while (size > 0 && limb[size - 1] == 0) --size;
}

void BigInt::sub(const BigInt& other) {
    uint64_t borrow = 0;
    for (int i = 0; i < size; ++i) {
        uint64_t o = i < other.size ? other.limb[i] : 0;
        uint64_t d = limb[i] - o;
        uint64_t b1 = limb[i] < o;
        uint64_t d2 = d - borrow;
        uint64_t b2 = d < borrow;
        limb[i] = d2;
        borrow = b1 | b2;
    }
    while (size > 0 && limb[size - 1] == 0) --size;
}

int BigInt::bit_length() const {
    if (size == 0) return 0;
    return size * 64 - std::countl_zero(limb[size - 1]);
}

int compare(const BigInt& a, const BigInt& b) {
    if (a.size != b.size) return a.size < b.size ? -1 : 1;
    for (int i = a.size - 1; i >= 0; --i) {
        if (a.limb[i] != b.limb[i]) return a.limb[i] < b.limb[i] ? -1 : 1;
    }
    return 0;
}

uint32_t divide_small_quotient(BigInt& num, const BigInt& den, const BigInt& den2, const BigInt& den4,
                               const BigInt& den8) {
    uint32_t q = 0;
    if (compare(num, den8) >= 0) {
        num.sub(den8);
        q += 8;
    }
    if (compare(num, den4) >= 0) {
        num.sub(den4);
        q += 4;
    }
    if (compare(num, den2) >= 0) {
        num.sub(den2);
        q += 2;
    }
    if (compare(num, den) >= 0) {
        num.sub(den);
        q += 1;
    }
    return q;
}

}  // namespace kiv::bigint
