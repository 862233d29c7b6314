#include "runtime/sort.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/error.h"

namespace kiv::sort {

namespace {

// ---------------------------------------------------------------------------
// Record movers. The algorithms are written once against this interface and
// instantiated for the common widths, so that moving a 16-byte cell or a
// 1-byte character is a couple of plain loads and stores.

template <uint32_t W>
struct FixedRecord {
    static constexpr bool FIXED = true;
    static constexpr uint32_t WIDTH = W;
    uint32_t width() const { return W; }
    void copy(uint8_t* dst, const uint8_t* src) const { std::memcpy(dst, src, W); }
    void swap(uint8_t* a, uint8_t* b) const {
        uint8_t t[W];
        std::memcpy(t, a, W);
        std::memcpy(a, b, W);
        std::memcpy(b, t, W);
    }
};

void swap_words(uint8_t* a, uint8_t* b, uint32_t width) {
    // 16 bytes at a time, then 4 at a time.
    while (width >= 16) {
        uint8_t t[16];
        std::memcpy(t, a, 16);
        std::memcpy(a, b, 16);
        std::memcpy(b, t, 16);
        a += 16;
        b += 16;
        width -= 16;
    }
    while (width >= 4) {
        uint32_t t;
        std::memcpy(&t, a, 4);
        std::memcpy(a, b, 4);
        std::memcpy(b, &t, 4);
        a += 4;
        b += 4;
        width -= 4;
    }
}

void swap_bytes(uint8_t* a, uint8_t* b, uint32_t width) {
    for (uint32_t i = 0; i < width; ++i) {
        uint8_t t = a[i];
        a[i] = b[i];
        b[i] = t;
    }
}

struct AnyRecord {
    static constexpr bool FIXED = false;
    static constexpr uint32_t WIDTH = 0;
    uint32_t w;
    uint32_t width() const { return w; }
    void copy(uint8_t* dst, const uint8_t* src) const { std::memcpy(dst, src, w); }
    void swap(uint8_t* a, uint8_t* b) const {
        if ((w & 3) == 0)
            swap_words(a, b, w);
        else
            swap_bytes(a, b, w);
    }
};

template <class R>
struct Sorter {
    R rec;
    Compare cmp;
    int32_t op;
    intptr_t flags;

    uint32_t w() const { return rec.width(); }
    uint8_t* at(uint8_t* base, uint64_t i) const { return base + i * w(); }
    int32_t compare(const uint8_t* a, const uint8_t* b) const { return cmp(a, b, op, flags); }
    void swap(uint8_t* a, uint8_t* b) const { rec.swap(a, b); }

    void reverse(uint8_t* base, uint64_t n) const {
        if (n < 2) return;
        uint8_t* lo = base;
        uint8_t* hi = at(base, n - 1);
        while (lo < hi) {
            swap(lo, hi);
            lo += w();
            hi -= w();
        }
    }

    // Exchanges two non-overlapping blocks of `count` records.
    void block_swap(uint8_t* a, uint8_t* b, uint64_t count) const {
        for (uint64_t i = 0; i < count; ++i) swap(at(a, i), at(b, i));
    }

    // Moves the first `k` records of [base, base + n) to the end, keeping the
    // order inside both parts.
    void rotate_left(uint8_t* base, uint64_t n, uint64_t k) const {
        if (k == 0 || k >= n) return;
        reverse(base, k);
        reverse(at(base, k), n - k);
        reverse(base, n);
    }

    // Insertion: records from `from` on move left while their left neighbour
    // compares greater (the comparisons of adjacent swaps; records of a fixed
    // width are shifted through a copy instead of swapped). Stable.
    void insertion(uint8_t* base, uint64_t from, uint64_t to) const {
        if constexpr (R::FIXED) {
            uint8_t tmp[R::WIDTH];
            for (uint64_t i = from; i < to; ++i) {
                uint8_t* p = at(base, i);
                if (p == base || compare(p - w(), p) <= 0) continue;
                rec.copy(tmp, p);
                try {
                    do {
                        rec.copy(p, p - w());
                        p -= w();
                    } while (p > base && compare(p - w(), tmp) > 0);
                } catch (...) {
                    rec.copy(p, tmp);  // the hole takes the record back
                    throw;
                }
                rec.copy(p, tmp);
            }
        } else {
            for (uint64_t i = from; i < to; ++i) {
                uint8_t* p = at(base, i);
                while (p > base && compare(p - w(), p) > 0) {
                    swap(p - w(), p);
                    p -= w();
                }
            }
        }
    }

