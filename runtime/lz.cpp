#include "runtime/lz.h"

#include <cstring>

namespace kiv::lz {

// Length codes, after the 1 bit that selects a copy (prefix bits in reading
// order, then extra bits; n is the row's first value plus the extra bits):
//   1      + 2 bits   n 0..3        0 0 0 1    + 3 bits   n 12..19
//   0 1    + 2 bits   n 4..7        0 0 0 0 1  + 5 bits   n 20..51
//   0 0 1  + 2 bits   n 8..11       0 0 0 0 0  + 9 bits   n 52..563
// Distance: j = 4 bits + 2; b = j bits + 2^j when j > 2, else 3 bits.

namespace {

constexpr uint32_t MIN_COPY = 3;
constexpr uint32_t MAX_COPY = 566;
// The longest copy (566 bytes) costs 22 bits, so no stream yields more than
// about 206 bytes per byte; twice that bounds what a stream may declare.
constexpr uint64_t MAX_RATIO = 412;

struct LengthRow {
    uint8_t prefix_len;  // bits of the prefix, its last one the only 1 (none for the last row)
    uint8_t extra;
    uint16_t first;
};
constexpr LengthRow LENGTHS[6] = {{1, 2, 0}, {2, 2, 4}, {3, 2, 8}, {4, 3, 12}, {5, 5, 20}, {5, 9, 52}};

inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Reads bits from [pos, end); reading past the end is a failure.
class BitReader {
  public:
    BitReader(const uint8_t* p, const uint8_t* end) : p_(p), end_(end) {}
    bool get(uint32_t n, uint32_t* v) {
        while (cnt_ < n) {
            if (p_ == end_) return false;
            buf_ |= uint64_t(*p_++) << cnt_;
            cnt_ += 8;
        }
        *v = uint32_t(buf_ & ((uint64_t(1) << n) - 1));
        buf_ >>= n;
        cnt_ -= n;
        return true;
    }
    // The first byte after the last byte the bits used.
    const uint8_t* next_byte() const { return p_; }

  private:
    const uint8_t* p_;
    const uint8_t* end_;
    uint64_t buf_ = 0;
    uint32_t cnt_ = 0;
};

bool decode_block(BitReader& r, uint8_t* block, uint32_t len) {
    uint32_t at = 0, v;
    while (at < len) {
        if (!r.get(1, &v)) return false;
        if (!v) {
            if (!r.get(8, &v)) return false;
            block[at++] = uint8_t(v);
            continue;
        }
        uint32_t row = 0;
        for (; row < 5; ++row) {
            if (!r.get(1, &v)) return false;
            if (v) break;
        }
        uint32_t extra;
        if (!r.get(LENGTHS[row].extra, &extra)) return false;
        const uint32_t count = LENGTHS[row].first + extra + MIN_COPY;
        uint32_t j, b;
        if (!r.get(4, &j)) return false;
        j += 2;
        if (j > 2) {
            if (!r.get(j, &b)) return false;
            b += 1u << j;
        } else if (!r.get(3, &b)) {
            return false;
        }
        if (b >= at || count > len - at) return false;
        const uint8_t* src = block + at - b - 1;
        for (uint32_t k = 0; k < count; ++k) block[at + k] = src[k];
        at += count;
    }
    return true;
}

class BitWriter {
  public:
    explicit BitWriter(std::vector<uint8_t>* out) : out_(out) {}
    void put(uint32_t bits, uint32_t n) {
        buf_ |= uint64_t(bits) << cnt_;
        cnt_ += n;
        while (cnt_ >= 8) {
            out_->push_back(uint8_t(buf_));
            buf_ >>= 8;
            cnt_ -= 8;
        }
    }
    // The block's closing seven 0 bits: they complete a partial byte; what
    // is left of them is dropped.
    void end_block() {
        if (cnt_) out_->push_back(uint8_t(buf_));
        buf_ = 0;
        cnt_ = 0;
    }

