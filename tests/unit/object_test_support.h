// Test helpers for objects and errors: values written as short texts, a
// stand-in for the interpreter's block evaluation and for hook calls.
//
//   Cell spec = read("[a: 1 b: \"x\" c: 'w]");
//   Cell obj = make_object(spec);          // make object! spec (stand-in evaluation)
//   EXPECT_EQ(mold_text(obj, false, false, true), "make object! [a: 1 b: \"x\" c: 'w]");
//
// Texts: integers, floats (with a dot), "strings", [blocks], (parens),
// words, set-words (a:), lit-words ('a), get-words (:a), refinements (/a),
// and $N for the N-th cell of the `extra` list given to read(). A line break
// before a value gives it the new-line marker.
//
// The stand-in evaluator handles bodies of set-words followed by a value: a
// literal, a lit-word (gives the word), a word (its value; none, true and
// false give those values), a $N cell. Each run of set-words gets the value
// through context::set_word, so object hooks are notified as the interpreter
// would.
#pragma once

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/entry.h"
#include "test_support.h"

namespace kiv::test {

namespace obj_detail {

struct Reader {
    const char* p;
    const std::vector<Cell>* extra;

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
            string::load(reinterpret_cast<const uint8_t*>(start), uint32_t(p - start), out, string::ENC_UTF8);
            if (*p) ++p;
            return;
        }
        const char* start = p;
        while (*p && !std::isspace(static_cast<unsigned char>(*p)) && !std::strchr("[]()\"", *p)) ++p;
        std::string tok(start, p);
        if (tok.empty()) {
            ADD_FAILURE() << "empty token";
            *out = none::cell();
            return;
        }
        char c = tok[0];
        if (c == '$') {
            size_t n = std::strtoul(tok.c_str() + 1, nullptr, 10);
            if (!extra || n >= extra->size()) {
                ADD_FAILURE() << "no extra cell " << tok;
                *out = none::cell();
            } else {
                *out = (*extra)[n];
            }
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '-' && tok.size() > 1 && std::isdigit(static_cast<unsigned char>(tok[1])))) {
            if (tok.find('.') != std::string::npos) {
                *out = float_cell(std::strtod(tok.c_str(), nullptr));
            } else {
                *out = int_cell(int32_t(std::strtol(tok.c_str(), nullptr, 10)));
            }
        } else if (c == '\'') {
            *out = word::load_as(tok.c_str() + 1, TYPE_LIT_WORD);
        } else if (c == ':' && tok.size() > 1) {
            *out = word::load_as(tok.c_str() + 1, TYPE_GET_WORD);
        } else if (c == '/' && tok.size() > 1) {
            *out = word::unbound(symbol::make(tok.c_str() + 1), TYPE_REFINEMENT);
        } else if (tok.size() > 1 && tok.back() == ':') {
            tok.pop_back();
            *out = word::load_as(tok.c_str(), TYPE_SET_WORD);
        } else {
            *out = word::load(tok.c_str());
        }
    }
};

inline bool named(const Cell& w, const char* name) {
    return is_all_word(w.type()) && symbol::name_view(w.w2) == name;
}

// The value a body value stands for in the stand-in evaluator.
inline Cell body_value(const Cell& c) {
    Cell v = c;
    v.clear_new_line();
    switch (v.type()) {
        case TYPE_WORD:
            if (named(v, "none")) return none::cell();
            if (named(v, "true")) return logic::cell(true);
            if (named(v, "false")) return logic::cell(false);
            return *context::get_word(&v);
        case TYPE_LIT_WORD:
            v.set_type(TYPE_WORD);
            return v;
        default:
            return v;
    }
}

inline void evaluate_stub(const Cell* block) {
    Cell b = *block;
    uint32_t n = series::buffer_length(&b);
    Cell last = unset::cell();
    uint32_t run = b.w1;
    for (uint32_t i = b.w1; i < n; ++i) {
        Cell c = buffer_of(b.w2)->head_cell()[i];
        if (c.type() == TYPE_SET_WORD) continue;
        last = body_value(c);
        for (uint32_t k = run; k < i; ++k) {
            Cell w = buffer_of(b.w2)->head_cell()[k];
            if (w.type() == TYPE_SET_WORD) context::set_word(&w, &last);
            buffer_of(b.w2)->head_cell()[k].w3 = w.w3;  // keep the resolved index
        }
        run = i + 1;
    }
    stack::push(last);
}

}  // namespace obj_detail

// One value from its text, kept reachable until the next test (see hold()).
inline Cell read(const char* text, const std::vector<Cell>& extra = {}) {
    obj_detail::Reader r{text, &extra};
    r.space();
    Cell* slot = stack::push(none::cell());
    r.one(slot);
    Cell v = *slot;
    stack::pop(1);
    return hold(v);
}

// Boots what objects and errors need on top of the minimal runtime.
inline void boot_objects() {
    boot_runtime();
    boot(BootLevel::language);
    object::block_evaluator = &obj_detail::evaluate_stub;
}

class ObjectTest : public RuntimeTest {
  protected:
    static void SetUpTestSuite() { boot_objects(); }
    void SetUp() override {
        RuntimeTest::SetUp();
        boot_objects();
    }
};

// make object! spec / make proto spec through the make action.
inline Cell make_object(const Cell& spec, const Cell* proto = nullptr) {
    Cell p = proto ? *proto : type_cell(TYPE_OBJECT);
    return run_action(ACT_MAKE, {p, spec});
}

// A function! from spec and body texts, kept reachable until the next test.
inline Cell make_function(const char* spec, const char* body) {
    Cell s = read(spec);
    Cell b = read(body);
    Cell* saved = stack::top;
    function::init_context(&s, &b, 0, 0, 0, 0);
    Cell f = *stack::top_cell();
    stack::top = saved;
    return hold(f);
}

// The value of a field of an object, by name.
inline Cell field_of(const Cell& obj, const char* name) {
    Cell w = word::load(name);
    return *object::select_word(&obj, &w);
}

// Reflection through the action.
inline Cell reflect_of(const Cell& obj, const char* field) {
    Cell w = word::load(field);
    return run_action(ACT_REFLECT, {obj, w});
}

}  // namespace kiv::test
