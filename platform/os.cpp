#include "platform/os.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/console_output.h"
#include "runtime/arena.h"
#include "runtime/lowlevel.h"

namespace kiv::platform {

void start(int argc, char** argv) {
    lowlevel::install_fault_handlers();
    signal(SIGPIPE, SIG_IGN);
    // A write past the file-size limit fails with an error the language
    // reports, instead of ending the process.
    signal(SIGXFSZ, SIG_IGN);
    get_argv(argc, argv);
}

void get_argv(int argc, char** argv) {
    if (char** old = lowlevel::system_record.argv) {
        for (char** a = old; *a; ++a) lowlevel::free(*a);
        lowlevel::free(old);
    }
    if (argc < 0 || !argv) argc = 0;
    auto** vector = static_cast<char**>(lowlevel::allocate((size_t(argc) + 1) * sizeof(char*)));
    int count = 0;
    for (int i = 0; i < argc && argv[i]; ++i) {
        size_t n = std::strlen(argv[i]);
        auto* copy = static_cast<char*>(lowlevel::allocate(n + 1));
        std::memcpy(copy, argv[i], n + 1);
        vector[count++] = copy;
    }
    vector[count] = nullptr;
    lowlevel::system_record.argc = count;
    lowlevel::system_record.argv = vector;
}

void init() {
    console::init_output();
    console::save_default_attribute();
}

Off virtual_alloc(uint64_t size, bool) {
    Off block = arena::alloc_pages(size);
    if (block == 0) lowlevel::throw_value(lowlevel::VM_ALLOC_FAILED);
    return block;
}

void virtual_free(Off block, uint64_t size) {
    if (!arena::free_pages(block, size)) lowlevel::throw_value(lowlevel::VM_FREE_FAILED);
}

char* get_current_dir(uint32_t& length) {
    size_t size = 256;
    for (;;) {
        auto* buf = static_cast<char*>(lowlevel::allocate(size));
        if (getcwd(buf, size)) {
            length = uint32_t(std::strlen(buf));
            return buf;
        }
        lowlevel::free(buf);
        if (errno != ERANGE || size > (size_t(1) << 24)) {
            length = 0;
            return nullptr;
        }
        size *= 2;
    }
}

int set_current_dir(const char* path) {
    return chdir(path) == 0 ? 1 : 0;
}

int set_env(const char* name, const char* value) {
    if (value) return setenv(name, value, 1) == 0 ? 1 : 0;
    return unsetenv(name) == 0 ? 1 : 0;
}

uint32_t get_env(const char* name, char* buffer, uint32_t size) {
    const char* value = getenv(name);
    if (!value) return 0;
    size_t n = std::strlen(value);
    if (n + 1 > size) return uint32_t(n + 1);
    std::memcpy(buffer, value, n + 1);
    return uint32_t(n);
}

uint32_t wait_milliseconds(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;  // below 1, negative or NaN
    if (ms >= 4294967294.0) return 0xFFFFFFFEu;
    return uint32_t(ms);
}

void wait(double seconds) {
    uint32_t ms = wait_milliseconds(seconds);
    timespec request{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    timespec rest{};
    while (nanosleep(&request, &rest) != 0 && errno == EINTR) request = rest;
}

double get_time(bool precise) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    double seconds = double(ts.tv_sec % 86400);
    if (precise) seconds += double(ts.tv_nsec / 100 * 100) / 1e9;
    return seconds;
}

uint32_t get_date(bool utc) {
    time_t now = time(nullptr);
    tm t{};
    if (utc) {
        gmtime_r(&now, &t);
        return pack_date(uint32_t(t.tm_year + 1900), uint32_t(t.tm_mon + 1), uint32_t(t.tm_mday), 0);
    }
    localtime_r(&now, &t);
    return pack_date(uint32_t(t.tm_year + 1900), uint32_t(t.tm_mon + 1), uint32_t(t.tm_mday),
                     zone_field(int32_t(t.tm_gmtoff / 60)));
}

}  // namespace kiv::platform
