// The actions string! implements itself (file!, url!, tag!, email!, ref!,
// binary! and vector! inherit several of them): make/to, form, mold with its
// escape table, compare, find/select, append/insert/change, trim, sort, swap,
// take, path access and the parse character tests (the set operations are in
// set_operations.cpp).
//
// Buffers are re-read through their nodes after anything that may allocate;
// temporary strings live on the data stack (which never moves), and the
// stack top is put back before returning.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/code_point_set.h"
#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "runtime/case_fold.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/sort.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::string {

namespace {

constexpr uint64_t MAX_BYTES = 0x7FFFFFFFull;

// String-side argument errors name the refinement itself (/part, /skip,
// /compare), as the string set operations do; block-side ones name the word.
[[noreturn]] void invalid_refine_arg(uint32_t refinement, const Cell& value) {
    fire({"script", "invalid-refine-arg"}, fixed::refinements[refinement], value);
}

inline uint32_t upper(uint32_t cp) {
    // ASCII inline: folded searches call this for every unit they compare.
    if (cp < 0x80) return cp - ((cp - 'a' < 26u) ? 32u : 0u);
    return casefold::to_upper_char(cp);
}

// Units of a series value from its (clamped) index.
struct Units {
    const uint8_t* p;
    uint32_t unit;
    uint32_t count;
    uint32_t at(uint32_t i) const { return get_char(p + size_t(i) * unit, unit); }
};
Units units_from(Cell* v, uint32_t index) {
    SeriesBuffer* b = buffer(v);
    uint32_t unit = b->unit();
    uint32_t n = b->byte_count() >> unit_shift(unit);
    if (index > n) index = n;
    return Units{b->head_ptr() + size_t(index) * unit, unit, n - index};
}
inline Units units_of(Cell* v) {
    return units_from(v, v->w1);
}

// The node and index a string-like value or symbol! is read from.
Off text_node(Cell* v, uint32_t* index) {
    if (v->type() == TYPE_SYMBOL) {
        if (!v->w2) {
            SeriesBuffer* names = buffer_of(v->w3);
            v->w2 = unicode::load_utf8_new(names->head_ptr(), names->byte_count());
        }
        *index = 0;
        return v->w2;
    }
    *index = v->w1;
    return v->w2;
}

// ---- Whitespace sets ------------------------------------------------------------------------------

inline bool is_unicode_space(uint32_t c) {
    return c == 133 || c == 160 || c == 5760 || c == 6158 || (c >= 8192 && c <= 8202) || c == 8232 ||
           c == 8233 || c == 8239 || c == 8287 || c == 12288;
}
inline bool is_trim_space(uint32_t c) {
    return (c >= 1 && c <= 32) || is_unicode_space(c);
}
inline bool is_horizontal_space(uint32_t c) {
    return c == 32 || c == 9 || is_unicode_space(c);
}

// ---- Mold -----------------------------------------------------------------------------------------

// The caret escape table for code points below 95 (0: no entry).
struct EscapeTable {
    char entry[95] = {};
    constexpr EscapeTable() {
        entry[0] = '@';
        for (int i = 1; i <= 8; ++i) entry[i] = char('A' + i - 1);
        entry[9] = '-';
        entry[10] = '/';
        for (int i = 11; i <= 26; ++i) entry[i] = char('A' + i - 1);
        entry[27] = '[';
        entry[28] = '\\';
        entry[29] = ']';
        entry[30] = '^';
        entry[31] = '_';
        entry[34] = '"';
        entry[94] = '^';
    }
};
constexpr EscapeTable ESCAPES;

// Output sinks: the mold writer runs once, after a scan that counts its
// output exactly (for one exact reservation).
struct CountSink {
    uint64_t units = 0;
    uint32_t widest = 0;
    void put(uint32_t cp) {
        ++units;
        if (cp > widest) widest = cp;
    }
    void text(const char* s) { units += std::strlen(s); }
};
struct WriteSink {
    uint8_t* p;
    uint32_t unit;
    void put(uint32_t cp) {
        set_char(p, unit, cp);
        p += unit;
    }
    void text(const char* s) {
        for (; *s; ++s) put(uint8_t(*s));
    }
};

template <class Sink>
void escape_into(Sink& out, uint32_t cp, uint32_t marker, bool all) {
    if (cp == 30 || (cp >= 128 && cp <= 159) || (all && cp > 127)) {
        out.text("^(");
        out.text(to_hex(int32_t(cp), true));
        out.put(')');
    } else if (marker == ESCAPE_MARKER && cp < 95 && ESCAPES.entry[cp]) {
        out.put('^');
        out.put(uint8_t(ESCAPES.entry[cp]));
    } else if (marker == ESCAPE_MARKER && cp == 127) {
        out.text("^~");
    } else {
        out.put(cp);
    }
}

// What the molder needs to know of a string before it writes: the choice of
// delimiters and the exact size of the result, from one linear scan.
// In braces, a "{" is written bare while every "{" so far has its "}"
// (matched as brackets are, innermost first); from the first "{" that is
// never closed on, every "{" is escaped, and so is every "}" that has no
// bare "{" open before it.
struct MoldPlan {
    bool braces;
    uint32_t first_unclosed;  // position of the first "{" never closed, or `end`
    CountSink count;          // units and widest code point of the result
};

MoldPlan plan_mold(const Units& u, uint32_t end, bool all) {
    uint32_t quotes = 0, lines = 0;
    CountSink quoted, braced;  // the two delimiters' results, braces not counted
    uint64_t depth = 0;        // "{" not yet closed
    uint64_t stray_closes = 0;      // "}" met with no "{" open
    uint32_t bottom = end;          // the "{" opened at depth 0 last
    uint64_t stray_before_bottom = 0, opens_since_bottom = 0, closes_since_bottom = 0;
    for (uint32_t i = 0; i < end; ++i) {
        uint32_t c = u.at(i);
        switch (c) {
            case '{':
                if (depth == 0) {
                    bottom = i;
                    stray_before_bottom = stray_closes;
                    opens_since_bottom = closes_since_bottom = 0;
                }
                ++depth;
                ++opens_since_bottom;
                braced.put(c);
                escape_into(quoted, c, ESCAPE_MARKER, all);
                break;
            case '}':
                if (depth) {
                    --depth;
                } else {
                    ++stray_closes;
                }
                ++closes_since_bottom;
                braced.put(c);
                escape_into(quoted, c, ESCAPE_MARKER, all);
                break;
            case '"':
                ++quotes;
                braced.put(c);
                escape_into(quoted, c, ESCAPE_MARKER, all);
                break;
            case '^':
                braced.text("^^");
                escape_into(quoted, c, ESCAPE_MARKER, all);
                break;
            default:
                lines += c == '\n';
                escape_into(braced, c, ESCAPE_MARKER, all);
                escape_into(quoted, c, ESCAPE_MARKER, all);
        }
    }
    MoldPlan plan;
    plan.braces = lines > 2 || quotes > 0 || u.count > 49;
    plan.first_unclosed = end;
    if (!plan.braces) {
        plan.count = quoted;
    } else {
        plan.count = braced;
        // The "{" left open at the end is the one opened at depth 0 last:
        // from it on every brace is escaped; before it, the stray "}".
        uint64_t escaped = stray_closes;
        if (depth) {
            plan.first_unclosed = bottom;
            escaped = stray_before_bottom + opens_since_bottom + closes_since_bottom;
        }
        plan.count.units += escaped;
        if (escaped && plan.count.widest < '^') plan.count.widest = '^';
    }
    plan.count.put(plan.braces ? '{' : '"');
    plan.count.put(plan.braces ? '}' : '"');
    return plan;
}

void mold_run(WriteSink& out, const Units& u, uint32_t end, const MoldPlan& plan, bool all) {
    out.put(plan.braces ? '{' : '"');
    if (!plan.braces) {
        for (uint32_t i = 0; i < end; ++i) escape_into(out, u.at(i), ESCAPE_MARKER, all);
        out.put('"');
        return;
    }
    uint64_t depth = 0;
    for (uint32_t i = 0; i < end; ++i) {
        uint32_t c = u.at(i);
        switch (c) {
            case '{':
                if (i < plan.first_unclosed) {
                    ++depth;
                } else {
                    out.put('^');
                }
                out.put('{');
                break;
            case '}':
                if (depth < 1) {
                    out.put('^');
                } else {
                    --depth;
                }
                out.put('}');
                break;
            case '"':
                out.put('"');
                break;
            case '^':
                out.text("^^");
                break;
            default:
                escape_into(out, c, ESCAPE_MARKER, all);
        }
    }
    out.put('}');
}

// ---- Appending values as text -----------------------------------------------------------------------

// Appends a string-like value's characters (a tag! with its delimiters),
// at most `limit` characters when limit >= 0.
void append_text(Cell* target, Cell* value, int64_t limit) {
    uint32_t len = length(value);
    if (value->type() == TYPE_TAG) {
        int64_t budget = limit < 0 ? int64_t(len) + 2 : limit;
        if (budget <= 0) return;
        append_char(buffer(target), '<');
        --budget;
        int64_t n = std::min<int64_t>(budget, len);
        concatenate(target, value, int32_t(n), 0, true, CONCAT_APPEND);
        budget -= n;
        if (budget > 0) append_char(buffer(target), '>');
        return;
    }
    int32_t n = limit < 0 ? -1 : int32_t(std::min<int64_t>(limit, len));
    concatenate(target, value, n, 0, true, CONCAT_APPEND);
}

// Forms one value at the target's tail; cuts what goes past `limit` (>= 0).
void append_formed(Cell* target, Cell* value, int64_t limit) {
    uint32_t before = length_from_head(target);
    actions::form(value, target, nullptr, INT32_MAX);
    if (limit >= 0 && length_from_head(target) - before > limit)
        truncate_at(buffer(target), before + uint32_t(limit));
}

// Appends a value as append writes it (no /dup): char! as one character,
// string-like values their text, blocks each element formed in turn, any
// other value formed. Returns the units appended.
uint32_t append_value(Cell* target, Cell* value, int32_t part, bool only) {
    uint32_t before = length_from_head(target);
    uint32_t t = value->type();
    if (t == TYPE_CHAR) {
        append_char(buffer(target), value->w2);
    } else if (is_any_string(t)) {
        append_text(target, value, part);
    } else if (is_any_list(t)) {
        // Elements are copied to the stack one at a time: forming may
        // allocate and move the block's buffer.
        stack::TopMark mark;
        Cell* blk = stack::push(*value);
        Cell* item = stack::push_slot();
        uint32_t total = series::buffer_length(blk);
        uint32_t i = std::min(blk->w1, total);
        uint32_t end = total;
        if (!only && part >= 0) end = uint32_t(std::min<int64_t>(int64_t(i) + part, total));
        for (; i < end; ++i) {
            const SeriesBuffer* b = series::buffer(blk);
            if (i >= (b->byte_count() >> 4)) break;  // the block shrank while forming
            std::memcpy(item, b->head_ptr() + size_t(i) * sizeof(Cell), sizeof(Cell));
            if (only && part >= 0) {
                int64_t left = int64_t(part) - (length_from_head(target) - before);
                if (left <= 0) break;
                append_formed(target, item, left);
            } else {
                append_formed(target, item, -1);
            }
        }
    } else {
        append_formed(target, value, part);
    }
    return length_from_head(target) - before;
}

// Source length and unit of a value whose size is known before writing.
bool known_size(Cell* value, uint64_t* units, uint32_t* unit) {
    uint32_t t = value->type();
    if (t == TYPE_CHAR) {
        *units = 1;
        *unit = append_unit(value->w2);
        return true;
    }
    if (is_any_string(t)) {
        *units = length(value) + (t == TYPE_TAG ? 2 : 0);
        *unit = buffer(value)->unit();
        return true;
    }
    return false;
}

// (dup x source + target) x unit must stay addressable; checked in 64 bits.
void check_needed_size(Cell* series, Cell* value, int32_t part, int32_t dup) {
    uint64_t units;
    uint32_t unit;
    if (!known_size(value, &units, &unit)) return;
    if (part >= 0 && uint64_t(part) < units) units = uint64_t(part);
    unit = std::max(unit, buffer(series)->unit());
    uint64_t need = (uint64_t(uint32_t(dup)) * units + length_from_head(series)) * unit;
    if (need > MAX_BYTES) fire({"internal", "no-memory"});
}

// ---- Search ---------------------------------------------------------------------------------------

// A vector element as a number (vector.h gives the reading rule).
double vector_number(const uint8_t* p, uint32_t unit, uint32_t elem_type) {
    Cell e = vector::get_element(p, unit, elem_type);
    if (elem_type == TYPE_FLOAT || elem_type == TYPE_PERCENT) return e.get_f64();
    return double(int32_t(e.w2));
}

// What find looks for at each position.
struct Needle {
    enum Kind { CHAR, BITSET, TEXT, NUMBER } kind;
    uint32_t cp = 0;            // CHAR
    const Cell* set = nullptr;  // BITSET
    Cell* text = nullptr;       // TEXT: a string-like or binary! cell (read from its index)
    double number = 0;          // NUMBER
    uint32_t length = 1;        // units a match covers
};

bool bitset_has(const Cell* bitset, uint32_t cp) {
    const SeriesBuffer* b = buffer_of(bitset->w2);
    uint64_t bits = uint64_t(b->byte_count()) * 8;
    if (cp >= bits) return (b->flags & series_flag::COMPLEMENT) != 0;
    return (b->head_ptr()[cp >> 3] & (0x80u >> (cp & 7))) != 0;
}

// The search loop reads raw pointers: it runs after the last allocation of
// find (the formed needle), and matching allocates nothing.
struct Search {
    Needle needle;
    bool fold;
    bool vector;
    uint32_t elem_type;
    const uint8_t* head = nullptr;  // the series' buffer head
    uint32_t unit = 1;
    Units text{};  // TEXT: the needle's units

