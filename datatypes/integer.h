// integer!: the 32-bit signed whole number.
//
// Cell payload: word 2 holds the value as int32; words 1 and 3 are unused.
//
// Arithmetic is two's complement with overflow checks. add, subtract and
// multiply never fail: a result that does not fit 32 bits makes the result
// cell float! holding the operation done in floating point. divide and
// remainder raise math zero-divide and overflow (-2147483648 / -1); divide
// gives float! when the division leaves a remainder (7 / 2 = 3.5). char!
// reuses do_math_op: an integer result only rewrites word 2 of the result
// cell, so a char! left operand keeps its type, and an overflow is seen by
// the caller as a result cell that turned float!.
//
// Mixed math with an integer! left operand is handed to the right operand's
// type: float!/percent!/time! to float! math, money! and vector! to that
// type's own math action (called with the operands as they are), pair!,
// point2D!, point3D!, tuple! and date! with the operands swapped.
#pragma once

#include <cstdint>

#include "datatypes/series.h"
#include "runtime/cell.h"
#include "datatypes/actions.h"

namespace kiv::integer {

// Registers integer! (its 62 action entries).
void init();

// ---- Helpers -------------------------------------------------------------------
inline int32_t get(const Cell* c) {
    return static_cast<int32_t>(c->w2);
}
// A plain integer! value (not on any stack).
inline Cell cell(int32_t v) {
    return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0};
}
// Sets the cell's type to integer!, keeping its other header bits, and stores v.
inline Cell* make_at(Cell* c, int32_t v) {
    c->set_type(TYPE_INTEGER);
    c->w2 = static_cast<uint32_t>(v);
    return c;
}
// A new integer! cell on the data stack.
Cell* push(int32_t v);
// The return slot (argument base) becomes integer! v.
Cell* box(int32_t v);
// Appends a new integer! cell (plain header) at a block value's tail.
Cell* make_in(const Cell* block, int32_t v);
// Word 2 of the return slot.
int32_t get_star();
// The return slot's value when it is integer!, else 0.
int32_t get_any_star();
inline int32_t sign(int32_t v) {
    return (v > 0) - (v < 0);
}
// |v|; -2147483648 raises math overflow.
int32_t abs_checked(int32_t v);

// Decimal text of v, NUL-terminated, in `buf` (12 bytes); returns its length.
inline int form_signed_r(int32_t v, char* buf) {
    // The digits are counted first and written from the last one back, two
    // at a time, straight into buf.
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    uint32_t m = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    // Digits from the bit length: about log10(2) x bits, less one when m
    // lies below that power of ten (m | 1 leaves the test alike, and counts
    // zero as one digit).
    static constexpr uint32_t powers[] = {1,      10,      100,      1000,      10000,
                                          100000, 1000000, 10000000, 100000000, 1000000000};
    uint32_t bits = 32u - uint32_t(__builtin_clz(m | 1u));
    uint32_t guess = (bits * 1233u) >> 12;
    int digits = int(guess) + ((m | 1u) >= powers[guess] ? 1 : 0);
    int len = digits + (v < 0 ? 1 : 0);
    char* q = buf + len;
    *q = 0;
    while (m >= 100) {
        uint32_t r = m % 100;
        m /= 100;
        q -= 2;
        q[0] = pairs[2 * r];
        q[1] = pairs[2 * r + 1];
    }
    if (m >= 10) {
        q -= 2;
        q[0] = pairs[2 * m];
        q[1] = pairs[2 * m + 1];
    } else {
        *--q = static_cast<char>('0' + m);
    }
    if (v < 0) *--q = '-';
    return len;
}
// The same in one static buffer, valid until the next call.
const char* form_signed(int32_t v);

// One arithmetic operation (MathOp code) on two 32-bit values. With a result
// cell, an overflowing add/subtract/multiply or a divide with a remainder
// makes that cell float! (and the returned int is meaningless); an integer
// result rewrites only word 2 of the cell. Without a result cell divide
// truncates toward zero and an overflowing add/subtract/multiply raises math
// overflow (there is no cell to promote). Errors: math zero-divide, overflow.
int32_t do_math_op(int32_t left, int32_t right, int32_t op, Cell* result);
// The math actions' worker: operands at the argument base and the next cell;
// returns the result cell (the argument base).
Cell* do_math(int32_t op);

// ---- Actions -------------------------------------------------------------------
Outcome make(Cell* proto, Cell* spec, uint32_t type);
Outcome to(Cell* proto, Cell* spec, uint32_t type);
Unwind random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
void absolute();
void negate(Cell* value);
void power();
void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling);
bool even_q(Cell* value);
bool odd_q(Cell* value);
Cell* complement(Cell* value);

// ---- Shared with the other number types -----------------------------------------
namespace detail {
// Code units of a string-like or binary! value from its index to its tail.
struct TextView {
    const uint8_t* data;
    uint32_t unit;   // 1, 2 or 4 bytes
    uint32_t count;  // units
    uint32_t at(uint32_t i) const;
};
TextView text_of(const Cell* series);
// The word naming the nearest calling function (for error arguments).
Cell caller_word();
// The word for a fixed name (action and argument names in error arguments);
// none until words can be interned.
Cell word_named(const char* name);
// The word of the action that runs a math operation code.
const char* op_name(int32_t op);
// Calls the math action of `type` for operation code `op` on the operands at
// the argument base; a type whose module does not exist yet raises internal
// not-done.
void call_math_action(uint32_t type, int32_t op);
}  // namespace detail

}  // namespace kiv::integer
