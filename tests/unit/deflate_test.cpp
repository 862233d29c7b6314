// The DEFLATE codec against the reference library (linked into this test
// only) and Python's zlib/gzip modules: streams of every kind written by
// them are read, our streams are read by them, and damaged input is refused.
#include "runtime/deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "runtime/checksum.h"

using namespace kiv;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes read_file(const std::string& name) {
    std::ifstream f(std::string(KIV_SOURCE_DIR) + "/tests/data/deflate/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

Bytes bytes_of(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

using Codec = deflate::Result (*)(uint8_t*, uint32_t*, const uint8_t*, uint32_t);

// Runs a codec as the natives do: a sizing pass, then the real run.
deflate::Result run(Codec codec, const Bytes& in, Bytes* out) {
    uint32_t size = 0;
    deflate::Result r = codec(nullptr, &size, in.data(), uint32_t(in.size()));
    if (r != deflate::OK && r != deflate::TOO_SMALL) return r;
    out->assign(size + 16, 0xEE);
    uint32_t cap = size;
    r = codec(out->data(), &cap, in.data(), uint32_t(in.size()));
    // Nothing past the capacity is touched.
    for (size_t i = size; i < out->size(); ++i) EXPECT_EQ((*out)[i], 0xEE);
    out->resize(r == deflate::OK ? cap : 0);
    return r;
}

Bytes compress_with(Codec codec, const Bytes& in) {
    Bytes out;
    uint32_t size = uint32_t(in.size()) + 32;
    out.resize(size);
    deflate::Result r = codec(out.data(), &size, in.data(), uint32_t(in.size()));
    if (r == deflate::TOO_SMALL) {
        out.resize(size);
        r = codec(out.data(), &size, in.data(), uint32_t(in.size()));
    }
    EXPECT_EQ(r, deflate::OK);
    out.resize(size);
    return out;
}

// The reference library's inflate; window bits -15 raw, 15 zlib, 31 gzip.
bool ref_inflate(const Bytes& in, int window_bits, Bytes* out) {
    z_stream s{};
    if (inflateInit2(&s, window_bits) != Z_OK) return false;
    out->assign(in.size() * 1100 + 1024, 0);
    s.next_in = const_cast<Bytef*>(in.data());
    s.avail_in = uInt(in.size());
    s.next_out = out->data();
    s.avail_out = uInt(out->size());
    const int r = inflate(&s, Z_FINISH);
    out->resize(s.total_out);
    inflateEnd(&s);
    return r == Z_STREAM_END;
}

// The reference library's deflate with a level and strategy.
Bytes ref_deflate(const Bytes& in, int level, int strategy, int window_bits) {
    z_stream s{};
    deflateInit2(&s, level, Z_DEFLATED, window_bits, 8, strategy);
    Bytes out(deflateBound(&s, uLong(in.size())) + 64);
    s.next_in = const_cast<Bytef*>(in.data());
    s.avail_in = uInt(in.size());
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    ::deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

// Inputs of every character: text, long runs, random bytes, and bytes
// 144-255 only (9-bit literals, so the output outgrows the input).
std::vector<Bytes> sample_inputs() {
    std::vector<Bytes> v;
    v.push_back({});
    v.push_back(bytes_of("a"));
    v.push_back(bytes_of("abcabcabcabc"));
    v.push_back(read_file("fox.bin"));
    v.push_back(Bytes(100000, 'z'));
    std::mt19937 rng(7);
    Bytes random(70000);
    for (auto& b : random) b = uint8_t(rng());
    v.push_back(random);
    Bytes high(5000);
    for (auto& b : high) b = uint8_t(144 + rng() % 112);
    v.push_back(high);
    // Repeats farther apart than the window, and at its edge.
    Bytes far;
    for (int k = 0; k < 3; ++k) {
        Bytes chunk(40000);
        std::mt19937 r2(k % 2);
        for (auto& b : chunk) b = uint8_t(r2() % 7 + 'a');
        far.insert(far.end(), chunk.begin(), chunk.end());
    }
    v.push_back(far);
    return v;
}

// A decoder of fixed-code blocks that lists the tokens, to check what the
// encoder chose: "c" for a literal, "<len,dist>" for a copy.
std::string tokens(const Bytes& s) {
    size_t bit = 0;
    auto get = [&](int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit) v |= uint32_t((s[bit >> 3] >> (bit & 7)) & 1) << i;
        return v;
    };
    auto huff = [&](int n) {  // n bits, most significant first
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 1 | get(1);
        return v;
    };
    static const int lbase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int lextra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const int dbase[] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    std::string out;
    EXPECT_EQ(get(3), 3u);  // final, fixed codes
    for (;;) {
        uint32_t c = huff(7), sym;
        if (c <= 23) {
            sym = 256 + c;
        } else {
            c = c << 1 | get(1);
            if (c >= 0x30 && c <= 0xBF) {
                sym = c - 0x30;
            } else if (c >= 0xC0 && c <= 0xC7) {
                sym = 280 + c - 0xC0;
            } else {
                sym = 144 + ((c << 1 | get(1)) - 0x190);
            }
        }
        if (sym == 256) break;
        if (sym < 256) {
            out += char(sym);
            continue;
        }
        const int len = lbase[sym - 257] + int(get(lextra[sym - 257]));
        const uint32_t ds = huff(5);
        const int dist = dbase[ds] + int(get(ds < 4 ? 0 : int(ds / 2 - 1)));
        out += "<" + std::to_string(len) + "," + std::to_string(dist) + ">";
    }
    return out;
}

}  // namespace

TEST(Checksums, KnownValues) {
    const Bytes s = bytes_of("123456789");
    EXPECT_EQ(checksum::crc32(0, s.data(), s.size()), 0xCBF43926u);
    EXPECT_EQ(checksum::adler32(1, s.data(), s.size()), 0x091E01DEu);
    const Bytes big = sample_inputs()[5];
    EXPECT_EQ(checksum::crc32(0, big.data(), big.size()), crc32(0, big.data(), uInt(big.size())));
    EXPECT_EQ(checksum::adler32(1, big.data(), big.size()), adler32(1, big.data(), uInt(big.size())));
}

// ---- Encoder ---------------------------------------------------------------------------

TEST(DeflateEncoder, EmptyInputIsTheBlockHeaderAndEndCode) {
    EXPECT_EQ(compress_with(deflate::compress, {}), (Bytes{0x03, 0x00}));
}

// The first three bytes are literals; a stored position 0 counts as an
// empty slot, so the first copy starts at position 4.
TEST(DeflateEncoder, ChoosesMatchesByTheBucketRules) {
    EXPECT_EQ(tokens(compress_with(deflate::compress, bytes_of("abcabcabcabc"))), "abca<8,3>");
    EXPECT_EQ(tokens(compress_with(deflate::compress, bytes_of("aaaaaa"))), "aaa<3,1>");
    // A run: three literals, then copies of at most 258 bytes; each copy's
    // start is the position stored, so the next copy reaches back to it.
    EXPECT_EQ(tokens(compress_with(deflate::compress, Bytes(1000, 'a'))),
              "aaa<258,1><258,258><258,258><223,258>");
    // Two bytes left at the end are literals.
    EXPECT_EQ(tokens(compress_with(deflate::compress, bytes_of("xyzxyzq"))), "xyzxyzq");
}

// Every output is a stream the reference library inflates, in each framing.
TEST(DeflateEncoder, OutputInflatesElsewhere) {
    for (const Bytes& in : sample_inputs()) {
        Bytes back;
        ASSERT_TRUE(ref_inflate(compress_with(deflate::compress, in), -15, &back));
        EXPECT_EQ(back, in);
        ASSERT_TRUE(ref_inflate(compress_with(deflate::zlib_compress, in), 15, &back));
        EXPECT_EQ(back, in);
        ASSERT_TRUE(ref_inflate(compress_with(deflate::gzip_compress, in), 31, &back));
        EXPECT_EQ(back, in);
    }
}

// Incompressible input needs more than input + 32 bytes: the size reported
// on overflow is the full size, so one retry always succeeds.
TEST(DeflateEncoder, OverflowReportsTheFullSize) {
    const Bytes high = sample_inputs()[6];
    for (Codec c : {deflate::compress, deflate::zlib_compress, deflate::gzip_compress}) {
        Bytes out(high.size() + 32);
        uint32_t size = uint32_t(out.size());
        ASSERT_EQ(c(out.data(), &size, high.data(), uint32_t(high.size())), deflate::TOO_SMALL);
        EXPECT_GT(size, high.size() + 32);
        Bytes exact(size);
        uint32_t again = size;
        ASSERT_EQ(c(exact.data(), &again, high.data(), uint32_t(high.size())), deflate::OK);
        EXPECT_EQ(again, size);
    }
    // Less room than the framing's overhead.
    Bytes tiny(4);
    uint32_t size = 4;
    EXPECT_EQ(deflate::zlib_compress(tiny.data(), &size, high.data(), 100), deflate::BAD_DATA);
    EXPECT_EQ(size, 106u);
}

TEST(DeflateEncoder, Framings) {
    const Bytes z = compress_with(deflate::zlib_compress, bytes_of("hello"));
    EXPECT_EQ(z[0], 0x78);
    EXPECT_EQ(z[1], 0x01);
    const Bytes g = compress_with(deflate::gzip_compress, bytes_of("hello"));
    EXPECT_EQ(Bytes(g.begin(), g.begin() + 10), (Bytes{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 4, 4}));
    // A gzip member is compressed again like any other input: it comes back
    // whole from the new member.
    const Bytes gg = compress_with(deflate::gzip_compress, g);
    EXPECT_NE(gg, g);
    Bytes back;
    ASSERT_TRUE(ref_inflate(gg, 31, &back));
    EXPECT_EQ(back, g);
}

// Our streams read by Python's zlib and gzip modules, when Python is here.
TEST(DeflateEncoder, PythonReadsOurStreams) {
    if (std::system("python3 -c 'import zlib, gzip' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
    const Bytes in = read_file("fox.bin");
    const std::string dir = testing::TempDir();
    auto write = [&](const std::string& name, const Bytes& b) {
        std::ofstream(dir + name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
    };
    write("in.bin", in);
    write("out.zlib", compress_with(deflate::zlib_compress, in));
    write("out.gz", compress_with(deflate::gzip_compress, in));
    write("out.raw", compress_with(deflate::compress, in));
    const std::string cmd = "cd " + dir +
                            " && python3 -c \"import zlib, gzip; d = open('in.bin','rb').read(); "
                            "assert zlib.decompress(open('out.zlib','rb').read()) == d; "
                            "assert gzip.decompress(open('out.gz','rb').read()) == d; "
                            "assert zlib.decompress(open('out.raw','rb').read(), -15) == d\"";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

// ---- Decoder ---------------------------------------------------------------------------

TEST(Inflate, ReadsPythonStreams) {
    const Bytes expected = read_file("fox.bin");
    struct Case {
        const char* file;
        Codec codec;
    };
    for (const Case& c : {Case{"fox.bin.gz", deflate::gunzip}, Case{"fox.bin.zlib", deflate::zlib_decompress},
                          Case{"fox.bin.stored.zlib", deflate::zlib_decompress},
                          Case{"fox.bin.fixed.deflate", deflate::decompress}}) {
        Bytes out;
        EXPECT_EQ(run(c.codec, read_file(c.file), &out), deflate::OK) << c.file;
        EXPECT_EQ(out, expected) << c.file;
    }
}

// Streams of every level and strategy: stored, fixed and dynamic blocks,
// several blocks, long and short codes.
TEST(Inflate, ReadsEveryBlockKind) {
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    for (const Bytes& in : sample_inputs()) {
        for (int level : {0, 1, 6, 9}) {
            for (int strategy : strategies) {
                Bytes out;
                ASSERT_EQ(run(deflate::decompress, ref_deflate(in, level, strategy, -15), &out), deflate::OK);
                EXPECT_EQ(out, in);
                ASSERT_EQ(run(deflate::zlib_decompress, ref_deflate(in, level, strategy, 15), &out),
                          deflate::OK);
                EXPECT_EQ(out, in);
                ASSERT_EQ(run(deflate::gunzip, ref_deflate(in, level, strategy, 31), &out), deflate::OK);
                EXPECT_EQ(out, in);
            }
        }
    }
}

// With too little room the decoder reports the full size and writes nothing
// past the capacity; bytes after the final block are ignored.
TEST(Inflate, CapacityAndTrailingBytes) {
    const Bytes in = read_file("fox.bin");
    Bytes raw = ref_deflate(in, 9, Z_DEFAULT_STRATEGY, -15);
    for (uint32_t cap : {0u, 1u, 100u, uint32_t(in.size()) - 1}) {
        Bytes out(cap + 8, 0xEE);
        uint32_t size = cap;
        EXPECT_EQ(deflate::decompress(out.data(), &size, raw.data(), uint32_t(raw.size())),
                  deflate::TOO_SMALL);
        EXPECT_EQ(size, in.size());
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + cap, in.begin()));
        for (uint32_t i = cap; i < cap + 8; ++i) EXPECT_EQ(out[i], 0xEE);
    }
    raw.push_back(0x55);
    Bytes out;
    EXPECT_EQ(run(deflate::decompress, raw, &out), deflate::OK);
    EXPECT_EQ(out, in);
}

// Every cut of a stream is refused, never returned as a shorter success.
TEST(Inflate, TruncatedStreamsAreErrors) {
    const Bytes in = read_file("fox.bin");
    for (int level : {0, 1, 9}) {
        for (int wb : {-15, 15, 31}) {
            const Bytes full = ref_deflate(in, level, Z_DEFAULT_STRATEGY, wb);
            const Codec codec = wb < 0    ? deflate::decompress
                                : wb < 16 ? deflate::zlib_decompress
                                          : deflate::gunzip;
            for (size_t cut = 0; cut < full.size(); ++cut) {
                Bytes out;
                EXPECT_NE(run(codec, Bytes(full.begin(), full.begin() + cut), &out), deflate::OK)
                    << "level " << level << " window " << wb << " cut " << cut;
            }
        }
    }
}

TEST(Inflate, DamagedDataIsRefused) {
    struct Case {
        const char* what;
        Bytes stream;
        deflate::Result expected;
    };
    const Case cases[] = {
        // Stored block, LEN 1, NLEN not its complement.
        {"bad NLEN", {0x01, 0x01, 0x00, 0xFF, 0xFF, 'x'}, deflate::BAD_DATA},
        {"stored past the input", {0x01, 0x05, 0x00, 0xFA, 0xFF, 'x'}, deflate::STORED_PAST_INPUT},
        {"reserved block type", {0x07, 0x00}, deflate::RESERVED_BLOCK},
        // Fixed block: a copy of 3 at distance 1 with nothing before it.
        {"distance before the start", {0x03, 0x02, 0x00}, deflate::BAD_DISTANCE},
        // Fixed block: distance code 30.
        {"distance code 30", {0x03, 0x3E, 0x00}, deflate::BAD_DATA},
        // Dynamic block whose code-length code over-subscribes.
        {"over-subscribed code", {0x05, 0x00, 0x92, 0x04, 0x00, 0x00}, deflate::BAD_DATA},
        {"empty input", {}, deflate::BAD_DATA},
    };
    for (const Case& c : cases) {
        Bytes out;
        EXPECT_EQ(run(deflate::decompress, c.stream, &out), c.expected) << c.what;
    }
}

TEST(Inflate, ZlibFramingChecks) {
    const Bytes good = ref_deflate(bytes_of("hello hello"), 6, Z_DEFAULT_STRATEGY, 15);
    Bytes out;
    ASSERT_EQ(run(deflate::zlib_decompress, good, &out), deflate::OK);
    Bytes bad = good;
    bad.back() ^= 1;  // Adler-32
    EXPECT_EQ(run(deflate::zlib_decompress, bad, &out), deflate::BAD_DATA);
    bad = good;
    bad[1] ^= 1;  // header check
    EXPECT_EQ(run(deflate::zlib_decompress, bad, &out), deflate::BAD_DATA);
    // Preset dictionary flag (header still a multiple of 31).
    EXPECT_EQ(run(deflate::zlib_decompress, Bytes{0x78, 0xBB, 3, 0, 0, 0, 0, 1}, &out), deflate::BAD_DATA);
}

TEST(Inflate, GzipHeaderFields) {
    const Bytes in = bytes_of("some text");
    const Bytes raw = compress_with(deflate::compress, in);
    // Every optional field at once: extra, name, comment, header CRC.
    Bytes g = {0x1F, 0x8B, 8, 2 | 4 | 8 | 16, 0, 0, 0, 0, 0, 3, 3, 0, 'a', 'b', 'c'};
    for (char ch : std::string("name.txt")) g.push_back(uint8_t(ch));
    g.push_back(0);
    for (char ch : std::string("a comment")) g.push_back(uint8_t(ch));
    g.push_back(0);
    const uint32_t hcrc = checksum::crc32(0, g.data(), g.size());
    g.push_back(uint8_t(hcrc));
    g.push_back(uint8_t(hcrc >> 8));
    g.insert(g.end(), raw.begin(), raw.end());
    const uint32_t crc = checksum::crc32(0, in.data(), in.size());
    for (uint32_t v : {crc, uint32_t(in.size())})
        for (int k = 0; k < 4; ++k) g.push_back(uint8_t(v >> (8 * k)));
    Bytes out;
    ASSERT_EQ(run(deflate::gunzip, g, &out), deflate::OK);
    EXPECT_EQ(out, in);

    auto damaged = [&](size_t at, uint8_t value) {
        Bytes d = g;
        d[at] = value;
        return run(deflate::gunzip, d, &out);
    };
    EXPECT_EQ(damaged(3, 32 | 8), deflate::BAD_DATA);         // reserved flag
    EXPECT_EQ(damaged(15, 'X'), deflate::BAD_DATA);           // header CRC no longer matches
    EXPECT_EQ(damaged(g.size() - 8, 0), deflate::BAD_DATA);   // data CRC
    EXPECT_EQ(damaged(g.size() - 4, 99), deflate::BAD_DATA);  // stated size
    // A name that never ends.
    Bytes unended = {0x1F, 0x8B, 8, 8, 0, 0, 0, 0, 0, 3};
    unended.insert(unended.end(), 30, 'n');
    EXPECT_EQ(run(deflate::gunzip, unended, &out), deflate::BAD_DATA);
}

// A stated size is never believed beyond what the member could produce:
// a 20-byte member claiming 4 GB is refused before any allocation.
TEST(Inflate, GzipStatedSizeIsBounded) {
    Bytes g = compress_with(deflate::gzip_compress, {});
    g[g.size() - 1] = 0xFF;
    uint32_t size = 0;
    EXPECT_EQ(deflate::gunzip(nullptr, &size, g.data(), uint32_t(g.size())), deflate::BAD_DATA);
    // A real expansion of a thousandfold is believed.
    const Bytes zeros(1 << 20, 0);
    const Bytes bomb = ref_deflate(zeros, 9, Z_DEFAULT_STRATEGY, 31);
    size = 0;
    EXPECT_EQ(deflate::gunzip(nullptr, &size, bomb.data(), uint32_t(bomb.size())), deflate::TOO_SMALL);
    EXPECT_EQ(size, zeros.size());
}