    void bind(Cell* series) {
        const SeriesBuffer* b = buffer(series);
        head = b->head_ptr();
        unit = b->unit();
        if (needle.kind == Needle::TEXT) text = units_of(needle.text);
    }

    // The code a unit stands for: its character, or for the 8-byte elements
    // of a vector! their value when it is a whole number that fits 32 bits
    // (else a code no character has).
    uint32_t code_at(const uint8_t* p) const {
        if (unit != 8) return get_char(p, unit);
        double v = vector_number(p, unit, elem_type);
        return v >= 0 && v <= 4294967295.0 && v == double(uint32_t(v)) ? uint32_t(v) : UINT32_MAX;
    }

    // True when the needle matches at position `pos` (from the head), the
    // match lying before `end`.
    bool match(uint32_t pos, uint32_t end) const {
        const uint8_t* p = head + size_t(pos) * unit;
        switch (needle.kind) {
            case Needle::CHAR: {
                uint32_t c = code_at(p);
                return fold ? upper(c) == needle.cp : c == needle.cp;
            }
            case Needle::BITSET:
                return bitset_has(needle.set, code_at(p));
            case Needle::NUMBER: {
                double v = vector ? vector_number(p, unit, elem_type) : double(get_char(p, unit));
                return v == needle.number;
            }
            case Needle::TEXT: {
                if (uint64_t(pos) + needle.length > end) return false;
                if (unit == 1 && text.unit == 1) {
                    if (!fold) return std::memcmp(p, text.p, needle.length) == 0;
                    for (uint32_t i = 0; i < needle.length; ++i)
                        if (p[i] != text.p[i] && upper(p[i]) != upper(text.p[i])) return false;
                    return true;
                }
                for (uint32_t i = 0; i < needle.length; ++i) {
                    uint32_t a = code_at(p + size_t(i) * unit);
                    uint32_t c = text.at(i);
                    if (a != c && (!fold || upper(a) != upper(c))) return false;
                }
                return true;
            }
        }
        return false;
    }
};

// The end of a wildcard match of the pattern against the text from `at`
// (not past `end`), or -1. `many` matches any run of characters (the
// shortest that lets the rest match), `one` any single character.
int64_t wild_match(const Units& text, uint32_t at, uint32_t end, const Units& pattern, uint32_t many, uint32_t one,
                   bool fold) {
    uint32_t pi = 0, ti = at;
    int64_t star_pi = -1;
    uint32_t star_ti = 0;
    for (;;) {
        if (pi == pattern.count) return ti;
        uint32_t pc = pattern.at(pi);
        if (pc == many) {
            star_pi = pi++;
            star_ti = ti;
            continue;
        }
        if (ti < end) {
            uint32_t tc = text.at(ti);
            if (pc == one || pc == tc || (fold && upper(pc) == upper(tc))) {
                ++pi;
                ++ti;
                continue;
            }
        }
        if (star_pi >= 0 && star_ti < end) {
            ti = ++star_ti;
            pi = uint32_t(star_pi) + 1;
            continue;
        }
        return -1;
    }
}

// find with /any (and /with): the value is a pattern in which "*" stands for
// any run of characters and "?" for any one (/with names other wildcard
// characters: a string gives the run character then the single one, a char!
// the run character only). Returns the match start; the match length comes
// back through match_length.
int64_t find_wild(Cell* series, Cell* value, uint32_t index, uint32_t total, int64_t count, uint32_t step, bool fold,
                  Cell* with, bool last, bool reverse, bool match, uint32_t* match_length) {
    uint32_t many = '*', one = '?';
    if (with) {
        uint32_t wt = with->type();
        if (wt == TYPE_CHAR) {
            many = with->w2;
            one = 0xFFFFFFFFu;
        } else if (is_any_string(wt)) {
            Units w = units_of(with);
            if (w.count >= 1) many = w.at(0);
            one = w.count >= 2 ? w.at(1) : 0xFFFFFFFFu;
        } else {
            invalid_refine_arg(fixed::REF_WITH, *with);
        }
    }
    stack::TopMark mark;
    Cell* pattern = value;
    if (!is_any_string(value->type())) {
        pattern = push_new(16);
        actions::form(value, pattern, nullptr, INT32_MAX);
    }
    Units pat = units_of(pattern);
    if (pat.count == 0) return -1;
    Units text = units_from(series, 0);  // no allocation below
    uint32_t end = count < 0 ? total : uint32_t(std::min<int64_t>(int64_t(index) + count, total));
    auto try_at = [&](int64_t p) -> bool {
        int64_t e = wild_match(text, uint32_t(p), end, pat, many, one, fold);
        if (e < 0) return false;
        *match_length = uint32_t(e - p);
        return true;
    };
    if (match) return try_at(index) ? int64_t(index) : -1;
    if (reverse) {
        uint32_t low = count < 0 ? 0 : uint32_t(std::max<int64_t>(0, int64_t(index) - count));
        end = index;
        for (int64_t p = int64_t(index) - 1; p >= int64_t(low); p -= step)
            if (try_at(p)) return p;
        return -1;
    }
    if (last) {
        for (int64_t p = int64_t(end) - 1; p >= int64_t(index); p -= step)
            if (try_at(p)) return p;
        return -1;
    }
    for (int64_t p = index; p < int64_t(end); p += step)
        if (try_at(p)) return p;
    return -1;
}

// Finds the match position (from the head) or -1. The result cell's index
// and the needle length come back through the arguments.
int64_t find_position(Cell* series, Cell* value, Cell* part, bool case_sensitive, bool same, bool any,
                      Cell* with, Cell* skip, bool last, bool reverse, bool match, uint32_t* match_length) {
    uint32_t total = length_from_head(series);
    uint32_t t = series->type();
    if (total == 0 || (!reverse && series->w1 >= total)) return -1;
    uint32_t index = std::min(series->w1, total);

    int64_t step = 1;
    if (skip) {
        if (skip->type() != TYPE_INTEGER) invalid_refine_arg(fixed::REF_SKIP, *skip);
        step = int32_t(skip->w2);
        if (step < 1) fire({"script", "out-of-range"}, *skip);
    }
    int64_t count = -1;
    if (part) {
        if (part->type() == TYPE_INTEGER)
            count = int32_t(part->w2);
        else if (part->type() == t && part->w2 == series->w2)
            count = int64_t(part->w1) - int64_t(index);
        else
            invalid_refine_arg(fixed::REF_PART, *part);
        if (count < 1) return -1;
    }

    if (any || with) {
        if (!is_any_string(t)) fire({"script", "invalid-arg"}, *series);
        return find_wild(series, value, index, total, count, uint32_t(step), !case_sensitive && !same, with, last,
                         reverse, match, match_length);
    }

    Search s{Needle{Needle::CHAR}, false, t == TYPE_VECTOR, series->w3};
    s.fold = is_any_string(t) && !case_sensitive && !same;
    uint32_t vt = value->type();
    bool numeric_series = t == TYPE_VECTOR || t == TYPE_BINARY;
    if (vt == TYPE_CHAR) {
        s.needle.cp = s.fold ? upper(value->w2) : value->w2;
    } else if (vt == TYPE_BITSET) {
        s.needle.kind = Needle::BITSET;
        s.needle.set = value;
        s.fold = false;
    } else if ((vt == TYPE_INTEGER || vt == TYPE_FLOAT) && numeric_series) {
        s.needle.kind = Needle::NUMBER;
        s.needle.number = vt == TYPE_INTEGER ? double(int32_t(value->w2)) : value->get_f64();
    } else {
        s.needle.kind = Needle::TEXT;
        if (vt == TYPE_BINARY && t != TYPE_BINARY) fire({"script", "invalid-arg"}, *value);
        if (is_any_string(vt) && vt != TYPE_TAG) {
            s.needle.text = value;
        } else if (vt == TYPE_BINARY) {
            s.needle.text = value;
        } else {
            // Any other value (a tag! with its delimiters) is searched as
            // its formed text.
            Cell* text = push_new(16);
            if (vt == TYPE_TAG)
                append_text(text, value, -1);
            else
                actions::form(value, text, nullptr, INT32_MAX);
            s.needle.text = text;
        }
        s.needle.length = units_of(s.needle.text).count;
        // Searching for nothing finds nothing.
        if (s.needle.length == 0) return -1;
    }
    *match_length = s.needle.length;
    uint32_t n = s.needle.length;
    s.bind(series);

    if (reverse) {
        // From the unit before the index down to index - count (or the head).
        if (match || index == 0) return -1;
        int64_t low = count < 0 ? 0 : std::max<int64_t>(0, int64_t(index) - count);
        for (int64_t e = int64_t(index) - 1; e >= low; e -= step) {
            int64_t start = e - n + 1;
            if (start < low) break;
            if (s.match(uint32_t(start), uint32_t(index))) return start;
        }
        return -1;
    }
    uint32_t end = count < 0 ? total : uint32_t(std::min<int64_t>(int64_t(index) + count, total));
    if (match) return s.match(index, end) ? int64_t(index) : -1;
    if (last) {
        for (int64_t e = int64_t(end) - 1; e >= int64_t(index); e -= step) {
            int64_t start = e - n + 1;
            if (start < int64_t(index)) break;
            if (s.match(uint32_t(start), end)) return start;
        }
        return -1;
    }
    if (step == 1 && s.unit == 1 && !s.fold) {
        // The common cases in 1-byte text: memchr finds each candidate.
        uint32_t first;
        if (s.needle.kind == Needle::CHAR) {
            first = s.needle.cp;
        } else if (s.needle.kind == Needle::TEXT && s.text.unit == 1) {
            first = s.text.p[0];
        } else {
            first = 0x100;
        }
        if (first <= 0xFF || s.needle.kind == Needle::CHAR) {
            if (first > 0xFF || n > end - index) return -1;
            const uint8_t* h = s.head;
            const uint8_t* p = h + index;
            const uint8_t* stop = h + (end - n) + 1;  // candidates start before here
            while (p < stop) {
                auto* hit = static_cast<const uint8_t*>(std::memchr(p, int(first), size_t(stop - p)));
                if (!hit) return -1;
                if (n == 1 || std::memcmp(hit + 1, s.text.p + 1, n - 1) == 0) return hit - h;
                p = hit + 1;
            }
            return -1;
        }
    }
    if (step == 1 && s.unit == 1 && s.fold &&
        (s.needle.kind == Needle::CHAR || (s.needle.kind == Needle::TEXT && s.text.unit == 1))) {
        // Folded search in 1-byte text: a candidate is a byte that folds as
        // the needle's first character does (at most two such bytes, else
        // the general loop). For each byte, the bytes folding as it does
        // (the second -1 when it is alone), and their count (3: more).
        struct FoldPairs {
            int16_t bytes[256][2];
            uint8_t count[256];
            FoldPairs() {
                for (uint32_t a = 0; a < 256; ++a) {
                    count[a] = 0;
                    bytes[a][0] = bytes[a][1] = -1;
                    for (uint32_t b = 0; b < 256; ++b)
                        if (upper(b) == upper(a)) {
                            if (count[a] < 2) bytes[a][count[a]] = int16_t(b);
                            if (count[a] < 3) ++count[a];
                        }
                }
            }
        };
        static const FoldPairs pairs;
        uint32_t first = s.needle.kind == Needle::CHAR ? s.needle.cp : s.text.p[0];
        uint32_t found = first < 256 ? pairs.count[first] : 3;
        int32_t bytes[2] = {first < 256 ? pairs.bytes[first][0] : -1, first < 256 ? pairs.bytes[first][1] : -1};
        if (found <= 2) {
            if (n > end - index) return -1;
            const uint8_t* h = s.head;
            const uint8_t* stop = h + (end - n) + 1;  // candidates start before here
            // A plain loop, not memchr per byte value: a value that does
            // not occur would be searched to the end at every call.
            const uint8_t b0 = uint8_t(bytes[0]), b1 = uint8_t(bytes[found == 2 ? 1 : 0]);
            const uint8_t* p = h + index;
            // Sixteen bytes a step while none of them is a candidate (the
            // bytes read lie before the tail: stop + n - 1 is the end).
            typedef uint8_t Bytes16 __attribute__((vector_size(16)));
            typedef uint64_t Words2 __attribute__((vector_size(16)));
            Bytes16 v0 = {}, v1 = {};
            v0 += b0;
            v1 += b1;
            while (stop - p >= 16) {
                Bytes16 v;
                std::memcpy(&v, p, 16);
                Words2 hits = (Words2)((v == v0) | (v == v1));
                if (hits[0] | hits[1]) break;
                p += 16;
            }
            for (; p < stop; ++p)
                if ((*p == b0 || *p == b1) && (n == 1 || s.match(uint32_t(p - h), end))) return p - h;
            return -1;
        }
    }
    for (int64_t p = index; p + n <= end; p += step)
        if (s.match(uint32_t(p), end)) return p;
    return -1;
}

// ---- Sort -----------------------------------------------------------------------------------------

struct SortSpec {
    uint32_t unit;
    bool fold;
    bool reverse;
    bool whole;          // compare whole records
    uint32_t size;       // record length in units
    uint32_t offset;     // unit compared inside each record
    uint32_t elem_type;  // vector! element type, 0 for text
};

template <class T>
inline T load_unit(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// A unit as an ordering key: text units unsigned (folded to upper case when
// asked), vector integers signed, vector floats as numbers.
template <uint32_t Unit>
inline int32_t compare_units(const uint8_t* a, const uint8_t* b, const SortSpec& s) {
    if (s.elem_type == TYPE_FLOAT || s.elem_type == TYPE_PERCENT) {
        double x = Unit == 4 ? double(load_unit<float>(a)) : 0.0,
               y = Unit == 4 ? double(load_unit<float>(b)) : 0.0;
        return (x > y) - (x < y);
    }
    if (s.elem_type == TYPE_INTEGER) {
        int64_t x, y;
        if constexpr (Unit == 1) {
            x = int8_t(*a), y = int8_t(*b);
        } else if constexpr (Unit == 2) {
            x = load_unit<int16_t>(a), y = load_unit<int16_t>(b);
        } else {
            x = load_unit<int32_t>(a), y = load_unit<int32_t>(b);
        }
        return (x > y) - (x < y);
    }
    uint32_t x = get_char(a, Unit), y = get_char(b, Unit);
    if (s.fold) {
        x = upper(x);
        y = upper(y);
    }
    return (x > y) - (x < y);
}

template <uint32_t Unit>
int32_t sort_compare(const void* pa, const void* pb, int32_t /*op*/, intptr_t flags) {
    const SortSpec& s = *reinterpret_cast<const SortSpec*>(flags);
    auto a = static_cast<const uint8_t*>(pa);
    auto b = static_cast<const uint8_t*>(pb);
    if (s.reverse) std::swap(a, b);
    if (!s.whole) return compare_units<Unit>(a + size_t(s.offset) * Unit, b + size_t(s.offset) * Unit, s);
    for (uint32_t i = 0; i < s.size; ++i) {
        int32_t r = compare_units<Unit>(a + size_t(i) * Unit, b + size_t(i) * Unit, s);
        if (r) return r;
    }
    return 0;
}

int32_t sort_compare_f64(const void* pa, const void* pb, int32_t /*op*/, intptr_t flags) {
    const SortSpec& s = *reinterpret_cast<const SortSpec*>(flags);
    auto a = static_cast<const uint8_t*>(pa);
    auto b = static_cast<const uint8_t*>(pb);
    if (s.reverse) std::swap(a, b);
    uint32_t first = s.whole ? 0 : s.offset, last = s.whole ? s.size : s.offset + 1;
    for (uint32_t i = first; i < last; ++i) {
        double x = load_unit<double>(a + size_t(i) * 8), y = load_unit<double>(b + size_t(i) * 8);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace

// ---- Text workers ------------------------------------------------------------------------------------

void escape_char(Cell* out, uint32_t cp, uint32_t marker, bool all) {
    CountSink count;
    escape_into(count, cp, marker, all);
    SeriesBuffer* b = reserve(buffer(out), count.units, append_unit(count.widest));
    WriteSink w{b->tail_ptr(), b->unit()};
    escape_into(w, cp, marker, all);
    b->tail += uint32_t(count.units * b->unit());
}

int32_t equal(Cell* a, Cell* b, int32_t op, bool match) {
    uint32_t ia, ib;
    Off na = text_node(a, &ia);
    Off nb = text_node(b, &ib);
    if (na == nb && ia == ib) return 0;
    if (op == COMP_SAME) return -1;
    const SeriesBuffer* ba = buffer_of(na);
    const SeriesBuffer* bb = buffer_of(nb);
    uint32_t ua = ba->unit(), ub = bb->unit();
    uint32_t la = ba->byte_count() >> unit_shift(ua), lb = bb->byte_count() >> unit_shift(ub);
    ia = std::min(ia, la);
    ib = std::min(ib, lb);
    uint32_t ca = la - ia, cb = lb - ib;
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    uint32_t n;
    if (!match) {
        if (ca != cb && (equality || cb == 0)) return 1;
        if (ca == 0 && cb == 0) return 0;
        n = std::min(ca, cb);
    } else {
        if (cb == 0) return op == COMP_FIND ? 1 : 0;
        if (ca < cb) return 1;
        n = cb;
    }
    bool fold = op != COMP_STRICT_EQUAL && op != COMP_CASE_SORT;
    const uint8_t* pa = ba->head_ptr() + size_t(ia) * ua;
    const uint8_t* pb = bb->head_ptr() + size_t(ib) * ub;
    if (!fold && ua == 1 && ub == 1) {
        int r = std::memcmp(pa, pb, n);
        if (r) return r < 0 ? -1 : 1;
    } else {
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t x = get_char(pa + size_t(i) * ua, ua);
            uint32_t y = get_char(pb + size_t(i) * ub, ub);
            if (x == y) continue;
            if (fold) {
                x = upper(x);
                y = upper(y);
                if (x == y) continue;
            }
            return x < y ? -1 : 1;
        }
    }
    if (match) return 0;
    return (ca > cb) - (ca < cb);
}

int32_t compare_answer_order(const Cell* answer) {
    switch (answer->type()) {
        case TYPE_LOGIC:
            return answer->w1 ? -1 : 1;
        case TYPE_NONE:
            return 1;
        case TYPE_INTEGER: {
            int32_t v = int32_t(answer->w2);
            return v > 0 ? -1 : v < 0 ? 1 : 0;
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double d = answer->get_f64();
            return d > 0 ? -1 : d < 0 ? 1 : 0;
        }
        default:
            return -1;
    }
}

bool char_in_bitset(Cell* str, const Cell* bitset) {
    if (is_tail(str)) return false;
    return bitset_has(bitset, abs_at(str, str->w1));
}

bool tag_delimited(Cell* str, uint32_t tag_length) {
    uint32_t total = length_from_head(str);
    uint64_t close = uint64_t(str->w1) + tag_length + 1;
    if (str->w1 >= total || close >= total) return false;
    return abs_at(str, str->w1) == '<' && abs_at(str, uint32_t(close)) == '>';
}

bool match_at(Cell* str, Cell* value, int32_t op) {
    uint32_t t = value->type();
    if (t == TYPE_TAG) {
        uint32_t len = length(value);
        if (!tag_delimited(str, len)) return false;
        Cell after = *str;
        after.w1 += 1;
        Cell text = *value;
        return equal(&after, &text, op, true) == 0;
    }
    if (is_any_string(t)) return equal(str, value, op, true) == 0;
    if (t == TYPE_CHAR) {
        if (is_tail(str)) return false;
        uint32_t c = abs_at(str, str->w1);
        return op == COMP_STRICT_EQUAL ? c == value->w2 : upper(c) == upper(value->w2);
    }
    return false;
}

// ---- make / to ----------------------------------------------------------------------------------------

namespace {

// An empty value of the type with room for `count` units.
Cell* make_empty(Cell* proto, uint32_t type, uint32_t count) {
    if (type == TYPE_BINARY) {
        Off node = memory::alloc_bytes(std::max(count, 1u));
        *proto = Cell{TYPE_BINARY, 0, node, 0};
        return proto;
    }
    make_at(proto, count);
    proto->set_type(type);
    return proto;
}

int64_t capacity_of(Cell* spec) {
    if (spec->type() == TYPE_INTEGER) return int32_t(spec->w2);
    double d = std::trunc(spec->get_f64());
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) fire({"script", "out-of-range"}, *spec);
    return int64_t(d);
}

}  // namespace

Outcome make(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t st = spec->type();
    if (type == TYPE_BINARY && st == TYPE_MONEY) fire({"script", "bad-make-arg"}, datatype::cell(type), *spec);
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        int64_t n = capacity_of(spec);
        if (n < 0) fire({"script", "out-of-range"}, *spec);
        return make_empty(proto, type, uint32_t(n));
    }
    if (type == TYPE_BINARY) {
        // Every other spec is binary!'s own conversion.
        auto to_binary = datatype::lookup<ACT_TO>(TYPE_BINARY);
        if (!to_binary) fire({"internal", "not-done"});
        return to_binary(proto, spec, type);
    }
    return to(proto, spec, type);
}

Outcome to(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t st = spec->type();
    if (st == TYPE_NONE) fire({"script", "bad-to-arg"}, datatype::cell(type), *spec);
    stack::TopMark mark;
    Cell* out;
    if (is_any_string(st)) {
        uint32_t idx = std::min(spec->w1, length_from_head(spec));
        Off node = series::copy_part(spec->w2, idx, length_from_head(spec) - idx);
        out = stack::push(Cell{TYPE_STRING, 0, node, 0});
    } else if (st == TYPE_BINARY) {
        SeriesBuffer* b = buffer(spec);
        uint32_t idx = std::min(spec->w1, b->byte_count());
        out = load_utf8_strict(b->head_ptr() + idx, b->byte_count() - idx);
    } else if (st == TYPE_REFINEMENT && type != TYPE_STRING) {
        out = push_new(16);
        actions::mold(spec, out, false, false, false, nullptr, INT32_MAX, 0);
    } else {
        out = push_new(16);
        append_value(out, spec, -1, false);
    }
    out->set_type(type);
    *proto = *out;
    return proto;
}

// ---- form / mold ----------------------------------------------------------------------------------------

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget) {
    uint32_t len = length(value);
    int32_t n = -1;
    if (part && int64_t(budget) < int64_t(len)) n = std::max(budget, 0);
    concatenate(out, value, n, 0, true, CONCAT_APPEND);
    return int32_t(std::max<int64_t>(int64_t(budget) - len, INT32_MIN));
}

