#include "runtime/unicode.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "runtime/error.h"
#include "runtime/lowlevel.h"
#include "runtime/memory.h"

namespace kiv::unicode {

static_assert(std::endian::native == std::endian::little, "2- and 4-byte units are stored little-endian");

// ---- The DFA table ------------------------------------------------------------------

namespace {

// Byte classes:
//   0 00-7F  1 80-8F  9 90-9F  7 A0-BF  8 C0-C1, F5-FF  2 C2-DF  10 E0
//   3 E1-EC, EE-EF  4 ED  11 F0  6 F1-F3  5 F4
constexpr uint8_t byte_class(uint32_t b) {
    if (b < 0x80) return 0;
    if (b < 0x90) return 1;
    if (b < 0xA0) return 9;
    if (b < 0xC0) return 7;
    if (b < 0xC2) return 8;
    if (b < 0xE0) return 2;
    if (b == 0xE0) return 10;
    if (b < 0xED) return 3;
    if (b == 0xED) return 4;
    if (b < 0xF0) return 3;
    if (b == 0xF0) return 11;
    if (b < 0xF4) return 6;
    if (b == 0xF4) return 5;
    return 8;
}

// States (pre-multiplied by 12): 0 accept, 12 reject, 24 one continuation
// byte left, 36 two left, 48 after E0 (A0-BF next: no overlong), 60 after ED
// (any continuation: surrogates are text, unicode.h), 72 after F0 (90-BF: no
// overlong), 84 after F1-F3 (any continuation), 96 after F4 (80-8F: nothing
// above 0x10FFFF).
constexpr std::array<uint8_t, 256 + 108> make_dfa() {
    std::array<uint8_t, 256 + 108> t{};
    for (uint32_t b = 0; b < 256; ++b) t[b] = byte_class(b);
    for (uint32_t i = 0; i < 108; ++i) t[256 + i] = UTF8_REJECT;
    auto go = [&t](uint32_t state, uint32_t cls, uint32_t next) { t[256 + state + cls] = uint8_t(next); };
    go(0, 0, 0);
    go(0, 2, 24);
    go(0, 3, 36);
    go(0, 4, 60);
    go(0, 5, 96);
    go(0, 6, 84);
    go(0, 10, 48);
    go(0, 11, 72);
    for (uint32_t cont : {1u, 7u, 9u}) {
        go(24, cont, 0);
        go(36, cont, 24);
        go(84, cont, 36);
    }
    go(48, 7, 24);
    go(60, 1, 24);
    go(60, 7, 24);
    go(60, 9, 24);
    go(72, 7, 36);
    go(72, 9, 36);
    go(96, 1, 36);
    return t;
}

}  // namespace

alignas(64) constinit const std::array<uint8_t, 256 + 108> utf8_dfa = make_dfa();

// ---- Shared helpers ---------------------------------------------------------------

namespace {

constexpr uint64_t HIGH_BITS = 0x8080808080808080ull;
constexpr uint64_t LOW_BITS = 0x0101010101010101ull;

inline uint64_t load64(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// Non-zero when some byte of w equals b (bit 7 of each such byte set; bytes
// above the first match may report falsely, which only costs a slow step).
inline uint64_t has_byte(uint64_t w, uint8_t b) {
    uint64_t v = w ^ (LOW_BITS * b);
    return (v - LOW_BITS) & ~v & HIGH_BITS;
}

// Allocation here runs under memory::CollectionPause, so it never collects:
// a source pointer into a series buffer stays valid, and a node made but not
// yet stored anywhere cannot be reclaimed.

// A text buffer whose unit is not 1, 2 or 4 is an internal fault.
[[noreturn]] void bad_unit() {
    lowlevel::quit(101, lowlevel::caller_address());
}

inline uint32_t checked_unit(const SeriesBuffer* buf) {
    uint32_t u = buf->unit();
    if (u != 1 && u != 2 && u != 4) bad_unit();
    return u;
}

[[noreturn]] void fire_invalid_char(uint32_t cp) {
    fire({"script", "invalid-char"}, Cell{TYPE_INTEGER, cp, 0, 0});
}

// The characters of a string value from its index (cut to limit when limit
// >= 0 and smaller). Re-read it after any allocation.
struct Text {
    const uint8_t* p;
    uint32_t n;
    uint32_t unit;
};

Text text_of(const Cell* str, int32_t limit) {
    const SeriesBuffer* buf = buffer_of(str->w2);
    uint32_t unit = checked_unit(buf);
    uint32_t shift = unit_shift(unit);
    uint32_t total = (buf->tail - buf->head) >> shift;
    uint32_t index = std::min(str->w1, total);
    uint32_t n = total - index;
    if (limit >= 0 && uint32_t(limit) < n) n = uint32_t(limit);
    return Text{buf->head_ptr() + (index << shift), n, unit};
}

// Encodes a valid code point (<= 0x10FFFF); returns the end of the bytes.
inline uint8_t* put_utf8(uint32_t cp, uint8_t* d) {
    if (cp < 0x80) {
        *d++ = uint8_t(cp);
    } else if (cp < 0x800) {
        *d++ = uint8_t(0xC0 | (cp >> 6));
        *d++ = uint8_t(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *d++ = uint8_t(0xE0 | (cp >> 12));
        *d++ = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        *d++ = uint8_t(0x80 | (cp & 0x3F));
    } else {
        *d++ = uint8_t(0xF0 | (cp >> 18));
        *d++ = uint8_t(0x80 | ((cp >> 12) & 0x3F));
        *d++ = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        *d++ = uint8_t(0x80 | (cp & 0x3F));
    }
    return d;
}

// Encodes n units as UTF-8 (with crlf, CR before every LF); returns the end.
uint8_t* encode_units(const uint8_t* p, uint32_t n, uint32_t unit, uint8_t* d, bool crlf) {
    if (unit == 1) {
        const uint8_t* end = p + n;
        while (p < end) {
            // ASCII runs, 8 bytes at a time.
            while (end - p >= 8) {
                uint64_t w = load64(p);
                if ((w & HIGH_BITS) || (crlf && has_byte(w, 0x0A))) break;
                std::memcpy(d, &w, 8);
                p += 8;
                d += 8;
            }
            if (p >= end) break;
            uint32_t b = *p++;
            if (b < 0x80) {
                if (crlf && b == 0x0A) *d++ = 0x0D;
                *d++ = uint8_t(b);
            } else {
                *d++ = uint8_t(0xC0 | (b >> 6));
                *d++ = uint8_t(0x80 | (b & 0x3F));
            }
        }
        return d;
    }
    for (uint32_t i = 0; i < n; ++i, p += unit) {
        uint32_t cp = read_unit(p, unit);
        if (cp > 0x10FFFF) fire_invalid_char(cp);
        if (crlf && cp == 0x0A) *d++ = 0x0D;
        d = put_utf8(cp, d);
    }
    return d;
}

// The validating decoder proper, inlined into the loaders' scan.
inline int32_t check_char(const uint8_t* p, uint32_t available, uint32_t* used) {
    uint32_t b0 = p[0];
    if (b0 < 0x80) {
        *used = 1;
        return int32_t(b0);
    }
    // The lead fixes the length and the range of the second byte; the range
    // excludes overlong forms (E0, F0) and values above 0x10FFFF (F4). C0, C1
    // and F5-FF never start a valid sequence. An encoded surrogate (ED A0-BF)
    // decodes to its code point, as the ^(D800) escape and to char! make it.
    uint32_t need, lo = 0x80, hi = 0xBF;
    if (b0 < 0xC2) return UTF8_INVALID;
    if (b0 < 0xE0) {
        need = 2;
    } else if (b0 < 0xF0) {
        need = 3;
        if (b0 == 0xE0) lo = 0xA0;
    } else if (b0 < 0xF5) {
        need = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return UTF8_INVALID;
    }
    uint32_t have = std::min(available, need);
    if (have >= 2 && (p[1] < lo || p[1] > hi)) return UTF8_INVALID;
    for (uint32_t i = 2; i < have; ++i)
        if ((p[i] & 0xC0) != 0x80) return UTF8_INVALID;
    if (available < need) return UTF8_INCOMPLETE;
    uint32_t cp;
    if (need == 2) {
        cp = ((b0 & 0x1F) << 6) | (p[1] & 0x3F);
    } else if (need == 3) {
        cp = ((b0 & 0x0F) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3F);
        if (cp == 0xFFFE) return UTF8_INVALID;  // the byte-order mark's mirror image
    } else {
        cp = ((b0 & 0x07) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3F);
    }
    *used = need;
    return int32_t(cp);
}

// What load_utf8 learns from validating its input before it allocates.
struct Utf8Scan {
    const uint8_t* stop;  // end of the decodable part
    uint32_t max_cp;
    uint32_t chars;  // characters up to stop (CRs included)
};

Utf8Scan scan_utf8(const uint8_t* p, const uint8_t* end) {
    uint32_t max_cp = 0, chars = 0;
    while (p < end) {
        while (end - p >= 8) {
            uint64_t w = load64(p);
            uint64_t high = w & HIGH_BITS;
            if (high) {
                uint32_t skip = uint32_t(std::countr_zero(high)) >> 3;
                p += skip;
                chars += skip;
                break;
            }
            p += 8;
            chars += 8;
        }
        if (p >= end) break;
        if (*p < 0x80) {
            ++p;
            ++chars;
            continue;
        }
        int32_t cp;
        if (end - p >= 4) {
            // The table decoder refuses exactly what check_char refuses,
            // U+FFFE aside, and is faster on text with many multi-byte runs.
            const uint8_t* next = fast_decode_utf8_char(p, &cp);
            if (cp < 0 || cp == 0xFFFE) fire_invalid_utf8(p, end);
            p = next;
        } else {
            uint32_t used;
            cp = check_char(p, uint32_t(end - p), &used);
            if (cp == UTF8_INVALID) fire_invalid_utf8(p, end);
            if (cp == UTF8_INCOMPLETE) return Utf8Scan{p, max_cp, chars};
            p += used;
        }
        max_cp = std::max(max_cp, uint32_t(cp));
        ++chars;
    }
    // max_cp only tracks multi-byte characters: 0 means pure ASCII.
    return Utf8Scan{end, max_cp, chars};
}

// Decodes validated UTF-8 in [p, stop) into units of type T; `end` is the end
// of the whole input (for the CR LF look-ahead). Returns the end of the units.
template <class T>
T* decode_validated(const uint8_t* p, const uint8_t* stop, const uint8_t* end, T* d, bool cr) {
    while (p < stop) {
        while (stop - p >= 8) {
            uint64_t w = load64(p);
            if ((w & HIGH_BITS) || (cr && has_byte(w, 0x0D))) break;
            if constexpr (sizeof(T) == 1) {
                std::memcpy(d, &w, 8);
            } else {
                for (int k = 0; k < 8; ++k) d[k] = T(p[k]);
            }
            p += 8;
            d += 8;
        }
        if (p >= stop) break;
        uint32_t b = *p;
        if (b < 0x80) {
            ++p;
            if (cr && b == 0x0D) {
                if (p < end && *p == 0x0A) continue;  // CR LF: keep the LF only
                b = 0x0A;                             // lone CR
            }
            *d++ = T(b);
        } else if (b < 0xE0) {
            *d++ = T(((b & 0x1F) << 6) | (p[1] & 0x3F));
            p += 2;
        } else if (b < 0xF0) {
            *d++ = T(((b & 0x0F) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3F));
            p += 3;
        } else {
            *d++ = T(((b & 0x07) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3F));
            p += 4;
        }
    }
    return d;
}

inline uint32_t unit_for(uint32_t max_cp) {
    return max_cp <= 0xFF ? 1 : max_cp <= 0xFFFF ? 2 : 4;
}

// Makes `node` ready to take `count` units of at least `unit` bytes from its
// head (content replaced) and returns the buffer; the unit is kept when wider
// unless `exact` is set. Called under memory::CollectionPause.
SeriesBuffer* prepare_target(Off node, uint32_t count, uint32_t unit, bool exact) {
    SeriesBuffer* buf = buffer_of(node);
    uint32_t have = checked_unit(buf);
    if (!exact) unit = std::max(unit, have);
    uint64_t need = uint64_t(std::max(count, 1u)) * unit;
    if (buf->data_end() - buf->head < need) {
        buf->tail = buf->head;  // nothing to keep
        buf = memory::expand_series(buf, need);
    }
    buf->flags = (buf->flags & ~series_flag::UNIT_MASK) | unit;
    buf->tail = buf->head;
    return buf;
}

// Widens n units in place, last to first, so that no unit is overwritten
// before it is read.
template <class From, class To>
void widen_backward(uint8_t* base, uint32_t n) {
    uint32_t i = n;
    while (i >= 8) {
        i -= 8;
        From in[8];
        To out[8];
        std::memcpy(in, base + size_t(i) * sizeof(From), sizeof in);
        for (int k = 0; k < 8; ++k) out[k] = To(in[k]);
        std::memcpy(base + size_t(i) * sizeof(To), out, sizeof out);
    }
    while (i > 0) {
        --i;
        From v;
        std::memcpy(&v, base + size_t(i) * sizeof(From), sizeof v);
        To w = To(v);
        std::memcpy(base + size_t(i) * sizeof(To), &w, sizeof w);
    }
}

template <class From, class To>
SeriesBuffer* widen(SeriesBuffer* buf) {
    constexpr uint32_t from = sizeof(From), to = sizeof(To);
    uint32_t n = (buf->tail - buf->head) / from;
    uint64_t need = uint64_t(n) * to + to;  // the converted content and one more unit
    // The room counts from the head: a head-centred buffer has less than its size.
    if (buf->data_end() - buf->head < need) buf = memory::expand_series_copy(buf, need);
    widen_backward<From, To>(buf->head_ptr(), n);
    buf->tail = buf->head + n * to;
    buf->flags = (buf->flags & ~series_flag::UNIT_MASK) | to;
    return buf;
}

// A new byte series holding the given bytes (for error arguments).
Cell binary_of(const uint8_t* bytes, uint32_t n) {
    memory::CollectionPause pause;
    Off node = memory::alloc_bytes(n);
    SeriesBuffer* buf = buffer_of(node);
    std::memcpy(buf->head_ptr(), bytes, n);
    buf->tail = buf->head + n;
    return Cell{TYPE_BINARY, 0, node, 0};
}

inline uint32_t read_u16(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
}

}  // namespace

// ---- Counting and skipping -----------------------------------------------------

namespace {

// One fast-decoder step that never reads at or past end.
inline const uint8_t* step_bounded(const uint8_t* p, const uint8_t* end) {
    if (end - p >= 4) {
        int32_t cp;
        return fast_decode_utf8_char(p, &cp);
    }
    uint32_t state = utf8_dfa[256 + utf8_dfa[*p++]];
    while (state > UTF8_REJECT && p < end) state = utf8_dfa[256 + state + utf8_dfa[*p++]];
    return p;
}

}  // namespace

uint32_t count_utf8_chars(const uint8_t* p, const uint8_t* end) {
    uint32_t count = 0;
    while (p < end) {
        while (end - p >= 32) {
            uint64_t a = load64(p), b = load64(p + 8), c = load64(p + 16), d = load64(p + 24);
            if ((a | b | c | d) & HIGH_BITS) break;
            p += 32;
            count += 32;
        }
        while (end - p >= 8) {
            uint64_t high = load64(p) & HIGH_BITS;
            if (high) {
                uint32_t skip = uint32_t(std::countr_zero(high)) >> 3;
                p += skip;
                count += skip;
                break;
            }
            p += 8;
            count += 8;
        }
        if (p >= end) break;
        if (*p < 0x80) {
            ++p;
        } else {
            p = step_bounded(p, end);
        }
        ++count;
    }
    return count;
}

const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, uint32_t n) {
    while (n > 0 && p < end) {
        while (n >= 8 && end - p >= 8) {
            uint64_t high = load64(p) & HIGH_BITS;
            if (high) {
                uint32_t skip = uint32_t(std::countr_zero(high)) >> 3;
                p += skip;
                n -= skip;
                break;
            }
            p += 8;
            n -= 8;
        }
        if (n == 0 || p >= end) break;
        p = *p < 0x80 ? p + 1 : step_bounded(p, end);
        --n;
    }
    return p;
}

// ---- Encoding ---------------------------------------------------------------------

int utf8_char_size(uint32_t cp) {
    if (cp <= 0x7F) return 1;
    if (cp <= 0x7FF) return 2;
    if (cp <= 0xFFFF) return 3;
    if (cp <= 0x10FFFF) return 4;
    fire_invalid_char(cp);
}

uint64_t utf8_length(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    uint64_t total = 0;
    const uint8_t* p = start;
    switch (unit) {
        case 1:
            // Each byte is 1, plus 1 for every byte of 0x80 and above.
            total = uint64_t(end - start);
            for (; end - p >= 8; p += 8) total += uint64_t(std::popcount(load64(p) & HIGH_BITS));
            for (; p < end; ++p) total += *p >> 7;
            return total;
        case 2:
            for (; p < end; p += 2) {
                uint32_t cp = read_unit(p, 2);
                total += 1 + (cp >= 0x80) + (cp >= 0x800);
            }
            return total;
        case 4:
            for (; p < end; p += 4) total += uint64_t(utf8_char_size(read_unit(p, 4)));
            return total;
        default:
            bad_unit();
    }
}

int encode_utf8_char(uint32_t cp, uint8_t* dst) {
    if (cp > 0x10FFFF) fire_invalid_char(cp);
    return int(put_utf8(cp, dst) - dst);
}

int encode_utf8_char_bounded(uint32_t cp, uint8_t* dst, int32_t room) {
    uint8_t bytes[4];
    int n = encode_utf8_char(cp, bytes);
    if (room < 1) return 0;
    if (n > room) n = room;
    std::memcpy(dst, bytes, size_t(n));
    return n;
}

uint32_t encode_utf8_string(const Cell* str, uint8_t* dst, int32_t limit, bool nul) {
    Text t = text_of(str, limit);
    uint8_t* d = encode_units(t.p, t.n, t.unit, dst, false);
    if (nul) *d = 0;
    return uint32_t(d - dst);
}

uint32_t encode_utf8_bounded(const Cell* str, uint8_t* dst, int32_t room, int32_t limit, bool nul) {
    if (room < 1) return 0;
    Text t = text_of(str, limit);
    uint8_t* d = dst;
    uint8_t* stop = dst + room - (nul ? 1 : 0);
    const uint8_t* p = t.p;
    for (uint32_t i = 0; i < t.n; ++i, p += t.unit) {
        uint32_t cp = read_unit(p, t.unit);
        if (d + utf8_char_size(cp) > stop) break;
        d = put_utf8(cp, d);
    }
    if (nul) *d = 0;
    return uint32_t(d - dst);
}

uint8_t* to_utf8_bytes(Cell* str, int32_t* length, bool crlf) {
    Text t = text_of(str, *length);
    uint32_t k = t.unit == 1 ? 2 : t.unit == 2 ? 3 : 4;
    uint8_t* dst = cache_buffer(str, (uint64_t(t.n) + 1) * k);
    t = text_of(str, *length);  // the allocation may have moved the string
    uint8_t* d = encode_units(t.p, t.n, t.unit, dst, crlf);
    *d = 0;
    *length = int32_t(d - dst);
    return dst;
}

uint8_t* to_utf8(Cell* str, int32_t* length) {
    return to_utf8_bytes(str, length, false);
}

std::string to_utf8_string(const Cell* str) {
    Cell s = *str;  // the conversion allocates: read through a copy, not a cell that may move
    int32_t length = -1;
    const uint8_t* p = to_utf8_bytes(&s, &length, false);
    return std::string(reinterpret_cast<const char*>(p), size_t(length));
}

// ---- Widening --------------------------------------------------------------------

SeriesBuffer* widen_1_to_2(SeriesBuffer* buf) {
    return widen<uint8_t, uint16_t>(buf);
}
SeriesBuffer* widen_1_to_4(SeriesBuffer* buf) {
    return widen<uint8_t, uint32_t>(buf);
}
SeriesBuffer* widen_2_to_4(SeriesBuffer* buf) {
    return widen<uint16_t, uint32_t>(buf);
}

SeriesBuffer* widen_to(SeriesBuffer* buf, uint32_t unit) {
    uint32_t have = checked_unit(buf);
    if (unit <= have) return buf;
    if (unit == 2) return widen_1_to_2(buf);
    if (unit != 4) bad_unit();
    return have == 1 ? widen_1_to_4(buf) : widen_2_to_4(buf);
}

// ---- Validating decoding ----------------------------------------------------

int32_t check_utf8_char(const uint8_t* p, uint32_t available, uint32_t* used) {
    return check_char(p, available, used);
}

int32_t decode_utf8_char(const uint8_t* p, int32_t* length) {
    if (*length < 1) return -1;
    uint32_t used;
    int32_t cp = check_utf8_char(p, uint32_t(*length), &used);
    if (cp == UTF8_INVALID) fire_invalid_utf8(p, p + *length);
    if (cp == UTF8_INCOMPLETE) return -1;
    *length = int32_t(used);
    return cp;
}

void fire_invalid_utf8(const uint8_t* p, const uint8_t* end) {
    uint8_t bytes[4];
    uint32_t n = uint32_t(std::min<ptrdiff_t>(4, end - p));
    std::memcpy(bytes, p, n);  // before allocating: p may lie in a series buffer
    fire({"access", "invalid-utf8"}, binary_of(bytes, n));
}

// ---- Loading UTF-8 ----------------------------------------------------------------

Off load_utf8(const uint8_t* src, uint32_t count, Off target, uint32_t* bytes_left, bool cr) {
    const uint8_t* p = src;
    const uint8_t* end = src + count;
    if (count >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;

    // Validate and measure first: malformed input raises before anything is
    // allocated or written, and the one allocation below is made at the
    // final unit, so no widening pass is needed.
    Utf8Scan scan = scan_utf8(p, end);
    if (!bytes_left && scan.stop != end) fire_invalid_utf8(scan.stop, end);
    uint32_t unit = unit_for(scan.max_cp);

    memory::CollectionPause pause;
    SeriesBuffer* buf;
    if (target) {
        buf = prepare_target(target, scan.chars, unit, false);
        unit = buf->unit();
    } else {
        target = memory::alloc_codepoints(std::max(scan.chars, 1u), unit);
        buf = buffer_of(target);
    }
    uint8_t* head = buf->head_ptr();
    uint8_t* tail;
    if (unit == 1) {
        if (!cr && scan.max_cp < 0x80) {
            size_t n = size_t(scan.stop - p);
            if (n) std::memcpy(head, p, n);  // p may be null when n is 0
            tail = head + n;
        } else {
            tail = decode_validated<uint8_t>(p, scan.stop, end, head, cr);
        }
    } else if (unit == 2) {
        tail = reinterpret_cast<uint8_t*>(
            decode_validated<uint16_t>(p, scan.stop, end, reinterpret_cast<uint16_t*>(head), cr));
    } else {
        tail = reinterpret_cast<uint8_t*>(
            decode_validated<uint32_t>(p, scan.stop, end, reinterpret_cast<uint32_t*>(head), cr));
    }
    buf->tail = buf->head + uint32_t(tail - head);
    if (bytes_left) *bytes_left = uint32_t(end - scan.stop);
    return target;
}

Off load_utf8_into(const uint8_t* src, uint32_t count, Cell* str, uint32_t* bytes_left) {
    return load_utf8(src, count, str->w2, bytes_left, false);
}

Off load_utf8_new(const uint8_t* src, uint32_t count) {
    return load_utf8(src, count, 0, nullptr, false);
}

// ---- Bytes from and to the system -------------------------------------------------

namespace {

// One character of system bytes at p (p < end): a valid character, or the
// escape of the single byte at p. Sets *used to the bytes taken.
inline uint32_t escaped_char(const uint8_t* p, const uint8_t* end, uint32_t* used) {
    if (*p < 0x80) {
        *used = 1;
        return *p;
    }
    const int32_t cp = check_char(p, uint32_t(end - p), used);
    if (cp < 0 || is_escaped_byte(uint32_t(cp))) {
        *used = 1;
        return ESCAPED_BYTE_BASE + *p;
    }
    return uint32_t(cp);
}

template <class T>
T* decode_escaped(const uint8_t* p, const uint8_t* end, T* d, bool cr) {
    while (p < end) {
        uint32_t used;
        uint32_t c = escaped_char(p, end, &used);
        p += used;
        if (cr && c == 0x0D) {
            if (p < end && *p == 0x0A) continue;  // CR LF: keep the LF only
            c = 0x0A;                             // lone CR
        }
        *d++ = T(c);
    }
    return d;
}

}  // namespace

Off load_escaped(const uint8_t* src, uint32_t count, bool cr) {
    // Measure first, so that the one allocation is made at the final unit.
    const uint8_t* end = src + count;
    uint32_t max_cp = 0, chars = 0;
    for (const uint8_t* p = src; p < end; ++chars) {
        uint32_t used;
        uint32_t c = escaped_char(p, end, &used);
        if (cr && c == 0x0D && p + 1 < end && p[1] == 0x0A) --chars;
        max_cp = std::max(max_cp, c);
        p += used;
    }
    const uint32_t unit = unit_for(max_cp);
    memory::CollectionPause pause;
    Off node = memory::alloc_codepoints(std::max(chars, 1u), unit);
    SeriesBuffer* buf = buffer_of(node);
    uint8_t* head = buf->head_ptr();
    uint8_t* tail;
    if (unit == 1) {
        tail = decode_escaped<uint8_t>(src, end, head, cr);
    } else if (unit == 2) {
        tail = reinterpret_cast<uint8_t*>(decode_escaped<uint16_t>(src, end, reinterpret_cast<uint16_t*>(head), cr));
    } else {
        tail = reinterpret_cast<uint8_t*>(decode_escaped<uint32_t>(src, end, reinterpret_cast<uint32_t*>(head), cr));
    }
    buf->tail = buf->head + uint32_t(tail - head);
    return node;
}

std::string to_system_bytes(const Cell* str) {
    const Text t = text_of(str, -1);
    std::string out;
    out.reserve(t.n);
    const uint8_t* p = t.p;
    for (uint32_t i = 0; i < t.n; ++i, p += t.unit) {
        const uint32_t cp = read_unit(p, t.unit);
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (is_escaped_byte(cp)) {
            out.push_back(char(cp - ESCAPED_BYTE_BASE));
        } else {
            if (cp > 0x10FFFF) fire_invalid_char(cp);
            uint8_t bytes[4];
            out.append(reinterpret_cast<const char*>(bytes), size_t(put_utf8(cp, bytes) - bytes));
        }
    }
    return out;
}

// ---- UTF-16 -------------------------------------------------------------------------

uint32_t utf16_unit_width(const uint8_t* src, uint32_t count) {
    uint32_t width = 1;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t high = src[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high) width = 2;
    }
    return width;
}

Off load_utf16(const uint8_t* src, uint32_t count, Cell* target, bool cr) {
    if (!src) {
        // Text that a system call wrote into the target's conversion cache.
        if (!target || !target->w3)
            count = 0;
        else
            src = arena::ptr(buffer_of(target->w3)->data_start());
    }

    // Scan: the width the text needs, the characters it makes, and every
    // surrogate paired (an unpaired one raises before anything is written).
    uint32_t width = 1, chars = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t u = read_u16(src + 2 * i);
        if (u >= 0xD800 && u <= 0xDFFF) {
            bool paired = u <= 0xDBFF && i + 1 < count && (read_u16(src + 2 * i + 2) & 0xFC00) == 0xDC00;
            if (!paired) {
                const uint8_t* bad = src + 2 * i;
                fire_invalid_utf8(bad, src + 2 * uint64_t(count));
            }
            width = 4;
            ++i;
        } else if (u > 0xFF && width == 1) {
            width = 2;
        }
        if (!(cr && u == 0x0D)) ++chars;
    }

