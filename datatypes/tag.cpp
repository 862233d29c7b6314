// The molds of tag!, email! and ref!, and email! path access.
#include "datatypes/tag.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "datatypes/fixed_words.h"
#include "datatypes/datatype.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/stack.h"
#include "runtime/error.h"
#include "runtime/percent_coding.h"

namespace kiv::tag {

namespace {

int32_t after(int32_t budget, int64_t used) {
    return int32_t(std::max<int64_t>(int64_t(budget) - used, INT32_MIN));
}

// tag! form and mold: "<", the text, ">".
int32_t tag_form(Cell* value, Cell* out, Cell* part, int32_t budget) {
    uint32_t len = string::length(value);
    string::append_char(string::buffer(out), '<');
    int32_t n = -1;
    if (part && int64_t(budget) - 1 < int64_t(len)) n = std::max(budget - 1, 0);
    string::concatenate(out, value, n, 0, true, string::CONCAT_APPEND);
    string::append_char(string::buffer(out), '>');
    return after(budget, int64_t(len) + 2);
}

int32_t tag_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return tag_form(value, out, part, budget);
}

// email! mold: the text, with the codes below 128 that would end or change
// the token (blanks, delimiters, "%", a second "@" ...) written as
// percent-escapes, which the lexer decodes in an email.
int32_t email_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    uint32_t len = string::length(value);
    uint32_t end = part ? uint32_t(std::clamp<int64_t>(budget, 0, len)) : len;
    Cell v = *value;
    bool seen_at = false;
    for (uint32_t i = 0; i < end; ++i) {
        uint32_t c = string::abs_at(&v, v.w1 + i);
        bool plain = c >= 128 || percent_coding::keeps(percent_coding::STRICT, uint8_t(c)) ||
                     (c && std::strchr("!&'*+=?", int(c)) != nullptr) || (c == '@' && !seen_at);
        if (c == '@') seen_at = true;
        if (plain) {
            string::append_char(string::buffer(out), c);
        } else {
            uint8_t buf[3];
            percent_coding::encode_byte(percent_coding::STRICT, uint8_t(c), buf);
            string::append_latin1(out, reinterpret_cast<const char*>(buf), 3);
        }
    }
    return after(budget, end);
}

// ref! mold: "@" and the text.
int32_t ref_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    uint32_t len = string::length(value);
    string::append_char(string::buffer(out), '@');
    int32_t n = -1;
    if (part && int64_t(budget) - 1 < int64_t(len)) n = std::max(budget - 1, 0);
    string::concatenate(out, value, n, 0, true, string::CONCAT_APPEND);
    return after(budget, int64_t(len) + 1);
}

inline bool is_word(const Cell* e, fixed::Symbol id, const char* name) {
    uint32_t s = fixed::sym[id] ? fixed::sym[id] : symbol::make(name);
    return e->type() == TYPE_WORD && symbol::resolve(e->w2) == symbol::resolve(s);
}

// email/user and email/host: the text before and after the first "@" (the
// whole text and an empty host when there is none). Setting one changes
// that part of the email in place.
Outcome email_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grandparent, Cell* previous,
                      int32_t position, bool case_sensitive, bool get_path, bool last_element,
                      bool notify_owner) {
    if (element->type() == TYPE_INTEGER)
        return string::eval_path(parent, element, value, path, grandparent, previous, position,
                                 case_sensitive, get_path, last_element, notify_owner);
    bool user = is_word(element, fixed::SYM_USER, "user");
    if (!user && !is_word(element, fixed::SYM_HOST, "host"))
        fire({"script", "invalid-path"}, path ? *path : *parent, *element);
    uint32_t len = string::length(parent);
    int32_t at = string::find_char(parent, '@');
    uint32_t split = at < 0 ? len : uint32_t(at);
    if (!value) {
        Cell* out = string::push_new(16);
        Cell src = *parent;
        if (user) {
            string::concatenate(out, &src, int32_t(split), 0, true, string::CONCAT_APPEND);
        } else if (at >= 0) {
            src.w1 += split + 1;
            string::concatenate(out, &src, -1, 0, true, string::CONCAT_APPEND);
        }
        return out;
    }
    Cell target = *parent;
    if (user) {
        if (Unwind code = string::change(&target, value, int32_t(split), false, 1)) return code;
    } else if (at >= 0) {
        target.w1 += split + 1;
        if (Unwind code = string::change(&target, value, int32_t(len - split - 1), false, 1)) return code;
    } else {
        // No "@" yet: the host comes after one.
        Cell* sep = string::push_new(1);
        string::append_char(string::buffer(sep), '@');
        if (Unwind code = string::insert(&target, sep, -1, false, 1, true)) return code;
        target = *parent;
        if (Unwind code = string::insert(&target, value, -1, false, 1, true)) return code;
    }
    return value;
}

// The series actions of string! a text type shares.
constexpr ActionSlot SERIES_SLOTS[] = {
    ACT_MAKE,     ACT_REFLECT, ACT_TO,   ACT_COMPARE, ACT_AT,     ACT_BACK,    ACT_CHANGE,
    ACT_CLEAR,    ACT_COPY,    ACT_FIND, ACT_HEAD,    ACT_HEAD_Q, ACT_INDEX_Q, ACT_INSERT,
    ACT_LENGTH_Q, ACT_MOVE,    ACT_NEXT, ACT_PICK,    ACT_POKE,   ACT_REMOVE,  ACT_REVERSE,
    ACT_SELECT,   ACT_SKIP,    ACT_SWAP, ACT_TAIL,    ACT_TAIL_Q, ACT_TAKE,    ACT_MODIFY};

datatype::Registration text_type(uint32_t id, const char* name) {
    datatype::Registration r = datatype::blank(id, TYPE_STRING, name);
    for (ActionSlot slot : SERIES_SLOTS) r.inherit(slot);
    return r;
}

}  // namespace

void init_tag() {
    datatype::Registration r = text_type(TYPE_TAG, "tag!");
    r.set<ACT_FORM>(tag_form);
    r.set<ACT_MOLD>(tag_mold);
    r.inherit(ACT_EVAL_PATH);
    r.inherit(ACT_APPEND);
    r.inherit(ACT_PUT);
    datatype::register_type(r);
}

void init_email() {
    datatype::Registration r = text_type(TYPE_EMAIL, "email!");
    r.inherit(ACT_FORM);
    r.set<ACT_MOLD>(email_mold);
    r.set<ACT_EVAL_PATH>(email_eval_path);
    r.inherit(ACT_APPEND);
    r.inherit(ACT_PUT);
    datatype::register_type(r);
}

void init_ref() {
    // No path access, append or put on a ref!.
    datatype::Registration r = text_type(TYPE_REF, "ref!");
    r.inherit(ACT_FORM);
    r.set<ACT_MOLD>(ref_mold);
    datatype::register_type(r);
}

}  // namespace kiv::tag