int32_t mold(Cell* value, Cell* out, bool /*only*/, bool all, bool /*flat*/, Cell* part, int32_t budget,
             int32_t /*indent*/) {
    uint32_t len = length(value);
    uint32_t end = len;
    if (part) end = uint32_t(std::clamp<int64_t>(budget, 0, len));
    MoldPlan plan = plan_mold(units_of(value), end, all);
    SeriesBuffer* b = reserve(buffer(out), plan.count.units, append_unit(plan.count.widest));
    Units u = units_of(value);  // the reservation may have moved or widened it
    WriteSink w{b->tail_ptr(), b->unit()};
    mold_run(w, u, end, plan, all);
    b->tail += uint32_t(plan.count.units * b->unit());
    return int32_t(std::max<int64_t>(int64_t(budget) - end - 2, INT32_MIN));
}

Cell* push_formed(const Cell& value) {
    Cell* text = push_new(16);
    Cell* v = stack::push(value);
    actions::form(v, text, nullptr, INT32_MAX);
    return text;
}

Cell* push_molded(const Cell& value, bool only) {
    Cell* text = push_new(64);
    Cell* v = stack::push(value);
    actions::mold(v, text, only, false, false, nullptr, INT32_MAX, 0);
    return text;
}

// ---- compare ---------------------------------------------------------------------------------------------

