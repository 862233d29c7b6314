#include "platform/os_info.h"

#include <sys/utsname.h>

#include <cstring>

namespace kiv::platform {

std::string arch_name(const char* machine) {
    std::string m = machine;
    if (m == "x86_64" || m == "amd64") return "x86-64";
    if (m.size() == 4 && m[0] == 'i' && m[2] == '8' && m[3] == '6') return "x86-32";  // i386 ... i686
    if (m == "aarch64" || m == "arm64") return "ARM64";
    if (m.compare(0, 3, "arm") == 0) return "ARM";
    if (m == "ia64") return "IA-64";
    return "Unknown";
}

void release_numbers(const char* release, uint8_t out[3]) {
    out[0] = out[1] = out[2] = 0;
    const char* p = release;
    for (int i = 0; i < 3; ++i) {
        if (*p < '0' || *p > '9') break;
        uint32_t n = 0;
        while (*p >= '0' && *p <= '9') {
            if (n < 1000) n = n * 10 + uint32_t(*p - '0');
            ++p;
        }
        out[i] = uint8_t(n > 255 ? 255 : n);
        if (*p != '.') break;
        ++p;
    }
}

int32_t build_number(const char* version) {
    const char* p = std::strchr(version, '#');
    if (!p) return 0;
    ++p;
    int32_t n = 0;
    while (*p >= '0' && *p <= '9' && n < 100000000) n = n * 10 + (*p++ - '0');
    return n;
}

OsInfo os_info() {
    OsInfo info{"Unknown", "Unknown", {0, 0, 0}, 0};
    struct utsname u;
    if (uname(&u) != 0) return info;
    info.name = std::string(u.sysname) + " " + u.release;
    info.arch = arch_name(u.machine);
    release_numbers(u.release, info.version);
    info.build = build_number(u.version);
    return info;
}

}  // namespace kiv::platform
