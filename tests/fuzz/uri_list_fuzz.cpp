// libFuzzer target over the reading of text/uri-list file lists
// (gui/backend/uri_list.h), which other programs put on the clipboard.
//
// Built by CMake; `make test` replays the kept inputs of
// tests/fuzz/corpus/uri_list_fuzz. To fuzz, build with clang and libFuzzer
// (`make fuzz`), then run from the repository root:
//   build-fuzz/uri_list_fuzz -max_len=1024 tests/fuzz/corpus/uri_list_fuzz
//
// Checks, besides the sanitizers: no more paths than lines, every path
// starts with '/', and writing the paths back and reading them again gives
// the same paths.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gui/backend/uri_list.h"

using namespace kiv::gui;

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> paths = uri_list::decode(text);
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    check(paths.size() <= lines + 1);
    for (const std::string& p : paths) check(!p.empty() && p[0] == '/');
    check(uri_list::decode(uri_list::encode(paths)) == paths);
    return 0;
}
