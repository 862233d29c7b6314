// compress and decompress: adapters from binary! and string! values to the
// DEFLATE codec (runtime/deflate.h) with its three framings.
//
// The codec works on raw buffers and never allocates, so each attempt makes
// the output binary first and only then takes the input's address.
#include <cstring>

#include "datatypes/lexer_values.h"
#include "datatypes/symbol.h"
#include "evaluator/natives.h"
#include "runtime/deflate.h"
#include "runtime/error.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::natives {

namespace {

enum Method { ZLIB, DEFLATE, GZIP };
uint32_t method_symbols[3];

// The largest binary these natives make. A stream may legitimately expand
// a thousandfold, so a small input can ask for gigabytes: beyond this bound
// the answer is an error rather than an allocation that ends the process.
constexpr uint64_t MAX_OUTPUT = 0x40000000;  // 1 GiB

Method method_of(const Cell* word) {
    const uint32_t sym = symbol::resolve(word->w2);
    for (uint32_t m = 0; m < 3; ++m)
        if (sym == symbol::resolve(method_symbols[m])) return Method(m);
    fire({"script", "invalid-arg"}, *word);
}

using Codec = deflate::Result (*)(uint8_t*, uint32_t*, const uint8_t*, uint32_t);

// The bytes of a binary! from its index (the address is valid until the
// next allocation).
const uint8_t* binary_bytes(const Cell* bin, uint32_t* length) {
    const SeriesBuffer* b = buffer_of(bin->w2);
    const uint32_t count = b->byte_count();
    const uint32_t index = bin->w1 < count ? bin->w1 : count;
    *length = count - index;
    return b->head_ptr() + index;
}

// Runs the codec into a new binary of `capacity` bytes, and once more with
// the size it reports when that was too small. The binary replaces the
// result slot; a codec that still fails raises invalid-data without an
// argument (the input may be of any size, so the message does not hold it).
void run_codec(Codec codec, const Cell* input, uint64_t capacity) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (capacity > MAX_OUTPUT) fire({"internal", "no-memory"});
        Cell* out = stack::push_slot();
        lexer::values::make_binary(out, uint32_t(capacity));
        uint32_t in_len;
        const uint8_t* in = binary_bytes(input, &in_len);
        SeriesBuffer* ob = buffer_of(out->w2);
        uint32_t size = uint32_t(capacity);
        const deflate::Result r = codec(ob->head_ptr(), &size, in, in_len);
        if (r == deflate::OK) {
            ob->tail = ob->head + size;
            stack::set_last_keep(*out);
            return;
        }
        stack::top = out;
        if (r != deflate::TOO_SMALL) break;
        capacity = size;
    }
    fire({"script", "invalid-data"});
}

}  // namespace

void init_compress_methods() {
    method_symbols[ZLIB] = symbol::make("zlib");
    method_symbols[DEFLATE] = symbol::make("deflate");
    method_symbols[GZIP] = symbol::make("gzip");
}

// compress data method
Unwind compress(const int32_t*) {
    Cell* base = stack::arg_base;
    static constexpr Codec codecs[3] = {deflate::zlib_compress, deflate::compress, deflate::gzip_compress};
    const Codec codec = codecs[method_of(base + 1)];
    Cell* input = base;
    if (base->type() != TYPE_BINARY) {
        // Text is compressed as UTF-8: copy it into a binary first, since
        // the conversion's cache may move when the output is made.
        int32_t len = -1;
        unicode::to_utf8(base, &len);
        input = stack::push_slot();
        lexer::values::make_binary(input, uint32_t(len));
        len = -1;
        const uint8_t* text = unicode::to_utf8(base, &len);
        SeriesBuffer* b = buffer_of(input->w2);
        std::memcpy(b->head_ptr(), text, uint32_t(len));
        b->tail = b->head + uint32_t(len);
    }
    uint32_t in_len;
    binary_bytes(input, &in_len);
    run_codec(codec, input, uint64_t(in_len) + 32);
    return UNWIND_NONE;
}

// decompress data method /size sz
Unwind decompress(const int32_t* refs) {
    Cell* base = stack::arg_base;
    static constexpr Codec codecs[3] = {deflate::zlib_decompress, deflate::decompress, deflate::gunzip};
    const Method method = method_of(base + 1);
    const Codec codec = codecs[method];
    uint64_t capacity = 0;
    if (const Cell* size = Refs<N_DECOMPRESS>{refs}.arg<"size">()) {
        const int32_t sz = int32_t(size->w2);
        if (sz > 0) capacity = uint32_t(sz);
    }
    uint32_t in_len;
    const uint8_t* in = binary_bytes(base, &in_len);
    if (method == GZIP || capacity <= in_len) {
        // The sizing pass: no output, only the size it would have. gzip
        // states it in its trailer, checked against what the data can hold.
        uint32_t size = 0;
        const deflate::Result r = codec(nullptr, &size, in, in_len);
        if (r != deflate::OK && r != deflate::TOO_SMALL) fire({"script", "invalid-data"});
        capacity = size;
    }
    run_codec(codec, base, capacity);
    return UNWIND_NONE;
}

}  // namespace kiv::natives
