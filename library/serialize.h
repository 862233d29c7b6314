// The serialization format (".kivbin"): any tree of values, shared and
// cyclic series included, as bytes.
//
// Header (8 bytes): "KIVBIN", a version byte (2 when written here; ignored
// when read) and a flag byte: bit 0 the compact layout (else the fixed-width
// one), bit 1 the rest is an LZ stream (runtime/lz.h), bit 2 a symbol table
// is present. The compact layout (serialize.cpp) is varints, one header byte
// per value and a symbol table shared by every word-like value; a series,
// object or map met a second time is written as the path of positions to
// its first occurrence, so sharing and cycles survive a round trip.
//
// The reader treats every byte as hostile: a type id that is not a type
// with a payload rule, a symbol or word index beyond its table or context, a
// path to nothing, any count or length past the input, a value that breaks
// its type's rules (a datatype id with no type, money digits that are not
// decimal, a day its month does not have, a time out of range, a head index
// past its series) raise script `kb-invalid-record` with the 1-based byte
// position where reading failed (for a read past the end, the first missing
// byte); nothing is read outside the buffer and nothing is made for a
// declared size larger than the bytes that could hold it. Values whose types the format
// refuses (routine!, triple!, handle!, port!, event!) raise access
// `no-codec` with the datatype, when encoding and when decoding. A function! comes back rebuilt from its
// spec (which must give the words of its context), its body's words bound
// to the new function; an op! from what it wraps; an object's change hooks
// with it.
//
// Encoding never allocates a series until the bytes are complete, so it may
// read values in place. Decoding allocates: each container is appended to
// its parent before its contents are decoded, which keeps every new series
// reachable through the target block (the caller keeps that block rooted).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::kivbin {

enum Mode : uint32_t { BOOT = 0, LOAD = 1 };

// Flags of the header's flag byte.
constexpr uint8_t FLAG_COMPACT = 1;
constexpr uint8_t FLAG_COMPRESSED = 2;
constexpr uint8_t FLAG_SYMBOLS = 4;

// The largest decompressed size a compressed buffer may declare.
constexpr uint32_t MAX_DECOMPRESSED = 0x40000000;

// Writes `value` in the compact layout into `out` (any cell; it becomes a
// new binary! holding the bytes). The symbol table is written when asked
// and whenever a word-like value needs it.
Cell* encode_cp(const Cell* value, Cell* out, bool symbols);
// The same in the fixed-width layout (32-bit words; a float's record starts
// at a multiple of 8 bytes of the payload, after zero padding words).
Cell* encode(const Cell* value, Cell* out, bool symbols);

// Decodes a serialized buffer and appends every top-level value to the
// block `target` (which must stay reachable). `length` bounds the buffer.
// The bytes are copied first, so `buffer` may point into a series. A bad
// magic raises script `invalid-data`, in boot mode too (a start-up caller
// reports it and ends the process with a failure status).
void decode(const uint8_t* buffer, uint32_t length, const Cell* target, Mode mode);

// ---- The boot image ----------------------------------------------------------------------
// Writes a boot image: the compact layout with a symbol table, version 1.
// `assignments` is a block of word/value pairs, each written as an
// assignment record (boot mode binds the word in the global context and
// sets it; neither takes a place in the literal table); then every value
// of `literals` is written as a top-level record.
Cell* encode_boot(const Cell* assignments, const Cell* literals, Cell* out);

// Decodes a boot image in boot mode into the root block, with the
// collector switched off: assignments set their words, the other values
// are appended and form the literal table, whose base is set (and, with
// `keep_literals`, restored afterwards, so a nested decode leaves the
// outer table in force). The bytes are read in place and must stay put.
// Returns the root position of literal 0 and stores the literal count.
// A bad magic or compressed data that does not decompress raises script
// `invalid-data`; malformed records raise `kb-invalid-record`.
uint32_t load_boot(const uint8_t* image, uint32_t size, bool keep_literals, uint32_t* count);

// True for the types a by-reference record may give.
bool series_kind(uint32_t type);

}  // namespace kiv::kivbin
