#include "runtime/random.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/lowlevel.h"

namespace kiv::random {

namespace {

constexpr int N = 624;
constexpr int M = 397;
constexpr uint32_t MATRIX = 0x9908B0DFu;
constexpr uint32_t UPPER_MASK = 0x80000000u;
constexpr uint32_t LOWER_MASK = 0x7FFFFFFFu;
constexpr uint32_t MULTIPLIER = 1812433253u;

uint32_t* mt = nullptr;  // N words in the tracked heap
int index = N + 1;       // next word to use; N: twist first; N + 1: no state yet

// Arithmetic right shift of a word taken as signed.
inline uint32_t sar(uint32_t x, int n) { return static_cast<uint32_t>(static_cast<int32_t>(x) >> n); }

void ensure_state() {
    if (!mt) mt = static_cast<uint32_t*>(lowlevel::allocate(N * sizeof(uint32_t)));
}

inline uint32_t twisted(uint32_t current, uint32_t following, uint32_t partner) {
    uint32_t y = (current & UPPER_MASK) | (following & LOWER_MASK);
    return partner ^ sar(y, 1) ^ ((y & 1u) ? MATRIX : 0u);
}

void twist() {
    int k = 0;
    for (; k < N - M; ++k) mt[k] = twisted(mt[k], mt[k + 1], mt[k + M]);
    for (; k < N - 1; ++k) mt[k] = twisted(mt[k], mt[k + 1], mt[k + M - N]);
    mt[N - 1] = twisted(mt[N - 1], mt[0], mt[M - 1]);
    index = 0;
}

// ---- Secure source ----------------------------------------------------------------
//
// Bytes come from getrandom(2) in batches so that long runs of secure draws do
// not cost a system call each; a word is wiped from the pool once handed out.

constexpr size_t POOL_WORDS = 64;
uint32_t pool[POOL_WORDS];
size_t pool_left = 0;

bool read_urandom(void* buffer, size_t size) {
    int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    auto* p = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, p + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    return got == size;
}

void refill_pool() {
    auto* p = reinterpret_cast<uint8_t*>(pool);
    size_t got = 0;
    while (got < sizeof pool) {
        ssize_t n = ::getrandom(p + got, sizeof pool - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == ENOSYS && read_urandom(p + got, sizeof pool - got)) break;
            fire({"internal", "feature-na"});
        }
        got += static_cast<size_t>(n);
    }
    pool_left = POOL_WORDS;
}

// The process's hash-table key: 16 bytes from getrandom(2) (not waiting
// for the entropy pool), else /dev/urandom, else the clock, the process id
// and addresses mixed together (a key that is merely unpredictable enough).
hashtable::HashKey draw_hash_key() {
    hashtable::HashKey k{};
    if (::getrandom(&k, sizeof k, GRND_NONBLOCK) == ssize_t(sizeof k)) return k;
    if (read_urandom(&k, sizeof k)) return k;
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t a = uint64_t(ts.tv_nsec) ^ uint64_t(ts.tv_sec) << 30 ^ uint64_t(::getpid()) << 48;
    uint64_t b = uint64_t(reinterpret_cast<uintptr_t>(&k)) ^ uint64_t(reinterpret_cast<uintptr_t>(&pool));
    auto mix = [](uint64_t x) {
        x ^= x >> 33;
        x *= 0xFF51AFD7ED558CCDull;
        x ^= x >> 33;
        x *= 0xC4CEB9FE1A85EC53ull;
        return x ^ (x >> 33);
    };
    return {mix(a ^ mix(b)), mix(b + 0x9E3779B97F4A7C15ull) ^ mix(a)};
}

}  // namespace

void init() {
    ensure_state();
    seed(STARTUP_SEED);
    hashtable::set_seed(HASH_SEED);
    // Drawn once per process: tables made since a first call keep their key.
    static bool key_drawn = false;
    if (!key_drawn) {
        hashtable::set_key(draw_hash_key());
        key_drawn = true;
    }
}

void seed(uint32_t s) {
    ensure_state();
    mt[0] = s;
    for (int i = 1; i < N; ++i) {
        uint32_t prev = mt[i - 1];
        mt[i] = MULTIPLIER * (prev ^ sar(prev, 30)) + static_cast<uint32_t>(i);
    }
    index = 0;  // the first output is the seed word itself, tempered
}

uint32_t next() {
    if (index >= N) [[unlikely]] {
        if (mt && index == N) {
            twist();
        } else {
            seed(STARTUP_SEED);
        }
    }
    uint32_t y = mt[index++];
    y ^= sar(y, 11);
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= sar(y, 18);  // clears bit 31: y and its sign copy agree there
    return y;
}

int32_t secure_int() {
    if (pool_left == 0) refill_pool();
    uint32_t& slot = pool[--pool_left];
    uint32_t v = slot;
    slot = 0;
    return static_cast<int32_t>(v & 0x7FFFFFFFu);
}

int32_t int_(int32_t n, bool secure) {
    if (n == 0) return 0;
    auto draw = [secure]() -> uint32_t { return secure ? static_cast<uint32_t>(secure_int()) : next(); };
    // The smallest integer has no positive counterpart: -1 - d covers
    // -2^31..-1 with one draw.
    if (n == INT32_MIN) return -1 - static_cast<int32_t>(draw());
    const bool negative = n < 0;
    const uint32_t m = static_cast<uint32_t>(negative ? -n : n);
    const uint32_t limit = (0x7FFFFFFFu / m) * m;
    uint32_t d;
    do {
        d = draw();
    } while (d >= limit);
    const int32_t r = static_cast<int32_t>(d % m) + 1;
    return negative ? -r : r;
}

}  // namespace kiv::random
