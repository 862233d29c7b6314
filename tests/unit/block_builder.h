// Test helpers for block and series actions: values written as short texts
// and actions run by name through the generic stack entries.
//
//   Cell b = build("[1 2 [3 4]\n 5]");      // a block; "\n" marks the next value
//   Cell r = call("find/last", {b, build("2")});
//   EXPECT_EQ(mold_text(r), "[2]");
//
// Texts: integers, floats (with a dot), blocks [...], parens (...), none,
// true, false, datatype names (integer!), words (a, a:, 'a, :a), strings
// ("text", no escapes), and "@N" for the series argument at position N
// (0-based; used for /part positions). A line break before a value gives it
// the new-line marker.
#pragma once

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "test_support.h"

namespace kiv::test {

namespace detail {

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
            string::concatenate_literal(out, text.c_str());
            return;
        }
        const char* start = p;
        while (*p && !std::isspace(static_cast<unsigned char>(*p)) && !std::strchr("[]()", *p)) ++p;
        std::string tok(start, p);
        if (tok == "none") {
            *out = none::cell();
        } else if (tok == "true" || tok == "false") {
            *out = logic::cell(tok == "true");
        } else if (!tok.empty() && tok.back() == '!') {
            for (uint32_t id = 1; id <= datatype::highest_type_id; ++id) {
                const char* name = datatype::names[id].name;
                if (name && tok == name) {
                    *out = datatype::cell(id);
                    return;
                }
            }
            ADD_FAILURE() << "unknown datatype " << tok;
        } else if (std::isalpha(static_cast<unsigned char>(tok[0])) || tok[0] == '\'' || tok[0] == ':') {
            uint32_t type = TYPE_WORD;
            std::string name = tok;
            if (name[0] == '\'') {
                type = TYPE_LIT_WORD;
                name.erase(0, 1);
            } else if (name[0] == ':') {
                type = TYPE_GET_WORD;
                name.erase(0, 1);
            } else if (name.back() == ':') {
                type = TYPE_SET_WORD;
                name.pop_back();
            }
            *out = word::load(name.c_str());
            out->set_type(type);
        } else if (tok.find('.') != std::string::npos) {
            *out = float_cell(std::strtod(tok.c_str(), nullptr));
        } else {
            char* end = nullptr;
            long v = std::strtol(tok.c_str(), &end, 10);
            if (tok.empty() || *end) ADD_FAILURE() << "bad test token '" << tok << "'";
            *out = int_cell(int32_t(v));
        }
    }
};

}  // namespace detail

// One value from its text ("[1 2]" is a block, "1 2" only the first value).
inline Cell build(const char* text) {
    detail::Reader r{text};
    r.space();
    Cell* slot = stack::push(none::cell());
    r.one(slot);
    Cell v = *slot;
    stack::pop(1);
    return hold(v);
}

// The series value at another position (same buffer).
inline Cell at_pos(const Cell& series, uint32_t position) {
    Cell c = series;
    c.w1 = position;
    return c;
}

// ---- Running actions by name ---------------------------------------------------------

struct ActionShape {
    const char* name;
    uint32_t slot;
    uint32_t fixed;                        // fixed arguments
    std::vector<const char*> refinements;  // in the action's order
    std::vector<const char*> with_arg;     // refinements that take an argument
};

inline const std::vector<ActionShape>& shapes() {
    static const std::vector<ActionShape> list = {
        {"find",
         ACT_FIND,
         2,
         {"part", "only", "case", "same", "any", "with", "skip", "last", "reverse", "tail", "match"},
         {"part", "with", "skip"}},
        {"select",
         ACT_SELECT,
         2,
         {"part", "only", "case", "same", "any", "with", "skip", "last", "reverse"},
         {"part", "with", "skip"}},
        {"sort",
         ACT_SORT,
         1,
         {"case", "skip", "compare", "part", "all", "reverse", "stable"},
         {"skip", "compare", "part"}},
        {"copy", ACT_COPY, 1, {"part", "deep", "types"}, {"part", "types"}},
        {"take", ACT_TAKE, 1, {"part", "deep", "last"}, {"part"}},
        {"append", ACT_APPEND, 2, {"part", "only", "dup"}, {"part", "dup"}},
        {"insert", ACT_INSERT, 2, {"part", "only", "dup"}, {"part", "dup"}},
        {"change", ACT_CHANGE, 2, {"part", "only", "dup"}, {"part", "dup"}},
        {"remove", ACT_REMOVE, 1, {"part", "key"}, {"part", "key"}},
        {"reverse", ACT_REVERSE, 1, {"part", "skip"}, {"part", "skip"}},
        {"move", ACT_MOVE, 2, {"part"}, {"part"}},
        {"put", ACT_PUT, 3, {"case"}, {}},
        {"at", ACT_AT, 2, {}, {}},
        {"skip", ACT_SKIP, 2, {}, {}},
        {"pick", ACT_PICK, 2, {}, {}},
        {"poke", ACT_POKE, 3, {}, {}},
        {"swap", ACT_SWAP, 2, {}, {}},
        {"next", ACT_NEXT, 1, {}, {}},
        {"back", ACT_BACK, 1, {}, {}},
        {"head", ACT_HEAD, 1, {}, {}},
        {"tail", ACT_TAIL, 1, {}, {}},
        {"head?", ACT_HEAD_Q, 1, {}, {}},
        {"tail?", ACT_TAIL_Q, 1, {}, {}},
        {"index?", ACT_INDEX_Q, 1, {}, {}},
        {"length?", ACT_LENGTH_Q, 1, {}, {}},
        {"clear", ACT_CLEAR, 1, {}, {}},
        {"trim", ACT_TRIM, 1, {"head", "tail", "auto", "lines", "all", "with"}, {"with"}},
        {"random", ACT_RANDOM, 1, {"seed", "secure", "only"}, {}},
    };
    return list;
}

// Runs "name/ref1/ref2" with the fixed arguments first, then one argument
// for each refinement that takes one, in the order the path names them.
inline Cell call(const std::string& path, std::vector<Cell> args) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            parts.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    const ActionShape* shape = nullptr;
    for (const auto& s : shapes())
        if (parts[0] == s.name) shape = &s;
    if (!shape) {
        ADD_FAILURE() << "unknown action " << parts[0];
        return none::cell();
    }
    std::vector<int32_t> refs(shape->refinements.size(), -1);
    uint32_t next_arg = shape->fixed;
    for (size_t k = 1; k < parts.size(); ++k) {
        size_t idx = 0;
        while (idx < shape->refinements.size() && parts[k] != shape->refinements[idx]) ++idx;
        if (idx == shape->refinements.size()) {
            ADD_FAILURE() << "unknown refinement /" << parts[k];
            continue;
        }
        bool takes = false;
        for (const char* w : shape->with_arg)
            if (parts[k] == w) takes = true;
        refs[idx] = takes ? int32_t(next_arg++) : 0;
    }
    if (args.size() != next_arg) ADD_FAILURE() << path << ": expected " << next_arg << " arguments";
    if (refs.size() > 16) refs.resize(16);
    int32_t positions[16];
    for (int32_t& p : positions) p = -1;
    for (size_t i = 0; i < refs.size(); ++i) positions[i] = refs[i];
    return run_generic(shape->slot, positions, args.data(), args.size());
}

// The block from its head, molded.
inline std::string mold_from_head(const Cell& series) {
    return mold_text(at_pos(series, 0));
}

}  // namespace kiv::test
