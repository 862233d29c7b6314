// Test helpers for objects and errors: values read by the real lexer and
// object bodies evaluated by the interpreter, as make object! does.
//
//   Cell spec = read("[a: 1 b: \"x\" c: 'w o: :extra-0]", {inner});
//   Cell obj = make_object(spec);          // make object! spec
//   EXPECT_EQ(mold_text(obj, false, false, true), "make object! [a: 1 b: \"x\" c: 'w o: ...]");
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
#include "evaluator/runtime.h"
#include "test_support.h"

namespace kiv::test {

// One value from its text (read by the real lexer, words bound in the global
// context), kept reachable until the next test (see hold()). Each cell of
// `extra` is first given to the global word extra-N (N from 0), so that a
// text can use it as :extra-N.
inline Cell read(const char* text, const std::vector<Cell>& extra = {}) {
    for (size_t i = 0; i < extra.size(); ++i) set_global(("extra-" + std::to_string(i)).c_str(), extra[i]);
    return load(text);
}

// Boots what objects and errors need on top of the minimal runtime.
inline void boot_objects() {
    boot_runtime();
    boot(BootLevel::language);
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
