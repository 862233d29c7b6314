#include "runtime/lowlevel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "platform/console_output.h"
#include "runtime/hooks.h"

using namespace kiv;

namespace {

// ---- Tracked heap -----------------------------------------------------------

TEST(TrackedHeap, CountsRequestedBytesPlusSixteenPerBlock) {
    uint64_t bytes0 = lowlevel::tracked_heap_bytes();
    uint32_t count0 = lowlevel::tracked_heap_count();
    void* a = lowlevel::allocate(100);
    void* b = lowlevel::allocate(0);
    void* c = lowlevel::allocate_zeroed(1000);
    EXPECT_EQ(lowlevel::tracked_heap_count(), count0 + 3);
    EXPECT_EQ(lowlevel::tracked_heap_bytes(), bytes0 + 100 + 0 + 1000 + 3 * 16);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(static_cast<uint8_t*>(c)[i], 0) << i;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
    lowlevel::free(b);
    lowlevel::free(a);
    lowlevel::free(c);
    EXPECT_EQ(lowlevel::tracked_heap_count(), count0);
    EXPECT_EQ(lowlevel::tracked_heap_bytes(), bytes0);
}

TEST(TrackedHeap, ReallocateNullAllocatesAndSizeZeroFrees) {
    uint32_t count0 = lowlevel::tracked_heap_count();
    uint64_t bytes0 = lowlevel::tracked_heap_bytes();
    void* p = lowlevel::reallocate(nullptr, 40);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(lowlevel::tracked_heap_count(), count0 + 1);
    EXPECT_EQ(lowlevel::reallocate(p, 0), nullptr);
    EXPECT_EQ(lowlevel::tracked_heap_count(), count0);
    EXPECT_EQ(lowlevel::tracked_heap_bytes(), bytes0);
}

TEST(TrackedHeap, ReallocateKeepsContentsAndPlaceInTheList) {
    uint32_t count0 = lowlevel::tracked_heap_count();
    uint64_t bytes0 = lowlevel::tracked_heap_bytes();
    auto* a = static_cast<uint8_t*>(lowlevel::allocate(8));
    auto* b = static_cast<uint8_t*>(lowlevel::allocate(16));
    auto* c = static_cast<uint8_t*>(lowlevel::allocate(8));
    for (int i = 0; i < 16; ++i) b[i] = uint8_t(i + 1);
    // Grow far enough that the block has to move.
    b = static_cast<uint8_t*>(lowlevel::reallocate(b, 1 << 20));
    for (int i = 0; i < 16; ++i) ASSERT_EQ(b[i], i + 1);
    EXPECT_EQ(lowlevel::tracked_heap_bytes(), bytes0 + 8 + (1 << 20) + 8 + 3 * 16);
    // Its neighbours still link to it: both ends can be freed around it, then
    // the block itself, through the list.
    lowlevel::free(a);
    lowlevel::free(c);
    EXPECT_EQ(lowlevel::tracked_heap_count(), count0 + 1);
    b = static_cast<uint8_t*>(lowlevel::reallocate(b, 4));
    EXPECT_EQ(b[3], 4);
    lowlevel::free(b);
    EXPECT_EQ(lowlevel::tracked_heap_count(), count0);
    EXPECT_EQ(lowlevel::tracked_heap_bytes(), bytes0);
}

TEST(TrackedHeap, FreeingAForeignAddressDoesNothing) {
    uint32_t count0 = lowlevel::tracked_heap_count();
    auto* mine = static_cast<uint8_t*>(lowlevel::allocate(64));
    int on_stack = 0;
    void* from_malloc = std::malloc(32);
    const void* foreign[] = {&on_stack, from_malloc, mine + 1, mine + 16, nullptr};
    for (const void* p : foreign) {
        lowlevel::free(const_cast<void*>(p));
        EXPECT_EQ(lowlevel::tracked_heap_count(), count0 + 1);
    }
    std::free(from_malloc);
    lowlevel::free(mine);
    EXPECT_EQ(lowlevel::tracked_heap_count(), count0);
}

TEST(TrackedHeapDeath, FreeAllEmptiesTheList) {
    EXPECT_EXIT(
        {
            for (int i = 0; i < 50; ++i) lowlevel::allocate(size_t(i) * 7);
            lowlevel::free_all_tracked();
            bool empty = lowlevel::tracked_heap_count() == 0 && lowlevel::tracked_heap_bytes() == 0;
            void* again = lowlevel::allocate(10);  // the list works after being emptied
            bool one = lowlevel::tracked_heap_count() == 1 && lowlevel::tracked_heap_bytes() == 26;
            lowlevel::free(again);
            _exit(empty && one && lowlevel::tracked_heap_count() == 0 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(TrackedHeapDeath, ImpossibleRequestsAreOutOfMemory) {
    const char* report = "^\\*\\*\\* Runtime Error 94: out of memory\n\\*\\*\\* at: [0-9A-F]{8}h\n$";
    EXPECT_EXIT(lowlevel::allocate(lowlevel::MAX_TRACKED_REQUEST + 1), testing::ExitedWithCode(94), report);
    EXPECT_EXIT(lowlevel::allocate(SIZE_MAX), testing::ExitedWithCode(94), report);
    EXPECT_EXIT(lowlevel::allocate_zeroed(SIZE_MAX - 8), testing::ExitedWithCode(94), report);
    EXPECT_EXIT(lowlevel::reallocate(lowlevel::allocate(8), SIZE_MAX), testing::ExitedWithCode(94), report);
}

#ifndef KIV_SANITIZE
void allocate_beyond_the_address_space_limit() {
    rlimit lim{};
    lim.rlim_cur = lim.rlim_max = size_t(512) << 20;
    setrlimit(RLIMIT_AS, &lim);
    lowlevel::allocate(size_t(1) << 30);
}
#endif

TEST(TrackedHeapDeath, AllocatorFailureIsOutOfMemory) {
#ifdef KIV_SANITIZE
    GTEST_SKIP() << "the sanitizer's allocator does not return null";
#else
    EXPECT_EXIT(allocate_beyond_the_address_space_limit(), testing::ExitedWithCode(94),
                "Runtime Error 94: out of memory");
#endif
}

TEST(TrackedHeapDeath, ResizingAForeignAddressIsAnAssertion) {
    int x = 0;
    EXPECT_EXIT(lowlevel::reallocate(&x, 8), testing::ExitedWithCode(98), "Runtime Error 98: assertion failed");
}

// ---- Throw and catch -------------------------------------------------------------

struct Counter {
    int* n;
    ~Counter() { ++*n; }
};

TEST(Throw, CatchLevelTakesValuesUpToItsLevel) {
    bool after = false;
    bool finished = lowlevel::catch_level(lowlevel::MEMORY_CATCH_LEVEL, [&] {
        lowlevel::throw_value(lowlevel::VM_ALLOC_FAILED);
        after = true;
    });
    EXPECT_FALSE(finished);
    EXPECT_FALSE(after);
    EXPECT_EQ(lowlevel::system_record.thrown, lowlevel::VM_ALLOC_FAILED);

    EXPECT_TRUE(lowlevel::catch_level(5, [] {}));
    EXPECT_FALSE(lowlevel::catch_level(5, [] { lowlevel::throw_value(5); }));  // equal level catches
}

TEST(Throw, InnerFramesWithLowerLevelsAreLeftAndUnwound) {
    int destroyed = 0;
    int handled = 0;
    bool inner_returned = false;
    bool caught_outer = !lowlevel::catch_level(
        0x7FFFFFFF,
        [&] {
            lowlevel::catch_level(
                0x10,
                [&] {
                    Counter c{&destroyed};
                    lowlevel::throw_value(0x11);
                },
                [&] { ++handled; });
            inner_returned = true;
        },
        [&] { handled += 10; });
    EXPECT_TRUE(caught_outer);
    EXPECT_FALSE(inner_returned);
    EXPECT_EQ(handled, 10);  // only the outer handler ran
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(lowlevel::system_record.thrown, 0x11u);
    EXPECT_EQ(lowlevel::detail::innermost, nullptr);  // every frame was left
}

TEST(Throw, ValuesCompareUnsigned) {
    // 0x80000000 is above 0x7FFFFFF8: the memory level does not catch it.
    bool inner = true;
    bool outer = lowlevel::catch_level(lowlevel::TOP_CATCH_LEVEL, [&] {
        inner = lowlevel::catch_level(lowlevel::MEMORY_CATCH_LEVEL, [] { lowlevel::throw_value(0x80000000u); });
    });
    EXPECT_FALSE(outer);
    EXPECT_TRUE(inner);  // untouched: the inner call never returned
    EXPECT_EQ(lowlevel::system_record.thrown, 0x80000000u);
}

TEST(ThrowDeath, AThrowNobodyCatchesIsError95) {
    EXPECT_EXIT(lowlevel::throw_value(0x1234), testing::ExitedWithCode(95),
                "^\\*\\*\\* Runtime Error 95: no CATCH for THROW\n\\*\\*\\* at: [0-9A-F]{8}h\n$");
    // A frame below the value does not change that.
    EXPECT_EXIT(lowlevel::catch_level(0x10, [] { lowlevel::throw_value(0x20); }), testing::ExitedWithCode(95),
                "no CATCH for THROW");
    EXPECT_EXIT(lowlevel::catch_level(
                    lowlevel::TOP_CATCH_LEVEL, [] { lowlevel::throw_value(7); }, lowlevel::top_level_catch),
                testing::ExitedWithCode(95), "no CATCH for THROW");
}

TEST(ThrowDeath, QuitRequestEndsQuietly) {
    EXPECT_EXIT(lowlevel::throw_value(lowlevel::QUIT_REQUEST), testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(lowlevel::catch_level(
                    lowlevel::TOP_CATCH_LEVEL, [] { lowlevel::throw_value(lowlevel::QUIT_REQUEST); }, lowlevel::top_level_catch),
                testing::ExitedWithCode(0), "^$");
}

// ---- Fatal report -------------------------------------------------------------

TEST(Quit, MessageTable) {
    struct Case {
        int32_t n;
        const char* text;
    } cases[] = {
        {1, "access violation"},
        {6, "float denormal operan"},
        {13, "integer divide by zero"},
        {16, "invalid virtual address"},
        {19, "stack error or overflow"},
        {22, "invalid handle"},
        {23, "illegal operand"},
        {29, "hardware memory error consumed AR"},
        {33, "FPU error"},
        {34, "Bus error"},
        {94, "out of memory"},
        {95, "no CATCH for THROW"},
        {98, "assertion failed"},
        {99, "unknown error"},
        {100, "no value matched in CASE"},
        {101, "no value matched in SWITCH"},
        {0, "unknown error code!"},
        {35, "unknown error code!"},
        {93, "unknown error code!"},
        {102, "unknown error code!"},
        {-2, "unknown error code!"},
    };
    for (const Case& c : cases) EXPECT_STREQ(lowlevel::error_message(c.n), c.text) << c.n;
}

TEST(Quit, ReportFormat) {
    char text[256];
    size_t n = lowlevel::format_report(text, sizeof text, 19, reinterpret_cast<const void*>(0x1234));
    EXPECT_STREQ(text, "*** Runtime Error 19: stack error or overflow\n*** at: 00001234h");
    EXPECT_EQ(n, std::strlen(text));
    lowlevel::format_report(text, sizeof text, -7, reinterpret_cast<const void*>(0xABCDEF01));
    EXPECT_STREQ(text, "*** Runtime Error -7: unknown error code!\n*** at: ABCDEF01h");
    // A small buffer is filled and terminated, never overrun.
    char small[10];
    lowlevel::format_report(small, sizeof small, 1, nullptr);
    EXPECT_STREQ(small, "*** Runti");
}

TEST(QuitDeath, ExitCodesAndReports) {
    EXPECT_EXIT(lowlevel::quit(0), testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(lowlevel::quit(94, nullptr), testing::ExitedWithCode(94),
                "^\\*\\*\\* Runtime Error 94: out of memory\n\\*\\*\\* at: 00000000h\n$");
    EXPECT_EXIT(lowlevel::quit(57, reinterpret_cast<const void*>(0x10)), testing::ExitedWithCode(57),
                "^\\*\\*\\* Runtime Error 57: unknown error code!\n\\*\\*\\* at: 00000010h\n$");
    EXPECT_EXIT(lowlevel::end_process(-2), testing::ExitedWithCode(254), "^$");
}

int quit_order[4];
int quit_seen = 0;
void first_at_quit() {
    quit_order[quit_seen++] = 1;
}
void second_at_quit() {
    quit_order[quit_seen++] = 2;
}

TEST(QuitDeath, AtQuitHandlersRunNewestFirstBeforeTheHeapIsFreed) {
    EXPECT_EXIT(
        {
            lowlevel::allocate(10);
            lowlevel::at_quit(first_at_quit);
            lowlevel::at_quit(second_at_quit);
            lowlevel::at_quit(first_at_quit);  // once only
            static uint32_t blocks_seen = 0;
            lowlevel::at_quit(+[] { blocks_seen = lowlevel::tracked_heap_count(); });
            std::atexit(+[] {
                bool ok = quit_seen == 2 && quit_order[0] == 2 && quit_order[1] == 1 && blocks_seen >= 1 &&
                          lowlevel::tracked_heap_count() == 0;
                if (!ok) _exit(1);
            });
            lowlevel::quit(0);
        },
        testing::ExitedWithCode(0), "^$");
}

// ---- Faults ---------------------------------------------------------------------

TEST(Faults, SignalCodesMapToErrorNumbers) {
    struct Case {
        int signo, code;
        bool overflow;
        int32_t n;
    } cases[] = {
        {SIGSEGV, SEGV_ACCERR, false, 1},
        {SIGSEGV, SEGV_MAPERR, false, 16},
        {SIGSEGV, SEGV_MAPERR, true, 19},
        {SIGSEGV, 0, false, 32},
        {SIGBUS, BUS_ADRALN, false, 2},
        {SIGBUS, BUS_ADRERR, false, 27},
        {SIGBUS, BUS_OBJERR, false, 28},
        {SIGBUS, BUS_MCEERR_AR, false, 29},
        {SIGBUS, BUS_MCEERR_AO, false, 30},
        {SIGBUS, 0, false, 34},
        {SIGTRAP, TRAP_BRKPT, false, 3},
        {SIGTRAP, TRAP_TRACE, false, 4},
        {SIGFPE, FPE_FLTSUB, false, 5},
        {SIGFPE, FPE_FLTDIV, false, 7},
        {SIGFPE, FPE_FLTRES, false, 8},
        {SIGFPE, FPE_FLTINV, false, 9},
        {SIGFPE, FPE_FLTOVF, false, 10},
        {SIGFPE, FPE_FLTUND, false, 12},
        {SIGFPE, FPE_INTDIV, false, 13},
        {SIGFPE, FPE_INTOVF, false, 14},
        {SIGFPE, 0, false, 33},
        {SIGILL, ILL_PRVOPC, false, 15},
        {SIGILL, ILL_ILLOPC, false, 17},
        {SIGILL, ILL_BADSTK, false, 19},
        {SIGILL, ILL_ILLOPN, false, 23},
        {SIGILL, ILL_ILLADR, false, 24},
        {SIGILL, ILL_ILLTRP, false, 25},
        {SIGILL, ILL_COPROC, false, 26},
        {SIGILL, ILL_PRVREG, false, 31},
        {SIGILL, 0, false, 17},
        {SIGUSR1, 0, false, 99},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lowlevel::fault_error_number(c.signo, c.code, c.overflow), c.n) << c.signo << "/" << c.code;
    }
}

const char* fault_report(int n, const char* text) {
    static std::string s;
    s = "^\\*\\*\\* Runtime Error " + std::to_string(n) + ": " + text + "\n\\*\\*\\* at: [0-9A-F]{8}h\n$";
    return s.c_str();
}

void* protected_page() {
    void* p = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p;
}

void* unmapped_page() {
    void* p = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    munmap(p, 4096);
    return p;
}

TEST(FaultsDeath, RealSegmentationFaults) {
    EXPECT_EXIT(
        {
            lowlevel::install_fault_handlers();
            *static_cast<volatile int*>(protected_page()) = 1;
        },
        testing::ExitedWithCode(1), fault_report(1, "access violation"));
    EXPECT_EXIT(
        {
            lowlevel::install_fault_handlers();
            (void)*static_cast<volatile int*>(unmapped_page());
        },
        testing::ExitedWithCode(16), fault_report(16, "invalid virtual address"));
}

volatile int recursion_limit = -1;

[[gnu::noinline]] int recurse(int depth) {
    volatile char pad[512];
    pad[0] = char(depth);
    if (depth == recursion_limit) return 0;  // never: the stack runs out first
    return recurse(depth + 1) + pad[0];
}

TEST(FaultsDeath, StackOverflow) {
    EXPECT_EXIT(
        {
            lowlevel::install_fault_handlers();
            recurse(1);
        },
        testing::ExitedWithCode(19), fault_report(19, "stack error or overflow"));
}

#if defined(__x86_64__)
[[gnu::noinline]] int divide(int a, int b) {
    int q;
    // The processor's own division, so that no compiler check comes first.
    asm volatile("cltd\n\tidivl %2" : "=a"(q) : "a"(a), "r"(b) : "edx", "cc");
    return q;
}

TEST(FaultsDeath, IntegerDivideByZero) {
    EXPECT_EQ(divide(7, 2), 3);
    EXPECT_EXIT(
        {
            lowlevel::install_fault_handlers();
            divide(1, 0);
        },
        testing::ExitedWithCode(13), fault_report(13, "integer divide by zero"));
}

TEST(FaultsDeath, TrapsAndIllegalInstructions) {
    EXPECT_EXIT(
        {
            lowlevel::install_fault_handlers();
            asm volatile("int3");
        },
        testing::ExitedWithCode(3), fault_report(3, "breakpoint"));
    EXPECT_EXIT(
        {
            lowlevel::install_fault_handlers();
            asm volatile("ud2");
        },
        testing::ExitedWithCode(23), fault_report(23, "illegal operand"));
}
#endif

TEST(FaultsDeath, SignalsSentByAProcessUseTheCatchAllNumbers) {
    EXPECT_EXIT(
        {
            lowlevel::install_fault_handlers();
            raise(SIGSEGV);
        },
        testing::ExitedWithCode(32), fault_report(32, "segmentation fault"));
    EXPECT_EXIT(
        {
            lowlevel::install_fault_handlers();
            raise(SIGFPE);
        },
        testing::ExitedWithCode(33), fault_report(33, "FPU error"));
    EXPECT_EXIT(
        {
            lowlevel::install_fault_handlers();
            raise(SIGBUS);
        },
        testing::ExitedWithCode(34), fault_report(34, "Bus error"));
}

TEST(FaultsDeath, InterruptEndsQuietly) {
    EXPECT_EXIT(
        {
            lowlevel::install_fault_handlers();
            raise(SIGINT);
            _exit(5);
        },
        testing::ExitedWithCode(0), "^$");
}

// ---- Small helpers ------------------------------------------------------------

TEST(Helpers, DegreesToRadians) {
    struct Case {
        double degrees;
        int mode;
        double expect_degrees;
    } cases[] = {
        {270, 2, -90},  {135, 0, -45},  {135, 2, 45},  {-270, 2, 90}, {-135, 0, 45},
        {-100, 2, -80}, {190, 1, -170}, {100, 1, 100}, {720, 1, 0},   {450, 0, 90},
        {-190, 0, -10}, {90, 0, 90},    {180, 2, 0},   {181, 2, -1},  {30, 0, 30},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(lowlevel::degrees_to_radians(c.degrees, c.mode), c.expect_degrees * std::numbers::pi / 180.0,
                    1e-12)
            << c.degrees << " mode " << c.mode;
    }
}

TEST(Helpers, AlignUpAndStringEquality) {
    EXPECT_EQ(lowlevel::align_up(0, 16), 0u);
    EXPECT_EQ(lowlevel::align_up(1, 16), 16u);
    EXPECT_EQ(lowlevel::align_up(16, 16), 16u);
    EXPECT_EQ(lowlevel::align_up(17, 4), 20u);
    EXPECT_EQ(lowlevel::align_up(4095, 4096), 4096u);
    EXPECT_EQ(lowlevel::align_up(0xFFFFFFFFull, 4), 0x100000000ull);

    EXPECT_TRUE(lowlevel::c_strings_equal("", ""));
    EXPECT_TRUE(lowlevel::c_strings_equal("abc", "abc"));
    EXPECT_FALSE(lowlevel::c_strings_equal("abc", "abd"));
    EXPECT_FALSE(lowlevel::c_strings_equal("abc", "ab"));
    EXPECT_FALSE(lowlevel::c_strings_equal("ab", "abc"));
    EXPECT_FALSE(lowlevel::c_strings_equal("abc", "ABC"));
}

[[gnu::noinline]] const void* where_am_i() {
    return lowlevel::caller_address();
}

TEST(Helpers, CallerAddressIsTheCallSiteInTheCaller) {
    const void* first = where_am_i();
    const void* second = where_am_i();
    EXPECT_NE(first, second);  // two call sites, two return addresses
    // Both lie inside this test's own code, not inside where_am_i.
    auto f = reinterpret_cast<uintptr_t>(first);
    auto callee = reinterpret_cast<uintptr_t>(&where_am_i);
    EXPECT_TRUE(f < callee || f > callee + 64);
    EXPECT_NE(lowlevel::system_record.debug.frame, nullptr);
    EXPECT_NE(lowlevel::system_record.debug.stack, nullptr);
}

// ---- Typed printing -----------------------------------------------------------

std::string hook_text;
void collect(const char* text, int32_t length, int32_t flag) {
    EXPECT_EQ(flag, 0);
    hook_text.append(text, size_t(length));
}

std::string read_all(int fd) {
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, size_t(n));
    return s;
}

TEST(Print, TypedItemsAndHooks) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    console::use_fd(fds[1]);
    hooks::init();
    hooks::register_callbacks(nullptr, collect);
    hook_text.clear();

    lowlevel::print({"n=", int32_t(-42), " ", true, "/", false, " ", 1.5, " ", 0.1f, " ", lowlevel::hex(0xBEEF), " ",
               lowlevel::byte('Z'), lowlevel::byte(0xE9)});
    lowlevel::print_line({"", 1.0 / 3.0, " ", 1.0f / 3.0f, " ", std::numeric_limits<double>::infinity()});
    const char* expected =
        "n=-42 true/false 1.5 0.1 0000BEEF Z\xC3\xA9"
        "0.3333333333333333 0.3333333 inf\n";
    EXPECT_EQ(read_all(fds[0]), expected);
    EXPECT_EQ(hook_text, expected);

    hooks::unregister_callbacks(nullptr, collect);
    console::use_fd(1);
    close(fds[0]);
    close(fds[1]);
}

}  // namespace

// The main thread's stack read from the mappings equals what the C library's
// thread attributes give, under the limit in force and under others
// (smaller, not a multiple of the page, none at all when the hard limit
// allows it).
TEST(ThreadStack, MainThreadBoundsEqualTheLibraryAttributes) {
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_STACK, &saved), 0);
    std::vector<rlim_t> limits = {saved.rlim_cur, rlim_t(1) << 20, (rlim_t(3) << 20) + 123, rlim_t(64) << 20};
    if (saved.rlim_max == RLIM_INFINITY) limits.push_back(RLIM_INFINITY);
    for (rlim_t limit : limits) {
        if (saved.rlim_max != RLIM_INFINITY && limit > saved.rlim_max) continue;
        struct rlimit rl = saved;
        rl.rlim_cur = limit;
        ASSERT_EQ(setrlimit(RLIMIT_STACK, &rl), 0);
        pthread_attr_t attr;
        ASSERT_EQ(pthread_getattr_np(pthread_self(), &attr), 0);
        void* addr = nullptr;
        size_t expected = 0;
        ASSERT_EQ(pthread_attr_getstack(&attr, &addr, &expected), 0);
        pthread_attr_destroy(&attr);
        uintptr_t low = 0;
        size_t size = 0;
        ASSERT_TRUE(kiv::lowlevel::main_thread_stack(&low, &size)) << limit;
        EXPECT_EQ(low, reinterpret_cast<uintptr_t>(addr)) << limit;
        EXPECT_EQ(size, expected) << limit;
        uintptr_t here = reinterpret_cast<uintptr_t>(&low);
        EXPECT_TRUE(here > low && here < low + size) << limit;
    }
    ASSERT_EQ(setrlimit(RLIMIT_STACK, &saved), 0);
}
