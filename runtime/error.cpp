#include "runtime/error.h"

namespace kiv {

namespace {
[[noreturn]] void raise(const char* category, const char* id, const Cell* args, int n) {
    RaisedError e{category, id, {}, n};
    for (int i = 0; i < n; ++i) e.args[i] = args[i];
    throw e;
}
}  // namespace

void fire(const char* category, const char* id) { raise(category, id, nullptr, 0); }
void fire(const char* category, const char* id, const Cell& a1) {
    Cell a[1] = {a1};
    raise(category, id, a, 1);
}
void fire(const char* category, const char* id, const Cell& a1, const Cell& a2) {
    Cell a[2] = {a1, a2};
    raise(category, id, a, 2);
}
void fire(const char* category, const char* id, const Cell& a1, const Cell& a2, const Cell& a3) {
    Cell a[3] = {a1, a2, a3};
    raise(category, id, a, 3);
}

}  // namespace kiv