    // ---- natural runs --------------------------------------------------------

    uint64_t find_run(uint8_t* base, uint64_t start, uint64_t n) const {
        if (n - start < 2) return n;
        uint64_t e = start + 2;
        if (compare(at(base, start), at(base, start + 1)) > 0) {
            while (e < n && compare(at(base, e - 1), at(base, e)) > 0) ++e;
            reverse(at(base, start), e - start);
        } else {
            while (e < n && compare(at(base, e - 1), at(base, e)) <= 0) ++e;
        }
        return e;
    }

    // ---- merge sort ----------------------------------------------------------

    static constexpr uint64_t MIN_RUN = 24;

    // Powersort node power of the boundary between [s1, s2) and [s2, e2):
    // one more than the number of leading binary digits that the two run
    // midpoints share as fractions of n.
    static int power(uint64_t s1, uint64_t s2, uint64_t e2, uint64_t n) {
        uint64_t a = s1 + s2;  // twice the first midpoint
        uint64_t b = s2 + e2;  // twice the second midpoint
        int p = 0;
        for (;;) {
            ++p;
            bool da = a >= n, db = b >= n;
            if (da != db) return p;
            if (da) {
                a -= n;
                b -= n;
            }
            a <<= 1;
            b <<= 1;
        }
    }

    uint64_t next_run(uint8_t* base, uint64_t start, uint64_t n) const {
        uint64_t e = find_run(base, start, n);
        if (e - start < MIN_RUN && e < n) {
            uint64_t target = start + MIN_RUN < n ? start + MIN_RUN : n;
            insertion(at(base, start), e - start, target - start);
            e = target;
        }
        return e;
    }

    // Merges [l, m) and [m, r); the shorter run goes to the scratch block.
    // Ties take the left run's record. On an error from the callback the
    // records still in the scratch block are put back into the gap, so the
    // array stays a permutation of its records.
    void merge(uint8_t* base, uint64_t l, uint64_t m, uint64_t r, uint8_t* scratch) const {
        uint8_t* lp = at(base, l);
        uint8_t* mp = at(base, m);
        uint8_t* rp = at(base, r);
        if (compare(mp - w(), mp) <= 0) return;  // already in order
        if (m - l <= r - m) {
            size_t bytes = size_t(mp - lp);
            std::memcpy(scratch, lp, bytes);
            uint8_t* s = scratch;
            uint8_t* se = scratch + bytes;
            uint8_t* d = lp;
            uint8_t* q = mp;
            try {
                while (s < se && q < rp) {
                    if (compare(s, q) <= 0) {
                        rec.copy(d, s);
                        s += w();
                    } else {
                        rec.copy(d, q);
                        q += w();
                    }
                    d += w();
                }
            } catch (...) {
                std::memcpy(d, s, size_t(se - s));
                throw;
            }
            std::memcpy(d, s, size_t(se - s));
        } else {
            size_t bytes = size_t(rp - mp);
            std::memcpy(scratch, mp, bytes);
            uint8_t* se = scratch + bytes;  // end of what is left in the scratch
            uint8_t* d = rp;                // next place to fill, from the right
            uint8_t* q = mp;                // end of what is left of the left run
            try {
                while (q > lp && se > scratch) {
                    d -= w();
                    if (compare(q - w(), se - w()) > 0) {
                        q -= w();
                        rec.copy(d, q);
                    } else {
                        se -= w();
                        rec.copy(d, se);
                    }
                }
            } catch (...) {
                // The gap right after q holds exactly the scratch remainder.
                std::memcpy(q, scratch, size_t(se - scratch));
                throw;
            }
            std::memcpy(lp, scratch, size_t(se - scratch));
        }
    }

