// The checksum native: CRC-32, the internet checksum, Adler-32, message
// digests and HMACs of a binary!, a string! (as UTF-8) or a file's content.
//
// The input is copied out of its series (or read from the file) before the
// result binary is made, so no address into a series buffer is held across
// an allocation.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/file.h"
#include "datatypes/fixed_words.h"
#include "datatypes/integer.h"
#include "datatypes/lexer_values.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "evaluator/natives.h"
#include "platform/console_output.h"
#include "runtime/checksum.h"
#include "runtime/digest.h"
#include "runtime/error.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::natives {

namespace {

enum Method { TCP, MD5, SHA1, CRC32, ADLER32, SHA256, SHA384, SHA512, HASH, METHOD_COUNT };
const char* const METHOD_NAMES[METHOD_COUNT] = {"tcp",    "md5",    "sha1",   "crc32", "adler32",
                                                "sha256", "sha384", "sha512", "hash"};
uint32_t method_symbols[METHOD_COUNT];

Method method_of(const Cell* word) {
    const uint32_t sym = symbol::resolve(word->w2);
    for (uint32_t m = 0; m < METHOD_COUNT; ++m)
        if (sym == symbol::resolve(method_symbols[m])) return Method(m);
    fire({"script", "invalid-arg"}, *word);
}

int digest_code(Method m) {
    switch (m) {
        case MD5: return digest::MD5;
        case SHA1: return digest::SHA1;
        case SHA256: return digest::SHA256;
        case SHA384: return digest::SHA384;
        case SHA512: return digest::SHA512;
        default: return 0;
    }
}

// The bytes of a binary! from its index, or of a string from its index as
// UTF-8, copied out of the series.
std::vector<uint8_t> bytes_of(Cell* v) {
    if (v->type() == TYPE_BINARY) {
        const SeriesBuffer* b = buffer_of(v->w2);
        const uint32_t count = b->byte_count();
        const uint32_t index = v->w1 < count ? v->w1 : count;
        return std::vector<uint8_t>(b->head_ptr() + index, b->head_ptr() + count);
    }
    int32_t length = -1;
    const uint8_t* text = unicode::to_utf8(v, &length);
    return std::vector<uint8_t>(text, text + length);
}

// A file's whole content; a file that cannot be read raises access
// cannot-open with its name.
std::vector<uint8_t> file_content(Cell* file) {
    const std::string path = file::os_path(file);
    std::vector<uint8_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) fire({"access", "cannot-open"}, *file);
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) fire({"access", "cannot-open"}, *file);
    return out;
}

// A new binary! holding the bytes, in the result slot.
Unwind put_binary(const uint8_t* bytes, size_t n) {
    Cell* base = stack::arg_base;
    Cell* out = stack::push_slot();
    lexer::values::make_binary(out, uint32_t(n));
    SeriesBuffer* b = buffer_of(out->w2);
    std::memcpy(b->head_ptr(), bytes, n);
    b->tail = b->head + uint32_t(n);
    *base = *out;
    stack::top = base + 1;
    return UNWIND_NONE;
}

[[noreturn]] void bad_with(const Cell& value) {
    fire({"script", "invalid-refine-arg"}, fixed::refinements[fixed::REF_WITH], value);
}

}  // namespace

void init_checksum_methods() {
    for (uint32_t m = 0; m < METHOD_COUNT; ++m) method_symbols[m] = symbol::make(METHOD_NAMES[m]);
}

// checksum data method /with spec
Unwind checksum(const int32_t* refs) {
    Cell* base = stack::arg_base;
    Cell* spec = Refs<N_CHECKSUM>{refs}.arg<"with">();
    const uint32_t t = base->type();
    if (t != TYPE_BINARY && t != TYPE_STRING && t != TYPE_FILE) fire({"script", "invalid-arg"}, *base);
    const Method method = method_of(base + 1);
    const bool simple = method == CRC32 || method == TCP || method == ADLER32;
    if (spec && simple) bad_with(base[1]);
    if (!spec && method == HASH) bad_with(base[1]);
    if (spec) {
        const uint32_t st = spec->type();
        if (st == TYPE_INTEGER) {
            static const char LINE[] = "** /hash support not yet implemented; algorithm TBD.";
            console::write_text(LINE, sizeof LINE - 1, 1, true);
            *base = integer::cell(0);
            stack::top = base + 1;
            return UNWIND_NONE;
        }
        if (st != TYPE_BINARY && !is_any_string(st)) fire({"script", "invalid-arg"}, *spec);
        if (method == HASH) bad_with(*spec);
    }
    const std::vector<uint8_t> data = t == TYPE_FILE ? file_content(base) : bytes_of(base);
    if (simple) {
        uint32_t sum = method == CRC32   ? kiv::checksum::crc32(kiv::checksum::CRC32_INIT, data.data(), data.size())
                       : method == TCP ? kiv::checksum::tcp(data.data(), data.size())
                                       : kiv::checksum::adler32(kiv::checksum::ADLER32_INIT, data.data(), data.size());
        *base = integer::cell(int32_t(sum));
        stack::top = base + 1;
        return UNWIND_NONE;
    }
    const int code = digest_code(method);
    uint8_t out[digest::MAX_SIZE];
    bool ok;
    if (spec) {
        const std::vector<uint8_t> key = bytes_of(spec);
        ok = digest::hmac(code, data.data(), data.size(), key.data(), key.size(), out);
    } else {
        ok = digest::compute(code, data.data(), data.size(), out);
    }
    // Never hand out a buffer the library did not fill.
    if (!ok) fire({"internal", "feature-na"});
    return put_binary(out, digest::size(code));
}

}  // namespace kiv::natives
