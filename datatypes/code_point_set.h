// A set of code points for the text workers that drop repeated characters
// (trim/all with a character set, the set operations of strings).
#pragma once

#include <cstdint>
#include <unordered_set>

namespace kiv::string {

// Code points seen so far: a flat table for Latin-1, a hash set above.
struct KeySet {
    bool low[256] = {};
    std::unordered_set<uint32_t> high;
    void add(uint32_t cp) {
        if (cp < 256)
            low[cp] = true;
        else
            high.insert(cp);
    }
    bool has(uint32_t cp) const { return cp < 256 ? low[cp] : high.count(cp) != 0; }
};
}  // namespace kiv::string