  private:
    std::vector<uint8_t>* out_;
    uint64_t buf_ = 0;
    uint32_t cnt_ = 0;
};

void put_copy(BitWriter& w, uint32_t length, uint32_t distance) {
    const uint32_t n = length - MIN_COPY;
    uint32_t row = 0;
    while (row < 5 && n >= LENGTHS[row].first + (1u << LENGTHS[row].extra)) ++row;
    w.put(1, 1);
    if (row < 5) {
        w.put(1u << (LENGTHS[row].prefix_len - 1), LENGTHS[row].prefix_len);
    } else {
        w.put(0, 5);
    }
    w.put(n - LENGTHS[row].first, LENGTHS[row].extra);
    const uint32_t d = distance - 1;
    uint32_t j = 2;
    while (d >= (1u << (j + 1))) ++j;
    w.put(j - 2, 4);
    if (j > 2) {
        w.put(d - (1u << j), j);
    } else {
        w.put(d, 3);
    }
}

constexpr uint32_t HEAD3_SIZE = 1u << 19;
constexpr uint32_t HEAD4_SIZE = 1u << 20;
constexpr uint32_t CHAIN_SIZE = 1u << 18;
constexpr uint32_t WINDOW = 0x40000;
constexpr uint32_t CHAIN_TRIES = 256;

struct Tables {
    std::vector<int32_t> head3 = std::vector<int32_t>(HEAD3_SIZE);
    std::vector<int32_t> head4 = std::vector<int32_t>(HEAD4_SIZE);
    std::vector<int32_t> chain = std::vector<int32_t>(CHAIN_SIZE);
    void reset() {
        std::fill(head3.begin(), head3.end(), -1);
        std::fill(head4.begin(), head4.end(), -1);
        std::fill(chain.begin(), chain.end(), -1);
    }
};

uint32_t match_length(const uint8_t* a, const uint8_t* b, uint32_t most) {
    uint32_t k = 0;
    while (k < most && a[k] == b[k]) ++k;
    return k;
}

// How many times d / 16 must be divided by 8 to be no larger than `best`.
uint32_t distance_penalty(uint32_t d, uint32_t best) {
    uint32_t x = d / 16, count = 0;
    while (x > best) {
        x /= 8;
        ++count;
    }
    return count;
}

void compress_block(const uint8_t* in, uint32_t len, Tables& t, BitWriter& w) {
    t.reset();
    uint32_t h3 = 0, h4 = 0;
    for (uint32_t k = 0; k < 4 && k < len; ++k) {
        if (k < 3) h3 = (h3 * 128 + in[k]) & (HEAD3_SIZE - 1);
        h4 = (h4 * 32 + in[k]) & (HEAD4_SIZE - 1);
    }
    uint32_t p = 0;
    while (p < len) {
        const uint32_t left = len - p;
        const uint32_t most = left < MAX_COPY ? left : MAX_COPY;
        const uint32_t window = p > WINDOW ? p - WINDOW : 0;
        uint32_t best = 2, best_d = 0;
        const int32_t c3 = t.head3[h3];
        if (c3 >= 0 && uint32_t(c3) >= window && in[c3] == in[p]) {
            const uint32_t l = match_length(in + c3, in + p, most);
            if (l > best) best = l, best_d = p - uint32_t(c3);
        }
        if (best < most) {
            int32_t c = t.head4[h4];
            for (uint32_t tries = 0; c >= 0 && tries < CHAIN_TRIES; ++tries) {
                if (uint32_t(c) < window) break;
                if (in[c + best] == in[p + best]) {
                    const uint32_t l = match_length(in + c, in + p, most);
                    const uint32_t d = p - uint32_t(c);
                    if (l > best + distance_penalty(d, best_d)) {
                        best = l, best_d = d;
                        if (best == most) break;
                    }
                }
                c = t.chain[uint32_t(c) & (CHAIN_SIZE - 1)];
            }
        }
        if (best == MIN_COPY && best_d > 65536) best = 2;
        uint32_t step;
        if (best < MIN_COPY) {
            w.put(0, 1);
            w.put(in[p], 8);
            step = 1;
        } else {
            put_copy(w, best, best_d);
            step = best;
        }
        for (uint32_t k = 0; k < step; ++k, ++p) {
            t.head3[h3] = int32_t(p);
            t.chain[p & (CHAIN_SIZE - 1)] = t.head4[h4];
            t.head4[h4] = int32_t(p);
            if (p + 3 < len) h3 = (h3 * 128 + in[p + 3]) & (HEAD3_SIZE - 1);
            if (p + 4 < len) h4 = (h4 * 32 + in[p + 4]) & (HEAD4_SIZE - 1);
        }
    }
    w.end_block();
}

void put_le32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24);
}

}  // namespace

bool decompress(const uint8_t* in, size_t in_len, std::vector<uint8_t>* out, size_t max_size) {
    out->clear();
    if (in_len < 8) return false;
    const uint32_t packed = le32(in), size = le32(in + 4);
    if (packed > in_len - 8 || size > max_size || size > MAX_RATIO * packed) return false;
    out->resize(size);
    const uint8_t* p = in + 8;
    const uint8_t* end = p + packed;
    uint32_t done = 0;
    bool ok = true;
    while (ok && p < end) {
        ok = end - p >= 4;
        const uint32_t len = ok ? le32(p) : 0;
        p += ok ? 4 : 0;
        ok = ok && len >= 1 && len <= MAX_BLOCK && len <= size - done;
        if (!ok) break;
        BitReader r(p, end);
        ok = decode_block(r, out->data() + done, len);
        done += len;
        p = r.next_byte();
    }
    if (!ok || done != size) {
        out->clear();
        return false;
    }
    return true;
}

std::vector<uint8_t> compress(const uint8_t* in, size_t n) {
    std::vector<uint8_t> out;
    if (n < MIN_INPUT || n > UINT32_MAX) return out;
    out.resize(8);
    Tables tables;
    BitWriter w(&out);
    for (size_t start = 0; start < n; start += MAX_BLOCK) {
        const uint32_t len = uint32_t(n - start < MAX_BLOCK ? n - start : MAX_BLOCK);
        const size_t at = out.size();
        out.resize(at + 4);
        put_le32(out.data() + at, len);
        compress_block(in + start, len, tables, w);
    }
    put_le32(out.data(), uint32_t(out.size() - 8));
    put_le32(out.data() + 4, uint32_t(n));
    return out;
}

}  // namespace kiv::lz
