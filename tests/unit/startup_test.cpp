// Start-up's failure path and the operating-system description that os-info
// reports (uname text turned into fields).
#include <gtest/gtest.h>

#include <cstdint>

#include "boot/startup.h"
#include "platform/clipboard.h"
#include "platform/os_info.h"

namespace kiv {
namespace {

// An unusable boot image ends the process with a failure status and its
// message, never with 0: a script runner must not take it for a success.
TEST(StartupTest, FailureEndsWithFailureStatus) {
    EXPECT_EXIT(startup_failure("Error: Not a Kivbin file!"), ::testing::ExitedWithCode(STARTUP_FAILURE_STATUS),
                "Error: Not a Kivbin file!");
    EXPECT_EXIT(startup_failure("Error: Kivbin compressed data corrupted!"),
                ::testing::ExitedWithCode(STARTUP_FAILURE_STATUS), "compressed data corrupted");
    EXPECT_NE(STARTUP_FAILURE_STATUS, 0);
}

TEST(OsInfoTest, MachineNames) {
    struct Case {
        const char* machine;
        const char* arch;
    } cases[] = {
        {"x86_64", "x86-64"}, {"i686", "x86-32"}, {"i386", "x86-32"}, {"aarch64", "ARM64"},
        {"armv7l", "ARM"},    {"ia64", "IA-64"},  {"riscv64", "Unknown"}, {"", "Unknown"},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::arch_name(c.machine), c.arch) << c.machine;
}

TEST(OsInfoTest, ReleaseNumbers) {
    struct Case {
        const char* release;
        uint8_t version[3];
    } cases[] = {
        {"6.1.0-18-amd64", {6, 1, 0}},
        {"5.15.133.1-microsoft-standard-WSL2", {5, 15, 133}},
        {"4.19", {4, 19, 0}},
        {"6.8-rc1", {6, 8, 0}},
        {"300.2.1", {255, 2, 1}},  // a tuple byte holds at most 255
        {"99999999999999999999.1.1", {255, 1, 1}},
        {"custom", {0, 0, 0}},
        {"", {0, 0, 0}},
    };
    for (const Case& c : cases) {
        uint8_t out[3] = {9, 9, 9};
        platform::release_numbers(c.release, out);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(out[i], c.version[i]) << c.release << " byte " << i;
    }
}

TEST(OsInfoTest, BuildNumber) {
    EXPECT_EQ(platform::build_number("#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)"), 1);
    EXPECT_EQ(platform::build_number("#42~22.04.1-Ubuntu SMP"), 42);
    EXPECT_EQ(platform::build_number("SMP without a number"), 0);
    EXPECT_EQ(platform::build_number("#"), 0);
}

TEST(OsInfoTest, DescribesThisSystem) {
    platform::OsInfo info = platform::os_info();
    EXPECT_EQ(info.name.rfind("Linux ", 0), 0u) << info.name;
    EXPECT_NE(info.arch, "");
}

// A backend installed by the GUI layer takes over; removing it returns to
// the store inside the process, which kept its own content.
// A store installed by the GUI layer takes over the clipboard; removing it
// hands back the in-process store with its content intact.
TEST(ClipboardTest, StoresTakeOverAndHandBack) {
    namespace cb = platform::clipboard;
    ASSERT_TRUE(cb::store().open());
    ASSERT_TRUE(cb::store().empty());
    ASSERT_TRUE(cb::store().put(cb::TEXT, {'k', 0, 0, 0}));
    cb::store().close();

    struct Busy : cb::Store {
        int opens = 0;
        bool open() override { return ++opens, false; }
        void close() override {}
        bool empty() override { return false; }
        bool put(const std::string&, std::vector<uint8_t>) override { return false; }
        bool get(const std::string&, std::vector<uint8_t>&) override { return false; }
    } busy;
    cb::set_store(&busy);
    EXPECT_EQ(&cb::store(), &busy);
    EXPECT_FALSE(cb::store().open());
    EXPECT_EQ(busy.opens, 1);

    cb::set_store(nullptr);
    std::vector<uint8_t> out;
    ASSERT_TRUE(cb::store().open());
    ASSERT_TRUE(cb::store().get(cb::TEXT, out));
    cb::store().close();
    EXPECT_EQ(out, (std::vector<uint8_t>{'k', 0, 0, 0}));
}

}  // namespace
}  // namespace kiv
