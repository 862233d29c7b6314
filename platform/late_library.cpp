// Libraries loaded on first use (see late_library.h).
#include "platform/late_library.h"

namespace kiv::platform {

bool LateLibrary::open() {
    handle_ = dlopen(soname_, mode_);
    if (handle_) return true;
    const char* e = dlerror();
    failure_ = std::string(cannot_load_) + (e ? e : std::string(soname_) + " not found");
    return false;
}

void* LateLibrary::symbol(const char* name) {
    void* p = handle_ ? dlsym(handle_, name) : nullptr;
    if (!p && missing_.empty()) missing_ = name;
    return p;
}

void LateLibrary::finish() {
    if (!missing_.empty()) {
        failure_ = std::string(cannot_load_) + soname_ + " lacks " + missing_;
        return;
    }
    ready_.store(true, std::memory_order_release);
}

}  // namespace kiv::platform
