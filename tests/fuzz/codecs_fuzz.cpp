// libFuzzer target over the base-2/16/58/64 decoders and percent-decoding
// (runtime/base_codecs.h, runtime/percent_coding.h).
//
// Built by CMake; `make test` replays the kept inputs of
// tests/fuzz/corpus/codecs_fuzz. To fuzz, build with clang and libFuzzer
// (`make fuzz`), then run from the repository root:
//   build-fuzz/codecs_fuzz -max_len=512 tests/fuzz/corpus/codecs_fuzz
// and keep new inputs worth keeping there (libFuzzer -merge=1).
//
// Checks, besides the sanitizers (every output area is allocated at exactly
// the size the codec asks for, so a write past it is caught): the checking
// pass and the writing pass of a decoder agree; an error position lies inside
// the text; the same text read in 1-, 2- and 4-byte units decodes the same;
// every encoding decodes back to the bytes encoded; percent-decoding stays
// inside its input, and the general encoding of valid UTF-8 decodes back to
// the same characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "runtime/base_codecs.h"
#include "runtime/percent_coding.h"

using namespace kiv;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

constexpr uint32_t BASES[] = {2, 16, 58, 64};

// Decodes text of `count` units, checking that both passes agree.
base_codecs::Decoded decode_checked(uint32_t base, const uint8_t* text, uint32_t count, uint32_t unit,
                                    std::vector<uint8_t>* bytes) {
    base_codecs::Decoded counted = base_codecs::decode(base, text, count, unit, nullptr);
    size_t room = size_t(base_codecs::decode_room(base, count));
    std::unique_ptr<uint8_t[]> out(new uint8_t[room ? room : 1]);
    base_codecs::Decoded written = base_codecs::decode(base, text, count, unit, room ? out.get() : nullptr);
    check(counted.ok == written.ok);
    if (!counted.ok) {
        check(counted.error_at == written.error_at && counted.error_at <= count);
        return counted;
    }
    check(counted.bytes == written.bytes && counted.bytes <= room);
    if (bytes) bytes->assign(out.get(), out.get() + written.bytes);
    return counted;
}

// The same code points in units of the given width.
std::vector<uint8_t> widen(const uint8_t* data, size_t size, uint32_t unit) {
    std::vector<uint8_t> w(size * unit, 0);
    for (size_t i = 0; i < size; ++i) w[i * unit] = data[i];
    return w;
}

void fuzz_decoders(const uint8_t* data, size_t size) {
    for (uint32_t base : BASES) {
        std::vector<uint8_t> narrow;
        base_codecs::Decoded d1 = decode_checked(base, data, uint32_t(size), 1, &narrow);
        for (uint32_t unit : {2u, 4u}) {
            std::vector<uint8_t> wide = widen(data, size, unit);
            std::vector<uint8_t> bytes;
            base_codecs::Decoded d = decode_checked(base, wide.data(), uint32_t(size), unit, &bytes);
            check(d.ok == d1.ok);
            if (d.ok)
                check(bytes == narrow);
            else
                check(d.error_at == d1.error_at);
        }
        // A code unit above 127 is never a digit.
        if (size >= 2) {
            std::vector<uint8_t> wide = widen(data, size, 2);
            wide[1] = 0x01;  // the first unit becomes 256 + its low byte
            base_codecs::Decoded d = decode_checked(base, wide.data(), uint32_t(size), 2, nullptr);
            check(!d.ok && d.error_at == 0);
        }
    }
}

void fuzz_round_trip(const uint8_t* data, size_t size) {
    for (uint32_t base : BASES) {
        if (base == 58 && size > 128) continue;  // quadratic: keep runs fast
        size_t room = size_t(base_codecs::encode_room(base, size));
        std::unique_ptr<uint8_t[]> text(new uint8_t[room ? room : 1]);
        uint32_t n = base_codecs::encode(base, data, uint32_t(size), text.get());
        check(n <= room);
        if (base != 58) check(n == room);
        std::vector<uint8_t> back;
        base_codecs::Decoded d = decode_checked(base, text.get(), n, 1, &back);
        check(d.ok && back.size() == size && (size == 0 || std::memcmp(back.data(), data, size) == 0));
    }
}

void fuzz_percent(const uint8_t* data, size_t size) {
    const uint8_t* end = data + size;
    percent_coding::Measure m = percent_coding::measure(data, end);
    if (!m.ok) {
        check(m.error_at < size);
    } else {
        uint32_t chars = 0;
        for (const uint8_t* p = data; p < end; ++chars) {
            uint32_t cp;
            const uint8_t* q = percent_coding::decode_char(p, end, &cp);
            check(q && q > p && q <= end && cp <= 0x10FFFF && cp <= m.widest);
            p = q;
        }
        check(chars == m.chars);
    }
    // Encoding every byte and decoding gives the bytes back as characters
    // when the input is valid UTF-8 without escapes.
    std::vector<uint8_t> encoded;
    for (size_t i = 0; i < size; ++i) {
        uint8_t buf[3];
        int k = percent_coding::encode_byte(percent_coding::GENERAL, data[i], buf);
        check(k == 1 || k == 3);
        encoded.insert(encoded.end(), buf, buf + k);
    }
    const uint8_t* ee = encoded.data() + encoded.size();
    percent_coding::Measure me = percent_coding::measure(encoded.data(), ee);
    bool plain = std::memchr(data, '%', size) == nullptr;
    if (plain && m.ok) {
        check(me.ok && me.chars == m.chars);
        const uint8_t* p = data;
        const uint8_t* q = encoded.data();
        while (p < end) {
            uint32_t a, b;
            p = percent_coding::decode_char(p, end, &a);
            q = percent_coding::decode_char(q, ee, &b);
            check(a == b);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    fuzz_decoders(data, size);
    fuzz_round_trip(data, size);
    fuzz_percent(data, size);
    return 0;
}
