// Record sorting: the stable merge sort against std::stable_sort, the
// quicksort for order and content, presorted input, record widths, and the
// behaviour when the compare callback fails.
#include "runtime/sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/error.h"

using namespace kiv;

namespace {

// A record is `width` bytes: byte 0 is the key, the rest holds the record's
// original index (little-endian, as many bytes as fit), so equal keys can be
// told apart to check stability.
struct Records {
    uint32_t width;
    uint32_t n;
    std::vector<uint8_t> bytes;

    Records(uint32_t w, const std::vector<uint8_t>& keys) : width(w), n(uint32_t(keys.size())), bytes(keys.size() * w) {
        for (uint32_t i = 0; i < n; ++i) {
            uint8_t* r = &bytes[size_t(i) * w];
            r[0] = keys[i];
            for (uint32_t b = 1; b < w; ++b) r[b] = uint8_t(i >> (8 * ((b - 1) % 4)));
        }
    }
    const uint8_t* at(uint32_t i) const { return &bytes[size_t(i) * width]; }
    std::vector<std::string> as_strings() const {
        std::vector<std::string> out;
        for (uint32_t i = 0; i < n; ++i) out.emplace_back(reinterpret_cast<const char*>(at(i)), width);
        return out;
    }
};

constexpr intptr_t REVERSE = 1;

// Compare by key byte; flags bit 0 reverses. Counts calls.
uint64_t compare_calls = 0;
int32_t by_key(const void* a, const void* b, int32_t, intptr_t flags) {
    ++compare_calls;
    int32_t ka = *static_cast<const uint8_t*>(a), kb = *static_cast<const uint8_t*>(b);
    return (flags & REVERSE) ? kb - ka : ka - kb;
}

// std::stable_sort of the records: the reference for merge_sort.
std::vector<std::string> reference_stable(const Records& r, bool reverse) {
    std::vector<std::string> v = r.as_strings();
    std::stable_sort(v.begin(), v.end(), [&](const std::string& a, const std::string& b) {
        return reverse ? uint8_t(a[0]) > uint8_t(b[0]) : uint8_t(a[0]) < uint8_t(b[0]);
    });
    return v;
}

enum class Shape { Random, FewKeys, Sorted, Reversed, AllEqual, OrganPipe, Sawtooth, NearlySorted };

std::vector<uint8_t> make_keys(Shape s, uint32_t n, std::mt19937& rng) {
    std::vector<uint8_t> k(n);
    for (uint32_t i = 0; i < n; ++i) {
        switch (s) {
            case Shape::Random: k[i] = uint8_t(rng() % 251); break;
            case Shape::FewKeys: k[i] = uint8_t(rng() % 4); break;
            case Shape::Sorted: k[i] = uint8_t(uint64_t(i) * 250 / (n ? n : 1)); break;
            case Shape::Reversed: k[i] = uint8_t(250 - uint64_t(i) * 250 / (n ? n : 1)); break;
            case Shape::AllEqual: k[i] = 7; break;
            case Shape::OrganPipe: k[i] = uint8_t((i < n / 2 ? i : n - i) % 256); break;
            case Shape::Sawtooth: k[i] = uint8_t(i % 37); break;
            case Shape::NearlySorted: k[i] = uint8_t(uint64_t(i) * 250 / (n ? n : 1)); break;
        }
    }
    if (s == Shape::NearlySorted)
        for (uint32_t j = 0; j < n / 50; ++j) std::swap(k[rng() % n], k[rng() % n]);
    return k;
}

const Shape kShapes[] = {Shape::Random,   Shape::FewKeys,   Shape::Sorted,   Shape::Reversed,
                         Shape::AllEqual, Shape::OrganPipe, Shape::Sawtooth, Shape::NearlySorted};
const uint32_t kWidths[] = {1, 3, 4, 8, 12, 16, 20, 32, 48};
const uint32_t kSizes[] = {0, 1, 2, 3, 7, 8, 23, 24, 25, 100, 511, 512, 1000, 5000, 20000};

std::string describe(Shape s, uint32_t w, uint32_t n, bool rev) {
    return "shape " + std::to_string(int(s)) + " width " + std::to_string(w) + " n " + std::to_string(n) +
           (rev ? " reversed" : "");
}

TEST(MergeSort, MatchesStdStableSortForEveryShapeWidthAndSize) {
    std::mt19937 rng(12345);
    for (Shape s : kShapes)
        for (uint32_t w : kWidths)
            for (uint32_t n : kSizes)
                for (bool rev : {false, true}) {
                    Records r(w, make_keys(s, n, rng));
                    auto expected = reference_stable(r, rev);
                    sort::merge_sort(r.bytes.data(), r.n, w, 7, rev ? REVERSE : 0, by_key);
                    ASSERT_EQ(r.as_strings(), expected) << describe(s, w, n, rev);
                }
}

TEST(QuickSort, OrdersAndKeepsEveryRecord) {
    std::mt19937 rng(777);
    for (Shape s : kShapes)
        for (uint32_t w : kWidths)
            for (uint32_t n : kSizes)
                for (bool rev : {false, true}) {
                    Records r(w, make_keys(s, n, rng));
                    auto before = r.as_strings();
                    sort::quick_sort(r.bytes.data(), r.n, w, 7, rev ? REVERSE : 0, by_key);
                    for (uint32_t i = 1; i < r.n; ++i)
                        ASSERT_LE(by_key(r.at(i - 1), r.at(i), 7, rev ? REVERSE : 0), 0)
                            << describe(s, w, n, rev) << " at " << i;
                    auto after = r.as_strings();
                    std::sort(before.begin(), before.end());
                    std::sort(after.begin(), after.end());
                    ASSERT_EQ(after, before) << describe(s, w, n, rev);
                }
}

TEST(QuickSort, LargeInputsOfManyShapes) {
    std::mt19937 rng(99);
    for (Shape s : kShapes)
        for (uint32_t n : {100000u, 200003u}) {
            Records r(16, make_keys(s, n, rng));
            auto before = r.as_strings();
            sort::quick_sort(r.bytes.data(), r.n, 16, 7, 0, by_key);
            for (uint32_t i = 1; i < r.n; ++i) ASSERT_LE(r.at(i - 1)[0], r.at(i)[0]) << describe(s, 16, n, false);
            auto after = r.as_strings();
            std::sort(before.begin(), before.end());
            std::sort(after.begin(), after.end());
            ASSERT_EQ(after, before);
        }
}

// Keys over the full 32-bit range (16-byte records: key in the first word),
// so that the quicksort's sampling runs on distinct values too.
int32_t by_u32(const void* a, const void* b, int32_t, intptr_t) {
    uint32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return x < y ? -1 : x > y;
}

TEST(QuickSort, DistinctKeysMatchStdSort) {
    std::mt19937 rng(4242);
    for (uint32_t n : {600u, 17000u, 250000u}) {
        std::vector<uint32_t> v(size_t(n) * 4);
        for (uint32_t i = 0; i < n; ++i) {
            v[4 * i] = rng();
            v[4 * i + 1] = i;
        }
        std::vector<uint32_t> keys;
        for (uint32_t i = 0; i < n; ++i) keys.push_back(v[4 * i]);
        std::sort(keys.begin(), keys.end());
        sort::quick_sort(v.data(), n, 16, 0, 0, by_u32);
        for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(v[4 * i], keys[i]) << n << " at " << i;
    }
}

TEST(Sorts, PassOperationAndFlagsThroughUntouched) {
    struct Seen {
        int32_t op = 0;
        intptr_t flags = 0;
        bool all_same = true;
    };
    static Seen seen;
    auto cb = [](const void* a, const void* b, int32_t op, intptr_t flags) -> int32_t {
        if (seen.op == 0) {
            seen.op = op;
            seen.flags = flags;
        } else if (seen.op != op || seen.flags != flags) {
            seen.all_same = false;
        }
        return *static_cast<const uint8_t*>(a) - *static_cast<const uint8_t*>(b);
    };
    std::mt19937 rng(5);
    int marker = 0;
    intptr_t flags = reinterpret_cast<intptr_t>(&marker);  // a caller may pass its own state
    for (auto sorter : {sort::merge_sort, sort::quick_sort}) {
        seen = Seen{};
        Records r(4, make_keys(Shape::Random, 3000, rng));
        sorter(r.bytes.data(), r.n, 4, 8, flags, cb);
        EXPECT_EQ(seen.op, 8);
        EXPECT_EQ(seen.flags, flags);
        EXPECT_TRUE(seen.all_same);
    }
}

TEST(Sorts, PresortedInputTakesAboutOneComparisonPerRecord) {
    const uint32_t n = 100000;
    std::vector<uint32_t> asc(size_t(n) * 4), desc(size_t(n) * 4);
    for (uint32_t i = 0; i < n; ++i) {
        asc[4 * i] = i;
        desc[4 * i] = n - i;
    }
    struct Case {
        const char* name;
        void (*sorter)(void*, uint32_t, uint32_t, int32_t, intptr_t, sort::Compare);
        const std::vector<uint32_t>* input;
    };
    static uint64_t calls;
    auto counting = [](const void* a, const void* b, int32_t op, intptr_t f) -> int32_t {
        ++calls;
        return by_u32(a, b, op, f);
    };
    for (const Case& c : {Case{"merge asc", sort::merge_sort, &asc}, Case{"merge desc", sort::merge_sort, &desc},
                          Case{"quick asc", sort::quick_sort, &asc}, Case{"quick desc", sort::quick_sort, &desc}}) {
        std::vector<uint32_t> v = *c.input;
        calls = 0;
        c.sorter(v.data(), n, 16, 0, 0, counting);
        EXPECT_LE(calls, uint64_t(n) + 16) << c.name;
        for (uint32_t i = 1; i < n; ++i) ASSERT_LT(v[4 * (i - 1)], v[4 * i]) << c.name;
    }
}

TEST(FindRun, SplitsADescendingRunAtEqualNeighbours) {
    // 9 7 7 5: strictly descending only up to the first 7, which is reversed.
    struct Case {
        std::vector<uint8_t> keys;
        size_t run;
        std::vector<uint8_t> after;
    };
    const Case cases[] = {
        {{9, 7, 7, 5}, 2, {7, 9, 7, 5}},
        {{9, 8, 7, 6}, 4, {6, 7, 8, 9}},
        {{1, 2, 2, 3, 1}, 4, {1, 2, 2, 3, 1}},
        {{4, 4, 4}, 3, {4, 4, 4}},
        {{5}, 1, {5}},
        {{}, 0, {}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> v = c.keys;
        uint8_t* end = sort::find_run(v.data(), v.data() + v.size(), 1, 0, 0, by_key);
        EXPECT_EQ(size_t(end - v.data()), c.run);
        EXPECT_EQ(v, c.after);
    }
}

TEST(FindRun, ReversedEqualRecordsKeepTheirOrderInsideMergeSort) {
    // Two equal keys inside descending data: stability must hold.
    Records r(8, {9, 8, 5, 5, 3, 1});
    auto expected = reference_stable(r, false);
    sort::merge_sort(r.bytes.data(), r.n, 8, 0, 0, by_key);
    EXPECT_EQ(r.as_strings(), expected);
}

TEST(Swap, ExchangesWordWiseAndByteWise) {
    for (uint32_t w : {1u, 3u, 4u, 7u, 16u, 20u, 33u, 64u}) {
        std::vector<uint8_t> a(w), b(w);
        for (uint32_t i = 0; i < w; ++i) {
            a[i] = uint8_t(i);
            b[i] = uint8_t(200 - i);
        }
        auto a0 = a, b0 = b;
        sort::swap(a.data(), b.data(), w);
        EXPECT_EQ(a, b0) << w;
        EXPECT_EQ(b, a0) << w;
    }
}

TEST(MergeSort, ScratchSizeBeyond32BitsRaisesTooLongBeforeTouchingData) {
    uint8_t untouched[4] = {1, 2, 3, 4};
    try {
        // (4 / 2) x 0x80000001 bytes of scratch do not fit in 32 bits.
        sort::merge_sort(untouched, 4, 0x80000001u, 0, 0, by_key);
        FAIL() << "no error raised";
    } catch (const RaisedError& e) {
        EXPECT_EQ(e.category, "script");
        EXPECT_EQ(e.id, "too-long");
    }
    EXPECT_EQ(untouched[0], 1);
    EXPECT_EQ(untouched[3], 4);
}

// A compare callback that raises after a number of calls.
uint64_t fail_after = 0;
int32_t failing(const void* a, const void* b, int32_t op, intptr_t flags) {
    if (compare_calls >= fail_after) fire({"script", "invalid-compare"});
    return by_key(a, b, op, flags);
}

TEST(Sorts, AnErrorFromTheCallbackLeavesEveryRecordInPlace) {
    std::mt19937 rng(2024);
    for (auto sorter : {sort::merge_sort, sort::quick_sort})
        for (uint32_t w : {3u, 16u})
            for (uint64_t after : {0ull, 5ull, 100ull, 1500ull, 4000ull, 9000ull}) {
                Records r(w, make_keys(Shape::Random, 2000, rng));
                auto before = r.as_strings();
                compare_calls = 0;
                fail_after = after;
                bool raised = false;
                try {
                    sorter(r.bytes.data(), r.n, w, 0, 0, failing);
                } catch (const RaisedError& e) {
                    raised = true;
                    EXPECT_EQ(e.id, "invalid-compare");
                }
                EXPECT_TRUE(raised || after > 4000) << after;
                auto now = r.as_strings();
                std::sort(before.begin(), before.end());
                std::sort(now.begin(), now.end());
                ASSERT_EQ(now, before) << "records lost after " << after << " comparisons, width " << w;
            }
}

TEST(Sorts, AnInconsistentCallbackNeitherHangsNorLosesRecords) {
    static std::mt19937 chaos(31337);
    auto random_answer = [](const void*, const void*, int32_t, intptr_t) -> int32_t {
        return int32_t(chaos() % 3) - 1;
    };
    std::mt19937 rng(8);
    for (auto sorter : {sort::merge_sort, sort::quick_sort})
        for (uint32_t n : {5u, 60u, 700u, 40000u}) {
            Records r(16, make_keys(Shape::Random, n, rng));
            auto before = r.as_strings();
            sorter(r.bytes.data(), r.n, 16, 0, 0, random_answer);
            auto now = r.as_strings();
            std::sort(before.begin(), before.end());
            std::sort(now.begin(), now.end());
            ASSERT_EQ(now, before) << n;
        }
}

}  // namespace
