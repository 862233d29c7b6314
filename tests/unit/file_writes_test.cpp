// File writes and program lookup where the conditions cannot be made from a
// script: a file-size limit that makes a write fail part way, and folders
// this process may not write to or search. Each case runs in a child
// process of its own, so that the limit or the dropped rights never reach
// the rest of the tests; run as root, the child first becomes an ordinary
// user, since root may write and search any folder.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"

using namespace kiv::platform;

namespace {

// A fresh folder that an ordinary user may enter; removed with its files.
struct Folder {
    std::string path;
    Folder() {
        char name[] = "/tmp/kiv-file-writes-XXXXXX";
        EXPECT_NE(mkdtemp(name), nullptr);
        path = name;
        chmod(path.c_str(), 0755);
    }
    ~Folder() {
        chmod(path.c_str(), 0755);
        std::string command = "rm -rf '" + path + "'";
        EXPECT_EQ(system(command.c_str()), 0);
    }
    std::string operator/(const char* name) const { return path + "/" + name; }
};

// Runs `check` in a child process and answers its exit status: 0 when every
// check in it held, else the number of the first that failed.
int in_child(bool ordinary_user, const std::function<int()>& check) {
    pid_t pid = fork();
    if (pid == 0) {
        if (ordinary_user && geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                setresuid(65534, 65534, 65534) != 0)
                _exit(100);
        }
        _exit(check());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
}

std::string content(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!files::read(path.c_str(), -1, -1, bytes)) return "(unreadable)";
    return std::string(bytes.begin(), bytes.end());
}

bool put(const std::string& path, const std::string& text, files::WriteMode mode = files::REPLACE) {
    return files::write(path.c_str(), reinterpret_cast<const uint8_t*>(text.data()), text.size(), mode, -1);
}

int64_t size_of(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

// With a size limit of 4 KiB (and SIGXFSZ ignored, as the runtime does) a
// write that crosses it fails with EFBIG after part of its bytes.
void limit_file_size() {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
}

TEST(FileWrites, FailedAppendLeavesTheOldSize) {
    Folder dir;
    const std::string f = dir / "log";
    ASSERT_TRUE(put(f, std::string(1000, 'a')));
    auto check = [&] {
        limit_file_size();
        if (put(f, std::string(10000, 'b'), files::APPEND)) return 1;
        if (size_of(f) != 1000) return 2;
        if (!put(f, std::string(10, 'c'), files::APPEND)) return 3;
        return 0;
    };
    EXPECT_EQ(in_child(false, check), 0);
    EXPECT_EQ(content(f), std::string(1000, 'a') + std::string(10, 'c'));
}

TEST(FileWrites, FailedWriteAtAnOffsetLeavesTheOldSize) {
    Folder dir;
    const std::string f = dir / "data";
    ASSERT_TRUE(put(f, std::string(3000, 'a')));
    auto check = [&] {
        limit_file_size();
        if (files::write(f.c_str(), reinterpret_cast<const uint8_t*>(std::string(5000, 'b').data()), 5000,
                         files::AT_OFFSET, 2000))
            return 1;
        return size_of(f) == 3000 ? 0 : 2;
    };
    EXPECT_EQ(in_child(false, check), 0);
}

// A file with a second link is written in place; when its new content does
// not fit, the write fails before any old byte changes.
TEST(FileWrites, LinkedFileThatCannotGrowKeepsItsContent) {
    Folder dir;
    const std::string f = dir / "one", g = dir / "two";
    ASSERT_TRUE(put(f, "old content"));
    ASSERT_EQ(link(f.c_str(), g.c_str()), 0);
    auto check = [&] {
        limit_file_size();
        return put(f, std::string(10000, 'n')) ? 1 : 0;
    };
    EXPECT_EQ(in_child(false, check), 0);
    EXPECT_EQ(content(f), "old content");
    EXPECT_EQ(content(g), "old content");
    ASSERT_TRUE(put(g, "short"));
    EXPECT_EQ(content(f), "short");
}

// A writable file in a folder that cannot take a temporary file is written
// in place; a new file cannot be made there, and a file this user may not
// write is left alone.
TEST(FileWrites, WritableFileInReadOnlyFolder) {
    Folder dir;
    const std::string f = dir / "open", locked = dir / "locked";
    ASSERT_TRUE(put(f, "old content"));
    ASSERT_TRUE(put(locked, "kept"));
    chmod(f.c_str(), 0666);
    chmod(locked.c_str(), 0444);
    chmod(dir.path.c_str(), 0555);
    auto check = [&] {
        if (!put(f, "new")) return 1;
        if (content(f) != "new") return 2;
        if (!put(f, "a longer content than before")) return 3;
        if (put(dir / "fresh", "x")) return 4;
        if (put(locked, "changed")) return 5;
        return 0;
    };
    EXPECT_EQ(in_child(true, check), 0);
    EXPECT_EQ(content(f), "a longer content than before");
    EXPECT_EQ(content(locked), "kept");
}

// A replaced file keeps its extended attributes.
TEST(FileWrites, ReplacedFileKeepsItsAttributes) {
    Folder dir;
    const std::string f = dir / "tagged";
    ASSERT_TRUE(put(f, "old"));
    if (setxattr(f.c_str(), "user.kiv-test", "kept", 4, 0) != 0) GTEST_SKIP() << "no user attributes here";
    ASSERT_TRUE(put(f, "new"));
    char value[16] = {};
    EXPECT_EQ(getxattr(f.c_str(), "user.kiv-test", value, sizeof value), 4);
    EXPECT_STREQ(value, "kept");
    EXPECT_EQ(content(f), "new");
}

// A PATH folder that cannot be searched is passed over like one without the
// program: a missing program is exit code 127, one found further on runs.
TEST(ProgramLookup, UnsearchablePathFolder) {
    Folder dir;
    const std::string closed = dir / "closed";
    ASSERT_EQ(mkdir(closed.c_str(), 0700), 0);
    ASSERT_EQ(chmod(closed.c_str(), 0), 0);
    auto check = [&] {
        std::string path = closed + ":/usr/bin:/bin";
        setenv("PATH", path.c_str(), 1);
        process::Stream in, out, err;
        process::Result r = process::run("no-such-program-kiv-test", false, true, false, in, out, err);
        if (r.failure != process::OK || r.value != 127) return 1;
        r = process::run("true", false, true, false, in, out, err);
        if (r.failure != process::OK || r.value != 0) return 2;
        return 0;
    };
    EXPECT_EQ(in_child(true, check), 0);
}

}  // namespace
