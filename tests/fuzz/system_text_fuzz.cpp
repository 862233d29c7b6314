// libFuzzer target over the decoding of bytes from the system (names,
// arguments, the environment, a child's output): unicode::load_escaped and
// its inverse unicode::to_system_bytes.
//
// Built by CMake; `make test` replays the kept inputs of
// tests/fuzz/corpus/system_text_fuzz. To fuzz, build with clang and
// libFuzzer (`make fuzz`), then run from the repository root:
//   build-fuzz/system_text_fuzz -max_len=256 tests/fuzz/corpus/system_text_fuzz
//
// Checks, besides the sanitizers: every input decodes (nothing raises); the
// text encodes back to exactly the input; the unit is the narrowest that
// holds the widest character; with CR folding the text encodes back to the
// input with CR LF and a lone CR written as LF; input that the strict loader
// accepts whole, and that holds no encoded U+DC80..U+DCFF, decodes to the
// same text as the strict loader gives.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "boot/startup.h"
#include "datatypes/types.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

using namespace kiv;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

std::u32string contents(Off node) {
    const SeriesBuffer* b = buffer_of(node);
    const uint32_t unit = b->unit();
    std::u32string out;
    for (uint32_t i = 0; i < b->byte_count() / unit; ++i) out.push_back(read_unit(b->head_ptr() + i * unit, unit));
    return out;
}

// Decodes, holds the node on the data stack (the collector runs) and checks
// the round trip to `want`.
std::u32string decode(const uint8_t* data, size_t size, bool cr, const std::string& want) {
    Cell* held = stack::push_slot();
    *held = Cell{TYPE_STRING, 0, unicode::load_escaped(data, uint32_t(size), cr), 0};
    const std::u32string text = contents(held->w2);
    uint32_t widest = 0;
    for (char32_t c : text) widest = std::max(widest, uint32_t(c));
    const uint32_t unit = buffer_of(held->w2)->unit();
    check(unit == (widest <= 0xFF ? 1u : widest <= 0xFFFF ? 2u : 4u));
    check(unicode::to_system_bytes(held) == want);
    stack::top = held;
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool booted = false;
    if (!booted) {
        kiv::boot(BootLevel::values);
        memory::collection_enabled = true;
        booted = true;
    }
    if (size > 1u << 20) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::u32string text = decode(data, size, false, bytes);

    std::string folded;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '\r') {
            folded.push_back(char(data[i]));
        } else if (i + 1 >= size || data[i + 1] != '\n') {
            folded.push_back('\n');
        }
    }
    (void)decode(data, size, true, folded);

    // Where the strict loader takes the input whole, the text is the same.
    if (bytes.find("\xED\xB2") == std::string::npos && bytes.find("\xED\xB3") == std::string::npos &&
        !(size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)) {
        Cell* held = stack::push_slot();
        *held = Cell{TYPE_NONE, 0, 0, 0};
        try {
            uint32_t left = 0;
            Off node = unicode::load_utf8(data, uint32_t(size), 0, &left, false);
            *held = Cell{TYPE_STRING, 0, node, 0};
            if (left == 0) check(contents(node) == text);
        } catch (const RaisedError&) {
            // Not UTF-8: only the escaped decoding takes it.
        }
        stack::top = held;
    }
    return 0;
}
