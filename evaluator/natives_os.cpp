// Natives that ask the operating system: the clock (now), sleeping (wait),
// the process environment (get-env, set-env, list-env), file sizes (size?)
// and handing a target to the desktop (browse).
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/lexer_values.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/unset.h"
#include "evaluator/natives.h"
#include "platform/console_output.h"
#include "runtime/error.h"
#include "runtime/idle.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

extern char** environ;

namespace kiv::natives {

namespace {

Unwind put(const Cell& result) {
    *stack::arg_base = result;
    stack::top = stack::arg_base + 1;
    return UNWIND_NONE;
}

// The bytes for the system of a name or path argument: a word's name as
// UTF-8, a string from its index (unicode::to_system_bytes).
std::string text_of(Cell* v) {
    if (v->type() >= TYPE_WORD && v->type() <= TYPE_ISSUE) return std::string(symbol::name_view(v->w2));
    return unicode::to_system_bytes(v);
}

// A string from bytes the system handed over, decoded without loss.
Cell new_string(const char* text, size_t length) {
    return *string::load_push(reinterpret_cast<const uint8_t*>(text), uint32_t(length), string::ENC_SYSTEM);
}

// A whole number as integer! when it fits 32 bits, else float!.
Cell size_cell(uint64_t n) {
    return n <= 2147483647u ? integer::cell(int32_t(n)) : float_::cell(double(n));
}

// Whether an executable of that name is on the PATH.
bool on_path(const char* program) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string dirs(path);
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

void say(const std::string& line) {
    console::write_text(line.data(), line.size(), 1, true);
}

}  // namespace

// now /year /month /day /time /zone /date /weekday /yearday /precise /utc
Unwind now(const int32_t* refs) {
    Refs<N_NOW> r{refs};
    const bool year = r.has<"year">(), month = r.has<"month">(), day = r.has<"day">(), time = r.has<"time">(),
               zone = r.has<"zone">(), date = r.has<"date">(), weekday = r.has<"weekday">(),
               yearday = r.has<"yearday">(), precise = r.has<"precise">(), utc = r.has<"utc">();
    const int given = year + month + day + time + zone + date + weekday + yearday + precise;
    if (given > 1 && !(time && precise)) fire({"script", "bad-refines"});

    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const time_t seconds = ts.tv_sec;
    tm t{};
    if (utc)
        gmtime_r(&seconds, &t);
    else
        localtime_r(&seconds, &t);
    // The zone in whole quarter-hours, as the date word keeps it.
    const long offset = utc ? 0 : t.tm_gmtoff / 900 * 900;
    double local = double(t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec);
    if (precise) local += double(ts.tv_nsec / 100) / 1e7;

    if (year) return put(integer::cell(t.tm_year + 1900));
    if (month) return put(integer::cell(t.tm_mon + 1));
    if (day) return put(integer::cell(t.tm_mday));
    if (zone) return put(time_::cell(double(offset)));
    if (time) return put(time_::cell(local));
    if (weekday) return put(integer::cell(t.tm_wday == 0 ? 7 : t.tm_wday));
    if (yearday) return put(integer::cell(t.tm_yday + 1));
    Cell* base = stack::arg_base;
    const int32_t zone_minutes = int32_t(offset / 60);
    lexer::values::make_date(base, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, date ? 0.0 : local,
                             zone_minutes / 60, zone_minutes % 60, !date);
    stack::top = base + 1;
    return UNWIND_NONE;
}

// wait value /all: sleeps for a number of seconds or a time!, at least 1 ms.
Unwind wait(const int32_t*) {
    Cell* v = stack::arg_base;
    const uint32_t t = v->type();
    if (t != TYPE_INTEGER && t != TYPE_FLOAT && t != TYPE_TIME) fire({"script", "invalid-arg"}, *v);
    const double seconds = t == TYPE_INTEGER ? double(integer::get(v)) : v->get_f64();
    double ms = std::floor(seconds * 1000.0);
    if (!(ms >= 1.0)) ms = 1.0;       // also NaN
    if (ms > 2147483647.0) ms = 2147483647.0;  // about 24.8 days
    timespec left{time_t(ms / 1000.0), long(std::fmod(ms, 1000.0) * 1e6)};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    // Then the message loop gets one turn without waiting, so that event
    // handlers may run inside a wait.
    *stack::arg_base = none::cell();
    idle::run_message_turn();
    return put(none::cell());
}

// get-env var: the variable's value, or none when it is not set.
Unwind get_env(const int32_t*) {
    const std::string name = text_of(stack::arg_base);
    const char* value = std::getenv(name.c_str());
    return put(value ? new_string(value, std::strlen(value)) : none::cell());
}

// set-env var value: a none value removes the variable. A name the system
// cannot hold (empty, or with "=" or NUL in it) is an invalid argument.
Unwind set_env(const int32_t*) {
    Cell* base = stack::arg_base;
    const std::string name = text_of(base);
    if (name.empty() || name.find('=') != std::string::npos || name.find('\0') != std::string::npos)
        fire({"script", "invalid-arg"}, *base);
    Cell value = base[1];
    int rc;
    if (value.type() == TYPE_NONE) {
        rc = unsetenv(name.c_str());
    } else {
        const std::string text = text_of(base + 1);
        if (text.find('\0') != std::string::npos) fire({"script", "invalid-arg"}, value);
        rc = setenv(name.c_str(), text.c_str(), 1);
    }
    if (rc != 0) fire({"script", "invalid-arg"}, *base);
    return put(value);
}

// list-env: a map of every variable of the process, names to values.
Unwind list_env(const int32_t*) {
    Cell* base = stack::arg_base;
    uint32_t count = 0;
    for (char** e = environ; *e; ++e) ++count;
    Cell* pairs = block::push_only(int32_t(count * 2));
    for (char** e = environ; *e; ++e) {
        const char* entry = *e;
        // The first "=" after the first character separates: an entry that
        // begins with "=" keeps it in its name.
        const char* eq = entry[0] ? std::strchr(entry + 1, '=') : nullptr;
        if (!eq) continue;
        string::load_in(reinterpret_cast<const uint8_t*>(entry), uint32_t(eq - entry), pairs, string::ENC_SYSTEM);
        string::load_in(reinterpret_cast<const uint8_t*>(eq + 1), uint32_t(std::strlen(eq + 1)), pairs,
                        string::ENC_SYSTEM);
    }
    (void)map::make(base, pairs, TYPE_MAP);  // writes *base; runs no Kiv code
    stack::top = base + 1;
    return UNWIND_NONE;
}

// size? file: the size in bytes (float! from 2 GiB on, so no size is cut),
// none for a directory or a file that cannot be opened.
Unwind size_q(const int32_t*) {
    const std::string path = text_of(stack::arg_base);
    const size_t n = path.size();
    const bool dir_form = n == 0 || path[n - 1] == '/' || path[n - 1] == '\\' || path == "." || path == ".." ||
                          (n >= 2 && path.compare(n - 2, 2, "/.") == 0) ||
                          (n >= 3 && path.compare(n - 3, 3, "/..") == 0);
    if (dir_form) return put(none::cell());
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return put(none::cell());
    struct stat st {};
    const bool ok = fstat(fileno(f), &st) == 0 && !S_ISDIR(st.st_mode);
    std::fclose(f);
    return put(ok ? size_cell(uint64_t(st.st_size)) : none::cell());
}

// browse url: hands the target to xdg-open in the background; says so on
// the console when the system has no xdg-open.
Unwind browse(const int32_t*) {
    const std::string target = text_of(stack::arg_base);
    if (!on_path("xdg-open")) {
        say("** browse: xdg-open not found; cannot open " + target);
        return put(unset::cell());
    }
    // The shell starts xdg-open in the background and ends at once, so no
    // child is left to reap.
    const char* argv[] = {"/bin/sh", "-c", "xdg-open \"$1\" >/dev/null 2>&1 &", "sh", target.c_str(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) == 0) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    return put(unset::cell());
}

}  // namespace kiv::natives