    void merge_sort(uint8_t* base, uint64_t n, uint8_t* scratch) const {
        struct Pending {
            uint64_t start;
            int power;
        };
        Pending stack[80];
        int top = 0;
        uint64_t a_start = 0;
        uint64_t a_end = next_run(base, 0, n);
        while (a_end < n) {
            uint64_t b_end = next_run(base, a_end, n);
            int p = power(a_start, a_end, b_end, n);
            while (top > 0 && stack[top - 1].power > p) {
                merge(base, stack[top - 1].start, a_start, a_end, scratch);
                a_start = stack[--top].start;
            }
            if (top == int(sizeof stack / sizeof stack[0])) {  // cannot happen for 32-bit n
                merge(base, stack[top - 1].start, a_start, a_end, scratch);
                a_start = stack[--top].start;
            }
            stack[top++] = {a_start, p};
            a_start = a_end;
            a_end = b_end;
        }
        while (top > 0) {
            merge(base, stack[top - 1].start, a_start, n, scratch);
            a_start = stack[--top].start;
        }
    }

    // ---- quicksort -------------------------------------------------------------

    // Neighbours in order for the given direction (+1 ascending, -1 descending).
    bool in_order(const uint8_t* a, const uint8_t* b, int dir) const {
        int32_t c = compare(a, b);
        return dir > 0 ? c <= 0 : c >= 0;
    }

    // Length of the prefix that is ordered in direction dir.
    uint64_t ordered_prefix(uint8_t* base, uint64_t n, int dir) const {
        uint64_t i = 1;
        while (i < n && in_order(at(base, i - 1), at(base, i), dir)) ++i;
        return i;
    }

    // Local repair of a presorted prefix: a record that is out of order but
    // belongs among the last REPAIR_REACH records of the prefix is inserted
    // there; the pass stops at the first record that would go further back.
    static constexpr uint64_t REPAIR_REACH = 16;
    uint64_t repair(uint8_t* base, uint64_t n, uint64_t len, int dir) const {
        while (len < n) {
            uint8_t* p = at(base, len);
            if (!in_order(p - w(), p, dir)) {
                if (len >= REPAIR_REACH && !in_order(at(base, len - REPAIR_REACH), p, dir)) break;
                do {
                    swap(p - w(), p);
                    p -= w();
                } while (p > base && !in_order(p - w(), p, dir));
            }
            ++len;
        }
        return len;
    }

    void heap_sift(uint8_t* base, uint64_t root, uint64_t n) const {
        for (;;) {
            uint64_t child = 2 * root + 1;
            if (child >= n) return;
            if (child + 1 < n && compare(at(base, child), at(base, child + 1)) < 0) ++child;
            if (compare(at(base, root), at(base, child)) >= 0) return;
            swap(at(base, root), at(base, child));
            root = child;
        }
    }

    // Fallback when partitions keep coming out unbalanced: O(n log n) always.
    void heap_sort(uint8_t* base, uint64_t n) const {
        for (uint64_t i = n / 2; i-- > 0;) heap_sift(base, i, n);
        for (uint64_t end = n; end-- > 1;) {
            swap(base, at(base, end));
            heap_sift(base, 0, end);
        }
    }

    struct Split {
        uint64_t left_len;     // [0, left_len) sorts with hint +a
        uint64_t right_start;  // [right_start, n) sorts with hint -u
    };

    // Three-way partition of [a + 1, n - u) around the pivot at a. The records
    // [0, a) are known to be <= pivot and [n - u, n) >= pivot; both stay put.
    // Records equal to the pivot gather at the left end as they are met and
    // are swapped into the middle afterwards, next to the pivot.
    Split partition(uint8_t* base, uint64_t n, uint64_t a, uint64_t u) const {
        const uint8_t* pivot = at(base, a);
        uint64_t lo = a + 1, eq = lo, i = lo, j = n - u;
        for (;;) {
            while (i < j) {
                int32_t c = compare(at(base, i), pivot);
                if (c > 0) break;
                if (c == 0) {
                    if (i != eq) swap(at(base, i), at(base, eq));
                    ++eq;
                }
                ++i;
            }
            int32_t c = 1;
            while (i < j) {
                c = compare(at(base, j - 1), pivot);
                if (c <= 0) break;
                --j;
            }
            if (i >= j) break;
            // at(i) > pivot, at(j - 1) <= pivot, i < j - 1
            --j;
            swap(at(base, i), at(base, j));
            if (c == 0) {
                if (i != eq) swap(at(base, i), at(base, eq));
                ++eq;
            }
            ++i;
        }
        // [a, eq) pivot and equals, [eq, i) less, [i, n) greater then the upper sample.
        uint64_t equal = eq - a, less = i - eq;
        uint64_t s = equal < less ? equal : less;
        block_swap(at(base, a), at(base, i - s), s);
        return {a + less, i};
    }

