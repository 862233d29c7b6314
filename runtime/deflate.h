// DEFLATE (raw), with the zlib and gzip framings: our own encoder and decoder.
//
// Every routine works on caller-given buffers and never allocates: `out` with
// the capacity in *out_size on entry; on return *out_size holds the bytes
// produced or, when the result is TOO_SMALL, the full size that would have
// been produced. `out` may be null when the capacity is 0 (a sizing pass).
// Nothing is written past the capacity and no byte outside [in, in + in_len)
// is read, whatever the input holds.
//
// The encoder writes one final block with the fixed Huffman codes, finding
// matches through 1,024 buckets of 4 positions; its output is fixed bit for
// bit by the rules in deflate.cpp. The decoder reads all three block types.
// It reports damaged data (a stream cut short, a stored block whose NLEN is
// not the complement of LEN, a code that no table holds, a distance before
// the output's start) instead of returning what it decoded so far.
#pragma once

#include <cstdint>

namespace kiv::deflate {

enum Result : int {
    OK = 0,
    TOO_SMALL = 1,          // *out_size holds the full size needed
    BAD_DATA = 2,           // malformed, truncated, or a checksum that disagrees
    STORED_PAST_INPUT = 3,  // a stored block longer than the input left
    RESERVED_BLOCK = 4,     // a block of type 3
    BAD_DISTANCE = 5,       // a distance reaching before the output's start
};

// The fixed overheads of the framings.
constexpr uint32_t ZLIB_OVERHEAD = 6;
constexpr uint32_t GZIP_OVERHEAD = 18;

// The largest ratio of output to input a DEFLATE stream can reach (a 258-byte
// copy coded in 2 bits): a bound for sizes that a stream merely states.
constexpr uint64_t MAX_RATIO = 1032;

Result compress(uint8_t* out, uint32_t* out_size, const uint8_t* in, uint32_t in_len);
Result decompress(uint8_t* out, uint32_t* out_size, const uint8_t* in, uint32_t in_len);

// zlib: header 78 01, the DEFLATE data, the Adler-32 of the data (big-endian).
// The compressor answers BAD_DATA, with *out_size = in_len + 6, when the
// capacity is below the overhead.
Result zlib_compress(uint8_t* out, uint32_t* out_size, const uint8_t* in, uint32_t in_len);
Result zlib_decompress(uint8_t* out, uint32_t* out_size, const uint8_t* in, uint32_t in_len);

// gzip: one member with a 10-byte header (no name, no time), the DEFLATE
// data, CRC-32 and size (little-endian). Input that already is a gzip member
// is copied unchanged. The compressor answers BAD_DATA, with
// *out_size = in_len + 18, when the capacity is below the overhead.
Result gzip_compress(uint8_t* out, uint32_t* out_size, const uint8_t* in, uint32_t in_len);
// Reads one member; header flags (extra field, name, comment, header CRC)
// are honoured. A stated size larger than the member could produce is
// BAD_DATA; a capacity below the stated size gives TOO_SMALL with that size,
// without decoding.
Result gunzip(uint8_t* out, uint32_t* out_size, const uint8_t* in, uint32_t in_len);

}  // namespace kiv::deflate
