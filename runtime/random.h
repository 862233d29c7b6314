// The language's random numbers: one process-wide Mersenne-Twister generator
// and the system's cryptographic source, under one uniform integer draw that
// every datatype's `random` action uses.
//
// The generator has MT19937's parameters (624 words, M = 397, matrix
// 0x9908B0DF, tempering masks 0x9D2C5680 / 0xEFC60000, shifts 11, 7, 15, 18)
// but is its own variant, and its outputs are part of the language (a seeded
// program draws the same numbers everywhere):
//   - words are signed 32-bit: every right shift in seeding, twisting and
//     tempering is arithmetic (copies the sign bit);
//   - seeding leaves the index at 0, so the first output after seeding with s
//     is s tempered; the first twist comes after 624 outputs;
//   - tempering ends by clearing bit 31, so every output is 0..2^31-1.
//
// The state (624 words, 2,496 bytes) lives in the tracked heap from init() for
// the rest of the process; seed() overwrites it in place. Start-up seeds with
// 19650218, so an unseeded process always draws the same sequence.
// Main thread only; nothing is locked.
#pragma once

#include <cstdint>

namespace kiv::random {

constexpr uint32_t STARTUP_SEED = 19650218;

// The murmur3 seed fixed for every run. It is a constant, not a draw: seeding
// the generator from a string (`random/seed "text"`) goes through the string's
// hash, and that must give the same sequence in every run.
constexpr uint32_t HASH_SEED = 0x9747B28C;

// Allocates the state, seeds it with STARTUP_SEED, sets the process-wide
// hash seed and, on the first call, draws the hash tables' secret key. Runs
// once at start-up right after the platform layer, before the first hash
// table is made. A second call only reseeds.
void init();

// Reseeds the generator; the next output is `s` tempered.
void seed(uint32_t s);

// The next output, 0..2^31-1. (Allocates the state on first use when init()
// has not run, so tests and tools need not boot the runtime.)
uint32_t next();

// 0..2^31-1 from the system's cryptographic source (getrandom(2)). Raises
// internal feature-na when the system has no such source.
int32_t secure_int();

// A uniform integer: 1..n for n > 0, n..-1 for n < 0, 0 for n = 0; from the
// secure source when `secure`, else from the generator. Draws are rejected
// until one falls below the largest multiple of |n| not above 2^31-1, so no
// value is favoured.
int32_t int_(int32_t n, bool secure);

}  // namespace kiv::random
