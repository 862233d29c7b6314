#include "runtime/digest.h"

#include <openssl/evp.h>

#include <cstring>
#include <memory>

#include "platform/late_library.h"

// The crypto library is opened on the first digest, not at start-up (see
// platform/late_library.h); its calls below go through this table.
static_assert(OPENSSL_VERSION_MAJOR == 3, "digest.cpp opens libcrypto.so.3");

#define KIV_CRYPTO_FUNCTIONS(X) \
    X(EVP_md5)                  \
    X(EVP_sha1)                 \
    X(EVP_sha256)               \
    X(EVP_sha384)               \
    X(EVP_sha512)               \
    X(EVP_MD_CTX_new)           \
    X(EVP_MD_CTX_free)          \
    X(EVP_DigestInit_ex)        \
    X(EVP_DigestUpdate)         \
    X(EVP_DigestFinal_ex)

namespace kiv::digest {

namespace {

struct Table {
    KIV_CRYPTO_FUNCTIONS(KIV_LATE_FIELD)
};
Table table;

}  // namespace

bool available(std::string& why) {
    static platform::LateLibrary library("libcrypto.so.3", "message digests need libcrypto: ");
    return library.load(why, [](platform::LateLibrary& lib) { KIV_CRYPTO_FUNCTIONS(KIV_LATE_RESOLVE) });
}

#define EVP_md5 table.EVP_md5
#define EVP_sha1 table.EVP_sha1
#define EVP_sha256 table.EVP_sha256
#define EVP_sha384 table.EVP_sha384
#define EVP_sha512 table.EVP_sha512
#define EVP_MD_CTX_new table.EVP_MD_CTX_new
#define EVP_MD_CTX_free table.EVP_MD_CTX_free
#define EVP_DigestInit_ex table.EVP_DigestInit_ex
#define EVP_DigestUpdate table.EVP_DigestUpdate
#define EVP_DigestFinal_ex table.EVP_DigestFinal_ex

namespace {

const EVP_MD* algorithm(int method) {
    switch (method) {
        case MD5: return EVP_md5();
        case SHA1: return EVP_sha1();
        case SHA256: return EVP_sha256();
        case SHA384: return EVP_sha384();
        case SHA512: return EVP_sha512();
        default: return nullptr;
    }
}

struct ContextFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

// The digest of up to two byte ranges taken one after the other.
bool digest_of(int method, const uint8_t* a, size_t na, const uint8_t* b, size_t nb, uint8_t* out) {
    std::string why;
    if (!available(why)) return false;
    const EVP_MD* md = algorithm(method);
    if (!md) return false;
    std::unique_ptr<EVP_MD_CTX, ContextFree> ctx(EVP_MD_CTX_new());
    unsigned int written = 0;
    return ctx && EVP_DigestInit_ex(ctx.get(), md, nullptr) == 1 && EVP_DigestUpdate(ctx.get(), a, na) == 1 &&
           (nb == 0 || EVP_DigestUpdate(ctx.get(), b, nb) == 1) &&
           EVP_DigestFinal_ex(ctx.get(), out, &written) == 1 && written == size(method);
}

}  // namespace

size_t size(int method) {
    switch (method) {
        case MD5: return 16;
        case SHA1: return 20;
        case SHA256: return 32;
        case SHA384: return 48;
        case SHA512: return 64;
        default: return 0;
    }
}

size_t block_size(int method) {
    return method == SHA384 || method == SHA512 ? 128 : 64;
}

bool compute(int method, const uint8_t* data, size_t n, uint8_t* out) {
    return digest_of(method, data, n, nullptr, 0, out);
}

bool hmac(int method, const uint8_t* data, size_t n, const uint8_t* key, size_t key_length, uint8_t* out) {
    const size_t block = block_size(method), length = size(method);
    if (length == 0) return false;
    uint8_t hashed_key[MAX_SIZE];
    if (key_length > block) {
        if (!compute(method, key, key_length, hashed_key)) return false;
        key = hashed_key;
        key_length = length;
    }
    uint8_t inner_pad[128] = {}, outer_pad[128] = {};
    if (key_length) {
        std::memcpy(inner_pad, key, key_length);
        std::memcpy(outer_pad, key, key_length);
    }
    for (size_t i = 0; i < block; ++i) {
        inner_pad[i] ^= 0x36;
        outer_pad[i] ^= 0x5C;
    }
    uint8_t inner[MAX_SIZE];
    return digest_of(method, inner_pad, block, data, n, inner) &&
           digest_of(method, outer_pad, block, inner, length, out);
}

}  // namespace kiv::digest
