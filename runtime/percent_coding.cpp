#include "runtime/percent_coding.h"

#include "runtime/base_codecs.h"
#include "runtime/unicode.h"

namespace kiv::percent_coding {

namespace {

struct Tables {
    bool keep[2][128] = {};
    constexpr Tables() {
        for (int c = 0; c < 128; ++c) {
            bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            keep[STRICT][c] = alnum;
            keep[GENERAL][c] = alnum;
        }
        for (char c : {'-', '.', '_', '~'}) keep[STRICT][uint8_t(c)] = keep[GENERAL][uint8_t(c)] = true;
        for (char c : {'!', '#', '$', '&', '\'', '(', ')', '*', '+', ',', '/', ':', '=', '?', '@'})
            keep[GENERAL][uint8_t(c)] = true;
    }
};
constexpr Tables TABLES;

// An escape "%" and two hexadecimal digits at p + offset (offset bytes are
// only added once they are known to lie inside the text).
inline bool escape_at(const uint8_t* p, const uint8_t* end, uint8_t* byte, size_t offset = 0) {
    if (size_t(end - p) < offset + 3) return false;
    p += offset;
    if (p[0] != '%') return false;
    const int h = base_codecs::hex_digit(p[1]), l = base_codecs::hex_digit(p[2]);
    if (h < 0 || l < 0) return false;
    *byte = uint8_t((h << 4) | l);
    return true;
}

}  // namespace

bool keeps(Table table, uint8_t byte) {
    return byte < 128 && TABLES.keep[table][byte];
}

int encode_byte(Table table, uint8_t byte, uint8_t out[3]) {
    if (keeps(table, byte)) {
        out[0] = byte;
        return 1;
    }
    out[0] = '%';
    out[1] = uint8_t(base_codecs::HEX_UPPER[byte >> 4]);
    out[2] = uint8_t(base_codecs::HEX_UPPER[byte & 15]);
    return 3;
}

const uint8_t* decode_char(const uint8_t* p, const uint8_t* end, uint32_t* cp) {
    uint8_t b;
    if (escape_at(p, end, &b)) {
        if (b < 0xC0) {
            *cp = b;
            return p + 3;
        }
        const int n = unicode::utf8_lead_length(b);
        uint8_t seq[4] = {b, 0, 0, 0};
        bool escaped = true;
        for (int i = 1; i < n && escaped; ++i) escaped = escape_at(p, end, &seq[i], 3 * size_t(i));
        if (escaped) {
            uint32_t used = 0;
            const int32_t c = unicode::check_utf8_char(seq, uint32_t(n), &used);
            if (c < 0 || used != uint32_t(n)) return nullptr;
            *cp = uint32_t(c);
            return p + 3 * n;
        }
        // A lead byte whose continuation is not escaped: the "%" stays.
    }
    return unicode::next_utf8_char(p, end, cp);
}

uint32_t escaped_bytes(const uint8_t* p, const uint8_t* end, uint8_t out[4]) {
    if (!escape_at(p, end, &out[0])) return 0;
    const int n = unicode::utf8_lead_length(out[0]);
    uint32_t k = 1;
    while (int(k) < n && escape_at(p, end, &out[k], 3 * size_t(k))) ++k;
    return k;
}

Measure measure(const uint8_t* start, const uint8_t* end) {
    Measure m{true, 0, 0, 0};
    for (const uint8_t* p = start; p < end;) {
        uint32_t cp;
        const uint8_t* q = decode_char(p, end, &cp);
        if (!q) return Measure{false, 0, 0, uint32_t(p - start)};
        p = q;
        if (cp > m.widest) m.widest = cp;
        ++m.chars;
    }
    return m;
}

}  // namespace kiv::percent_coding
