// libFuzzer target over the serialization reader (library/serialize.h). The
// harness writes the magic "KIVBIN" and a version byte; the input's first
// byte is the flag byte and the rest follows it.
//
// Build and run (from the repository root): `make fuzz`, then
//   build-fuzz/kivbin_fuzz -max_total_time=600 -max_len=2048 tests/fuzz/corpus/kivbin_fuzz
//
// Checks, besides the sanitizers: a buffer is either read or refused with
// kb-invalid-record, invalid-data or no-codec, never another error, and the
// data stack is left as it was; what is read can be molded (plain and /all),
// formed and compared with itself and with its copy read back without a
// crash (a language error is fine); it encodes again, and that encoding reads
// back and encodes to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/boot_language.h"
#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "evaluator/lexer.h"
#include "library/serialize.h"
#include "runtime/cycles.h"
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

// Runs an action on decoded values; an error it raises is a fine outcome
// (an ordering of values that have none, a too-deep walk), a crash is not.
template <class Step>
void tolerate(Step&& step) {
    const stack::Marks marks;
    try {
        step();
    } catch (const RaisedError&) {
        marks.restore();
        cycles::reset();
    }
    stack::top = marks.saved_top;  // what a normal step left is dropped too
}

// Molds (plain and /all) and forms a value, each cut at a length so a
// large value stays quick.
void show(const Cell* value) {
    constexpr int32_t LIMIT = 1 << 14;
    for (int k = 0; k < 3; ++k) {
        tolerate([&] {
            Cell* v = stack::push(*value);
            Cell* part = stack::push(Cell{TYPE_INTEGER, 0, uint32_t(LIMIT), 0});
            Cell* out = string::make_at(stack::push_slot(), 0);
            if (k == 2)
                actions::form(v, out, part, LIMIT);
            else
                actions::mold(v, out, false, k == 1, false, part, LIMIT, 0);
        });
    }
}

// Every ordering and equality of two values.
void compare(const Cell* a, const Cell* b) {
    for (int32_t op = COMP_EQUAL; op <= COMP_FIND; ++op) {
        tolerate([&] {
            Cell* x = stack::push(*a);
            Cell* y = stack::push(*b);
            (void)actions::compare_value(x, y, op);
        });
    }
}

std::vector<uint8_t> write(const Cell* target) {
    Cell* out = stack::push_slot();
    kivbin::encode_cp(target, out, true);
    return bytes_of(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::boot_language_once();
    if (size < 1 || size > 65536) return 0;
    std::vector<uint8_t> buf = {'K', 'I', 'V', 'B', 'I', 'N', 2};
    buf.insert(buf.end(), data, data + size);
    Cell* const base = stack::top;
    Cell* first;
    if (read(buf, &first)) {
        show(first);
        const uint32_t n = buffer_of(first->w2)->byte_count() / sizeof(Cell);
        for (uint32_t i = 0; i < n; ++i) {
            const Cell v = buffer_of(first->w2)->head_cell()[i];
            show(&v);
            compare(&v, &v);
        }
        const std::vector<uint8_t> once = write(first);
        Cell* second;
        check(read(once, &second));
        compare(first, second);
        // The block read back holds the first block: encode its value.
        check(write(buffer_of(second->w2)->head_cell()) == once);
    }
    stack::top = base;
    return 0;
}
