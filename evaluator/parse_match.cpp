// Matching rule values against the parse input: one value at the position,
// the tight loops of repetitions and to/thru searches, datatype rules.
//
// The loops read the input's buffer directly: nothing in them allocates or
// runs Kiv code, and every buffer address is taken after the last call that
// might (needle preparation uses C++ memory only).
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/fixed_words.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "evaluator/lexer.h"
#include "evaluator/parse_internal.h"
#include "runtime/case_fold.h"
#include "runtime/unicode.h"

namespace kiv::parser {

namespace {

inline uint32_t fold(uint32_t cp) {
    return casefold::to_upper_char(cp);
}

inline bool fold_eq(uint32_t a, uint32_t b) {
    return fold(a) == fold(b);
}

inline uint32_t unit_at(const uint8_t* head, uint32_t unit, uint32_t pos) {
    const uint8_t* q = head + size_t(pos) * unit;
    if (unit == 1) return q[0];
    if (unit == 2) return uint32_t(q[0]) | (uint32_t(q[1]) << 8);
    uint32_t v;
    std::memcpy(&v, q, 4);
    return v;
}

// A short run of units kept in place (needles are mostly a few characters):
// no C++ heap allocation unless it grows past N.
template <class T, uint32_t N>
class SmallVec {
  public:
    SmallVec() = default;
    SmallVec(const SmallVec&) = delete;
    SmallVec& operator=(const SmallVec&) = delete;
    void clear() { n_ = 0; }
    void push_back(T v) {
        if (n_ == cap_) grow();
        data_[n_++] = v;
    }
    template <class It>
    void assign(It first, It last) {
        clear();
        for (; first != last; ++first) push_back(T(*first));
    }
    uint32_t size() const { return n_; }
    bool empty() const { return n_ == 0; }
    T* data() { return data_; }
    const T* data() const { return data_; }
    T operator[](uint32_t i) const { return data_[i]; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + n_; }

  private:
    void grow() {
        uint32_t cap = cap_ * 2;
        heap_.resize(cap);
        if (data_ != heap_.data()) std::memcpy(heap_.data(), data_, n_ * sizeof(T));
        data_ = heap_.data();
        cap_ = cap;
    }
    T local_[N];
    std::vector<T> heap_;
    T* data_ = local_;
    uint32_t n_ = 0;
    uint32_t cap_ = N;
};
using Points = SmallVec<uint32_t, 32>;
using ByteRun = SmallVec<uint8_t, 64>;

// The end of the input for the rules: its tail or the /part limit.
inline uint32_t stop_of(const Parser& p, uint32_t count) {
    return p.limit >= 0 && p.limit < int64_t(count) ? uint32_t(p.limit) : count;
}

// A bitset read once: bits from the buffer head, bit i at byte i/8 under
// mask 0x80 >> (i mod 8); code points past the bits take the complement flag.
struct Bits {
    const uint8_t* bytes;
    uint64_t size;  // in bits
    bool complement;
    explicit Bits(const Cell& bitset) {
        const SeriesBuffer* b = buffer_of(bitset.w2);
        bytes = b->head_ptr();
        size = uint64_t(b->byte_count()) * 8;
        complement = (b->flags & series_flag::COMPLEMENT) != 0;
    }
    bool has(uint32_t cp) const {
        if (cp >= size) return complement;
        return (bytes[cp >> 3] & (0x80u >> (cp & 7))) != 0;
    }
};

// The text a string-like value stands for, as code points from its index
// (folded when asked); tags with their delimiters when `tag_marks`.
void text_points(const Cell& v, bool folded, bool tag_marks, Points& out) {
    out.clear();
    uint32_t t = v.type();
    const SeriesBuffer* b = buffer_of(v.w2);
    uint32_t unit = b->unit();
    uint32_t n = b->byte_count() >> unit_shift(unit);
    bool tag = t == TYPE_TAG && tag_marks;
    if (tag) out.push_back('<');
    if (t == TYPE_BINARY) {
        for (uint32_t i = v.w1; i < n; ++i) out.push_back(b->head_ptr()[i]);
    } else {
        for (uint32_t i = v.w1; i < n; ++i) {
            uint32_t cp = unit_at(b->head_ptr(), unit, i);
            out.push_back(folded ? fold(cp) : cp);
        }
    }
    if (tag) out.push_back('>');
}

// The bytes a value stands for against binary input: binary! its bytes,
// string-like values their UTF-8 text (tags with their delimiters), char!
// its UTF-8 encoding. False for other values.
bool value_bytes(const Cell& v, ByteRun& out) {
    out.clear();
    uint32_t t = v.type();
    auto put_utf8 = [&](uint32_t cp) {
        uint8_t buf[4];
        int k = unicode::encode_utf8_char(cp, buf);
        for (int i = 0; i < k; ++i) out.push_back(buf[i]);
    };
    if (t == TYPE_BINARY) {
        const SeriesBuffer* b = buffer_of(v.w2);
        uint32_t n = b->byte_count();
        if (v.w1 < n) out.assign(b->head_ptr() + v.w1, b->head_ptr() + n);
        return true;
    }
    if (t == TYPE_CHAR) {
        put_utf8(v.w2);
        return true;
    }
    if (!is_any_string(t)) return false;
    Points cps;
    text_points(v, false, true, cps);
    for (uint32_t cp : cps) put_utf8(cp);
    return true;
}

// What is matched at each position of string or binary input.
struct Needle {
    enum Kind { CHAR, BITSET, TEXT, NONE } kind = NONE;
    uint32_t cp = 0;  // CHAR (folded when fold)
    const Cell* bitset = nullptr;
    Points text;  // TEXT: units to compare (folded when fold)
    bool fold = false;

