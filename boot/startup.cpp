#include "boot/startup.h"

#include "runtime/arena.h"

namespace kiv {

void runtime_boot() {
    arena::init();
}

int entry(int, char**) {
    runtime_boot();
    return 0;
}

}  // namespace kiv
