// libFuzzer target over the lexer's token loop and the number scanners.
//
// Built by CMake; `make test` replays the kept inputs of
// tests/fuzz/corpus/lexer_scan_fuzz. To fuzz, build with clang and libFuzzer
// (`make fuzz`), then run from the repository root:
//   build-fuzz/lexer_scan_fuzz -max_len=256 tests/fuzz/corpus/lexer_scan_fuzz
// and keep new inputs worth keeping there (libFuzzer -merge=1).
//
// Checks, besides the sanitizers: every walk ends (end or error) within a
// bound of items; extents lie inside the input; each scan_token call from any
// start state stays inside the input and ends in a final state; the number
// scanners give the same result for the same text in 1-, 2- and 4-byte units;
// a float that scans equals the C library's correctly rounded reading of the
// same text, and an integer that scans equals strtoll's.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/number_scan.h"
#include "tests/support/lexer_walker.h"

using namespace kiv;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void walk(const uint8_t* data, size_t size) {
    lexer::Walker w(data, data + size);
    size_t items = 0;
    for (;;) {
        const lexer::Item& it = w.next();
        check(it.start >= data && it.end <= data + size && it.start <= it.end);
        if (it.event == lexer::Event::end || it.event == lexer::Event::error) break;
        check(++items <= 2 * size + 4);
    }
}

void tokens(const uint8_t* data, size_t size) {
    for (uint8_t start : {lexer::S_START, lexer::S_BRACED, lexer::S_POINT, lexer::S_PATH}) {
        lexer::Cursor c;
        c.pos = data;
        c.end = data + size;
        c.start_state = start;
        for (size_t n = 0; n <= size + 1; ++n) {
            lexer::Token t;
            const uint8_t* before = c.pos;
            scan_token(c, t);
            check(lexer::is_final(t.state));
            check(t.start >= before && t.start <= t.end && t.end <= data + size && c.pos == t.end);
            if (t.state == lexer::F_END || t.state == lexer::F_ERROR) break;
            // Structural tokens stop before their byte; step over it as a scanner would.
            if (c.pos == before || t.end == t.start) {
                if (c.pos == c.end) break;
                ++c.pos;
            }
        }
    }
}

std::vector<uint8_t> widen(const uint8_t* data, size_t size, uint32_t unit) {
    std::vector<uint8_t> out(size * unit + 4);
    for (size_t i = 0; i < size; ++i) {
        const uint32_t c = data[i];
        if (unit == 2) {
            const uint16_t v = uint16_t(c);
            std::memcpy(&out[i * 2], &v, 2);
        } else {
            std::memcpy(&out[i * 4], &c, 4);
        }
    }
    return out;
}

void numbers(const uint8_t* data, size_t size) {
    if (size > 400) return;
    const uint32_t n = uint32_t(size);
    int e1 = 0, e2 = 0;
    const int32_t i1 = number::scan_integer(data, n, 1, &e1);
    const double f1 = number::scan_float(data, n, 1, &e2);
    check(e1 == number::SCAN_OK || e1 == number::SCAN_BAD || e1 == number::SCAN_OVERFLOW);
    check(e2 == number::SCAN_OK || std::isnan(f1));
    if (e2 == number::SCAN_OK) {  // agrees with the C library's correctly rounded conversion
        std::string text;
        for (size_t i = 0; i < size; ++i) {
            if (data[i] != '\'') text += data[i] == ',' ? '.' : char(data[i]);
        }
        char* end = nullptr;
        const double ref = std::strtod(text.c_str(), &end);
        check(end == text.c_str() + text.size() && ref == f1);  // (the sign of a zero is the kernel's rule)
    }
    if (e1 == number::SCAN_OK) {  // the digits alone, read by the C library
        std::string text;
        for (size_t i = 0; i < size; ++i) {
            if (data[i] != '\'') text += char(data[i]);
        }
        check(std::strtoll(text.c_str(), nullptr, 10) == i1);
    }
    Cell t1{}, t2{};
    int e3 = 0;
    number::scan_tuple(data, n, 1, &e3, &t1);
    number::MoneyText m1, m2;
    const bool money1 = number::scan_money_text(data, n, 1, &m1);
    for (uint32_t unit : {2u, 4u}) {
        const std::vector<uint8_t> wide = widen(data, size, unit);
        int w1 = 0, w2 = 0, w3 = 0;
        check(number::scan_integer(wide.data(), n, unit, &w1) == i1 && w1 == e1);
        const double f = number::scan_float(wide.data(), n, unit, &w2);
        check(w2 == e2 && (e2 != number::SCAN_OK || std::memcmp(&f, &f1, sizeof f) == 0));
        number::scan_tuple(wide.data(), n, unit, &w3, &t2);
        check(w3 == e3 && (e3 != number::SCAN_OK || std::memcmp(&t1, &t2, sizeof t1) == 0));
        const bool money = number::scan_money_text(wide.data(), n, unit, &m2);
        check(money == money1 && (!money || (m1.currency == m2.currency && m1.point == m2.point &&
                                             m1.digits == m2.digits && m1.negative == m2.negative)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so that any read past the end is caught.
    std::vector<uint8_t> copy(data, data + size);
    const uint8_t* p = copy.empty() ? nullptr : copy.data();
    if (!p) {
        static const uint8_t none = 0;
        p = &none;
    }
    walk(p, size);
    tokens(p, size);
    numbers(p, size);
    return 0;
}
