// The start of a fuzz target that decodes outside data into values: the
// runtime booted to the language level with collection on, once per
// process, on the first input.
#pragma once

#include "boot/startup.h"
#include "runtime/memory.h"

namespace kiv::fuzz {

inline void boot_language_once() {
    static const bool booted = [] {
        kiv::boot(BootLevel::language);
        memory::collection_enabled = true;
        return true;
    }();
    (void)booted;
}

}  // namespace kiv::fuzz