int32_t compare(Cell* value, Cell* other, int32_t op) {
    uint32_t a = value->type(), b = other->type();
    if (a != b) {
        if (!(is_any_string(a) && is_any_string(b) && (op == COMP_EQUAL || op == COMP_NOT_EQUAL)))
            return NOT_COMPARABLE;
    }
    return equal(value, other, op, false);
}

// ---- append / insert / change -------------------------------------------------------------------------

namespace {

// append of a whole text (not a tag) or a char!, once, to a string that no
// owner watches: the string-building case, written straight at the tail.
// False when the general path must run (nothing was done then).
[[gnu::always_inline]] inline bool append_plain(Cell* series, Cell* value) {
    SeriesBuffer* tb = buffer(series);
    if (tb->flags & series_flag::OWNED) return false;
    uint32_t t = value->type();
    uint32_t tu = tb->unit();
    uint32_t have = uint32_t(tb->byte_count() >> unit_shift(tu));
    if (t == TYPE_CHAR) {
        uint32_t cp = value->w2;
        // The size rule of check_needed_size.
        if ((uint64_t(have) + 1) * std::max(append_unit(cp), tu) > MAX_BYTES) fire({"internal", "no-memory"});
        append_char(tb, cp);
        return true;
    }
    if (!is_any_string(t) || t == TYPE_TAG) return false;
    const SeriesBuffer* sb = buffer_of(value->w2);
    uint32_t su = sb->unit();
    if (su > tu || (su != 1 && su != 2 && su != 4)) return false;  // the target widens: general path
    uint32_t s_units = uint32_t(sb->byte_count() >> unit_shift(su));
    uint32_t count = value->w1 < s_units ? s_units - value->w1 : 0;
    if ((uint64_t(have) + count) * tu > MAX_BYTES) fire({"internal", "no-memory"});
    uint64_t bytes = uint64_t(count) * tu;
    if (bytes == 0) return true;
    if (uint64_t(tb->tail) + bytes > tb->data_end()) {
        tb = memory::expand_series_copy(tb, 2 * (uint64_t(tb->byte_count()) + bytes));
        sb = buffer_of(value->w2);  // the value may be this very string
    }
    const uint8_t* src = sb->head_ptr() + (uint64_t(value->w1) << unit_shift(su));
    uint8_t* dest = tb->tail_ptr();
    if (su == tu) {
        std::memcpy(dest, src, size_t(bytes));
    } else {
        for (uint32_t i = 0; i < count; ++i, dest += tu) set_char(dest, tu, get_char(src + size_t(i) * su, su));
    }
    tb->tail += uint32_t(bytes);
    return true;
}

// insert beyond the plain append: out of line, so that the append does not
// pay for its frame.
[[gnu::noinline]] Unwind insert_general(Cell* series, Cell* value, int32_t part, bool only, int32_t dup,
                                        bool append) {
    stack::TopMark mark;
    if (dup < 1) dup = 1;
    uint32_t total = length_from_head(series);
    if (series->w1 > total) series->w1 = total;
    bool at_tail = append || series->w1 >= total;
    uint32_t start = at_tail ? total : series->w1;
    check_needed_size(series, value, part, dup);
    bool owned;
    if (Unwind code = series::notify_owner(series, append ? ownership::OwnerEvent::APPEND : ownership::OwnerEvent::INSERT, value, start, 0, &owned)) return mark.pass(code);
    if (owned) {
        // Take both values as the handler left them.
        total = length_from_head(series);
        if (series->w1 > total) series->w1 = total;
        at_tail = append || series->w1 >= total;
        start = at_tail ? total : std::min(start, total);
        check_needed_size(series, value, part, dup);
    }

    uint32_t t = value->type();
    uint32_t n;
    if (!at_tail && t == TYPE_CHAR) {
        insert_char_at(buffer(series), start, value->w2);
        n = 1;
    } else if (!at_tail && is_any_string(t) && t != TYPE_TAG) {
        uint32_t before = length_from_head(series);
        int32_t count = part < 0 ? -1 : int32_t(std::min<uint32_t>(uint32_t(part), length(value)));
        Cell target = *series;
        target.w1 = start;
        concatenate(&target, value, count, 0, true, CONCAT_INSERT);
        n = length_from_head(series) - before;
    } else {
        n = append_value(series, value, part, only);
        if (!at_tail && n) {
            // Formed text was written at the tail: rotate it into place.
            SeriesBuffer* b = buffer(series);
            uint32_t unit = b->unit();
            uint8_t* first = b->head_ptr() + size_t(start) * unit;
            uint8_t* second = b->head_ptr() + size_t(total) * unit;
            exchange_runs(b, first, (total - start) * unit, second, n * unit, 0);
        }
    }
    if (dup > 1 && n) fill_repeat(series, start, n, uint32_t(dup - 1));
    uint64_t written = uint64_t(n) * uint32_t(dup);
    if (owned) {
        if (Unwind code = series::notify_owner(series, append ? ownership::OwnerEvent::APPENDED : ownership::OwnerEvent::INSERTED, value, start,
                                               uint32_t(written), nullptr))
            return mark.pass(code);
    }
    if (append) {
        series->w1 = 0;
    } else {
        series->w1 = uint32_t(std::min<uint64_t>(start + written, length_from_head(series)));
    }
    return UNWIND_NONE;
}

// append once, whole, when append_narrow_quick cannot take it.
[[gnu::noinline]] Unwind append_once(Cell* series, Cell* value, bool only) {
    if (append_plain(series, value)) {
        series->w1 = 0;
        return UNWIND_NONE;
    }
    return insert_general(series, value, -1, only, 1, true);
}

}  // namespace

