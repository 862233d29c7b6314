#include "runtime/arena.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>

namespace kiv::arena {

namespace {
uint64_t reserved_size = 0;

// The address space the process may still map: the soft RLIMIT_AS less the
// mappings made so far (libraries, the C heap); unlimited when there is no
// limit.
uint64_t address_space_left() {
    struct rlimit rl;
    if (getrlimit(RLIMIT_AS, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    uint64_t used = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        unsigned long long pages = 0;
        if (std::fscanf(f, "%llu", &pages) == 1) used = pages * uint64_t(sysconf(_SC_PAGESIZE));
        std::fclose(f);
    }
    return rl.rlim_cur > used ? rl.rlim_cur - used : 0;
}

// Reserves the range (unused pages cost nothing until committed): 4 GiB, or
// under an address-space limit half of what the limit leaves, smaller again
// while the system refuses, down to MIN_RESERVED_BYTES.
uint8_t* reserve() {
    uint64_t left = address_space_left();
    uint64_t size = left == UINT64_MAX ? RESERVED_BYTES : std::min(RESERVED_BYTES, left / 2);
    size &= ~uint64_t(PAGE_SIZE - 1);
    for (; size >= MIN_RESERVED_BYTES; size = (size / 2) & ~uint64_t(PAGE_SIZE - 1)) {
        void* p = mmap(nullptr, size + PAGE_SIZE, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p != MAP_FAILED) {
            reserved_size = size;
            return static_cast<uint8_t*>(p);
        }
    }
    std::fputs("*** cannot reserve the series arena\n", stderr);
    std::exit(94);
}
}  // namespace

uint8_t* const base = reserve();
const uint64_t reserved_bytes = reserved_size;

namespace {
// Free page ranges below the high-water mark, keyed by start offset, so that
// neighbours coalesce and the lowest fitting range is taken first (blocks stay
// in address order, which the series-frame list relies on).
std::map<uint64_t, uint64_t> free_ranges;
// Blocks handed out, start -> rounded length. A release must name one of them
// exactly, so a double release or a stray offset can never free pages twice.
std::map<uint64_t, uint64_t> used_blocks;
uint64_t high_water = PAGE_SIZE;  // page 0 stays unused so that offset 0 is null
uint64_t committed = 0;
// Released blocks not yet free (set_quarantine), oldest first.
std::deque<std::pair<uint64_t, uint64_t>> quarantined;
uint64_t quarantined_bytes = 0;
uint64_t quarantine_limit = 0;
// Released blocks kept committed and accessible, keyed by start offset, for
// the next alloc_pages: a series frame emptied by one collection and needed
// again after the next, or a node frame released and soon made again, then
// costs one memset instead of a page fault for each of its pages (a fault
// costs far more than clearing the page). Never while a quarantine is in
// force, whose released pages must fault. Kept pages stay resident, so
// only a little is kept: node frames and small series frames; the series
// frames a collection releases are those the growth policy no longer
// wants, and their pages go back to the system.
std::map<uint64_t, uint64_t> kept_ranges;
uint64_t kept_bytes = 0;
constexpr uint64_t KEEP_LIMIT = uint64_t(1) << 20;

uint64_t round_pages(uint64_t bytes) {
    return (bytes + PAGE_SIZE - 1) & ~uint64_t(PAGE_SIZE - 1);
}

bool commit(uint64_t start, uint64_t len) {
    return mprotect(base + start, len, PROT_READ | PROT_WRITE) == 0;
}

// Puts a range into `ranges`, joined with its neighbours there; returns the
// joined range's start and sets `len` to its length.
uint64_t join_range(std::map<uint64_t, uint64_t>& ranges, uint64_t start, uint64_t& len) {
    auto next = ranges.lower_bound(start);
    if (next != ranges.end() && next->first == start + len) {
        len += next->second;
        next = ranges.erase(next);
    }
    if (next != ranges.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == start) {
            start = prev->first;
            len += prev->second;
            ranges.erase(prev);
        }
    }
    return start;
}

// The lowest kept range of at least `len` bytes, cleared and taken (the rest
// stays kept); 0 when none fits.
uint64_t take_kept(uint64_t len) {
    for (auto it = kept_ranges.begin(); it != kept_ranges.end(); ++it) {
        if (it->second < len) continue;
        uint64_t start = it->first, rest = it->second - len;
        kept_ranges.erase(it);
        if (rest) kept_ranges.emplace(start + len, rest);
        kept_bytes -= len;
        std::memset(base + start, 0, len);  // alloc_pages hands out zero-filled pages
        return start;
    }
    return 0;
}
}  // namespace

void init() {}

Off alloc_pages(uint64_t bytes) {
    if (bytes > reserved_bytes) return 0;
    uint64_t len = round_pages(bytes == 0 ? 1 : bytes);
    if (uint64_t start = kept_bytes >= len ? take_kept(len) : 0) {
        committed += len;
        used_blocks.emplace(start, len);
        return static_cast<Off>(start);
    }
    for (auto it = free_ranges.begin(); it != free_ranges.end(); ++it) {
        if (it->second < len) continue;
        uint64_t start = it->first;
        uint64_t rest = it->second - len;
        if (!commit(start, len)) return 0;  // the range stays free
        free_ranges.erase(it);
        if (rest) free_ranges.emplace(start + len, rest);
        committed += len;
        used_blocks.emplace(start, len);
        return static_cast<Off>(start);
    }
    if (len > reserved_bytes - high_water) return 0;
    uint64_t start = high_water;
    if (!commit(start, len)) return 0;
    high_water += len;
    committed += len;
    used_blocks.emplace(start, len);
    return static_cast<Off>(start);
}

namespace {
// Puts a released range among the free ranges, joined with its neighbours.
void make_free(uint64_t start, uint64_t len) {
    start = join_range(free_ranges, start, len);
    if (start + len == high_water) {
        high_water = start;  // shrink the used top instead of keeping a free range there
    } else {
        free_ranges.emplace(start, len);
    }
}

// Gives a range's pages back to the kernel (a later commit sees zero-filled
// pages) and makes it free.
void release_range(uint64_t start, uint64_t len) {
    madvise(base + start, len, MADV_DONTNEED);
    mprotect(base + start, len, PROT_NONE);
    make_free(start, len);
}

// Releases kept ranges, highest first, until at most `limit` bytes are kept.
void trim_kept(uint64_t limit) {
    while (kept_bytes > limit) {
        auto last = std::prev(kept_ranges.end());
        uint64_t start = last->first, len = last->second;
        kept_ranges.erase(last);
        kept_bytes -= len;
        release_range(start, len);
    }
}
}  // namespace

bool free_pages(Off block, uint64_t bytes) {
    if (bytes > reserved_bytes) return false;
    uint64_t start = block;
    uint64_t len = round_pages(bytes == 0 ? 1 : bytes);
    auto used = used_blocks.find(start);
    if (used == used_blocks.end() || used->second != len) return false;
    used_blocks.erase(used);
    committed -= len;
    if (!quarantine_limit) {
        if (len <= KEEP_LIMIT) {
            uint64_t joined = len;
            kept_ranges.emplace(join_range(kept_ranges, start, joined), joined);
            kept_bytes += len;
            trim_kept(KEEP_LIMIT);
        } else {
            release_range(start, len);
        }
        return true;
    }
    madvise(base + start, len, MADV_DONTNEED);
    mprotect(base + start, len, PROT_NONE);
    quarantined.emplace_back(start, len);
    quarantined_bytes += len;
    while (quarantined_bytes > quarantine_limit) {
        auto [s, l] = quarantined.front();
        quarantined.pop_front();
        quarantined_bytes -= l;
        make_free(s, l);
    }
    return true;
}

void set_quarantine(uint64_t bytes) {
    quarantine_limit = bytes;
    if (bytes) trim_kept(0);  // kept pages are accessible: none while released pages must fault
    while (quarantined_bytes > quarantine_limit) {
        auto [s, l] = quarantined.front();
        quarantined.pop_front();
        quarantined_bytes -= l;
        make_free(s, l);
    }
}

bool protect(Off block, uint64_t bytes, bool accessible) {
    uint64_t len = round_pages(bytes == 0 ? 1 : bytes);
    auto used = used_blocks.find(block);
    if (used == used_blocks.end() || used->second != len) return false;
    return mprotect(base + block, len, accessible ? PROT_READ | PROT_WRITE : PROT_NONE) == 0;
}

uint64_t committed_bytes() {
    return committed;
}

}  // namespace kiv::arena
