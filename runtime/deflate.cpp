#include "runtime/deflate.h"

#include <cstring>
#include <initializer_list>

#include "runtime/checksum.h"

namespace kiv::deflate {

namespace {

// ---- The alphabets of DEFLATE ----------------------------------------------------------

constexpr uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DIST_BASE[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which the code-length code lengths are stored.
constexpr uint8_t CL_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr uint32_t reverse_bits(uint32_t code, uint32_t n) {
    uint32_t r = 0;
    for (uint32_t i = 0; i < n; ++i) r |= ((code >> i) & 1) << (n - 1 - i);
    return r;
}

// ---- Encoder ---------------------------------------------------------------------------

// The fixed codes, bit-reversed so that they are written least significant
// bit first, with their lengths.
struct FixedCodes {
    uint16_t lit_code[288];
    uint8_t lit_len[288];
    // Per match length 3..258: the length symbol's code with its extra bits
    // above it, and the total bit count.
    uint32_t len_bits[259];
    uint8_t len_nbits[259];
    constexpr FixedCodes() : lit_code{}, lit_len{}, len_bits{}, len_nbits{} {
        for (uint32_t s = 0; s < 288; ++s) {
            uint32_t code, n;
            if (s < 144) {
                code = 0x30 + s, n = 8;
            } else if (s < 256) {
                code = 0x190 + (s - 144), n = 9;
            } else if (s < 280) {
                code = s - 256, n = 7;
            } else {
                code = 0xC0 + (s - 280), n = 8;
            }
            lit_code[s] = uint16_t(reverse_bits(code, n));
            lit_len[s] = uint8_t(n);
        }
        for (uint32_t i = 0; i < 29; ++i) {
            uint32_t last = i == 28 ? 258 : LENGTH_BASE[i] + (1u << LENGTH_EXTRA[i]) - 1;
            if (i == 27) last = 257;  // 258 has its own symbol
            for (uint32_t len = LENGTH_BASE[i]; len <= last; ++len) {
                uint32_t s = 257 + i;
                len_bits[len] = lit_code[s] | ((len - LENGTH_BASE[i]) << lit_len[s]);
                len_nbits[len] = uint8_t(lit_len[s] + LENGTH_EXTRA[i]);
            }
        }
    }
};
constexpr FixedCodes fixed_codes;

class BitWriter {
  public:
    BitWriter(uint8_t* out, uint32_t cap) : out_(out), cap_(cap) {}
    // n <= 32 bits at a time.
    void put(uint32_t bits, uint32_t n) {
        buf_ |= uint64_t(bits) << cnt_;
        cnt_ += n;
        if (cnt_ >= 32) {
            if (pos_ + 4 <= cap_) {
                uint32_t v = uint32_t(buf_);
                std::memcpy(out_ + pos_, &v, 4);
                pos_ += 4;
            } else {
                for (int i = 0; i < 4; ++i) byte(uint8_t(buf_ >> (8 * i)));
            }
            buf_ >>= 32;
            cnt_ -= 32;
        }
    }
    // Pads to a byte with zero bits and writes what is left.
    void finish() {
        while (cnt_ > 0) {
            byte(uint8_t(buf_));
            buf_ >>= 8;
            cnt_ = cnt_ > 8 ? cnt_ - 8 : 0;
        }
    }
    // Bytes produced, counting those past the capacity.
    uint64_t size() const { return pos_; }

  private:
    void byte(uint8_t b) {
        if (pos_ < cap_) out_[pos_] = b;
        ++pos_;
    }
    uint8_t* out_;
    uint64_t cap_;
    uint64_t pos_ = 0;
    uint64_t buf_ = 0;
    uint32_t cnt_ = 0;
};

constexpr uint32_t BUCKETS = 1024;
constexpr uint32_t SLOTS = 4;
constexpr uint32_t WINDOW = 0x8000;
constexpr uint32_t MAX_MATCH = 258;

inline uint32_t three_bytes(const uint8_t* p) {
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

inline uint32_t bucket_of(const uint8_t* p) {
    uint32_t x = three_bytes(p);
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x & (BUCKETS - 1);
}

inline void put_distance(BitWriter& w, uint32_t dist) {
    const uint32_t x = dist - 1;
    uint32_t code, extra_bits, extra;
    if (x < 4) {
        code = x, extra_bits = 0, extra = 0;
    } else {
        const uint32_t hb = 31u - uint32_t(__builtin_clz(x));
        extra_bits = hb - 1;
        code = 2 * hb + ((x >> extra_bits) & 1);
        extra = x & ((1u << extra_bits) - 1);
    }
    w.put(reverse_bits(code, 5) | (extra << 5), 5 + extra_bits);
}

// ---- Decoder ---------------------------------------------------------------------------

// A decoding table: a primary table indexed by the next PRIMARY bits, and
// for longer codes subtables of a size fixed per table. An entry holds the
// symbol in bits 0-15 and the code length in bits 16-19; a subtable link
// holds the subtable's start in bits 0-15, its index bits in 16-19 and the
// LINK flag; a bit pattern no code starts with holds the BAD flag.
constexpr uint32_t LINK = 1u << 20;
constexpr uint32_t BAD = 1u << 21;
constexpr uint32_t LIT_PRIMARY = 10;
constexpr uint32_t DIST_PRIMARY = 8;
constexpr uint32_t CL_PRIMARY = 7;
// Room: the primary table plus one subtable per code longer than the
// primary bits, each at most 2^(15 - primary) entries.
constexpr uint32_t LIT_ROOM = (1u << LIT_PRIMARY) + 288 * (1u << (15 - LIT_PRIMARY));
constexpr uint32_t DIST_ROOM = (1u << DIST_PRIMARY) + 32 * (1u << (15 - DIST_PRIMARY));
constexpr uint32_t CL_ROOM = 1u << CL_PRIMARY;

// Builds the canonical decoding table of `n` code lengths. False when the
// lengths over-subscribe the code space; an incomplete code is accepted and
// its unused patterns decode as BAD.
bool build_table(const uint8_t* lens, uint32_t n, uint32_t primary, uint32_t* table) {
    uint32_t count[16] = {};
    for (uint32_t s = 0; s < n; ++s) ++count[lens[s]];
    count[0] = 0;
    int32_t left = 1;
    uint32_t max_len = 0;
    for (uint32_t len = 1; len < 16; ++len) {
        left = left * 2 - int32_t(count[len]);
        if (left < 0) return false;
        if (count[len]) max_len = len;
    }
    uint32_t next[16] = {};
    for (uint32_t len = 1, code = 0; len < 16; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    const uint32_t size = 1u << primary;
    for (uint32_t i = 0; i < size; ++i) table[i] = BAD;
    const uint32_t sub_bits = max_len > primary ? max_len - primary : 0;
    uint32_t sub_next = size;
    for (uint32_t s = 0; s < n; ++s) {
        const uint32_t len = lens[s];
        if (!len) continue;
        const uint32_t r = reverse_bits(next[len]++, len);
        if (len <= primary) {
            for (uint32_t i = r; i < size; i += 1u << len) table[i] = s | len << 16;
            continue;
        }
        uint32_t& link = table[r & (size - 1)];
        if (!(link & LINK)) {
            link = LINK | sub_bits << 16 | sub_next;
            for (uint32_t i = 0; i < (1u << sub_bits); ++i) table[sub_next + i] = BAD;
            sub_next += 1u << sub_bits;
        }
        uint32_t* sub = table + (link & 0xFFFF);
        for (uint32_t i = r >> primary; i < (1u << sub_bits); i += 1u << (len - primary))
            sub[i] = s | len << 16;
    }
    return true;
}

struct FixedTables {
    uint32_t lit[LIT_ROOM];
    uint32_t dist[DIST_ROOM];
    FixedTables() {
        uint8_t lens[288];
        for (uint32_t s = 0; s < 288; ++s) lens[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        build_table(lens, 288, LIT_PRIMARY, lit);
        uint8_t dl[32];
        for (uint8_t& l : dl) l = 5;
        build_table(dl, 32, DIST_PRIMARY, dist);
    }
};

const FixedTables& fixed_tables() {
    static const FixedTables t;
    return t;
}

class Inflater {
  public:
    Inflater(uint8_t* out, uint32_t cap, const uint8_t* in, uint32_t in_len)
        : out_(out), cap_(out ? cap : 0), in_(in), end_(in + in_len) {}

    Result run(uint32_t* out_size) {
        Result r = blocks();
        if (r != OK) return r;
        if (pos_ > UINT32_MAX) return BAD_DATA;
        *out_size = uint32_t(pos_);
        return pos_ > cap_ ? TOO_SMALL : OK;
    }

  private:
    // Fills the bit buffer to at least 57 bits. Past the input's end zero
    // bits stand in for the missing bytes; they are counted, and a stream
    // that consumes them is cut short.
    bool refill() {
        if (end_ - in_ >= 8) {
            uint64_t v;
            std::memcpy(&v, in_, 8);
            buf_ |= v << cnt_;
            in_ += (63 - cnt_) >> 3;
            cnt_ |= 56;
            return true;
        }
        while (cnt_ <= 56) {
            if (in_ < end_) {
                buf_ |= uint64_t(*in_++) << cnt_;
            } else {
                phantom_ += 8;
            }
            cnt_ += 8;
        }
        // A sound stream never consumes a stand-in bit, so it never holds
        // more of them than the buffer's bits.
        return phantom_ <= 64;
    }
    bool cut_short() const { return phantom_ > cnt_; }
    uint32_t take(uint32_t n) {
        const uint32_t v = uint32_t(buf_ & ((uint64_t(1) << n) - 1));
        buf_ >>= n;
        cnt_ -= n;
        return v;
    }
    // Decodes one symbol; the buffer holds at least 15 bits. -1 for a
    // pattern no code starts with.
    int32_t decode(const uint32_t* table, uint32_t primary) {
        uint32_t e = table[buf_ & ((1u << primary) - 1)];
        if (e & LINK) {
            const uint32_t bits = (e >> 16) & 0xF;
            e = table[(e & 0xFFFF) + ((buf_ >> primary) & ((1u << bits) - 1))];
        }
        if (e & BAD) return -1;
        const uint32_t len = (e >> 16) & 0xF;
        buf_ >>= len;
        cnt_ -= len;
        return int32_t(e & 0xFFFF);
    }

    Result blocks() {
        for (;;) {
            if (!refill()) return BAD_DATA;
            const uint32_t final = take(1);
            const uint32_t type = take(2);
            Result r;
            if (type == 0) {
                r = stored();
            } else if (type == 1) {
                const FixedTables& t = fixed_tables();
                r = codes(t.lit, t.dist);
            } else if (type == 2) {
                r = dynamic();
            } else {
                r = cut_short() ? BAD_DATA : RESERVED_BLOCK;
            }
            if (r != OK) return r;
            if (cut_short()) return BAD_DATA;
            if (final) return OK;
        }
    }

    Result stored() {
        take(cnt_ & 7);
        if (!refill()) return BAD_DATA;
        const uint32_t len = take(16);
        const uint32_t nlen = take(16);
        if (cut_short()) return BAD_DATA;
        if ((len ^ 0xFFFF) != nlen) return BAD_DATA;
        uint32_t left = len;
        // Bytes already in the bit buffer come first (not the stand-ins).
        while (left && cnt_ >= phantom_ + 8) {
            put_byte(uint8_t(take(8)));
            --left;
        }
        if (!left) return OK;
        buf_ = 0;
        cnt_ = 0;
        phantom_ = 0;
        if (uint32_t(end_ - in_) < left) return STORED_PAST_INPUT;
        if (pos_ < cap_) {
            const uint64_t n = cap_ - pos_ < left ? cap_ - pos_ : left;
            std::memcpy(out_ + pos_, in_, n);
        }
        pos_ += left;
        in_ += left;
        return pos_ > UINT32_MAX ? BAD_DATA : OK;
    }

    Result dynamic() {
        if (!refill()) return BAD_DATA;
        const uint32_t hlit = take(5) + 257;
        const uint32_t hdist = take(5) + 1;
        const uint32_t hclen = take(4) + 4;
        uint8_t cl_lens[19] = {};
        for (uint32_t i = 0; i < hclen; ++i) {
            if (cnt_ < 3 && !refill()) return BAD_DATA;
            cl_lens[CL_ORDER[i]] = uint8_t(take(3));
        }
        if (cut_short()) return BAD_DATA;
        uint32_t cl_table[CL_ROOM];
        if (!build_table(cl_lens, 19, CL_PRIMARY, cl_table)) return BAD_DATA;
        uint8_t lens[288 + 32] = {};
        const uint32_t total = hlit + hdist;
        for (uint32_t i = 0; i < total;) {
            if (!refill()) return BAD_DATA;
            const int32_t sym = decode(cl_table, CL_PRIMARY);
            if (sym < 0) return BAD_DATA;
            if (sym < 16) {
                lens[i++] = uint8_t(sym);
                continue;
            }
            uint8_t value = 0;
            uint32_t repeat;
            if (sym == 16) {
                if (i == 0) return BAD_DATA;
                value = lens[i - 1];
                repeat = 3 + take(2);
            } else if (sym == 17) {
                repeat = 3 + take(3);
            } else {
                repeat = 11 + take(7);
            }
            if (i + repeat > total) return BAD_DATA;
            while (repeat--) lens[i++] = value;
        }
        if (cut_short()) return BAD_DATA;
        if (lens[256] == 0) return BAD_DATA;  // a block that cannot end
        if (!build_table(lens, hlit, LIT_PRIMARY, lit_) ||
            !build_table(lens + hlit, hdist, DIST_PRIMARY, dist_))
            return BAD_DATA;
        return codes(lit_, dist_);
    }

    void put_byte(uint8_t b) {
        if (pos_ < cap_) out_[pos_] = b;
        ++pos_;
    }

    Result codes(const uint32_t* lit, const uint32_t* dist) {
        for (;;) {
            if (!refill()) return BAD_DATA;
            const int32_t sym = decode(lit, LIT_PRIMARY);
            if (sym < 256) {
                if (sym < 0) return BAD_DATA;
                if (pos_ < cap_) {
                    out_[pos_] = uint8_t(sym);
                } else if (pos_ >= UINT32_MAX) {
                    return BAD_DATA;
                }
                ++pos_;
                continue;
            }
            if (sym == 256) return OK;
            const uint32_t li = uint32_t(sym) - 257;
            if (li >= 29) return BAD_DATA;
            const uint32_t len = LENGTH_BASE[li] + take(LENGTH_EXTRA[li]);
            const int32_t ds = decode(dist, DIST_PRIMARY);
            if (ds < 0 || ds >= 30) return BAD_DATA;
            const uint32_t d = DIST_BASE[ds] + take(DIST_EXTRA[ds]);
            if (d > pos_) return cut_short() ? BAD_DATA : BAD_DISTANCE;
            if (pos_ + len + 8 <= cap_) {
                uint8_t* dst = out_ + pos_;
                const uint8_t* src = dst - d;
                if (d >= 8) {
                    for (uint32_t k = 0; k < len; k += 8) std::memcpy(dst + k, src + k, 8);
                } else if (d == 1) {
                    std::memset(dst, src[0], len);
                } else {
                    for (uint32_t k = 0; k < len; ++k) dst[k] = src[k];
                }
                pos_ += len;
            } else {
                // Near or past the capacity: copy what fits, count the rest.
                uint32_t k = 0;
                for (; k < len && pos_ < cap_; ++k, ++pos_) out_[pos_] = out_[pos_ - d];
                pos_ += len - k;
                if (pos_ > UINT32_MAX) return BAD_DATA;
            }
        }
    }

    uint8_t* out_;
    uint64_t cap_;
    uint64_t pos_ = 0;
    const uint8_t* in_;
    const uint8_t* end_;
    uint64_t buf_ = 0;
    uint32_t cnt_ = 0;
    uint32_t phantom_ = 0;
    uint32_t lit_[LIT_ROOM];
    uint32_t dist_[DIST_ROOM];
};

inline void put_be32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}
inline void put_le32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24);
}
inline uint32_t get_be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint32_t get_le32(const uint8_t* p) {
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

}  // namespace

// The encoder. Two rules admit two readings, and these are the ones taken:
// a bucket slot holding 0 is empty (the table starts zeroed, so position 0
// is never offered as a match), and the slot a position goes to is chosen
// from the three raw bytes after the step, not from their hash.
Result compress(uint8_t* out, uint32_t* out_size, const uint8_t* in, uint32_t n) {
    BitWriter w(out, out ? *out_size : 0);
    w.put(1 | 1 << 1, 3);  // BFINAL, then BTYPE 01: the fixed codes
    uint32_t table[BUCKETS * SLOTS] = {};
    uint32_t p = 0;
    while (p < n) {
        const bool hashed = n - p >= 3;
        const uint32_t bucket = hashed ? bucket_of(in + p) : 0;
        uint32_t len = 0, q = 0;
        if (p >= 3 && hashed) {
            for (uint32_t s = 0; s < SLOTS; ++s) {
                const uint32_t c = table[bucket * SLOTS + s];
                if (c != 0 && c < p && p < c + WINDOW && std::memcmp(in + c, in + p, 3) == 0) {
                    q = c;
                    len = 3;
                    break;
                }
            }
        }
        uint32_t step;
        if (len) {
            const uint32_t most = n - p < MAX_MATCH ? n - p : MAX_MATCH;
            while (len < most && in[q + len] == in[p + len]) ++len;
            w.put(fixed_codes.len_bits[len], fixed_codes.len_nbits[len]);
            put_distance(w, p - q);
            step = len;
        } else {
            w.put(fixed_codes.lit_code[in[p]], fixed_codes.lit_len[in[p]]);
            step = 1;
        }
        if (hashed) {
            const uint32_t next = p + step;
            uint32_t slot = 0;
            if (n - next >= 3) {
                const uint32_t y = three_bytes(in + next);
                slot = ((y >> 14) - y) & 3;
            }
            table[bucket * SLOTS + slot] = p;
        }
        p += step;
    }
    w.put(0, 7);  // end of block (symbol 256)
    w.finish();
    const uint64_t size = w.size();
    if (size > UINT32_MAX) return BAD_DATA;
    const bool fits = size <= (out ? *out_size : 0);
    *out_size = uint32_t(size);
    return fits ? OK : TOO_SMALL;
}

Result decompress(uint8_t* out, uint32_t* out_size, const uint8_t* in, uint32_t in_len) {
    // The tables of a dynamic block are large: keep them off the stack.
    auto* inflater = new Inflater(out, *out_size, in, in_len);
    const Result r = inflater->run(out_size);
    delete inflater;
    return r;
}

Result zlib_compress(uint8_t* out, uint32_t* out_size, const uint8_t* in, uint32_t in_len) {
    const uint32_t cap = out ? *out_size : 0;
    if (cap < ZLIB_OVERHEAD) {
        *out_size = in_len + ZLIB_OVERHEAD;
        return BAD_DATA;
    }
    uint32_t size = cap - ZLIB_OVERHEAD;
    const Result r = compress(out + 2, &size, in, in_len);
    if (r == BAD_DATA) return r;
    *out_size = size + ZLIB_OVERHEAD;
    if (r != OK) return r;
    out[0] = 0x78;
    out[1] = 0x01;
    put_be32(out + 2 + size, checksum::adler32(checksum::ADLER32_INIT, in, in_len));
    return OK;
}

Result zlib_decompress(uint8_t* out, uint32_t* out_size, const uint8_t* in, uint32_t in_len) {
    if (in_len < ZLIB_OVERHEAD) return BAD_DATA;
    const uint32_t cmf = in[0], flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20)) return BAD_DATA;
    const Result r = decompress(out, out_size, in + 2, in_len - ZLIB_OVERHEAD);
    if (r != OK) return r;
    if (checksum::adler32(checksum::ADLER32_INIT, out, *out_size) != get_be32(in + in_len - 4))
        return BAD_DATA;
    return OK;
}

Result gzip_compress(uint8_t* out, uint32_t* out_size, const uint8_t* in, uint32_t in_len) {
    // Input that already looks like a gzip stream is compressed like any
    // other: passing it through unchanged would lose it whenever it is not
    // a whole stream.
    const uint32_t cap = out ? *out_size : 0;
    if (cap < GZIP_OVERHEAD) {
        *out_size = in_len + GZIP_OVERHEAD;
        return BAD_DATA;
    }
    uint32_t size = cap - GZIP_OVERHEAD;
    const Result r = compress(out + 10, &size, in, in_len);
    if (r == BAD_DATA) return r;
    *out_size = size + GZIP_OVERHEAD;
    if (r != OK) return r;
    static constexpr uint8_t HEADER[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04};
    std::memcpy(out, HEADER, 10);
    put_le32(out + 10 + size, checksum::crc32(checksum::CRC32_INIT, in, in_len));
    put_le32(out + 14 + size, in_len);
    return OK;
}

Result gunzip(uint8_t* out, uint32_t* out_size, const uint8_t* in, uint32_t in_len) {
    constexpr uint8_t FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16;
    if (in_len < GZIP_OVERHEAD) return BAD_DATA;
    if (in[0] != 0x1F || in[1] != 0x8B || in[2] != 8) return BAD_DATA;
    const uint8_t flags = in[3];
    if (flags >= 32) return BAD_DATA;
    // The header's fields end before the 8-byte trailer.
    const uint32_t limit = in_len - 8;
    uint32_t p = 10;
    if (flags & FEXTRA) {
        if (limit - p < 2) return BAD_DATA;
        const uint32_t xlen = in[p] | uint32_t(in[p + 1]) << 8;
        p += 2;
        if (limit - p < xlen) return BAD_DATA;
        p += xlen;
    }
    for (uint8_t f : {FNAME, FCOMMENT}) {
        if (!(flags & f)) continue;
        const void* nul = std::memchr(in + p, 0, limit - p);
        if (!nul) return BAD_DATA;
        p = uint32_t(static_cast<const uint8_t*>(nul) - in) + 1;
    }
    if (flags & FHCRC) {
        if (limit - p < 2) return BAD_DATA;
        const uint32_t stored = in[p] | uint32_t(in[p + 1]) << 8;
        if ((checksum::crc32(checksum::CRC32_INIT, in, p) & 0xFFFF) != stored) return BAD_DATA;
        p += 2;
    }
    const uint32_t data_len = limit - p;
    const uint32_t stated = get_le32(in + in_len - 4);
    // The stated size is outside data: never believe more than the member
    // could produce.
    if (stated > MAX_RATIO * data_len) return BAD_DATA;
    const uint32_t cap = out ? *out_size : 0;
    if (cap < stated) {
        *out_size = stated;
        return TOO_SMALL;
    }
    uint32_t size = cap;
    const Result r = decompress(out, &size, in + p, data_len);
    if (r == TOO_SMALL) return BAD_DATA;
    if (r != OK) return r;
    if (size != stated) return BAD_DATA;
    if (checksum::crc32(checksum::CRC32_INIT, out, size) != get_le32(in + limit)) return BAD_DATA;
    *out_size = size;
    return OK;
}

}  // namespace kiv::deflate