// Kept in one piece (noipa): split into a wrapper and a part, the common
// append would pay one more jump and its argument moves.
[[gnu::noipa]] Unwind insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    if (!append || dup > 1 || part >= 0) return insert_general(series, value, part, only, dup, append);
    // The string-building case first, in a few steps.
    if (append_narrow_quick(series, value)) return UNWIND_NONE;
    return append_once(series, value, only);
}

Unwind change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    stack::TopMark mark;
    if (dup < 1) dup = 1;
    uint32_t total = length_from_head(series);
    if (series->w1 > total) series->w1 = total;
    uint32_t index = series->w1;
    if (index >= total) {
        if (Unwind code = insert(series, value, -1, only, dup, true)) return mark.pass(code);
        series->w1 = length_from_head(series);
        return UNWIND_NONE;
    }
    bool owned;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::CHANGE, value, index, 0, &owned)) return mark.pass(code);
    if (owned) {
        total = length_from_head(series);
        series::recheck_range(series, index, 1);
    }

    // The written text: a char!, a string-like value read in place, or a
    // text made on the stack (formed values, tags, and values that share
    // the series' buffer, which the move below would disturb).
    uint32_t t = value->type();
    Cell* text = nullptr;
    uint32_t cp = 0, wlen = 1, wunit;
    if (t == TYPE_CHAR) {
        cp = value->w2;
        wunit = write_unit(cp);
    } else {
        if (is_any_string(t) && t != TYPE_TAG && value->w2 != series->w2) {
            text = value;
        } else {
            text = push_new(16);
            append_value(text, value, -1, only);
        }
        wlen = length(text);
        wunit = buffer(text)->unit();
    }
    uint32_t rest = total - index;
    uint64_t written = uint64_t(wlen) * uint32_t(dup);
    uint32_t replaced =
        part >= 0 ? std::min<uint32_t>(uint32_t(part), rest) : uint32_t(std::min<uint64_t>(written, rest));
    uint64_t new_len = uint64_t(total) - replaced + written;
    uint32_t unit = std::max(buffer(series)->unit(), wunit);
    if (new_len * unit > MAX_BYTES) fire({"internal", "no-memory"});

    SeriesBuffer* b = buffer(series);
    if (written > replaced) {
        b = reserve(b, written - replaced, wunit);
    } else if (wunit > b->unit()) {
        b = widen_to(b, b->unit(), wunit);
    }
    unit = b->unit();
    uint8_t* at = b->head_ptr() + size_t(index) * unit;
    std::memmove(at + written * unit, at + size_t(replaced) * unit, size_t(rest - replaced) * unit);
    b->tail = b->head + uint32_t(new_len * unit);
    uint8_t* d = at;
    if (!text) {
        for (int32_t k = 0; k < dup; ++k, d += unit) set_char(d, unit, cp);
    } else if (wlen) {
        Units w = units_of(text);
        for (int32_t k = 0; k < dup; ++k) {
            if (w.unit == unit) {
                std::memcpy(d, w.p, size_t(wlen) * unit);
                d += size_t(wlen) * unit;
            } else {
                for (uint32_t i = 0; i < wlen; ++i, d += unit) set_char(d, unit, w.at(i));
            }
        }
    }
    if (owned) {
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::CHANGED, value, index, uint32_t(written), nullptr)) return mark.pass(code);
    }
    series->w1 = uint32_t(std::min<uint64_t>(index + written, new_len));
    return UNWIND_NONE;
}