    // Spreads records from across the whole array into [h, m) of the range
    // at the front (even steps of n / m), leaving the sorted prefix alone.
    void spread_front(uint8_t* base, uint64_t n, uint64_t h, uint64_t m) const {
        uint64_t step = n / m;
        for (uint64_t j = h; j < m; ++j) {
            uint64_t src = j * step;
            if (src != j) swap(at(base, j), at(base, src));
        }
    }
    // The mirror image for a sorted suffix and a range at the back.
    void spread_back(uint8_t* base, uint64_t n, uint64_t h, uint64_t m) const {
        uint64_t step = n / m;
        for (uint64_t j = h; j < m; ++j) {
            uint64_t src = j * step;
            if (src != j) swap(at(base, n - 1 - j), at(base, n - 1 - src));
        }
    }

    // hint > 0: the first hint records are sorted; hint < 0: the last -hint.
    void core(uint8_t* base, uint64_t n, int64_t hint, int depth) const {
        for (;;) {
            if (n <= 7) {
                insertion(base, 1, n);
                return;
            }
            uint64_t h = uint64_t(hint < 0 ? -hint : hint);
            if (h >= n) return;
            Split sp;
            uint64_t a, u;
            if (h <= 2) {
                if (n > 511) {
                    // Sort a small range first; it becomes the sample.
                    core(base, 63, 0, depth);
                    hint = 63;
                    continue;
                }
                // Median of first, middle and last, moved to the second place.
                uint8_t* r0 = base;
                uint8_t* rm = at(base, n / 2);
                uint8_t* rl = at(base, n - 1);
                if (compare(r0, rm) > 0) swap(r0, rm);
                if (compare(rm, rl) > 0) {
                    swap(rm, rl);
                    if (compare(r0, rm) > 0) swap(r0, rm);
                }
                swap(rm, at(base, 1));
                a = 1;
                u = 1;
            } else {
                uint64_t m = h > n / 256 ? n : (16 * h - 1 < n ? 16 * h - 1 : n);
                if (m < n) {
                    // Grow the sorted sample: sort a range of 16h - 1 records
                    // drawn from across the array, with the sample as its hint.
                    if (hint > 0) {
                        spread_front(base, n, h, m);
                        core(base, m, int64_t(h), depth);
                        hint = int64_t(m);
                    } else {
                        spread_back(base, n, h, m);
                        core(at(base, n - m), m, -int64_t(h), depth);
                        hint = -int64_t(m);
                    }
                    continue;
                }
                if (hint > 0) {
                    // Sample [0, h): pivot its median, lower half stays at the
                    // front, upper half goes to the end.
                    uint64_t pv = h / 2;
                    u = h - pv - 1;
                    uint64_t rest = n - h;
                    if (rest >= u)
                        block_swap(at(base, pv + 1), at(base, n - u), u);
                    else
                        rotate_left(at(base, pv + 1), n - pv - 1, u);
                    a = pv;
                } else {
                    // Sample [n - h, n): its lower half and median go to the front.
                    uint64_t l = h / 2;
                    u = h - l - 1;
                    uint64_t rest = n - h;
                    if (rest >= l + 1)
                        block_swap(base, at(base, n - h), l + 1);
                    else
                        rotate_left(base, n - h + l + 1, rest);
                    a = l;
                }
            }
            if (depth-- <= 0) {
                heap_sort(base, n);
                return;
            }
            sp = partition(base, n, a, u);
            uint64_t left = sp.left_len, right = n - sp.right_start;
            uint8_t* rbase = at(base, sp.right_start);
            // Recurse into the smaller side, loop on the larger one.
            if (left <= right) {
                core(base, left, int64_t(a), depth);
                base = rbase;
                n = right;
                hint = -int64_t(u);
            } else {
                core(rbase, right, -int64_t(u), depth);
                n = left;
                hint = int64_t(a);
            }
        }
    }

