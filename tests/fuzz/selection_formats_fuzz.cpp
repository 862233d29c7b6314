// libFuzzer target over the clipboard data other programs hand over
// (gui/window/selection_formats.h): text/uri-list file lists, UTF-8 text,
// and the store's UTF-16 text and file-list blocks.
//
// Built by CMake; `make test` replays the kept inputs of
// tests/fuzz/corpus/selection_formats_fuzz. To fuzz, build with clang and
// libFuzzer (`make fuzz`), then run from the repository root:
//   build-fuzz/selection_formats_fuzz -max_len=1024 tests/fuzz/corpus/selection_formats_fuzz
//
// Checks, besides the sanitizers: every path read from a uri-list starts
// with '/'; paths and texts survive a trip through the other form; the
// store's blocks are read without going past their end.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gui/window/selection_formats.h"

using namespace kiv::gui;

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace sf = selection_formats;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> paths = sf::decode_uri_list(text);
    for (const std::string& p : paths) check(!p.empty() && p[0] == '/');
    check(sf::decode_uri_list(sf::encode_uri_list(paths)) == paths);
    // Text: UTF-8 to the store and back is stable after one round.
    const std::string once = sf::text_from_store(sf::text_to_store(text));
    check(sf::text_from_store(sf::text_to_store(once)) == once);
    // The bytes as store blocks.
    const std::vector<uint8_t> bytes(data, data + size);
    (void)sf::text_from_store(bytes);
    const std::vector<std::string> files = sf::files_from_store(bytes);
    for (const std::string& f : files) check(!f.empty());
    check(sf::files_from_store(sf::files_to_store(files)) == files);
    return 0;
}
