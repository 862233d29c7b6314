// The CSV reader behind load-csv (library/csv.kiv): the library's CSV
// grammar, run over a UTF-8 copy of the text.
//
//   line   = values (newline | end), stored      newline = CR LF | LF | CR
//   values = any [single delimiter] single         single = quoted | normal
//   quoted = quote any [non-quote | quote quote] quote
//   normal = the longest run without CR, LF and the delimiter's characters
//
// Every line must have as many fields as the first. A quoted field followed
// by anything but a delimiter, a line break or the end is malformed quoting:
// the reader reports the line where it stands instead of stopping quietly.
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "library/csv.h"
#include "library/library.h"
#include "library/loading.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::library::csv {

namespace {

using routine::arg;
using routine::result;

bool trim_space(uint32_t c) {
    return (c >= 1 && c <= 32) || c == 133 || c == 160 || c == 5760 || c == 6158 || (c >= 8192 && c <= 8202) ||
           c == 8232 || c == 8233 || c == 8239 || c == 8287 || c == 12288;
}


class Reader {
public:
    Reader(const std::string& text, const std::string& delimiter, uint32_t quote, bool trim)
        : s_(reinterpret_cast<const uint8_t*>(text.data())), n_(text.size()), delim_(delimiter), quote_(quote),
          trim_(trim) {
        uint32_t len;
        for (size_t i = 0; i < delim_.size(); i += len)
            delim_chars_.push_back(loading::utf8_at(reinterpret_cast<const uint8_t*>(delim_.data()), delim_.size(), i, &len));
        uint8_t bytes[4];
        const int count = unicode::encode_utf8_char(quote, bytes);
        std::string q(reinterpret_cast<const char*>(bytes), size_t(count));
        quote_text_ = q;
    }

    size_t failed_at = 0;

    // The header line (its values into `header`), then every line into `out`:
    // each line as a block, or, `flat`, its values one by one.
    Outcome run(Cell* out, Cell* header, bool with_header, bool flat) {
        Cell* line = block::push_only(20);
        if (with_header) {
            if (!values(line)) return MALFORMED;
            if (!newline()) return pos_ < n_ ? MALFORMED : TOO_SMALL;
            if (pos_ >= n_) return TOO_SMALL;
            block::cells_append_all(header, line);
            block::cells_clear(line);
        }
        while (pos_ < n_) {
            if (!values(line)) return MALFORMED;
            if (pos_ < n_ && !newline()) return MALFORMED;
            const uint32_t count = block::cells_length(line);
            if (lines_ == 0) longest_ = count;
            ++lines_;
            if (count != longest_) return NOT_ALIGNED;
            if (flat) {
                block::cells_append_all(out, line);
            } else {
                Cell* copy = block::push_only(int32_t(count));
                block::cells_append_all(copy, line);
                block::cells_append(out, copy);
                stack::pop(1);
            }
            block::cells_clear(line);
        }
        return DONE;
    }

private:
    const uint8_t* s_;
    size_t n_;
    std::string delim_;
    std::vector<uint32_t> delim_chars_;
    uint32_t quote_;
    std::string quote_text_;
    bool trim_;
    size_t pos_ = 0;
    uint32_t lines_ = 0, longest_ = 0;
    std::string value_;

    bool at(const std::string& t) const {
        return n_ - pos_ >= t.size() && std::memcmp(s_ + pos_, t.data(), t.size()) == 0;
    }

    bool newline() {
        if (pos_ < n_ && s_[pos_] == '\r') {
            ++pos_;
            if (pos_ < n_ && s_[pos_] == '\n') ++pos_;
            return true;
        }
        if (pos_ < n_ && s_[pos_] == '\n') {
            ++pos_;
            return true;
        }
        return false;
    }

    bool quoted() {
        if (!at(quote_text_)) return false;
        size_t p = pos_ + quote_text_.size();
        value_.clear();
        const size_t q = quote_text_.size();
        for (;;) {
            if (p >= n_) return false;
            if (n_ - p >= q && std::memcmp(s_ + p, quote_text_.data(), q) == 0) {
                if (n_ - p >= 2 * q && std::memcmp(s_ + p + q, quote_text_.data(), q) == 0) {
                    value_ += quote_text_;
                    p += 2 * q;
                    continue;
                }
                pos_ = p + q;
                return true;
            }
            value_ += char(s_[p++]);
        }
    }

