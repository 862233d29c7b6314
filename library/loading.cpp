// The routine of do-file's header search (see loading.h).
#include "library/loading.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/none.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "library/library.h"
#include "runtime/error.h"
#include "runtime/series.h"

namespace kiv::library::loading {

using routine::arg;
using routine::result;

namespace {

// The script text from its header on (the same binary at the header's
// position), or none when it has no header.
template <class A>
Unwind find_header(A a) {
    Cell text = arg<"text">(a);
    const SeriesBuffer* b = buffer_of(text.w2);
    uint32_t len = b->byte_count(), at = text.w1 < len ? text.w1 : len;
    int64_t found = library::find_header(b->head_ptr() + at, len - at);
    if (found < 0) {
        result(a) = none::cell();
    } else {
        text.w1 = at + uint32_t(found);
        result(a) = text;
    }
    return UNWIND_NONE;
}

const routine::Row ROWS[] = {
    KIV_ROUTINE("find-header", "[text [binary!]]", find_header),
};

}  // namespace

// A new string on the data stack holding the characters of UTF-8 text, in
// the narrowest unit that holds them all. (Unlike the loaders of files, a
// leading U+FEFF is a character here, not a byte-order mark.)
uint32_t utf8_at(const uint8_t* text, size_t size, size_t i, uint32_t* len) {
    if (text[i] < 0x80) {
        *len = 1;
        return text[i];
    }
    uint32_t used = 0;
    const int32_t cp = unicode::check_utf8_char(text + i, uint32_t(size - i), &used);
    if (cp < 0 || used == 0) {
        *len = 1;  // a byte that starts no character stands for itself
        return text[i];
    }
    *len = used;
    return uint32_t(cp);
}

Cell* push_text(const uint8_t* text, size_t size) {
    size_t ascii = 0;
    while (ascii < size && text[ascii] < 0x80) ++ascii;
    if (ascii == size) {
        Cell* c = stack::push(none::cell());
        string::make_at_width(c, uint32_t(size), 1);
        SeriesBuffer* b = buffer_of(c->w2);
        if (size) std::memcpy(b->head_ptr(), text, size);
        b->tail = b->head + Off(size);
        return c;
    }
    std::u32string cps;
    cps.reserve(size);
    uint32_t unit = 1;
    for (size_t i = 0; i < size;) {
        uint32_t len;
        const uint32_t cp = utf8_at(text, size, i, &len);
        i += len;
        cps.push_back(cp);
        unit = std::max(unit, string::write_unit(cp));
    }
    Cell* c = stack::push(none::cell());
    string::make_at_width(c, uint32_t(cps.size()), unit);
    SeriesBuffer* b = buffer_of(c->w2);
    uint8_t* p = b->head_ptr();
    for (size_t i = 0; i < cps.size(); ++i) string::set_char(p + i * unit, unit, cps[i]);
    b->tail = b->head + Off(cps.size() * unit);
    return c;
}

const routine::Table TABLE = routine::table("loading", ROWS, false);

}  // namespace kiv::library::loading
