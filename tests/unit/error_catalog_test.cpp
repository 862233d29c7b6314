// The error catalog: category order and codes, id positions, template shapes
// and message forming.
#include "runtime/error_catalog.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace ec = kiv::error_catalog;

namespace {

struct CategoryCase {
    const char* name;
    int32_t code;
    const char* type_text;
    int ids;
};

const CategoryCase CATEGORY_CASES[] = {
    {"throw", 0, "Throw Error", 5},          {"note", 100, "note", 1},
    {"syntax", 200, "Syntax Error", 7},      {"script", 300, "Script Error", 94},
    {"math", 400, "Math Error", 3},          {"access", 500, "Access Error", 15},
    {"reserved1", 600, "Reserved1 Error", 0}, {"reserved2", 700, "Reserved2 Error", 0},
    {"user", 800, "User Error", 1},          {"internal", 900, "Internal Error", 14},
};

TEST(ErrorCatalog, CategoriesInOrderWithCodesTypeTextsAndCounts) {
    ASSERT_EQ(ec::CATEGORY_COUNT, 10);
    for (int i = 0; i < ec::CATEGORY_COUNT; ++i) {
        const CategoryCase& want = CATEGORY_CASES[i];
        const ec::CategoryEntry& c = ec::category(i);
        SCOPED_TRACE(want.name);
        EXPECT_STREQ(c.name, want.name);
        EXPECT_EQ(c.code, want.code);
        EXPECT_EQ(c.code, i * 100);
        EXPECT_STREQ(c.type_text, want.type_text);
        EXPECT_EQ(c.id_count, want.ids);
        EXPECT_EQ(ec::category_index(want.name), i);
    }
    EXPECT_EQ(ec::id_total(), 140);
    EXPECT_EQ(ec::category_index("script"), ec::CAT_SCRIPT);
    EXPECT_EQ(ec::category_index("internal"), ec::CAT_INTERNAL);
}

struct CodeCase {
    const char* category;
    const char* id;
    int32_t code;
};

// Positions read off the catalog, spread over every category with ids and
// over the first, middle and last id of the long ones.
const CodeCase CODE_CASES[] = {
    {"throw", "break", 0},
    {"throw", "throw", 2},
    {"throw", "while-cond", 4},
    {"note", "no-load", 100},
    {"syntax", "invalid", 200},
    {"syntax", "no-ks-header", 203},
    {"syntax", "bad-char", 206},
    {"script", "no-value", 300},
    {"script", "not-defined", 302},
    {"script", "expect-arg", 305},
    {"script", "bad-op-spec", 315},
    {"script", "bad-path-type2", 335},
    {"script", "out-of-range", 341},
    {"script", "bad-make-arg", 353},
    {"script", "parse-rule", 365},
    {"script", "parse-into-type", 374},
    {"script", "invalid-facet-type", 383},
    {"script", "react-gctx", 391},
    {"script", "kb-invalid-record", 393},
    {"math", "zero-divide", 400},
    {"math", "positive", 402},
    {"access", "cannot-open", 500},
    {"access", "invalid-port", 508},
    {"access", "invalid-cmd", 514},
    {"user", "message", 800},
    {"internal", "bad-path", 900},
    {"internal", "no-memory", 902},
    {"internal", "no-cycle", 907},
    {"internal", "invalid-error", 910},
    {"internal", "deprecated", 913},
};

TEST(ErrorCatalog, IdCodesFollowPositions) {
    for (const CodeCase& c : CODE_CASES) {
        SCOPED_TRACE(std::string(c.category) + "/" + c.id);
        EXPECT_EQ(ec::code_of(c.category, c.id), c.code);
        ec::Location at{-1, -1};
        ASSERT_TRUE(ec::locate(c.code, &at));
        EXPECT_STREQ(ec::category(at.category).name, c.category);
        EXPECT_STREQ(ec::id_name(at.category, at.id), c.id);
        EXPECT_EQ(ec::template_of(c.code), ec::template_of(c.category, c.id));
        EXPECT_NE(ec::template_of(c.code), nullptr);
    }
}

TEST(ErrorCatalog, EveryCodeRoundTripsAndIdsAreUnique) {
    int seen = 0;
    for (int cat = 0; cat < ec::CATEGORY_COUNT; ++cat) {
        const ec::CategoryEntry& c = ec::category(cat);
        std::set<std::string> names;
        for (int i = 0; i < c.id_count; ++i) {
            EXPECT_TRUE(names.insert(c.ids[i].name).second) << c.name << "/" << c.ids[i].name;
            EXPECT_EQ(ec::code_of(c.name, c.ids[i].name), c.code + i);
            ec::Location at{};
            ASSERT_TRUE(ec::locate(c.code + i, &at));
            EXPECT_EQ(at.category, cat);
            EXPECT_EQ(at.id, i);
            ++seen;
        }
        // The code just past the category's last id names nothing.
        ec::Location at{};
        EXPECT_FALSE(ec::locate(c.code + c.id_count, &at)) << c.name;
    }
    EXPECT_EQ(seen, 140);
}

TEST(ErrorCatalog, CodesOutsideTheCatalogAreRefused) {
    ec::Location at{};
    for (int32_t code : {-1, -100, 101, 207, 394, 399, 403, 515, 600, 650, 700, 801, 914, 1000, INT32_MAX, INT32_MIN}) {
        EXPECT_FALSE(ec::locate(code, &at)) << code;
        EXPECT_EQ(ec::template_of(code), nullptr) << code;
    }
}

TEST(ErrorCatalog, NameLookupIgnoresCaseButNotSpellings) {
    EXPECT_EQ(ec::code_of("SCRIPT", "No-Value"), 300);
    EXPECT_EQ(ec::code_of("Internal", "NOT-DONE"), 909);
    EXPECT_EQ(ec::code_of("scrip", "no-value"), -1);
    EXPECT_EQ(ec::code_of("script", "no-valu"), -1);
    EXPECT_EQ(ec::code_of("script", "no-values"), -1);
    EXPECT_EQ(ec::code_of("script ", "no-value"), -1);
    EXPECT_EQ(ec::code_of("", ""), -1);
    EXPECT_EQ(ec::code_of("math", "no-value"), -1);  // an id of another category
    EXPECT_EQ(ec::code_of("reserved1", "message"), -1);
    EXPECT_EQ(ec::id_index(-1, "break"), -1);
    EXPECT_EQ(ec::id_index(ec::CATEGORY_COUNT, "break"), -1);
    EXPECT_EQ(ec::template_of("nothing", "break"), nullptr);
    EXPECT_EQ(ec::id_name(ec::CAT_RESERVED2, 0), nullptr);
}

// ---- Templates ---------------------------------------------------------------------

std::string form(const char* category, const char* id, std::string_view a1 = "A1", std::string_view a2 = "A2",
                 std::string_view a3 = "A3") {
    const ec::Template* t = ec::template_of(category, id);
    EXPECT_NE(t, nullptr) << category << "/" << id;
    if (!t) return {};
    const std::string_view args[3] = {a1, a2, a3};
    return ec::form_message(*t, args);
}

struct FormCase {
    const char* category;
    const char* id;
    const char* args[3];
    const char* text;
};

const FormCase FORM_CASES[] = {
    {"script", "no-value", {"foo", "", ""}, "foo has no value"},
    {"script", "expect-arg", {"append", "integer!", "series"}, "append does not allow integer! for its series argument"},
    {"script", "unset-path", {"a/b", "b", ""}, "b is unset in path a/b"},
    {"script", "bad-path-type", {"x", "none!", "a/b"}, "a/b returned a none! value, so x could not be accessed"},
    {"script", "bad-path-type2", {"c", "integer!", ""}, "path element > c < does not apply to integer! type"},
    {"script", "parse-infinite", {"some x", "", ""}, "PARSE - infinite recursion at rule: [ some x ]"},
    {"script", "expect-type", {"face", "size", "pair!"}, "face size field must be of type pair!"},
    {"syntax", "invalid", {"integer!", "1a", "(line 3) 1a"}, "integer! invalid 1a at (line 3) 1a"},
    {"syntax", "missing", {"block!", "]", "[a b"}, "block! missing ] at [a b"},
    {"throw", "break", {"", "", ""}, "no loop to break"},
    {"throw", "throw", {"'done", "", ""}, "no catch for throw: 'done"},
    // The template's text ends in a space, so the joining space doubles it.
    {"note", "no-load", {"%x.kiv", "", ""}, "cannot load:  %x.kiv"},
    {"math", "zero-divide", {"", "", ""}, "attempt to divide by zero"},
    {"access", "no-connect", {"http://h", "", ""}, "cannot connect: http://h reason: timeout"},
    {"access", "invalid-port", {"", "", ""}, "invalid port object (invalid field values)"},
    {"user", "message", {"custom text", "x", "y"}, "custom text"},
    {"internal", "not-here", {"camera", "", ""}, "camera not supported on your system"},
    {"internal", "deprecated", {"old", "new", ""}, "old is DEPRECATED, please use new instead"},
    {"internal", "routines", {"", "", ""}, "routines require compilation, from OS shell: `kiv -r <script.kiv>`"},
    {"script", "bad-op-spec", {"", "", ""},
     "making an op! requires a function with only 2 arguments and no lit/get-word on left argument"},
};

TEST(ErrorCatalog, FormsMessagesWithArgumentsInTemplateOrder) {
    for (const FormCase& c : FORM_CASES) {
        SCOPED_TRACE(std::string(c.category) + "/" + c.id);
        EXPECT_EQ(form(c.category, c.id, c.args[0], c.args[1], c.args[2]), c.text);
    }
}

TEST(ErrorCatalog, AppendKeepsWhatIsAlreadyThere) {
    std::string out = "*** Script Error: ";
    const std::string_view args[3] = {"x", "", ""};
    ec::append_message(out, *ec::template_of("script", "no-value"), args);
    EXPECT_EQ(out, "*** Script Error: x has no value");
}

TEST(ErrorCatalog, TemplateShapesAndArgumentWords) {
    using ec::Shape;
    // Single texts are strings, except three access templates kept as blocks.
    EXPECT_EQ(ec::template_of("throw", "break")->shape, Shape::STRING);
    EXPECT_EQ(ec::template_of("script", "bad-op-spec")->shape, Shape::STRING);
    EXPECT_EQ(ec::template_of("internal", "no-cycle")->shape, Shape::STRING);
    for (const char* id : {"invalid-port", "invalid-actor", "bad-media"}) {
        const ec::Template* t = ec::template_of("access", id);
        EXPECT_EQ(t->shape, Shape::BLOCK) << id;
        EXPECT_EQ(t->count, 1) << id;
        EXPECT_FALSE(t->pieces[0].is_arg()) << id;
    }
    // user message: the plain word arg1.
    const ec::Template* user = ec::template_of("user", "message");
    EXPECT_EQ(user->shape, Shape::WORD);
    ASSERT_EQ(user->count, 1);
    EXPECT_EQ(user->pieces[0].arg, 1);
    EXPECT_FALSE(user->pieces[0].get_word);

    // Plain words only in internal bad-path, not-here and deprecated (and user
    // message); every other argument is a get-word.
    int plain = 0;
    for (int cat = 0; cat < ec::CATEGORY_COUNT; ++cat) {
        const ec::CategoryEntry& c = ec::category(cat);
        for (int i = 0; i < c.id_count; ++i) {
            const ec::Template& t = c.ids[i].tmpl;
            for (int k = 0; k < t.count; ++k) {
                const ec::Piece& p = t.pieces[k];
                if (!p.is_arg()) continue;
                EXPECT_LE(p.arg, 3);
                if (!p.get_word) {
                    ++plain;
                    EXPECT_TRUE(cat == ec::CAT_INTERNAL || cat == ec::CAT_USER) << c.ids[i].name;
                }
            }
        }
    }
    EXPECT_EQ(plain, 5);  // bad-path, not-here, deprecated x2, message
    const ec::Template* dep = ec::template_of("internal", "deprecated");
    EXPECT_EQ(dep->pieces[0].arg, 1);
    EXPECT_EQ(dep->pieces[2].arg, 2);
    EXPECT_FALSE(dep->pieces[2].get_word);
}

TEST(ErrorCatalog, SourceTextHoldsEveryCategoryAndTemplateShape) {
    const std::string src = ec::catalog_source();
    // Categories in order.
    size_t at = 0;
    for (const CategoryCase& c : CATEGORY_CASES) {
        size_t p = src.find(std::string(c.name) + ": make object! [", at);
        ASSERT_NE(p, std::string::npos) << c.name;
        at = p + 1;
    }
    EXPECT_NE(src.find("script: make object! [\n    code: 300\n    type: \"Script Error\"\n    no-value: [:arg1 "
                       "\"has no value\"]\n    need-value:"),
              std::string::npos);
    EXPECT_NE(src.find("    message: 'arg1\n]"), std::string::npos);
    EXPECT_NE(src.find("    deprecated: [arg1 \"is DEPRECATED, please use\" arg2 \"instead\"]\n]"), std::string::npos);
    EXPECT_NE(src.find("    break: \"no loop to break\"\n"), std::string::npos);
    EXPECT_NE(src.find("    invalid-port: [\"invalid port object (invalid field values)\"]\n"), std::string::npos);
    EXPECT_NE(src.find("reserved1: make object! [\n    code: 600\n    type: \"Reserved1 Error\"\n]\n"),
              std::string::npos);
    EXPECT_NE(src.find("    no-load: [\"cannot load: \" :arg1]\n"), std::string::npos);
}

}  // namespace
