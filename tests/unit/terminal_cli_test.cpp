// The terminal front end, driven as a shell user drives it: the kiv
// executable is started with arguments and standard input, and its standard
// output and exit status are compared. (The script tests cannot feed
// standard input; these cases need it.)
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    std::string out;
    int status;
};

class TerminalCliTest : public ::testing::Test {
  protected:
    fs::path dir;

    void SetUp() override {
        char tmpl[] = "/tmp/kiv-cli-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    void write(const fs::path& name, const std::string& text) {
        fs::create_directories((dir / name).parent_path());
        std::ofstream(dir / name, std::ios::binary) << text;
    }

    // Runs `kiv ARGS` in the test directory with `input` on standard input.
    Outcome run(const std::string& args, const std::string& input) {
        write("stdin.txt", input);
        std::string cmd = "cd '" + dir.string() + "' && '" + KIV_BINARY + "' " + args +
                          " <stdin.txt >stdout.txt 2>stderr.txt";
        int raw = std::system(cmd.c_str());
        std::ifstream in(dir / "stdout.txt", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return {s.str(), WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
    }
};

// Lines read from standard input: each is evaluated and its result printed.
TEST_F(TerminalCliTest, ReadsEvaluatesAndPrintsLines) {
    struct Case {
        const char* input;
        const char* output;
    } cases[] = {
        {"1 + 2\n", "== 3\n"},
        {"1.5 * 2\n", "== 3.0\n"},          // a float! is formed
        {"\"a\" \n", "== \"a\"\n"},         // other values are molded
        {"print \"x\"\n", "x\n"},           // unset: no result line
        {"\n\n  \n7\n", "== 7\n"},          // empty lines print nothing
        {"x: 2\nx * x\n", "== 2\n== 4\n"},  // words stay defined between lines
        {"print \"漢字\"\n", "漢字\n"},     // UTF-8 in, UTF-8 out
        {"1 2 3", "== 3\n"},                // the last line needs no line end
        {"x\n", "*** Script Error: x has no value\n*** Where: catch\n*** Near : x\n*** Stack: eval-command do-command try-do\n\n"},
        {")\n1\n", "*** Syntax Error: (line 1) missing ( at )\n*** Where: transcode\n*** Near : transcode buffer\n*** Stack: eval-command do-command\n\n== 1\n"},
    };
    for (const Case& c : cases) {
        Outcome o = run("--cli", c.input);
        EXPECT_EQ(o.out, c.output) << "input: " << c.input;
        EXPECT_EQ(o.status, 0) << "input: " << c.input;
    }
}

// Input whose block, paren or braced string is still open is collected over
// several lines; at the end of input it is evaluated as it stands.
TEST_F(TerminalCliTest, CollectsUnfinishedInput) {
    struct Case {
        const char* input;
        const char* output;
    } cases[] = {
        {"length? [1\n2 3]\n", "== 3\n"},
        {"f: func [x] [\n  x * 2\n] f 4\n", "== 8\n"},
        {"(1 +\n2)\n", "== 3\n"},
        {"length? {a\nb}\n", "== 3\n"},
        {"length? [[1]\n[2\n]]\nprint 0\n", "== 2\n0\n"},
        // A closing delimiter that does not match ends the input at once.
        {"[1 2)\nprint 5\n",
         "*** Syntax Error: (line 1) missing ] at )\n*** Where: transcode\n*** Near : transcode buffer\n*** Stack: eval-command do-command\n\n5\n"},
        // Still open at the end of input: the load error is reported.
        {"[1 2\n", "*** Syntax Error: (line 2) missing ] at \n*** Where: transcode\n*** Near : transcode buffer\n*** Stack: eval-command ask\n\n"},
        // A line ending in the escape character drops what was collected.
        {"[1\n\x1b\nprint 5\n", "(escape)\n5\n"},
    };
    for (const Case& c : cases) {
        Outcome o = run("--cli", c.input);
        EXPECT_EQ(o.out, c.output) << "input: " << c.input;
        EXPECT_EQ(o.status, 0) << "input: " << c.input;
    }
}

TEST_F(TerminalCliTest, HaltEndsOneEvaluationAndQuitEndsTheProcess) {
    Outcome halted = run("", "loop 3 [print 1 halt]\nprint 2\n");
    EXPECT_EQ(halted.out, "1\n(halted)\n2\n");
    EXPECT_EQ(halted.status, 0);

    Outcome quit = run("", "print 1\nquit/return 4\nprint 2\n");
    EXPECT_EQ(quit.out, "1\n");
    EXPECT_EQ(quit.status, 4);

    // A status the process cannot report whole never reads as success.
    const std::pair<const char*, int> statuses[] = {{"256", 255}, {"-256", 255}, {"-1", 255}, {"300", 44}};
    for (const auto& [status, seen] : statuses) {
        Outcome big = run("", std::string("quit/return ") + status + "\n");
        EXPECT_EQ(big.status, seen) << status;
    }

    Outcome q = run("", "q\nprint 2\n");
    EXPECT_EQ(q.out, "");
    EXPECT_EQ(q.status, 0);
}

TEST_F(TerminalCliTest, RunsAScriptWithItsArguments) {
    write("s.kiv",
          "Kiv [Title: \"s\"]\n"
          "print mold system/options/args\n"
          "print mold system/script/args\n"
          "print system/options/script\n");
    Outcome o = run("s.kiv a \"b c\"", "");
    EXPECT_EQ(o.out, "[\"a\" \"b c\"]\n{a \"b c\"}\ns.kiv\n");
    EXPECT_EQ(o.status, 0);

    // Leading options are skipped; "--" ends them, so the next argument is
    // the script even when it begins with "--".
    write("--odd.kiv", "Kiv []\nprint mold system/options/args\n");
    Outcome odd = run("--cli --unknown -- --odd.kiv --x", "");
    EXPECT_EQ(odd.out, "[\"--x\"]\n");
    EXPECT_EQ(odd.status, 0);

    // After the script the process ends: standard input is not read.
    Outcome no_catch = run("s.kiv", "print \"read\"\n");
    EXPECT_EQ(no_catch.out, "[]\n\"\"\ns.kiv\n");
}

TEST_F(TerminalCliTest, TheScriptsFolderBecomesTheCurrentDirectory) {
    write("sub/inner.kiv", "Kiv []\nprint exists? %inner.kiv\nprint exists? %sub\n");
    Outcome o = run("sub/inner.kiv", "");
    EXPECT_EQ(o.out, "true\nfalse\n");
    EXPECT_EQ(o.status, 0);
}

TEST_F(TerminalCliTest, CatchKeepsTheSessionAfterTheScript) {
    write("def.kiv", "Kiv []\nx: 41\nprint \"script\"\n");
    Outcome o = run("--catch def.kiv", "x + 1\n");
    EXPECT_EQ(o.out, "script\n== 42\n");
    EXPECT_EQ(o.status, 0);

    // Also after a script that failed; the session then ends normally.
    write("bad.kiv", "Kiv []\ny: 1\nundefined-z\n");
    Outcome bad = run("--catch bad.kiv", "y\n");
    EXPECT_EQ(bad.out,
              "*** Script Error: undefined-z has no value\n*** Where: catch\n*** Near : undefined-z\n*** Stack: \n== 1\n");
    EXPECT_EQ(bad.status, 0);
}

TEST_F(TerminalCliTest, FailuresEndWithStatusOne) {
    Outcome missing = run("no-such-file.kiv", "");
    EXPECT_EQ(missing.out.rfind("*** Access Error: cannot open: ", 0), 0u) << missing.out;
    EXPECT_EQ(missing.status, 1);

    fs::create_directories(dir / "folder.kiv");
    Outcome folder = run("folder.kiv", "");
    EXPECT_EQ(folder.out.rfind("*** Access Error: cannot open: ", 0), 0u) << folder.out;
    EXPECT_EQ(folder.status, 1);

    write("plain.txt", "print 1\n");
    Outcome plain = run("plain.txt", "");
    EXPECT_EQ(
        plain.out,
        "*** Syntax Error: script is missing a Kiv header: plain.txt\n*** Where: do-file\n*** Near : none\n*** Stack: \n");
    EXPECT_EQ(plain.status, 1);

    write("broken.kiv", "Kiv []\nprint 1\nprint [\n");
    Outcome broken = run("broken.kiv", "");
    EXPECT_EQ(broken.out.rfind("*** Syntax Error: (line 4) missing ]", 0), 0u) << broken.out;
    EXPECT_EQ(broken.status, 1);

    // Text before the header is ignored.
    write("late.kiv", "junk here\nKiv [Title: \"late\"]\nprint \"late\"\n");
    Outcome late = run("late.kiv", "");
    EXPECT_EQ(late.out, "late\n");
    EXPECT_EQ(late.status, 0);
}

}  // namespace
