// Shared libraries loaded on first use instead of linked into the executable.
//
// Every library named in the executable is mapped and bound by the dynamic
// loader at each start, whether the run uses it or not; for the crypto, image
// codec, drawing, HTTP and display libraries (and the many libraries under
// them) that was most of the start-up time of a script. Their users instead
// open them here when first needed.
//
// A LateLibrary opens its library (the soname with its version) once, and
// `fill` resolves the entry points into the user's table with `entry`. The
// outcome is kept: every later load answers at once, a failure with the same
// reason (the loader's message, or the first entry point found missing).
//
// A table takes its field types from the library's own declarations, so
// calls through it are checked like direct calls:
//
//   #define PNG_FUNCTIONS(X) X(png_read_info) X(png_read_image) ...
//   struct Table { PNG_FUNCTIONS(KIV_LATE_FIELD) };
//   ... lib.load(why, [](LateLibrary& lib) { PNG_FUNCTIONS(KIV_LATE_RESOLVE) });
//
// (KIV_LATE_RESOLVE names the table `table`.) A file of calls then
// `#define`s each name to its table field, after its includes, so that the
// call sites read as plain calls into the library.
#pragma once

#include <dlfcn.h>

#include <atomic>
#include <mutex>
#include <string>

namespace kiv::platform {

class LateLibrary {
  public:
    // `soname` is what dlopen looks for; `cannot_load` starts every failure
    // message (e.g. "HTTP needs libcurl: "); `mode` is dlopen's.
    LateLibrary(const char* soname, const char* cannot_load, int mode = RTLD_NOW | RTLD_LOCAL)
        : soname_(soname), cannot_load_(cannot_load), mode_(mode) {}
    LateLibrary(const LateLibrary&) = delete;
    LateLibrary& operator=(const LateLibrary&) = delete;

    // True once the library is open and every entry point `fill` asked for
    // was found; `fill` runs on the first call only, after the open. False
    // with the reason in `why` otherwise, on this and every later call.
    template <typename Fill>
    bool load(std::string& why, Fill&& fill) {
        if (ready_.load(std::memory_order_acquire)) return true;
        std::call_once(once_, [&] {
            if (open()) {
                fill(*this);
                finish();
            }
        });
        if (ready_.load(std::memory_order_acquire)) return true;
        why = failure_;
        return false;
    }

    // The entry point `name` into `out` (a function pointer); a missing one
    // makes the load fail, naming the first that was missing.
    template <typename F>
    void entry(const char* name, F& out) {
        out = reinterpret_cast<F>(symbol(name));
    }

    // Whether every entry point asked for so far was found (a fill that must
    // call into the library once loaded, e.g. to initialise it, checks this).
    bool complete() const { return handle_ && missing_.empty(); }

    bool ready() const { return ready_.load(std::memory_order_acquire); }
    // The reason of a failed load ("" before the first load and after success).
    const std::string& failure() const { return failure_; }

  private:
    bool open();
    void* symbol(const char* name);
    void finish();

    const char* soname_;
    const char* cannot_load_;
    int mode_;
    void* handle_ = nullptr;
    std::string missing_;  // the first entry point not found
    std::string failure_;
    std::atomic<bool> ready_{false};
    std::once_flag once_;
};

}  // namespace kiv::platform

// A table field typed from the library's declaration of `name`.
#define KIV_LATE_FIELD(name) decltype(&::name) name = nullptr;
// Resolves a field of `table` inside a fill whose parameter is `lib`.
#define KIV_LATE_RESOLVE(name) lib.entry(#name, table.name);
