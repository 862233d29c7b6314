// libFuzzer target over the reading of HTTP response header lines
// (platform/http.h add_header_line), the only part of a response that is
// parsed here (the body is kept as bytes).
//
// Built by CMake; `make test` replays the kept inputs of
// tests/fuzz/corpus/http_headers_fuzz. To fuzz, build with clang and
// libFuzzer (`make fuzz`), then run from the repository root:
//   build-fuzz/http_headers_fuzz -max_len=1024 tests/fuzz/corpus/http_headers_fuzz
//
// The input is cut into lines at LF, each handed over as a header line.
// Checks, besides the sanitizers: every header kept has a non-empty name
// without a colon or line end, a value without line end or leading blank,
// and comes from a line seen after the last status line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/http.h"

using namespace kiv;

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform::http::Response res;
    const char* p = reinterpret_cast<const char*>(data);
    size_t start = 0, since_status = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && p[i] != '\n') continue;
        size_t n = i - start + (i < size ? 1 : 0);
        if (n >= 5 && std::memcmp(p + start, "HTTP/", 5) == 0) since_status = 0;
        size_t before = res.headers.size();
        platform::http::add_header_line(res, p + start, n);
        check(res.headers.size() <= before + 1);
        if (res.headers.size() > before) ++since_status;
        start = i + 1;
    }
    check(res.headers.size() == since_status);
    for (const auto& [name, value] : res.headers) {
        check(!name.empty() && name.find(':') == std::string::npos);
        check(name.find('\n') == std::string::npos && value.find('\n') == std::string::npos);
        check(value.empty() || (value[0] != ' ' && value[0] != '\t'));
        check(value.empty() || value.back() != '\r');
    }
    return 0;
}