    void quick_sort(uint8_t* base, uint64_t n) const {
        if (n < 2) return;
        // 1. Presortedness: the prefix ordered in the direction of its first
        //    unequal pair.
        int dir = 0;
        uint64_t i = 0;
        for (; i + 1 < n; ++i) {
            int32_t c = compare(at(base, i), at(base, i + 1));
            if (c == 0) continue;
            if (dir == 0)
                dir = c < 0 ? 1 : -1;
            else if ((dir > 0) == (c > 0))
                break;
        }
        uint64_t len = i + 1;
        if (dir == 0) dir = 1;
        if (len < n) {
            // 2. Sample neighbour pairs every 97 records past the prefix.
            int64_t score = int64_t(len) * dir;
            for (uint64_t k = len; k + 1 < n; k += 97) {
                int32_t c = compare(at(base, k), at(base, k + 1));
                score += (c < 0) - (c > 0);
            }
            // 3. Presorted data: take the prefix in the score's direction and
            //    extend it by local repair.
            if (uint64_t(score < 0 ? -score : score) > n / 512) {
                int sdir = score < 0 ? -1 : 1;
                if (sdir != dir) {
                    dir = sdir;
                    len = ordered_prefix(base, n, dir);
                }
                len = repair(base, n, len, dir);
            }
        }
        // 4. A descending prefix is turned round.
        if (dir < 0) reverse(base, len);
        if (len >= n) return;
        int depth = 8;
        for (uint64_t m = n; m > 1; m >>= 1) depth += 2;
        core(base, n, len > 2 ? int64_t(len) : 0, depth);
    }
};

template <class R>
Sorter<R> make_sorter(R rec, int32_t op, intptr_t flags, Compare cmp) {
    return Sorter<R>{rec, cmp, op, flags};
}

// Calls fn with a Sorter specialised for the record width.
template <class Fn>
void with_sorter(uint32_t width, int32_t op, intptr_t flags, Compare cmp, Fn&& fn) {
    switch (width) {
        case 1: return fn(make_sorter(FixedRecord<1>{}, op, flags, cmp));
        case 2: return fn(make_sorter(FixedRecord<2>{}, op, flags, cmp));
        case 4: return fn(make_sorter(FixedRecord<4>{}, op, flags, cmp));
        case 8: return fn(make_sorter(FixedRecord<8>{}, op, flags, cmp));
        case 16: return fn(make_sorter(FixedRecord<16>{}, op, flags, cmp));
        case 32: return fn(make_sorter(FixedRecord<32>{}, op, flags, cmp));
        default: return fn(make_sorter(AnyRecord{width}, op, flags, cmp));
    }
}

struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
};

}  // namespace

void swap(void* a, void* b, uint32_t width) {
    if ((width & 3) == 0)
        swap_words(static_cast<uint8_t*>(a), static_cast<uint8_t*>(b), width);
    else
        swap_bytes(static_cast<uint8_t*>(a), static_cast<uint8_t*>(b), width);
}

uint8_t* find_run(uint8_t* start, uint8_t* end, uint32_t width, int32_t op, intptr_t flags,
                  Compare cmp) {
    if (width == 0 || end <= start) return end;
    uint64_t n = uint64_t(end - start) / width;
    uint8_t* result = end;
    with_sorter(width, op, flags, cmp,
                [&](const auto& s) { result = s.at(start, s.find_run(start, 0, n)); });
    return result;
}

void merge_sort(void* base, uint32_t n, uint32_t width, int32_t op, intptr_t flags, Compare cmp) {
    if (n < 2 || width == 0) return;
    uint64_t bytes = uint64_t(n / 2) * width;
    if (bytes > 0xFFFFFFFFull) fire({"script", "too-long"});
    std::unique_ptr<uint8_t, FreeDeleter> scratch(static_cast<uint8_t*>(std::malloc(bytes)));
    if (!scratch) fire({"internal", "no-memory"});
    with_sorter(width, op, flags, cmp, [&](const auto& s) {
        s.merge_sort(static_cast<uint8_t*>(base), n, scratch.get());
    });
}

void quick_sort(void* base, uint32_t n, uint32_t width, int32_t op, intptr_t flags, Compare cmp) {
    if (n < 2 || width == 0) return;
    with_sorter(width, op, flags, cmp,
                [&](const auto& s) { s.quick_sort(static_cast<uint8_t*>(base), n); });
}

}  // namespace kiv::sort
