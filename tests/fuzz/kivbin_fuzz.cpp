// libFuzzer target over the serialization reader (boot/serialize.h). The
// harness writes the magic "KIVBIN" and a version byte; the input's first
// byte is the flag byte and the rest follows it.
//
// Build and run (from the repository root): `make fuzz`, then
//   build-fuzz/kivbin_fuzz -max_total_time=600 -max_len=2048 tests/fuzz/corpus/kivbin_fuzz
//
// Checks, besides the sanitizers: a buffer is either read or refused with
// kb-invalid-record, invalid-data or no-codec, never another error, and the
// data stack is left as it was; what is read encodes again, and that
// encoding reads back and encodes to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "boot/serialize.h"
#include "boot/startup.h"
#include "datatypes/block.h"
#include "evaluator/lexer.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"

using namespace kiv;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

std::vector<uint8_t> bytes_of(const Cell* bin) {
    const SeriesBuffer* b = buffer_of(bin->w2);
    return std::vector<uint8_t>(b->head_ptr(), b->head_ptr() + b->byte_count());
}

// Decodes into a new block on the data stack; false when refused.
bool read(const std::vector<uint8_t>& buf, Cell** target) {
    *target = stack::push_slot();
    block::make_at(*target, 4);
    Cell* const top = stack::top;
    try {
        kivbin::decode(buf.data(), uint32_t(buf.size()), *target, kivbin::LOAD);
    } catch (const RaisedError& e) {
        check(e.id == "kb-invalid-record" || e.id == "invalid-data" || e.id == "no-codec");
        stack::top = top;
        return false;
    }
    check(stack::top == top);
    return true;
}

std::vector<uint8_t> write(const Cell* target) {
    Cell* out = stack::push_slot();
    kivbin::encode_cp(target, out, true);
    return bytes_of(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool booted = false;
    if (!booted) {
        kiv::boot(BootLevel::language);
        memory::collection_enabled = true;
        booted = true;
    }
    if (size < 1 || size > 65536) return 0;
    std::vector<uint8_t> buf = {'K', 'I', 'V', 'B', 'I', 'N', 2};
    buf.insert(buf.end(), data, data + size);
    Cell* const base = stack::top;
    Cell* first;
    if (read(buf, &first)) {
        const std::vector<uint8_t> once = write(first);
        Cell* second;
        check(read(once, &second));
        // The block read back holds the first block: encode its value.
        check(write(buffer_of(second->w2)->head_cell()) == once);
    }
    stack::top = base;
    return 0;
}
