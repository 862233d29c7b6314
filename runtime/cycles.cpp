#include "runtime/cycles.h"

#include <cstring>

#include "runtime/error.h"
#include "runtime/lowlevel.h"

namespace kiv::cycles {

namespace {
uint32_t* entries = nullptr;
uint32_t cursor = 0;  // next free entry
}  // namespace

void init() {
    if (!entries) entries = static_cast<uint32_t*>(lowlevel::allocate(ENTRIES * sizeof(uint32_t)));
    cursor = 0;
}

void push(uint32_t identity) {
    if (!entries) init();
    entries[cursor++] = identity;
    if (cursor >= ENTRIES) {
        cursor = 0;
        fire({"internal", "too-deep"});
    }
}

void pop() {
    if (cursor > 0) --cursor;
}

void drop(uint32_t n) {
    cursor = n < cursor ? cursor - n : 0;
}

void reset() {
    cursor = 0;
}

uint32_t depth() {
    return cursor;
}

void relocate(uint32_t (*map)(uint32_t identity)) {
    for (uint32_t i = 0; i < cursor; ++i)
        if (uint32_t moved = map(entries[i])) entries[i] = moved;
}

bool find(uint32_t identity) {
    for (uint32_t i = 0; i < cursor; ++i)
        if (entries[i] == identity) return true;
    return false;
}

const char* marker(const Cell* value, bool mold) {
    if (!find(identity_of(value))) return nullptr;
    const char* marker = "...";
    if (mold) {
        switch (value->type()) {
            case TYPE_BLOCK:
            case TYPE_HASH:
                marker = "[...]";
                break;
            case TYPE_PAREN:
                marker = "(...)";
                break;
            case TYPE_MAP:
                marker = "#[...]";
                break;
            case TYPE_OBJECT:
                marker = "make object! [...]";
                break;
            default:
                break;
        }
    }
    return marker;
}

}  // namespace kiv::cycles
