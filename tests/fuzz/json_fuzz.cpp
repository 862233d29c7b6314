// libFuzzer target over the JSON decoder and encoder (library/json.h).
//
// Build and run (from the repository root): `make fuzz`, then
//   build-fuzz/json_fuzz -max_total_time=600 -max_len=4096 tests/fuzz/corpus/json_fuzz
//
// Checks, besides the sanitizers: a text is decoded, refused (false), or
// raises invalid-data (a bad escape) or stack-overflow (nesting too deep),
// never another error, and the data stack is left as it was. What decodes
// encodes (unless it holds a float with no JSON form); that text decodes
// again and encodes to the same text, compact, indented and ASCII-only
// alike.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/fuzz/boot_language.h"
#include "datatypes/block.h"
#include "library/json.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

using namespace kiv;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// Decodes into a new block; 1 decoded, 0 refused, -1 raised (an allowed id).
int decode(const std::string& text, Cell** out) {
    *out = block::push_only(1);
    const stack::Marks marks;
    try {
        bool ok = library::json::decode_text(text, *out);
        check(stack::top == marks.saved_top);
        return ok ? 1 : 0;
    } catch (const RaisedError& e) {
        check(e.id == "invalid-data" || e.id == "stack-overflow");
        marks.restore();
        return -1;
    }
}

// The encoding of the first value of a block; false when refused.
bool encode(Cell* blk, const std::string* indent, bool ascii, std::string* text) {
    const stack::Marks marks;
    try {
        *text = library::json::encode_text(*block::cells_at(blk, 0), indent, ascii);
        return true;
    } catch (const RaisedError& e) {
        check(e.id == "invalid-data" || e.id == "stack-overflow");
        marks.restore();
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::boot_language_once();
    if (size > 65536) return 0;
    Cell* const base = stack::top;
    const std::string text(reinterpret_cast<const char*>(data), size);
    Cell* first;
    if (decode(text, &first) == 1) {
        check(block::cells_length(first) == 1);
        std::string compact;
        if (encode(first, nullptr, false, &compact)) {
            const std::string indent = "  ";
            for (int form = 0; form < 3; ++form) {
                std::string once;
                check(encode(first, form == 1 ? &indent : nullptr, form == 2, &once));
                Cell* second;
                check(decode(once, &second) == 1);
                std::string again;
                check(encode(second, nullptr, false, &again));
                check(again == compact);
            }
        }
    }
    stack::top = base;
    return 0;
}