    // Prepares for the input type; NONE when the value cannot match there.
    void prepare(const Parser& p, const Cell& v, bool binary) {
        uint32_t t = v.type();
        fold = !binary && p.cmp != 2;
        if (t == TYPE_BITSET) {
            kind = BITSET;
            bitset = &v;
            return;
        }
        if (binary) {
            if (t == TYPE_CHAR && v.w2 < 0x80) {
                kind = CHAR;
                cp = v.w2;
                return;
            }
            ByteRun bytes;
            if (!value_bytes(v, bytes)) return;
            kind = TEXT;
            text.assign(bytes.begin(), bytes.end());
            one_unit_as_char();
            return;
        }
        if (t == TYPE_CHAR) {
            kind = CHAR;
            cp = fold ? casefold::to_upper_char(v.w2) : v.w2;
            return;
        }
        if (is_any_string(t) || t == TYPE_BINARY) {
            kind = TEXT;
            text_points(v, fold, true, text);
            one_unit_as_char();
        }
    }
    // A text of one unit matches exactly as that character (folded alike):
    // the character searches are the faster loops.
    void one_unit_as_char() {
        if (text.size() != 1) return;
        kind = CHAR;
        cp = text[0];
    }
    uint32_t length() const { return kind == TEXT ? uint32_t(text.size()) : 1; }
};

// True when the needle matches at pos (its whole length before stop).
inline bool match_at(const Needle& nd, const uint8_t* head, uint32_t unit, uint32_t pos, uint32_t stop,
                     const Bits* bits) {
    switch (nd.kind) {
        case Needle::CHAR: {
            if (pos >= stop) return false;
            uint32_t c = unit_at(head, unit, pos);
            return c == nd.cp || (nd.fold && fold(c) == nd.cp);
        }
        case Needle::BITSET:
            return pos < stop && bits->has(unit_at(head, unit, pos));
        case Needle::TEXT: {
            uint32_t len = uint32_t(nd.text.size());
            if (uint64_t(pos) + len > stop) return false;
            if (unit == 1 && !nd.fold) {
                const uint8_t* q = head + pos;
                for (uint32_t i = 0; i < len; ++i)
                    if (q[i] != nd.text[i]) return false;
                return true;
            }
            for (uint32_t i = 0; i < len; ++i) {
                uint32_t c = unit_at(head, unit, pos + i);
                if (c != nd.text[i] && !(nd.fold && fold(c) == nd.text[i])) return false;
            }
            return true;
        }
        case Needle::NONE:
            return false;
    }
    return false;
}

// The first position in [start, stop) of narrow (one byte a unit) text
// holding the character `a` (folded to upper case when fold), or -1.
int64_t find_char_narrow(const uint8_t* head, uint32_t start, uint32_t stop, uint32_t a, bool fold_case) {
    uint32_t c2 = fold_case ? casefold::to_lower_char(a) : a;
    if (c2 > 0xFF || a > 0xFF) {
        for (uint32_t pos = start; pos < stop; ++pos) {
            uint32_t c = head[pos];
            if (c == a || (fold_case && fold(c) == a)) return pos;
        }
        return -1;
    }
    const uint8_t* from = head + start;
    size_t n = stop > start ? stop - start : 0;
    const void* q1 = std::memchr(from, int(a), n);
    if (c2 != a) {
        const void* q2 = std::memchr(from, int(c2), q1 ? size_t(static_cast<const uint8_t*>(q1) - from) : n);
        if (q2) q1 = q2;
    }
    return q1 ? int64_t(static_cast<const uint8_t*>(q1) - head) : -1;
}

// Past the run of the character `a` (folded to upper case when fold) that
// starts at pos in narrow text, stopping at limit: the position after it.
uint32_t skip_char_narrow(const uint8_t* head, uint32_t pos, uint64_t limit, uint32_t a, bool fold_case) {
    uint32_t c2 = a;
    if (fold_case) {
        c2 = casefold::to_lower_char(a);
        if (c2 > 0xFF) c2 = a;
    }
    while (pos < limit && (head[pos] == a || head[pos] == c2 || (fold_case && fold(head[pos]) == a))) ++pos;
    return pos;
}

// A char! or a text (not a tag) of exactly one character from its position:
// that character, folded to upper case when fold_case (as Needle does).
bool single_char(const Cell& v, bool fold_case, uint32_t* cp) {
    uint32_t t = v.type();
    uint32_t c;
    if (t == TYPE_CHAR) {
        c = v.w2;
    } else if (is_any_string(t) && t != TYPE_TAG) {
        const SeriesBuffer* b = buffer_of(v.w2);
        uint32_t unit = b->unit();
        uint32_t n = b->byte_count() >> unit_shift(unit);
        if (v.w1 >= n || n - v.w1 != 1) return false;
        c = unit_at(b->head_ptr(), unit, v.w1);
    } else {
        return false;
    }
    *cp = fold_case ? fold(c) : c;
    return true;
}

// Block input: the cell at pos equals the value (lit-word and lit-path
// values compare as words and paths with op 11, 10 when case-sensitive).
bool cell_matches(const Parser& p, uint32_t pos, const Cell& value) {
    Cell a = *(buffer_of(p.input->w2)->head_cell() + pos);
    Cell b = value;
    a.clear_new_line();
    b.clear_new_line();
    uint32_t t = b.type();
    int32_t op = p.cmp;
    if (t == TYPE_LIT_WORD || t == TYPE_LIT_PATH) op = p.cmp == 2 ? COMP_EQUAL_10 : COMP_EQUAL_11;
    if (!datatype::lookup(a.type(), ACT_COMPARE)) return std::memcmp(&a, &b, sizeof(Cell)) == 0;
    return actions::compare(&a, &b, op);
}

}  // namespace

bool bitset_has(const Cell* bitset, uint32_t cp) {
    return Bits(*bitset).has(cp);
}

void match_value(Parser& p, const Cell& value) {
    uint32_t t = p.input->type();
    uint32_t vt = value.type();
    if (p.end) {
        p.match = is_string_input(t) && (vt == TYPE_STRING || vt == TYPE_FILE || vt == TYPE_URL) &&
                  value.w1 >= series::count(value.w2);
        return;
    }
    uint32_t pos = p.input->w1;
    if (is_block_input(t)) {
        p.match = cell_matches(p, pos, value);
        if (p.match) advance(p, 1);
        return;
    }
    bool binary = t == TYPE_BINARY;
    uint32_t count = input_count(p.input);
    uint32_t stop = stop_of(p, count);
    if (!binary && (vt == TYPE_CHAR || vt == TYPE_BITSET || (is_any_string(vt) && vt != TYPE_TAG))) {
        // Text input: the common values compare in place, nothing allocated.
        const SeriesBuffer* b = buffer_of(p.input->w2);
        const uint8_t* head = b->head_ptr();
        uint32_t unit = b->unit();
        bool folding = p.cmp != 2;
        if (vt == TYPE_CHAR) {
            uint32_t c = unit_at(head, unit, pos);
            p.match = c == value.w2 || (folding && fold(c) == fold(value.w2));
            if (p.match) advance(p, 1);
            return;
        }
        if (vt == TYPE_BITSET) {
            p.match = Bits(value).has(unit_at(head, unit, pos));
            if (p.match) advance(p, 1);
            return;
        }
        const SeriesBuffer* vb = buffer_of(value.w2);
        uint32_t vunit = vb->unit();
        uint32_t vcount = vb->byte_count() >> unit_shift(vunit);
        uint32_t len = value.w1 < vcount ? vcount - value.w1 : 0;
        p.match = uint64_t(pos) + len <= stop;
        for (uint32_t i = 0; p.match && i < len; ++i) {
            uint32_t a = unit_at(head, unit, pos + i);
            uint32_t c = unit_at(vb->head_ptr(), vunit, value.w1 + i);
            if (a != c && !(folding && fold(a) == fold(c))) p.match = false;
        }
        if (p.match) advance(p, len);
        return;
    }
    Needle nd;
    Cell v = value;
    nd.prepare(p, v, binary);
    if (nd.kind == Needle::NONE) {
        p.match = false;
        return;
    }
    const SeriesBuffer* b = buffer_of(p.input->w2);
    uint32_t unit = b->unit();
    std::unique_ptr<Bits> bits;
    if (nd.kind == Needle::BITSET) bits = std::make_unique<Bits>(v);
    p.match = match_at(nd, b->head_ptr(), unit, pos, stop, bits.get());
    if (p.match) advance(p, nd.length());
}

void match_type(Parser& p, const Cell& value) {
    uint32_t t = p.input->type();
    if (is_string_input(t)) parse_error("parse-unsupported");
    if (p.end) {
        p.match = false;
        return;
    }
    auto fits = [&](uint32_t type) {
        if (value.type() == TYPE_DATATYPE) return type == value.w1;
        return typeset::has(&value, type);
    };
    uint32_t pos = p.input->w1;
    if (t == TYPE_BINARY) {
        // One value scanned from the bytes at the position; the window grows
        // until the value lies inside it (or the whole rest was read).
        uint32_t stop = stop_of(p, input_count(p.input));
        uint32_t remaining = stop > pos ? stop - pos : 0;
        uint32_t window = std::min<uint32_t>(remaining, 256);
        std::vector<uint8_t> bytes;
        for (;;) {
            const uint8_t* src = buffer_of(p.input->w2)->head_ptr() + pos;
            bytes.assign(src, src + window);
            lexer::Options o;
            o.load = false;
            Cell out{TYPE_NONE, 0, 0, 0};
            uint32_t consumed = 0;
            int32_t type = lexer::scan(&out, bytes.data(), window, o, nullptr, &consumed);
            bool cut = window < remaining && (consumed >= window || type <= 0);
            if (cut) {
                window = remaining - window < window * 3 ? remaining : window * 4;
                continue;
            }
            p.match = type > 0 && fits(uint32_t(type));
            if (p.match) advance(p, consumed);
            return;
        }
    }
    Cell c = *(buffer_of(p.input->w2)->head_cell() + pos);
    p.match = fits(c.type());
    if (p.match) advance(p, 1);
}

bool repeat_plain(Parser& p, const Cell& value, int32_t min, int32_t max) {
    uint32_t t = p.input->type();
    uint32_t count = input_count(p.input);
    uint32_t start = p.input->w1;
    uint32_t stop = stop_of(p, count);
    uint32_t left = stop > start ? stop - start : 0;
    if (left < uint32_t(min) || left == 0) return min == 0;
    uint64_t rounds = 0;
    uint32_t pos = start;
    uint64_t cap = max < 0 ? UINT64_MAX : uint64_t(max);
    if (is_block_input(t)) {
        Cell v = value;
        while (pos < stop && rounds < cap && cell_matches(p, pos, v)) {
            ++pos;
            ++rounds;
        }
    } else if (value.type() == TYPE_BITSET) {
        // A bitset (never case-folded): each unit tested in place, no needle
        // to prepare.
        Bits bits(value);
        const SeriesBuffer* b = buffer_of(p.input->w2);
        const uint8_t* head = b->head_ptr();
        uint32_t unit = b->unit();
        uint64_t limit = uint64_t(pos) + std::min<uint64_t>(cap, stop - pos);
        if (unit == 1) {
            while (pos < limit && bits.has(head[pos])) ++pos;
        } else {
            while (pos < limit && bits.has(unit_at(head, unit, pos))) ++pos;
        }
        rounds = pos - start;
    } else if (uint32_t low, mask; ascii_target(p, value, &low, &mask)) {
        // One ASCII character over narrow text: its bytes skipped here.
        return repeat_ascii(p, low, mask, min, max);
    } else {
        uint32_t cp;
        bool fold_case = t != TYPE_BINARY && p.cmp != 2;
        const SeriesBuffer* nb = buffer_of(p.input->w2);
        if (t != TYPE_BINARY && nb->unit() == 1 && single_char(value, fold_case, &cp)) {
            // One character (char! or one-character text) over narrow text:
            // no needle to prepare.
            uint64_t limit = uint64_t(pos) + std::min<uint64_t>(cap, stop > pos ? stop - pos : 0);
            pos = skip_char_narrow(nb->head_ptr(), pos, limit, cp, fold_case);
            rounds = pos - start;
            bool ok = rounds >= uint64_t(min) && (max < 0 || rounds <= uint64_t(max));
            if (ok) {
                p.input->w1 = pos;
                refresh_end(p);
            }
            return ok;
        }
        Needle nd;
        Cell v = value;
        nd.prepare(p, v, t == TYPE_BINARY);
        if (nd.kind == Needle::NONE) return min == 0;
        const SeriesBuffer* b = buffer_of(p.input->w2);
        const uint8_t* head = b->head_ptr();
        uint32_t unit = b->unit();
        uint32_t len = nd.length();
        if (nd.kind == Needle::BITSET) {
            Bits bits(v);
            if (unit == 1) {
                uint64_t limit = uint64_t(pos) + std::min<uint64_t>(cap, stop > pos ? stop - pos : 0);
                while (pos < limit && bits.has(head[pos])) ++pos;
                rounds = pos - start;
            } else {
                while (pos < stop && rounds < cap && bits.has(unit_at(head, unit, pos))) {
                    ++pos;
                    ++rounds;
                }
            }
        } else if (nd.kind == Needle::CHAR && unit == 1) {
            uint64_t limit = uint64_t(pos) + std::min<uint64_t>(cap, stop > pos ? stop - pos : 0);
            pos = skip_char_narrow(head, pos, limit, nd.cp, nd.fold);
            rounds = pos - start;
        } else if (len == 0) {
            // An empty text matches without moving: one round.
            rounds = cap > 0 ? 1 : 0;
        } else {
            while (rounds < cap && match_at(nd, head, unit, pos, stop, nullptr)) {
                pos += len;
                ++rounds;
            }
        }
    }
    bool ok = rounds >= uint64_t(min) && (max < 0 || rounds <= uint64_t(max));
    if (ok) {
        p.input->w1 = pos;
        refresh_end(p);
    }
    return ok;
}

bool search_plain(Parser& p, const Cell& value, uint32_t* found) {
    uint32_t t = p.input->type();
    uint32_t count = input_count(p.input);
    uint32_t start = p.input->w1;
    uint32_t stop = stop_of(p, count);
    if (is_block_input(t)) {
        Cell v = value;
        for (uint32_t pos = start; pos < stop; ++pos) {
            if (cell_matches(p, pos, v)) {
                *found = pos;
                p.input->w1 = pos + 1;
                refresh_end(p);
                return true;
            }
        }
        return false;
    }
    if (t != TYPE_BINARY) {
        // One character (a char! or a one-character text) in narrow input,
        // the usual delimiter: searched without preparing a needle.
        uint32_t cp;
        bool fold_case = p.cmp != 2;
        const SeriesBuffer* b = buffer_of(p.input->w2);
        if (b->unit() == 1 && single_char(value, fold_case, &cp)) {
            int64_t at = find_char_narrow(b->head_ptr(), start, stop, cp, fold_case);
            if (at < 0) return false;
            *found = uint32_t(at);
            p.input->w1 = uint32_t(at) + 1;
            refresh_end(p);
            return true;
        }
    }
    Needle nd;
    Cell v = value;
    nd.prepare(p, v, t == TYPE_BINARY);
    if (nd.kind == Needle::NONE) parse_error("parse-rule", value);
    const SeriesBuffer* b = buffer_of(p.input->w2);
    const uint8_t* head = b->head_ptr();
    uint32_t unit = b->unit();
    uint32_t len = nd.length();
    auto hit = [&](uint32_t pos) {
        *found = pos;
        p.input->w1 = pos + len;
        refresh_end(p);
        return true;
    };
    if (nd.kind == Needle::CHAR && unit == 1) {
        int64_t at = find_char_narrow(head, start, stop, nd.cp, nd.fold);
        return at >= 0 ? hit(uint32_t(at)) : false;
    }
    if (nd.kind == Needle::BITSET) {
        Bits bits(v);
        for (uint32_t pos = start; pos < stop; ++pos)
            if (bits.has(unit_at(head, unit, pos))) return hit(pos);
        return false;
    }
    if (nd.kind == Needle::TEXT && unit == 1 && !nd.fold && len > 0) {
        bool narrow = std::all_of(nd.text.begin(), nd.text.end(), [](uint32_t c) { return c < 256; });
        if (!narrow) return false;
        ByteRun bytes;
        bytes.assign(nd.text.begin(), nd.text.end());
        if (stop < start || stop - start < len) return false;
        const void* q = memmem(head + start, stop - start, bytes.data(), len);
        return q ? hit(uint32_t(static_cast<const uint8_t*>(q) - head)) : false;
    }
    if (nd.kind == Needle::TEXT && unit == 1 && nd.fold && len > 0) {
        // Bytes whose folded form starts the needle are candidates; the rest
        // is compared at each of them.
        uint32_t first = nd.text[0];
        for (uint32_t pos = start; uint64_t(pos) + len <= stop; ++pos) {
            if (fold(head[pos]) == first && match_at(nd, head, 1, pos, stop, nullptr)) return hit(pos);
        }
        return false;
    }
    for (uint32_t pos = start; uint64_t(pos) + len <= stop; ++pos) {
        if (len == 0 && pos >= stop) break;
        if (match_at(nd, head, unit, pos, stop, nullptr)) return hit(pos);
    }
    return false;
}

namespace {

// Bytes by their folded (upper-case) form: fold_class[v] lists the bytes b
// with fold(b) == v, for v below 256 (built once).
struct FoldClasses {
    uint8_t count[256] = {};
    uint8_t bytes[256][4] = {};
    FoldClasses() {
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t v = casefold::to_upper_char(b);
            if (v < 256 && count[v] < 4) bytes[v][count[v]++] = uint8_t(b);
        }
    }
};
const FoldClasses& fold_classes() {
    static const FoldClasses classes;
    return classes;
}

}  // namespace

