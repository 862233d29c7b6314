// Test helpers for block and series actions: values loaded from Kiv text by
// the real lexer (load, test_support.h) and actions run by name through the
// generic stack entries.
//
//   Cell b = load("[1 2 [3 4]\n 5]");      // a block; "\n" marks the next value
//   Cell r = call("find/last", {b, load("2")});
//   EXPECT_EQ(mold_text(r), "[2]");
#pragma once

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "test_support.h"

namespace kiv::test {

// The series value at another position (same buffer).
inline Cell at_pos(const Cell& series, uint32_t position) {
    Cell c = series;
    c.w1 = position;
    return c;
}

// ---- Running actions by name ---------------------------------------------------------

// Runs "name/ref1/ref2" with the fixed arguments first, then the arguments of
// each refinement in the order the path names them. The action and the shape
// of its refinements come from its global word: the action! value made from
// library/actions.kiv at boot.
inline Cell call(const std::string& path, std::vector<Cell> args) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            parts.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    const Cell action = global_value(parts[0].c_str());
    if (action.type() != TYPE_ACTION) {
        ADD_FAILURE() << "no action " << parts[0];
        return none::cell();
    }
    // The action's argument list: the fixed arguments, then each refinement
    // with the count of its arguments.
    const Cell spec{TYPE_BLOCK, 0, action.w2, 0};
    uint32_t fixed = 0;
    std::vector<std::pair<std::string, uint32_t>> refinements;
    for (uint32_t i = 0, n = block::cells_length(&spec); i < n; ++i) {
        const Cell* c = block::cells_at(&spec, i);
        if (c->type() == TYPE_REFINEMENT) {
            std::string name(symbol::name_view(c->w2));
            if (name == "local") break;
            refinements.push_back({name, 0});
        } else if (c->type() == TYPE_WORD || c->type() == TYPE_LIT_WORD || c->type() == TYPE_GET_WORD) {
            if (refinements.empty())
                ++fixed;
            else
                ++refinements.back().second;
        }
    }
    int32_t positions[16];
    for (int32_t& p : positions) p = -1;
    uint32_t next_arg = fixed;
    for (size_t k = 1; k < parts.size(); ++k) {
        size_t idx = 0;
        while (idx < refinements.size() && parts[k] != refinements[idx].first) ++idx;
        if (idx == refinements.size() || idx >= 16) {
            ADD_FAILURE() << "unknown refinement /" << parts[k];
            continue;
        }
        positions[idx] = int32_t(next_arg);
        next_arg += refinements[idx].second;
    }
    if (args.size() != next_arg) ADD_FAILURE() << path << ": expected " << next_arg << " arguments";
    return run_generic(action.w1, positions, args.data(), args.size());
}

// The block from its head, molded.
inline std::string mold_from_head(const Cell& series) {
    return mold_text(at_pos(series, 0));
}

}  // namespace kiv::test