// ---- find / select -------------------------------------------------------------------------------------

Outcome find(Cell* series, Cell* value, Cell* part, bool /*only*/, bool case_sensitive, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    Cell* result = stack::push(*series);
    Cell* keep = stack::top;
    uint32_t n = 1;
    int64_t pos =
        find_position(series, value, part, case_sensitive, same, any, with, skip, last, reverse, match, &n);
    stack::top = keep;
    if (pos < 0) {
        *result = none::cell();
    } else {
        result->w1 = uint32_t(pos + (tail ? n : 0));
    }
    return result;
}

std::vector<uint32_t> find_each(Cell* series, Cell* value, bool case_sensitive, uint32_t* length) {
    std::vector<uint32_t> at;
    Cell pos = *series;
    uint32_t n = 1;
    for (;;) {
        int64_t p =
            find_position(&pos, value, nullptr, case_sensitive, false, false, nullptr, nullptr, false, false, false, &n);
        if (p < 0) break;
        at.push_back(uint32_t(p));
        pos.w1 = uint32_t(p + n);
    }
    *length = n;
    return at;
}

Outcome select(Cell* series, Cell* value, Cell* part, bool /*only*/, bool case_sensitive, bool same, bool any,
               Cell* with, Cell* skip, bool last, bool reverse) {
    Cell* result = stack::push(none::cell());
    Cell* keep = stack::top;
    uint32_t n = 1;
    int64_t pos =
        find_position(series, value, part, case_sensitive, same, any, with, skip, last, reverse, false, &n);
    stack::top = keep;
    if (pos >= 0 && uint64_t(pos) + n < length_from_head(series))
        *result = series::unit_value(series, uint32_t(pos + n));
    return result;
}

// ---- sort ---------------------------------------------------------------------------------------------