    void normal() {
        size_t p = pos_;
        while (p < n_) {
            uint8_t c = s_[p];
            if (c == '\n' || c == '\r') break;
            uint32_t len = 1, cp = c;
            if (c >= 0x80) cp = loading::utf8_at(s_, n_, p, &len);
            bool is_delim = false;
            for (uint32_t d : delim_chars_) is_delim |= d == cp;
            if (is_delim) break;
            p += len;
        }
        value_.assign(reinterpret_cast<const char*>(s_ + pos_), p - pos_);
        pos_ = p;
    }

    void add_value(Cell* line) {
        size_t from = 0, to = value_.size();
        if (trim_) {
            uint32_t len;
            while (from < to && trim_space(loading::utf8_at(reinterpret_cast<const uint8_t*>(value_.data()), to, from, &len)))
                from += len;
            while (to > from) {
                size_t b = to - 1;
                while (b > from && (uint8_t(value_[b]) & 0xC0) == 0x80) --b;
                if (!trim_space(loading::utf8_at(reinterpret_cast<const uint8_t*>(value_.data()), to, b, &len))) break;
                to = b;
            }
            const size_t q = quote_text_.size();
            if (to - from >= 2 * q && value_.compare(from, q, quote_text_) == 0 &&
                value_.compare(to - q, q, quote_text_) == 0) {
                from += q;
                to -= q;
            }
        }
        Cell* v = loading::push_text(reinterpret_cast<const uint8_t*>(value_.data()) + from, to - from);
        block::cells_append(line, v);
        stack::pop(1);
    }

    bool values(Cell* line) {
        for (;;) {
            if (!quoted()) normal();
            add_value(line);
            if (!delim_.empty() && at(delim_)) {
                pos_ += delim_.size();
                continue;
            }
            // After the last value: a line break or the end must follow.
            if (pos_ < n_ && s_[pos_] != '\n' && s_[pos_] != '\r') {
                failed_at = pos_;
                return false;
            }
            return true;
        }
    }
};

// The line (1-based) of byte offset `at`: CR LF, LF and a lone CR each end one.
int32_t line_of(const std::string& t, size_t at) {
    int32_t line = 1;
    for (size_t i = 0; i < at && i < t.size(); ++i) {
        if (t[i] == '\n') ++line;
        else if (t[i] == '\r' && !(i + 1 < t.size() && t[i + 1] == '\n')) ++line;
    }
    return line;
}

}  // namespace

ReadResult read_text(const std::string& text, const std::string& delimiter, uint32_t quote, bool trim,
                     bool with_header, bool flat, Cell* out, Cell* header) {
    Reader r(text, delimiter, quote, trim);
    Cell* saved = stack::top;
    ReadResult result;
    result.outcome = r.run(out, header, with_header, flat);
    if (result.outcome == MALFORMED) result.line = line_of(text, r.failed_at);
    stack::top = saved;
    return result;
}

namespace {

// read data delimiter quote trim header flat out header-out: fills out (and
// header-out) and returns true; else the word not-aligned or too-small, or
// the line number of malformed quoting.
template <class A>
Unwind read(A a) {
    const std::string text = library::to_utf8(arg<"data">(a));
    const std::string delimiter = library::to_utf8(arg<"delimiter">(a));
    const uint32_t quote = arg<"quote">(a).w2;
    Cell* saved = stack::top;
    Cell* out = stack::push(arg<"out">(a));
    Cell* header = stack::push(arg<"header-out">(a));
    ReadResult r = read_text(text, delimiter, quote, arg<"trim">(a).w1 != 0, arg<"header">(a).w1 != 0,
                             arg<"flat">(a).w1 != 0, out, header);
    const Outcome o = r.outcome;
    switch (o) {
        case DONE:
            result(a) = Cell{TYPE_LOGIC, 1, 0, 0};
            break;
        case NOT_ALIGNED:
            result(a) = word::make_global(symbol::make("not-aligned"));
            break;
        case TOO_SMALL:
            result(a) = word::make_global(symbol::make("too-small"));
            break;
        case MALFORMED:
            result(a) = integer::cell(r.line);
            break;
    }
    stack::top = saved;
    return UNWIND_NONE;
}

const routine::Row ROWS[] = {
    KIV_ROUTINE("read",
                "[data [string!] delimiter [string!] quote [char!] trim [logic!] header [logic!] flat [logic!] "
                "out [block!] header-out [block!]]",
                read),
};

}  // namespace

const routine::Table TABLE = routine::table("csv", ROWS, false);

}  // namespace kiv::library::csv
