// A small reader of Kiv text for unit tests that need words: enough of the
// syntax to write function specifications and bodies.
//
//   Cell spec = read("[a [integer!] /ref b /local c]");
//
// Reads blocks [...], parens (...), strings "..." (no escapes), integers,
// words (name), set-words (name:), lit-words ('name), get-words (:name) and
// refinements (/name). Words are bound in the global context as loaded
// code's words are; refinements are unbound. A line break before a value
// gives it the new-line marker.
#pragma once

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "test_support.h"

namespace kiv::test {

namespace word_reader_detail {

struct Reader {
    const char* p;

    bool space() {
        bool line = false;
        for (; *p && std::isspace(static_cast<unsigned char>(*p)); ++p)
            if (*p == '\n') line = true;
        return line;
    }

    void one(Cell* out) {
        if (read_block(*this, out)) return;
        if (*p == '"') {
            const char* start = ++p;
            while (*p && *p != '"') ++p;
            std::string text(start, p);
            if (*p) ++p;
            string::make_at(out, uint32_t(text.size()));
            string::append_latin1(out, text.data(), uint32_t(text.size()));
            return;
        }
        const char* start = p;
        while (*p && !std::isspace(static_cast<unsigned char>(*p)) && !std::strchr("[]()\"", *p)) ++p;
        std::string tok(start, p);
        bool digits = !tok.empty();
        for (size_t i = 0; i < tok.size(); ++i)
            if (!(std::isdigit(static_cast<unsigned char>(tok[i])) ||
                  (i == 0 && tok[i] == '-' && tok.size() > 1)))
                digits = false;
        if (digits) {
            *out = int_cell(int32_t(std::strtol(tok.c_str(), nullptr, 10)));
        } else if (tok.size() > 1 && tok[0] == '/') {
            *out = word::unbound(symbol::make(tok.substr(1).c_str()), TYPE_REFINEMENT);
        } else if (tok.size() > 1 && tok[0] == '\'') {
            *out = word::load(tok.substr(1).c_str());
            out->set_type(TYPE_LIT_WORD);
        } else if (tok.size() > 1 && tok[0] == ':') {
            *out = word::load(tok.substr(1).c_str());
            out->set_type(TYPE_GET_WORD);
        } else if (tok.size() > 1 && tok.back() == ':') {
            *out = word::load(tok.substr(0, tok.size() - 1).c_str());
            out->set_type(TYPE_SET_WORD);
        } else {
            *out = word::load(tok.c_str());
        }
    }
};

}  // namespace word_reader_detail

// One value from its text.
inline Cell read(const char* text) {
    word_reader_detail::Reader r{text};
    r.space();
    Cell* slot = stack::push(none::cell());
    r.one(slot);
    Cell v = *slot;
    stack::pop(1);
    return hold(v);
}

// Gives every registered datatype name its datatype! as global value.
inline void define_type_words() {
    for (uint32_t t = 1; t <= datatype::highest_type_id; ++t)
        if (datatype::names[t].name) set_global(datatype::names[t].name, datatype::cell(t));
}

}  // namespace kiv::test