namespace {

// The records of a sort with a comparator function, copied out of the series
// (the function may allocate, so the sort works on a copy in C memory and
// writes the result back).
struct FunctionSort {
    const Cell* function;
    uint32_t unit;
    uint32_t elem_type;  // vector! element type; 0 for text, TYPE_BINARY for bytes
    bool reverse;
    Unwind exit;              // the code of an exit that left the function: the sort stops asking
    uint32_t whole = 0;       // with /all: the record size; the function gets the records
    uint32_t series_type = 0;  // the type of those record values
};

// A new value of the series' type holding one record's units.
Cell* push_record(const uint8_t* p, const FunctionSort& fs) {
    Cell* c = stack::push(none::cell());
    if (fs.series_type == TYPE_VECTOR) {
        vector::make_at(c, fs.whole, fs.unit, fs.elem_type);
    } else if (fs.series_type == TYPE_BINARY) {
        *c = Cell{TYPE_BINARY, 0, memory::alloc_series(fs.whole, 1, 0), 0};
    } else {
        make_at_width(c, fs.whole, fs.unit);
        c->set_type(fs.series_type);
    }
    SeriesBuffer* b = buffer(c);
    std::memcpy(b->head_ptr(), p, size_t(fs.whole) * fs.unit);
    b->tail = b->head + fs.whole * fs.unit;
    return c;
}

Cell unit_cell(const uint8_t* p, const FunctionSort& fs) {
    if (fs.elem_type == TYPE_BINARY) return Cell{TYPE_INTEGER, 0, *p, 0};
    if (fs.elem_type) return vector::get_element(p, fs.unit, fs.elem_type);
    return char_::cell(get_char(p, fs.unit));
}

// Once the function has exited, every remaining comparison answers equal
// without calling it, so the sort ends at once and its order is dropped.
int32_t function_order(const void* a, const void* b, int32_t, intptr_t flags) {
    FunctionSort& fs = *reinterpret_cast<FunctionSort*>(flags);
    if (fs.exit) return 0;
    if (fs.whole) {
        stack::TopMark mark;
        Cell* x = push_record(static_cast<const uint8_t*>(a), fs);
        Cell* y = push_record(static_cast<const uint8_t*>(b), fs);
        int32_t r = 0;
        fs.exit = block::call_compare_function(fs.function, x, y, &r);
        if (fs.exit) {
            (void)mark.pass(fs.exit);  // the stacks stay as the exit left them
            return 0;
        }
        return fs.reverse ? -r : r;
    }
    Cell x = unit_cell(static_cast<const uint8_t*>(a), fs);
    Cell y = unit_cell(static_cast<const uint8_t*>(b), fs);
    int32_t r = 0;
    fs.exit = block::call_compare_function(fs.function, &x, &y, &r);
    return fs.reverse ? -r : r;
}

// Sorts `count` units from `start` in records of `size`, ordered by the
// function's answers for their first units; a stable sort. When the
// function exits, the series is left as it was and the exit's code returned.
Unwind sort_by_function(Cell* series, uint32_t start, uint32_t count, uint32_t size, const Cell* comparator,
                        bool reverse, bool all) {
    stack::TopMark mark;
    Cell* held = stack::push(*series);
    Cell* function = stack::push(*comparator);
    uint32_t unit = buffer(held)->unit();
    uint32_t t = held->type();
    FunctionSort fs{function, unit, t == TYPE_VECTOR ? held->w3 : (t == TYPE_BINARY ? uint32_t(TYPE_BINARY) : 0),
                    reverse, UNWIND_NONE, all ? size : 0, t};
    size_t bytes = size_t(count) * unit;
    std::vector<uint8_t> copy(buffer(held)->head_ptr() + size_t(start) * unit,
                              buffer(held)->head_ptr() + size_t(start) * unit + bytes);
    sort::merge_sort(copy.data(), count / size, size * unit, 0, reinterpret_cast<intptr_t>(&fs), function_order);
    if (fs.exit) return mark.pass(fs.exit);
    // The function may have changed the series: write back what still fits.
    SeriesBuffer* b = buffer(held);
    uint32_t now = b->byte_count() / unit;
    if (start >= now) return UNWIND_NONE;
    size_t room = std::min<size_t>(bytes, size_t(now - start) * unit);
    std::memcpy(b->head_ptr() + size_t(start) * unit, copy.data(), room);
    return UNWIND_NONE;
}

}  // namespace

Unwind sort(Cell* series, bool case_sensitive, Cell* skip, Cell* comparator, Cell* part, bool all,
            bool reverse, bool stable) {
    uint32_t total = length_from_head(series);
    if (series->w1 > total) series->w1 = total;
    uint32_t start = series->w1;
    uint32_t count = total - start;
    if (part) {
        int64_t c = 0;
        if (part->type() == TYPE_INTEGER)
            c = integer::get(part);
        else if (is_series(part->type()) && series_node(part) == series_node(series))
            c = int64_t(part->w1) - int64_t(start);
        else
            invalid_refine_arg(fixed::REF_PART, *part);
        if (c < 0) {
            int64_t from = std::max<int64_t>(0, int64_t(start) + c);
            count = uint32_t(start - from);
            start = uint32_t(from);
            series->w1 = start;
        } else {
            count = uint32_t(std::min<int64_t>(c, count));
        }
    }
    uint32_t size = 1;
    if (skip) {
        if (skip->type() != TYPE_INTEGER) invalid_refine_arg(fixed::REF_SKIP, *skip);
        int32_t k = int32_t(skip->w2);
        if (k < 1 || count % uint32_t(k) || count < uint32_t(k)) invalid_refine_arg(fixed::REF_SKIP, *skip);
        size = uint32_t(k);
    }
    if (all && !skip) fire({"script", "bad-refines"});
    uint32_t offset = 0;
    if (comparator) {
        uint32_t ct = comparator->type();
        if (ct == TYPE_INTEGER) {
            if (!skip || all) fire({"script", "bad-refines"});
            int32_t k = int32_t(comparator->w2);
            if (k < 1 || uint32_t(k) > size) fire({"script", "out-of-range"}, *comparator);
            offset = uint32_t(k - 1);
        } else if (ct == TYPE_FUNCTION || ct == TYPE_ROUTINE) {
            // An empty range sorts nothing; one record is reported as sorted
            // without calling the function, as a block reports it.
            if (count == 0) return UNWIND_NONE;
            bool owned = false;
            if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::SORT, nullptr, start, count, &owned)) return code;
            if (owned) series::recheck_range(series, start, count);
            if (count > size)
                if (Unwind code = sort_by_function(series, start, count, size, comparator, reverse, all)) return code;
            if (owned) return series::notify_owner(series, ownership::OwnerEvent::SORTED, nullptr, start, count, nullptr);
            return UNWIND_NONE;
        } else {
            invalid_refine_arg(fixed::REF_COMPARE, *comparator);
        }
    }
    if (count == 0) return UNWIND_NONE;

    uint32_t t = series->type();
    SeriesBuffer* b = buffer(series);
    SortSpec spec{};
    spec.unit = b->unit();
    spec.elem_type = t == TYPE_VECTOR ? series->w3 : 0;
    if (spec.elem_type == TYPE_CHAR) spec.elem_type = 0;  // char elements order as code points
    // Bytes are not characters: binary! and vector! never fold.
    spec.fold = !case_sensitive && t != TYPE_VECTOR && t != TYPE_BINARY;
    spec.reverse = reverse;
    spec.whole = all;
    spec.size = size;
    spec.offset = offset;

    sort::Compare cmp;
    if ((spec.elem_type == TYPE_FLOAT || spec.elem_type == TYPE_PERCENT) && spec.unit == 8) {
        cmp = sort_compare_f64;
    } else {
        switch (spec.unit) {
            case 1:
                cmp = sort_compare<1>;
                break;
            case 2:
                cmp = sort_compare<2>;
                break;
            case 4:
                cmp = sort_compare<4>;
                break;
            default:
                bad_unit();
        }
    }
    bool owned = false;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::SORT, nullptr, start, count, &owned)) return code;
    // The handler may have shortened the series.
    if (owned) series::recheck_range(series, start, count);
    b = buffer(series);
    uint8_t* base = b->head_ptr() + size_t(start) * spec.unit;
    uint32_t records = count / size;
    uint32_t width = size * spec.unit;
    // A stable sort was asked for: keep it stable with /case too. One
    // record is in order already, and still reported.
    if (records > 1) {
        if (stable)
            sort::merge_sort(base, records, width, 0, reinterpret_cast<intptr_t>(&spec), cmp);
        else
            sort::quick_sort(base, records, width, 0, reinterpret_cast<intptr_t>(&spec), cmp);
    }
    if (owned) return series::notify_owner(series, ownership::OwnerEvent::SORTED, nullptr, start, count, nullptr);
    return UNWIND_NONE;
}

// ---- swap / take / trim
// ------------------------------------------------------------------------------------

Unwind swap(Cell* series1, Cell* series2) {
    uint32_t t2 = series2->type();
    if (!is_any_string(t2) && t2 != TYPE_BINARY) fire({"script", "invalid-arg"}, *series2);
    if (is_tail(series1) || is_tail(series2)) return UNWIND_NONE;
    uint32_t i1 = series1->w1, i2 = series2->w1;
    series::SwapOwners owned;
    if (Unwind code = series::notify_swap(series1, i1, series2, i2, owned)) return code;
    // Read after the notices: a handler may have changed either series.
    uint32_t c1 = abs_at(series1, i1), c2 = abs_at(series2, i2);
    // A byte series holds bytes only.
    if (series1->type() == TYPE_BINARY && c2 > 0xFF) fire({"script", "out-of-range"}, char_::cell(c2));
    if (t2 == TYPE_BINARY && c1 > 0xFF) fire({"script", "out-of-range"}, char_::cell(c1));
    poke_char_at(buffer(series1), i1, c2);
    poke_char_at(buffer(series2), i2, c1);
    return series::notify_swapped(series1, i1, series2, i2, owned);
}