    memory::CollectionPause pause;
    Off node;
    SeriesBuffer* buf;
    if (target) {
        node = target->w2;
        buf = prepare_target(node, chars, width, true);
    } else {
        node = memory::alloc_codepoints(std::max(chars, 1u), width);
        buf = buffer_of(node);
    }
    uint8_t* d = buf->head_ptr();
    uint32_t written = 0;
    if (width == 2 && !cr) {
        std::memcpy(d, src, size_t(count) * 2);
        written = count;
    } else {
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t u = read_u16(src + 2 * i);
            if (cr && u == 0x0D) continue;
            if (u >= 0xD800 && u <= 0xDBFF) {
                uint32_t low = read_u16(src + 2 * i + 2);
                u = (((u & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000;
                ++i;
            }
            if (width == 1) {
                d[written] = uint8_t(u);
            } else if (width == 2) {
                uint16_t v = uint16_t(u);
                std::memcpy(d + 2 * written, &v, 2);
            } else {
                std::memcpy(d + 4 * written, &u, 4);
            }
            ++written;
        }
    }
    buf->tail = buf->head + written * width;
    return node;
}

uint64_t utf16_extra_bytes(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    uint64_t extra = 0;
    if (unit == 1) {
        for (const uint8_t* p = start; p < end; ++p) extra += *p == 0x0A ? 2 : 0;
        return extra;
    }
    if (unit != 2 && unit != 4) bad_unit();
    for (const uint8_t* p = start; p < end; p += unit) {
        uint32_t cp = read_unit(p, unit);
        if (cp == 0x0A || cp >= 0x10000) extra += 2;
    }
    return extra;
}

uint16_t* to_utf16_part(Cell* str, int32_t* length, bool crlf) {
    Text t = text_of(str, *length);
    if (t.unit == 4) {
        for (uint32_t i = 0; i < t.n; ++i)
            if (read_unit(t.p + 4 * i, 4) >= 0x110000) return nullptr;
    }
    uint64_t need = 2 * uint64_t(t.n) + 2 + utf16_extra_bytes(t.p, t.p + uint64_t(t.n) * t.unit, t.unit);
    uint16_t* dst = reinterpret_cast<uint16_t*>(cache_buffer(str, need));
    t = text_of(str, *length);  // the allocation may have moved the string
    uint16_t* d = dst;
    if (t.unit == 2 && !crlf) {
        std::memcpy(d, t.p, size_t(t.n) * 2);
        d += t.n;
    } else {
        const uint8_t* p = t.p;
        for (uint32_t i = 0; i < t.n; ++i, p += t.unit) {
            uint32_t cp = read_unit(p, t.unit);
            if (crlf && cp == 0x0A) *d++ = 0x0D;
            d += encode_utf16_char(cp, d);
        }
    }
    *d = 0;
    *length = int32_t(d - dst);
    return dst;
}

uint16_t* to_utf16(Cell* str) {
    int32_t length = -1;
    return to_utf16_part(str, &length, true);
}

uint16_t* latin1_to_utf16(const char* src, uint16_t* dst) {
    uint16_t* d = dst;
    while ((*d++ = uint8_t(*src++)) != 0) {
    }
    return dst;
}

int encode_utf16_char(uint32_t cp, uint16_t* dst) {
    if (cp < 0x10000) {
        dst[0] = uint16_t(cp);
        return 1;
    }
    if (cp < 0x110000) {
        cp -= 0x10000;
        dst[0] = uint16_t(0xD800 | (cp >> 10));
        dst[1] = uint16_t(0xDC00 | (cp & 0x3FF));
        return 2;
    }
    return 0;
}

// ---- Conversion cache -----------------------------------------------------------

uint8_t* cache_buffer(Cell* str, uint64_t bytes) {
    if (bytes > UINT32_MAX - 64) fire({"internal", "no-memory"});
    memory::CollectionPause pause;
    Off node = str->w3;
    if (!node) {
        node = memory::alloc_bytes(uint32_t(bytes));
        str->w3 = node;
    } else {
        SeriesBuffer* buf = buffer_of(node);
        if (buf->size < bytes) memory::expand_series_copy(buf, bytes);
    }
    return arena::ptr(buffer_of(node)->data_start());
}

}  // namespace kiv::unicode
