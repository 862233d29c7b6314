// file! mold and the OS path mapping.
#include "datatypes/file.h"

#include <algorithm>
#include <climits>

#include "datatypes/datatype.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "platform/os.h"
#include "runtime/error.h"
#include "runtime/lowlevel.h"
#include "runtime/stack.h"

namespace kiv::file {

namespace {

// Codes below 128 that may stand in a bare file name; any other code below
// 128 (and the Unicode blanks, which also end a token) asks for quotes.
struct SafeSet {
    bool safe[128] = {};
    constexpr SafeSet() {
        for (int c = '0'; c <= '9'; ++c) safe[c] = true;
        for (int c = 'A'; c <= 'Z'; ++c) safe[c] = true;
        for (int c = 'a'; c <= 'z'; ++c) safe[c] = true;
        // Not "(" or ")": a bare name ends there.
        for (char c : {'!', '#', '$', '&', '\'', '*', '+', ',', '-', '.', '/', ':', '=', '?', '@', '_', '~'})
            safe[uint8_t(c)] = true;
    }
};
constexpr SafeSet SAFE;

inline bool is_unicode_blank(uint32_t c) {
    return c == 133 || c == 160 || c == 5760 || c == 6158 || (c >= 8192 && c <= 8202) || c == 8232 ||
           c == 8233 || c == 8239 || c == 8287 || c == 12288 || c == 0xFEFF;
}

inline bool needs_quotes(uint32_t c) {
    if (c < 128) return !SAFE.safe[c];
    return (c >= 128 && c <= 159) || is_unicode_blank(c);
}

}  // namespace

// "%" and the name from the index: bare when every character may stand in a
// bare name, else between double quotes with the string escapes (^^ ^/ and
// the other caret forms; a double quote as ^(22), which a quoted file name
// reads), so that the molded text loads back as the same name.
int32_t mold(Cell* value, Cell* out, bool /*only*/, bool /*all*/, bool /*flat*/, Cell* part, int32_t budget,
             int32_t /*indent*/) {
    uint32_t len = string::length(value);
    uint32_t end = len;
    if (part) end = uint32_t(std::clamp<int64_t>(budget - 1, 0, len));
    string::append_char(string::buffer(out), '%');
    if (len == 0) {
        string::concatenate_literal(out, "\"\"");
        return int32_t(std::max<int64_t>(int64_t(budget) - 3, INT32_MIN));
    }
    Cell v = *value;
    bool quoted = false;
    for (uint32_t i = 0; i < end && !quoted; ++i) quoted = needs_quotes(string::abs_at(&v, v.w1 + i));
    if (!quoted) {
        string::concatenate(out, &v, int32_t(end), 0, true, string::CONCAT_APPEND);
    } else {
        string::append_char(string::buffer(out), '"');
        for (uint32_t i = 0; i < end; ++i) {
            uint32_t c = string::abs_at(&v, v.w1 + i);
            if (c == '"')
                string::concatenate_literal(out, "^(22)");
            else
                string::escape_char(out, c, string::ESCAPE_MARKER, false);
        }
        string::append_char(string::buffer(out), '"');
    }
    return int32_t(std::max<int64_t>(int64_t(budget) - end - 1, INT32_MIN));
}

void append_os_path(Cell* file, Cell* target, bool full) {
    Cell f = *file;
    bool absolute = string::length(&f) > 0 && string::abs_at(&f, f.w1) == '/';
    if (full && !absolute) {
        uint32_t n = 0;
        char* dir = platform::get_current_dir(n);
        if (dir) {
            // The folder's name is bytes: decoded without loss.
            const std::string bytes(dir, n);
            lowlevel::free(dir);
            Cell* text = string::load_push(reinterpret_cast<const uint8_t*>(bytes.data()), n, string::ENC_SYSTEM);
            string::concatenate(target, text, -1, 0, true, string::CONCAT_APPEND);
            stack::top = text;
            uint32_t total = string::length_from_head(target);
            if (total == 0 || string::abs_at(target, total - 1) != '/')
                string::append_char(string::buffer(target), '/');
        }
    }
    string::concatenate(target, &f, -1, 0, true, string::CONCAT_APPEND);
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_FILE, TYPE_URL, "file!");
    r.set<ACT_MOLD>(mold);
    register_io(r);
    for (uint32_t slot :
         {ACT_MAKE,     ACT_TO,    ACT_FORM, ACT_EVAL_PATH, ACT_COMPARE, ACT_APPEND, ACT_AT,      ACT_BACK,
          ACT_CHANGE,   ACT_CLEAR, ACT_COPY, ACT_FIND,      ACT_HEAD,    ACT_HEAD_Q, ACT_INDEX_Q, ACT_INSERT,
          ACT_LENGTH_Q, ACT_MOVE,  ACT_NEXT, ACT_PICK,      ACT_POKE,    ACT_REMOVE, ACT_REVERSE, ACT_SELECT,
          ACT_SKIP,     ACT_SWAP,  ACT_TAIL, ACT_TAIL_Q,    ACT_TAKE,    ACT_MODIFY})
        r.inherit(slot);
    datatype::register_type(r);
}

}  // namespace kiv::file
