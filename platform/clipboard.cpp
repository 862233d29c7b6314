#include "platform/clipboard.h"

namespace kiv::platform::clipboard {

namespace {

Content store;

bool store_read(Content& out) {
    out = store;
    return true;
}

bool store_write(const Content& in) {
    store = in;
    return true;
}

const Backend IN_PROCESS{store_read, store_write};
const Backend* current = &IN_PROCESS;

}  // namespace

void install(const Backend* backend) {
    current = backend ? backend : &IN_PROCESS;
}

bool read(Content& out) {
    out = Content{};
    return current->read(out);
}

bool write(const Content& in) {
    return current->write(in);
}

}  // namespace kiv::platform::clipboard
