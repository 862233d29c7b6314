// url! actions: the percent-encoded mold, assembly from a block, path
// joining, and the percent codec workers of `enhex` and `dehex`.
#include "datatypes/url.h"

#include <algorithm>
#include <climits>
#include <string>

#include "datatypes/action_dispatch.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::url {

namespace {

inline uint32_t last_char(Cell* str) {
    uint32_t n = string::length_from_head(str);
    return n ? string::abs_at(str, n - 1) : 0;
}

// Forms one path or assembly element at the string's tail (a get-word! is
// replaced by its value first).
void append_formed(Cell* out, Cell* element) {
    stack::TopMark mark;
    Cell* v = stack::push(*element);
    if (v->type() == TYPE_GET_WORD) *v = *context::get_word(v);
    actions::form(v, out, nullptr, INT32_MAX);
}

// A URL from [scheme host port? elements...]: scheme "://" host, ":" port
// when the third element is an integer!, then the other elements after a
// "/", separated by "/" (or "#" before an issue!).
void assemble(Cell* proto, Cell* spec, uint32_t type) {
    stack::TopMark mark;
    Cell* blk = stack::push(*spec);
    uint32_t total = series::buffer_length(blk);
    uint32_t i = std::min(blk->w1, total);
    if (i >= total) fire({"script", "bad-to-arg"}, datatype::cell(type), *spec);
    Cell* out = string::push_new(16);
    Cell* item = stack::push_slot();
    *item = Cell{TYPE_NONE, 0, 0, 0};
    auto element = [&](uint32_t k) {
        *item = reinterpret_cast<const Cell*>(series::buffer(blk)->head_ptr())[k];
        return item;
    };
    append_formed(out, element(i++));
    string::concatenate_literal(out, "://");
    if (i < series::buffer_length(blk)) append_formed(out, element(i++));
    if (i < series::buffer_length(blk) && element(i)->type() == TYPE_INTEGER) {
        string::concatenate_literal(out, ":");
        append_formed(out, element(i++));
    }
    bool first = true;
    for (; i < series::buffer_length(blk); ++i) {
        Cell* e = element(i);
        string::concatenate_literal(out, !first && e->type() == TYPE_ISSUE ? "#" : "/");
        append_formed(out, e);
        first = false;
    }
    out->set_type(type);
    *proto = *out;
}

}  // namespace

Cell* push_decoded(Cell* source) {
    std::string text = unicode::to_utf8_string(source);
    auto* start = reinterpret_cast<const uint8_t*>(text.data());
    const uint8_t* end = start + text.size();
    percent_coding::Measure m = percent_coding::measure(start, end);
    if (!m.ok) {
        // Report the bytes that do not decode: those the escapes stand for.
        uint8_t bytes[4];
        uint32_t n = percent_coding::escaped_bytes(start + m.error_at, end, bytes);
        if (n) unicode::fire_invalid_utf8(bytes, bytes + n);
        unicode::fire_invalid_utf8(start + m.error_at, end);
    }
    uint32_t unit = m.widest < 0x100 ? 1 : m.widest < 0x10000 ? 2 : 4;
    Cell* out = stack::push_slot();
    *out = Cell{TYPE_NONE, 0, 0, 0};
    string::make_at_width(out, m.chars, unit);
    SeriesBuffer* b = string::buffer(out);
    uint8_t* d = b->head_ptr();
    for (const uint8_t* p = start; p < end; d += unit) {
        uint32_t cp;
        p = percent_coding::decode_char(p, end, &cp);
        string::set_char(d, unit, cp);
    }
    b->tail = b->head + m.chars * unit;
    return out;
}

Cell* push_encoded(Cell* source, percent_coding::Table table) {
    std::string text = unicode::to_utf8_string(source);
    std::string encoded;
    encoded.reserve(text.size() * 3);
    for (char c : text) {
        uint8_t buf[3];
        int n = percent_coding::encode_byte(table, uint8_t(c), buf);
        encoded.append(reinterpret_cast<const char*>(buf), size_t(n));
    }
    Cell* out = string::push_new(uint32_t(encoded.size()));
    string::append_latin1(out, encoded.data(), uint32_t(encoded.size()));
    return out;
}

