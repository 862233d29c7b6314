// Unsigned big integers of fixed capacity for the exact steps of decimal
// conversion (runtime/float_text.cpp).
//
// A BigInt lives on the stack: 64 limbs of 64 bits (4096 bits), least
// significant limb first, `size` limbs in use and no zero limb at the top
// (zero has size 0). No operation allocates. The conversions stay below about
// 2,700 bits (the bound is worked out where they use it), so the capacity is
// never reached; should a caller break that bound anyway, the operation stops
// at the capacity and sets `overflowed` instead of writing out of bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kiv::bigint {

constexpr int CAPACITY = 64;  // limbs

struct BigInt {
    uint64_t limb[CAPACITY];
    int size = 0;
    bool overflowed = false;

    BigInt() = default;
    explicit BigInt(uint64_t v) { set(v); }
    // Copies only the limbs in use.
    BigInt(const BigInt& o) : size(o.size), overflowed(o.overflowed) {
        std::memcpy(limb, o.limb, static_cast<size_t>(size) * sizeof(uint64_t));
    }
    BigInt& operator=(const BigInt& o) {
        size = o.size;
        overflowed = o.overflowed;
        std::memmove(limb, o.limb, static_cast<size_t>(size) * sizeof(uint64_t));
        return *this;
    }

    void set(uint64_t v) {
        size = v != 0;
        limb[0] = v;
        overflowed = false;
    }
    bool is_zero() const { return size == 0; }

    // this = this * m + a
    void mul_add_small(uint64_t m, uint64_t a);
    void mul_small(uint64_t m) { mul_add_small(m, 0); }
    // this *= 5^e
    void mul_pow5(uint32_t e);
    // this *= 10^e
    void mul_pow10(uint32_t e) {
        mul_pow5(e);
        shift_left(e);
    }
    // this <<= bits
    void shift_left(uint32_t bits);
    // this -= other; requires this >= other
    void sub(const BigInt& other);
    // Number of significant bits (0 for zero).
    int bit_length() const;
};

// -1, 0 or 1 as a < b, a == b, a > b.
int compare(const BigInt& a, const BigInt& b);

// Divides `num` by `den` when the quotient is below 16: `num` becomes the
// remainder and the quotient is returned. `den2`, `den4` and `den8` are den
// times 2, 4 and 8 (callers that divide repeatedly by the same divisor make
// them once).
uint32_t divide_small_quotient(BigInt& num, const BigInt& den, const BigInt& den2, const BigInt& den4,
                               const BigInt& den8);

}  // namespace kiv::bigint
