// libFuzzer target over the CSV line reader (library/csv.h).
//
// Build and run (from the repository root): `make fuzz`, then
//   build-fuzz/csv_fuzz -max_total_time=600 -max_len=4096 tests/fuzz/corpus/csv_fuzz
//
// The first byte chooses the options (delimiter, quote character, trim,
// header, flat); the rest is the text. Checks, besides the sanitizers: the
// reader never raises, leaves the data stack as it was, and reports a line
// within the text for malformed quoting; the lines it stores all have the
// length of the first, and with a header at least one line follows it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/fuzz/boot_language.h"
#include "datatypes/block.h"
#include "library/csv.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

using namespace kiv;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::boot_language_once();
    if (size < 1 || size > 65536) return 0;
    const uint8_t options = data[0];
    static const char* const DELIMITERS[] = {",", ";", "\t", "::", "é", "|,"};
    const std::string delimiter = DELIMITERS[(options & 7) % 6];
    const uint32_t quote = (options & 8) ? '\'' : '"';
    const bool trim = options & 16, header = options & 32, flat = (options & 64) && !header;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    Cell* const base = stack::top;
    Cell* out = block::push_only(4);
    Cell* names = block::push_only(4);
    Cell* const top = stack::top;
    library::csv::ReadResult r = library::csv::read_text(text, delimiter, quote, trim, header, flat, out, names);
    check(stack::top == top);
    if (r.outcome == library::csv::MALFORMED) {
        int32_t lines = 1;
        for (char c : text) lines += c == '\n' || c == '\r';
        check(r.line >= 1 && r.line <= lines);
    }
    if (r.outcome == library::csv::DONE) {
        const uint32_t n = block::cells_length(out);
        if (header) check(n > 0 && block::cells_length(names) > 0);
        if (!flat && n > 0) {
            const uint32_t width = block::cells_length(block::cells_at(out, 0));
            for (uint32_t i = 0; i < n; ++i) check(block::cells_length(block::cells_at(out, i)) == width);
        }
    }
    stack::top = base;
    return 0;
}