bool repeat_alternatives(Parser& p, const Cell& block, int32_t min, int32_t max, bool* matched) {
    uint32_t t = p.input->type();
    bool binary = t == TYPE_BINARY;
    if (!binary && !is_string_input(t)) return false;
    // The shape: value (| value)*, each value a char! or bitset! (directly
    // or as the value of a word that is not a keyword); at most 16 of them.
    constexpr uint32_t MAX = 16;
    uint32_t chars[MAX];
    Cell sets[MAX];
    uint32_t nchars = 0, nsets = 0;
    uint32_t n = series::count(block.w2);
    if (block.w1 >= n || n - block.w1 > 2 * MAX) return false;
    bool want_value = true;
    for (uint32_t i = block.w1; i < n; ++i) {
        Cell c = *block::cells_at(&block, i);
        if (!want_value) {
            if (c.type() != TYPE_WORD || !is_pipe(c)) return false;
            want_value = true;
            continue;
        }
        if (c.type() == TYPE_WORD) {
            // Keywords and words without a char or bitset value keep the general path.
            if (is_keyword(c) || !c.w1 || int32_t(c.w3) < 0) return false;
            Cell w = c;
            const Cell* v = context::get_word(&w);
            uint32_t vt = v->type();
            if (vt != TYPE_CHAR && vt != TYPE_BITSET) return false;
            c = *v;
        }
        if (c.type() == TYPE_CHAR) {
            if (binary && c.w2 >= 0x80) return false;
            chars[nchars++] = c.w2;
        } else if (c.type() == TYPE_BITSET) {
            sets[nsets++] = c;
        } else {
            return false;
        }
        want_value = false;
    }
    if (want_value) return false;
    bool folding = !binary && p.cmp != 2;
    // A byte table for code points below 256; larger ones test the values.
    uint8_t table[256] = {};
    const FoldClasses& classes = fold_classes();
    for (uint32_t k = 0; k < nchars; ++k) {
        uint32_t c = chars[k];
        if (c < 256) table[c] = 1;
        if (folding) {
            uint32_t v = fold(c);
            if (v < 256)
                for (uint32_t j = 0; j < classes.count[v]; ++j) table[classes.bytes[v][j]] = 1;
        }
    }
    for (uint32_t k = 0; k < nsets; ++k) {
        const SeriesBuffer* sb = buffer_of(sets[k].w2);
        const uint8_t* bits = sb->head_ptr();
        uint32_t bytes = sb->byte_count();
        uint8_t beyond = (sb->flags & series_flag::COMPLEMENT) ? 0xFF : 0;
        for (uint32_t byte = 0; byte < 32; ++byte) {
            uint8_t v = byte < bytes ? bits[byte] : beyond;
            if (!v) continue;
            for (uint32_t bit = 0; bit < 8; ++bit)
                if (v & (0x80u >> bit)) table[byte * 8 + bit] = 1;
        }
    }
    auto test = [&](uint32_t cp) {
        for (uint32_t k = 0; k < nchars; ++k)
            if (chars[k] == cp || (folding && fold(chars[k]) == fold(cp))) return true;
        for (uint32_t k = 0; k < nsets; ++k)
            if (Bits(sets[k]).has(cp)) return true;
        return false;
    };
    uint32_t count = input_count(p.input);
    uint32_t start = p.input->w1;
    uint32_t stop = stop_of(p, count);
    uint64_t cap = max < 0 ? UINT64_MAX : uint64_t(max);
    const SeriesBuffer* b = buffer_of(p.input->w2);
    const uint8_t* head = b->head_ptr();
    uint32_t unit = b->unit();
    uint32_t pos = start;
    uint64_t limit = uint64_t(start) + std::min<uint64_t>(cap, stop > start ? stop - start : 0);
    if (unit == 1) {
        while (pos < limit && table[head[pos]]) ++pos;
    } else {
        while (pos < limit) {
            uint32_t cp = unit_at(head, unit, pos);
            if (!(cp < 256 ? table[cp] != 0 : test(cp))) break;
            ++pos;
        }
    }
    uint64_t rounds = pos - start;
    *matched = rounds >= uint64_t(min) && (max < 0 || rounds <= uint64_t(max));
    if (*matched) {
        p.input->w1 = pos;
        refresh_end(p);
    }
    return true;
}

}  // namespace kiv::parser
