// The operating system's description, as `os-info` reports it.
//
// On Linux it comes from uname(2): the kernel's name and release, the
// machine's processor family, the release's leading numbers and the build
// number the kernel carries in its version text ("#1 SMP ..." gives 1).
#pragma once

#include <cstdint>
#include <string>

namespace kiv::platform {

struct OsInfo {
    std::string name;     // "Linux 6.1.0-18-amd64": system name, a space, release
    std::string arch;     // "x86-64", "x86-32", "ARM", "ARM64", "IA-64" or "Unknown"
    uint8_t version[3];   // the release's first three numbers (0 where missing, 255 at most)
    int32_t build;        // the number after '#' in the kernel's version text, else 0
};

OsInfo os_info();

// The pieces of os_info, apart so that they can be checked on fixed texts.
std::string arch_name(const char* machine);
void release_numbers(const char* release, uint8_t out[3]);
int32_t build_number(const char* version);

}  // namespace kiv::platform