Outcome take(Cell* series, Cell* part, bool deep, bool last) {
    return series::take(series, part, deep, last);
}

namespace {

// Compacts the units from `from` on, keeping those `keep` accepts.
template <class Keep>
void compact(Cell* str, uint32_t from, Keep keep) {
    SeriesBuffer* b = buffer(str);
    uint32_t unit = b->unit();
    uint32_t total = b->byte_count() >> unit_shift(unit);
    uint8_t* h = b->head_ptr();
    uint32_t out = from;
    for (uint32_t i = from; i < total; ++i) {
        uint32_t c = get_char(h + size_t(i) * unit, unit);
        if (keep(c)) set_char(h + size_t(out++) * unit, unit, c);
    }
    b->tail = b->head + out * unit;
}

void trim_chars(Cell* str, Cell* with) {
    uint32_t from = str->w1;
    if (!with) {
        compact(str, from, [](uint32_t c) { return !(c == 9 || c == 10 || c == 13 || c == 32); });
        return;
    }
    uint32_t t = with->type();
    if (t == TYPE_CHAR || t == TYPE_INTEGER) {
        uint32_t cp = with->w2;
        compact(str, from, [cp](uint32_t c) { return c != cp; });
        return;
    }
    if (!is_any_string(t) && t != TYPE_BINARY) fire({"script", "invalid-arg"}, *with);
    KeySet set;
    Units u = units_of(with);
    if (u.count == 0) return;
    for (uint32_t i = 0; i < u.count; ++i) set.add(u.at(i));
    compact(str, from, [&set](uint32_t c) { return !set.has(c); });
}

// /auto: every line loses as much leading space (spaces and tabs) as the
// first line has, so the text keeps its indentation relative to that line;
// a line with less leading space loses all it has.
void trim_auto(Cell* str) {
    SeriesBuffer* b = buffer(str);
    uint32_t unit = b->unit();
    uint32_t total = b->byte_count() >> unit_shift(unit);
    uint8_t* h = b->head_ptr();
    auto at = [&](uint32_t i) { return get_char(h + size_t(i) * unit, unit); };
    uint32_t indent = 0;
    while (str->w1 + indent < total && (at(str->w1 + indent) == ' ' || at(str->w1 + indent) == '\t')) ++indent;
    uint32_t out = str->w1;
    uint32_t skip = indent;  // leading space still to drop on the current line
    for (uint32_t i = str->w1; i < total; ++i) {
        uint32_t c = at(i);
        if (skip && (c == ' ' || c == '\t')) {
            --skip;
            continue;
        }
        skip = c == '\n' ? indent : 0;
        set_char(h + size_t(out++) * unit, unit, c);
    }
    b->tail = b->head + out * unit;
}

void trim_lines(Cell* str) {
    SeriesBuffer* b = buffer(str);
    uint32_t unit = b->unit();
    uint32_t total = b->byte_count() >> unit_shift(unit);
    uint8_t* h = b->head_ptr();
    uint32_t out = str->w1;
    bool pending = false;  // a run of space since the last kept character
    for (uint32_t i = str->w1; i < total; ++i) {
        uint32_t c = get_char(h + size_t(i) * unit, unit);
        if (is_trim_space(c)) {
            pending = out > str->w1;
            continue;
        }
        if (pending) set_char(h + size_t(out++) * unit, unit, ' ');
        pending = false;
        set_char(h + size_t(out++) * unit, unit, c);
    }
    b->tail = b->head + out * unit;
}

void trim_spaces(Cell* str, bool head_flag, bool tail_flag) {
    SeriesBuffer* b = buffer(str);
    uint32_t unit = b->unit();
    uint32_t total = b->byte_count() >> unit_shift(unit);
    uint8_t* h = b->head_ptr();
    auto at = [&](uint32_t i) { return get_char(h + size_t(i) * unit, unit); };
    uint32_t index = str->w1;
    uint32_t s = index, e = total;
    bool only_head = head_flag && !tail_flag;
    bool only_tail = tail_flag && !head_flag;
    if (!only_tail)
        while (s < e && is_trim_space(at(s))) ++s;
    bool dropped_lf = false;
    if (!only_head) {
        while (e > s && is_trim_space(at(e - 1))) {
            if (at(e - 1) == '\n') dropped_lf = true;
            --e;
        }
    }
    uint32_t out = index;
    if (head_flag || tail_flag) {
        std::memmove(h + size_t(out) * unit, h + size_t(s) * unit, size_t(e - s) * unit);
        out += e - s;
    } else {
        bool line_start = false;
        for (uint32_t i = s; i < e;) {
            uint32_t c = at(i);
            if (c == '\n') {
                set_char(h + size_t(out++) * unit, unit, c);
                line_start = true;
                ++i;
            } else if (is_horizontal_space(c)) {
                uint32_t j = i;
                while (j < e && is_horizontal_space(at(j))) ++j;
                // Space at the start of a line or just before a line feed goes.
                if (!line_start && !(j < e && at(j) == '\n'))
                    for (uint32_t k = i; k < j; ++k) set_char(h + size_t(out++) * unit, unit, at(k));
                i = j;
            } else {
                set_char(h + size_t(out++) * unit, unit, c);
                line_start = false;
                ++i;
            }
        }
    }
    b->tail = b->head + out * unit;
    if (dropped_lf && !tail_flag) append_char(b, '\n');
}

}  // namespace

Unwind trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    uint32_t total = length_from_head(series);
    if (series->w1 > total) series->w1 = total;
    bool owned;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::TRIM, nullptr, series->w1, total - series->w1, &owned)) return code;
    if (all || with)
        trim_chars(series, with);
    else if (auto_)
        trim_auto(series);
    else if (lines)
        trim_lines(series);
    else
        trim_spaces(series, head, tail);
    if (owned) {
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::TRIMMED, nullptr, series->w1, 0, nullptr)) return code;
    }
    return UNWIND_NONE;
}

// ---- path access --------------------------------------------------------------------------------------

Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* /*path*/, Cell* /*grandparent*/,
                Cell* /*previous*/, int32_t /*position*/, bool case_sensitive, bool /*get_path*/,
                bool /*last_element*/, bool /*notify_owner*/) {
    uint32_t et = element->type();
    if (et == TYPE_INTEGER) {
        if (value) {
            if (Unwind code = actions::poke(parent, int32_t(element->w2), value, element).code) return code;
            return value;
        }
        return actions::pick(parent, int32_t(element->w2), element);
    }
    if (et == TYPE_WORD) fire({"script", "invalid-path"}, *element);
    if (!value)
        return select(parent, element, nullptr, false, case_sensitive, false, false, nullptr, nullptr, false,
                      false);
    Cell* found = find(parent, element, nullptr, false, case_sensitive, false, false, nullptr, nullptr, false,
                       false, false, false)
                      .cell;
    if (found->type() == TYPE_NONE) fire({"script", "bad-path-set"}, *element);
    Cell at = *found;
    if (Unwind code = actions::poke(&at, 2, value, nullptr).code) return code;
    return value;
}

// ---- registration
// ------------------------------------------------------------------------------------------

void init() {
    datatype::Registration r = datatype::blank(TYPE_STRING, TYPE_SERIES, "string!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_TO>(to);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_EVAL_PATH>(eval_path);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_APPEND>(insert);
    r.set<ACT_CHANGE>(change);
    r.set<ACT_FIND>(find);
    r.set<ACT_INSERT>(insert);
    r.set<ACT_SELECT>(select);
    r.set<ACT_SORT>(sort);
    r.set<ACT_SWAP>(swap);
    r.set<ACT_TAKE>(take);
    r.set<ACT_TRIM>(trim);
    r.inherit({ACT_RANDOM, ACT_REFLECT, ACT_AT,       ACT_BACK, ACT_CLEAR,  ACT_COPY,  ACT_HEAD,
                          ACT_HEAD_Q, ACT_INDEX_Q, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT,   ACT_PICK,  ACT_POKE,
                          ACT_REMOVE, ACT_REVERSE, ACT_SKIP,     ACT_TAIL, ACT_TAIL_Q, ACT_MODIFY});
    datatype::register_type(r);
}

}  // namespace kiv::string