// ---- Actions -----------------------------------------------------------------------------------

Outcome make(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t st = spec->type();
    if (type == TYPE_URL && (st == TYPE_BLOCK || st == TYPE_PAREN || st == TYPE_HASH)) {
        assemble(proto, spec, type);
        return proto;
    }
    return string::make(proto, spec, type);
}

Outcome to(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t st = spec->type();
    if (type == TYPE_URL && (st == TYPE_BLOCK || st == TYPE_PAREN || st == TYPE_HASH)) {
        assemble(proto, spec, type);
        return proto;
    }
    return string::to(proto, spec, type);
}

// The UTF-8 bytes from the index, percent-encoded by the general table, and
// "(" and ")" too (a url token ends there), so that the text loads back.
int32_t mold(Cell* value, Cell* out, bool /*only*/, bool /*all*/, bool /*flat*/, Cell* part, int32_t budget,
             int32_t /*indent*/) {
    std::string text = unicode::to_utf8_string(value);
    std::string encoded;
    encoded.reserve(text.size());
    int64_t written = 0;
    for (char c : text) {
        if (part && written >= budget) break;
        uint8_t buf[3];
        int n = percent_coding::encode_byte(percent_coding::GENERAL, uint8_t(c), buf);
        if (c == '(' || c == ')') n = percent_coding::encode_byte(percent_coding::STRICT, uint8_t(c), buf);
        for (int k = 0; k < n; ++k) {
            if (part && written >= budget) break;
            encoded.push_back(char(buf[k]));
            ++written;
        }
    }
    string::append_latin1(out, encoded.data(), uint32_t(encoded.size()));
    return int32_t(std::max<int64_t>(int64_t(budget) - written, INT32_MIN));
}

Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* /*path*/, Cell* /*grandparent*/,
                Cell* /*previous*/, int32_t /*position*/, bool /*case_sensitive*/, bool /*get_path*/,
                bool /*last_element*/, bool /*notify_owner*/) {
    if (value) fire({"script", "bad-path-set"}, *parent, *value);
    Cell* tail_part = string::push_new(string::length(parent) + 16);
    append_formed(tail_part, element);
    bool url_slash = last_char(parent) == '/';
    bool elem_slash = string::length(tail_part) > 0 && string::abs_at(tail_part, 0) == '/';
    Cell source = *parent;
    int32_t count = -1;
    if (url_slash && elem_slash) {
        count = int32_t(string::length(&source)) - 1;
    } else if (!url_slash && !elem_slash) {
        Cell slash = *tail_part;
        string::insert_char_at(string::buffer(&slash), 0, '/');
    }
    Cell at = *tail_part;
    at.w1 = 0;
    string::concatenate(&at, &source, count, 0, true, string::CONCAT_INSERT);
    tail_part->set_type(parent->type());
    return tail_part;
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_URL, TYPE_STRING, "url!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_TO>(to);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_EVAL_PATH>(eval_path);
    register_io(r);
    for (uint32_t slot :
         {ACT_FORM, ACT_COMPARE, ACT_APPEND, ACT_AT,     ACT_BACK,    ACT_CHANGE,  ACT_CLEAR,
          ACT_COPY, ACT_FIND,    ACT_HEAD,   ACT_HEAD_Q, ACT_INDEX_Q, ACT_INSERT,  ACT_LENGTH_Q,
          ACT_MOVE, ACT_NEXT,    ACT_PICK,   ACT_POKE,   ACT_REMOVE,  ACT_REVERSE, ACT_SELECT,
          ACT_SKIP, ACT_SWAP,    ACT_TAIL,   ACT_TAIL_Q, ACT_TAKE,    ACT_MODIFY})
        r.inherit(slot);
    datatype::register_type(r);
}

}  // namespace kiv::url
