// Message digests (MD5, SHA-1, SHA-256, SHA-384, SHA-512) through the
// system's crypto library, and HMAC (RFC 2104) built on them.
//
// Methods are numbered by their codes in the `checksum` native; a failure of
// the library, or a library that cannot be loaded, is reported (false),
// never papered over with the bytes that happened to be in the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kiv::digest {

enum Method : int { MD5 = 2, SHA1 = 3, SHA256 = 4, SHA384 = 5, SHA512 = 6 };

constexpr size_t MAX_SIZE = 64;

// Opens the crypto library on first use (it is not linked into the
// executable); false, with the loader's reason in `why`, when it cannot be
// loaded. compute and hmac call it themselves and answer false then.
bool available(std::string& why);

// Digest bytes of a method code (16, 20, 32, 48, 64); 0 for another code.
size_t size(int method);
// HMAC block bytes: 128 for SHA-384 and SHA-512, else 64.
size_t block_size(int method);

// The digest of n bytes into out (size(method) bytes). False when the method
// is unknown or the library fails.
bool compute(int method, const uint8_t* data, size_t n, uint8_t* out);

// HMAC of the data under the key into out (size(method) bytes). A key longer
// than the block is first replaced by its digest.
bool hmac(int method, const uint8_t* data, size_t n, const uint8_t* key, size_t key_length, uint8_t* out);

}  // namespace kiv::digest
