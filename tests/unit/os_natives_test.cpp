// size? on files too big for 32 bits: sparse files of 3 GiB and 5 GiB take
// no disk space but report their full size.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "interp_support.h"

namespace kiv::test {
namespace {

class OsNativesTest : public InterpTest {};

std::string sparse_file(const char* name, off_t size) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/kiv-size-" + std::to_string(getpid()) + name;
    int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(ftruncate(fd, size), 0);
    close(fd);
    return path;
}

TEST_F(OsNativesTest, SizeKeepsAllSixtyFourBits) {
    const struct {
        const char* name;
        off_t size;
        const char* expected;
    } cases[] = {
        {"-small", 1000, "1000"},
        {"-2g", 2147483647, "2147483647"},
        {"-3g", off_t(3) << 30, "3221225472.0"},
        {"-5g", off_t(5) << 30, "5368709120.0"},
    };
    for (const auto& c : cases) {
        const std::string path = sparse_file(c.name, c.size);
        const std::string code = "size? %" + path;
        EXPECT_EQ(eval_mold(code.c_str()), c.expected) << c.name;
        unlink(path.c_str());
    }
}

}  // namespace
}  // namespace kiv::test
