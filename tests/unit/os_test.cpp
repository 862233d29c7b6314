#include "platform/os.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <limits>
#include <string>

#include "runtime/arena.h"
#include "runtime/lowlevel.h"

using namespace kiv;

namespace {

TEST(Os, ZoneField) {
    struct Case {
        int32_t minutes;
        uint32_t zone;
    } cases[] = {
        {0, 0},
        {-210, 0x40 | (3 << 2) | 2},  // UTC-3:30
        {345, (5 << 2) | 3},          // UTC+5:45
        {60, 1 << 2},
        {-60, 0x40 | (1 << 2)},
        {330, (5 << 2) | 2},
        {-570, 0x40 | (9 << 2) | 2},
        {840, 14 << 2},
        {-720, 0x40 | (12 << 2)},
        {-14, 0x40},  // less than a quarter hour: only the sign is left
        {29, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::zone_field(c.minutes), c.zone) << c.minutes;
}

TEST(Os, PackDateFields) {
    uint32_t d = platform::pack_date(2024, 2, 29, platform::zone_field(-210));
    EXPECT_EQ(d >> 17, 2024u);
    EXPECT_EQ((d >> 12) & 0x1F, 2u);
    EXPECT_EQ((d >> 7) & 0x1F, 29u);
    EXPECT_EQ(d & 0x7F, 78u);
    EXPECT_EQ(platform::pack_date(1, 12, 31, 0), (1u << 17) | (12u << 12) | (31u << 7));
}

// Runs get_date in the zone `tz`, retrying when the day changes in between.
uint32_t date_in_zone(const char* tz, bool utc, tm& expected) {
    const char* old = getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", tz, 1);
    tzset();
    uint32_t d = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        time_t before = time(nullptr);
        d = platform::get_date(utc);
        time_t after = time(nullptr);
        tm a{}, b{};
        if (utc) {
            gmtime_r(&before, &a);
            gmtime_r(&after, &b);
        } else {
            localtime_r(&before, &a);
            localtime_r(&after, &b);
        }
        expected = a;
        if (a.tm_mday == b.tm_mday) break;
    }
    if (old) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    return d;
}

TEST(Os, DateCarriesTheLocalZone) {
    struct Case {
        const char* tz;  // POSIX TZ: the offset is counted westward
        uint32_t zone;
    } cases[] = {
        {"XST3:30", 0x40 | (3 << 2) | 2},  // UTC-3:30, standard time all year
        {"YST-5:45", (5 << 2) | 3},        // UTC+5:45
        {"UTC0", 0},
    };
    for (const Case& c : cases) {
        tm expected{};
        uint32_t d = date_in_zone(c.tz, false, expected);
        EXPECT_EQ(d & 0x7F, c.zone) << c.tz;
        EXPECT_EQ(d >> 17, uint32_t(expected.tm_year + 1900)) << c.tz;
        EXPECT_EQ((d >> 12) & 0x1F, uint32_t(expected.tm_mon + 1)) << c.tz;
        EXPECT_EQ((d >> 7) & 0x1F, uint32_t(expected.tm_mday)) << c.tz;
    }
}

TEST(Os, UtcDateHasZoneZero) {
    tm expected{};
    uint32_t d = date_in_zone("YST-5:45", true, expected);
    EXPECT_EQ(d & 0x7F, 0u);
    EXPECT_EQ((d >> 7) & 0x1F, uint32_t(expected.tm_mday));
    EXPECT_EQ(d >> 17, uint32_t(expected.tm_year + 1900));
}

TEST(Os, WaitMilliseconds) {
    struct Case {
        double seconds;
        uint32_t ms;
    } cases[] = {
        {0.0004, 1},
        {2.5, 2500},
        {0.0, 1},
        {0.001, 1},
        {0.0025, 2},  // truncated toward zero
        {0.9999, 999},
        {1.0, 1000},
        {-3.0, 1},
        {std::numeric_limits<double>::quiet_NaN(), 1},
        {1e12, 0xFFFFFFFEu},
        {std::numeric_limits<double>::infinity(), 0xFFFFFFFEu},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::wait_milliseconds(c.seconds), c.ms) << c.seconds;
    platform::wait(0.0004);  // returns (sleeps 1 ms)
}

TEST(Os, TimeOfDay) {
    double whole = platform::get_time(false);
    EXPECT_EQ(whole, std::floor(whole));
    EXPECT_GE(whole, 0.0);
    EXPECT_LT(whole, 86400.0);
    double precise = platform::get_time(true);
    EXPECT_GE(precise, 0.0);
    EXPECT_LT(precise, 86400.0);
    // The fraction is counted in 100 ns steps.
    double ticks = precise * 1e7;
    EXPECT_NEAR(ticks, std::round(ticks), 1e-2);
}

TEST(Os, Environment) {
    const char* name = "KIV_OS_TEST_VARIABLE";
    platform::set_env(name, nullptr);
    char buf[8];
    EXPECT_EQ(platform::get_env(name, buf, sizeof buf), 0u);
    EXPECT_NE(platform::set_env(name, "hello"), 0);
    EXPECT_EQ(platform::get_env(name, buf, sizeof buf), 5u);
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(platform::get_env(name, buf, 6), 5u);  // exactly fits with its NUL
    EXPECT_EQ(platform::get_env(name, buf, 5), 6u);  // too small: the size needed, NUL included
    EXPECT_NE(platform::set_env(name, "h\xC3\xA9"), 0);
    EXPECT_EQ(platform::get_env(name, buf, sizeof buf), 3u);
    EXPECT_NE(platform::set_env(name, nullptr), 0);
    EXPECT_EQ(platform::get_env(name, buf, sizeof buf), 0u);
    EXPECT_EQ(platform::set_env("BAD=NAME", "x"), 0);
}

TEST(Os, CurrentDirectory) {
    uint32_t blocks = lowlevel::tracked_heap_count();
    uint32_t len = 0;
    char* start = platform::get_current_dir(len);
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(len, std::strlen(start));
    EXPECT_EQ(lowlevel::tracked_heap_count(), blocks + 1);

    char tmp[PATH_MAX];
    ASSERT_NE(realpath("/tmp", tmp), nullptr);
    EXPECT_NE(platform::set_current_dir("/tmp"), 0);
    char* now = platform::get_current_dir(len);
    EXPECT_STREQ(now, tmp);
    lowlevel::free(now);
    EXPECT_EQ(platform::set_current_dir("/no/such/directory/here"), 0);

    EXPECT_NE(platform::set_current_dir(start), 0);
    lowlevel::free(start);
    EXPECT_EQ(lowlevel::tracked_heap_count(), blocks);
}

TEST(Os, VirtualMemory) {
    Off block = platform::virtual_alloc(10000);
    ASSERT_NE(block, 0u);
    arena::ptr(block)[9999] = 1;
    platform::virtual_free(block, 10000);

    // Failures are low-level throws that the memory manager's frames catch.
    EXPECT_FALSE(lowlevel::catch_level(lowlevel::MEMORY_CATCH_LEVEL, [] { platform::virtual_free(12345, 4096); }));
    EXPECT_EQ(lowlevel::system_record.thrown, lowlevel::VM_FREE_FAILED);
    EXPECT_FALSE(lowlevel::catch_level(lowlevel::MEMORY_CATCH_LEVEL,
                                 [] { platform::virtual_alloc(arena::RESERVED_BYTES + 1, true); }));
    EXPECT_EQ(lowlevel::system_record.thrown, lowlevel::VM_ALLOC_FAILED);
}

TEST(Os, ArgumentsAreCopiedIntoTheSystemRecord) {
    char a0[] = "kiv", a1[] = "script.kiv", a2[] = "";
    char* argv[] = {a0, a1, a2, nullptr};
    platform::get_argv(3, argv);
    ASSERT_EQ(lowlevel::system_record.argc, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(lowlevel::system_record.argv[i], argv[i]);
        EXPECT_NE(lowlevel::system_record.argv[i], argv[i]);  // a copy
    }
    EXPECT_EQ(lowlevel::system_record.argv[3], nullptr);
    platform::get_argv(0, nullptr);
    EXPECT_EQ(lowlevel::system_record.argc, 0);
    EXPECT_EQ(lowlevel::system_record.argv[0], nullptr);
}

}  // namespace
