// The library's Kiv modules as the build embedded them.
//
// library/embed.cmake turns every .kiv file of library/, gui/engine/ and
// console/ into one entry here, named by its path relative to the
// repository root ("library/base.kiv"). The bytes are the file's UTF-8 text
// exactly, followed by a NUL byte that `size` does not count. The entries
// live in read-only static storage for the whole run, so they never point
// into the arena and may be held across allocations.
#pragma once

#include <cstdint>

namespace kiv::library {

struct Source {
    const char* name;
    const unsigned char* bytes;
    uint32_t size;
};

// Every embedded module in name order, then an entry whose name is null.
extern const Source SOURCES[];
extern const uint32_t SOURCE_COUNT;

// The module of that name, or null.
const Source* find_source(const char* name);

}  // namespace kiv::library
