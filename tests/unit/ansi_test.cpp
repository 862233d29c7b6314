#include "platform/ansi.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/console_output.h"
#include "runtime/hooks.h"

using namespace kiv;
using console::ScreenModel;

namespace {

constexpr uint16_t DEFAULT = 0x07;

class Screen : public testing::Test {
  protected:
    ScreenModel model{80, 25, DEFAULT};
    void SetUp() override { console::use_screen(&model); }
    void TearDown() override { console::use_fd(1); }
    void out(const std::string& s, bool newline = false) { console::write(s.data(), s.size(), 1, newline); }
    void out16(const std::u16string& s) { console::write(s.data(), s.size() * 2, 2, false); }
};

TEST_F(Screen, ForegroundColourThenReset) {
    out("a\x1b[31mred\x1b[0mz");
    EXPECT_EQ(model.row(0), "aredz");
    EXPECT_EQ(model.at(0, 0).attribute, DEFAULT);
    for (int x = 1; x <= 3; ++x) EXPECT_EQ(model.at(x, 0).attribute, 4) << x;
    EXPECT_EQ(model.at(4, 0).attribute, DEFAULT);
}

TEST_F(Screen, BoldAndColourInOneSequence) {
    for (uint16_t a : {uint16_t(0x07), uint16_t(0x1E), uint16_t(0x00), uint16_t(0x70)}) {
        model.set_attribute(a);
        out("\x1b[1;34mx");
        EXPECT_EQ(model.attribute(), uint16_t(((a | 0x88) & 0xF8) + 1)) << a;
    }
}

TEST_F(Screen, SgrTable) {
    struct Case {
        uint16_t a;
        uint32_t code;
        uint16_t result;
    } cases[] = {
        {0x1E, 0, DEFAULT}, {0x07, 1, 0x8F},  {0x07, 4, 0x8007}, {0x1E, 7, 0xE1},  {0x8017, 7, 0x71},
        {0x0F, 30, 0x08},   {0x07, 31, 0x04}, {0x07, 32, 0x02},  {0x07, 33, 0x06}, {0x07, 34, 0x01},
        {0x07, 35, 0x05},   {0x07, 36, 0x03}, {0x8F, 37, 0x8F},  {0x07, 39, 0x0F}, {0xF7, 40, 0x87},
        {0x07, 41, 0x47},   {0x07, 42, 0x27}, {0x07, 43, 0x67},  {0x07, 44, 0x17}, {0x07, 45, 0x57},
        {0x07, 46, 0x37},   {0x07, 47, 0x77}, {0x07, 49, 0x87},  {0x07, 22, 22},   {0x07, 38, 38},
        {0x07, 9999, 9999},
    };
    for (const Case& c : cases)
        EXPECT_EQ(console::sgr(c.a, c.code, DEFAULT), c.result) << c.a << " " << c.code;
}

TEST_F(Screen, SeveralSgrCodesCarryTheAttribute) {
    out("\x1b[1;34;42mx");
    EXPECT_EQ(model.at(0, 0).attribute, 0xA9);
    // A carried attribute is set only when the sequence ends with m.
    model.set_attribute(DEFAULT);
    out("\x1b[1;34;Hy");
    EXPECT_EQ(model.attribute(), DEFAULT);
    EXPECT_EQ(model.at(0, 0).ch, U'y');  // ESC [ H went home
}

TEST_F(Screen, NumbersWrapModulo65535) {
    out("\x1b[65536m");  // 65536 mod 65535 = 1
    EXPECT_EQ(model.attribute(), 0x8F);
}

TEST_F(Screen, CursorPosition) {
    out("\x1b[5;2HX");
    EXPECT_EQ(model.at(5, 2).ch, U'X');
    EXPECT_EQ(model.cursor_x(), 6);
    EXPECT_EQ(model.cursor_y(), 2);
    out("\x1b[3;4fY");
    EXPECT_EQ(model.at(3, 4).ch, U'Y');
    out("\x1b[HZ");
    EXPECT_EQ(model.at(0, 0).ch, U'Z');
    out("\x1b[7H");  // one number then H: not a sequence this interpreter acts on
    EXPECT_EQ(model.cursor_x(), 1);
    EXPECT_EQ(model.cursor_y(), 0);
}

TEST_F(Screen, CursorMovesStayInsideTheBuffer) {
    struct Case {
        const char* seq;
        int x, y;
    } cases[] = {
        {"\x1b[3A", 10, 7},    {"\x1b[20A", 10, 0},  {"\x1b[4B", 10, 14},
        {"\x1b[100B", 10, 24}, {"\x1b[5C", 15, 10},  {"\x1b[100C", 79, 10},
        {"\x1b[4D", 6, 10},    {"\x1b[100D", 0, 10}, {"\x1b[0A", 10, 10},
    };
    for (const Case& c : cases) {
        out("\x1b[10;10H");
        out(c.seq);
        EXPECT_EQ(model.cursor_x(), c.x) << c.seq + 1;
        EXPECT_EQ(model.cursor_y(), c.y) << c.seq + 1;
    }
}

TEST_F(Screen, SaveAndRestoreCursor) {
    out("\x1b[4;3H\x1b[s\x1b[0;0Habc\x1b[uQ");
    EXPECT_EQ(model.at(4, 3).ch, U'Q');
    EXPECT_EQ(model.row(0), "abc");
}

class Erase : public Screen {
  protected:
    void SetUp() override {
        model.set_attribute(DEFAULT);
        Screen::SetUp();
        // Rows 0-4 full of their digit, in attribute 0x1E; cursor at column 3, row 2.
        model.set_attribute(0x1E);
        out("\x1b[0;0H");
        for (int y = 0; y < 5; ++y) out(std::string(80, char('0' + y)));
        out("\x1b[3;2H");
    }
    // Which rows of 0-4 still hold text, and how much of row 2.
    std::vector<std::string> rows() {
        std::vector<std::string> r;
        for (int y = 0; y < 5; ++y) r.push_back(model.row(y));
        return r;
    }
};

TEST_F(Erase, Sequences) {
    std::string full[5];
    for (int y = 0; y < 5; ++y) full[y] = std::string(80, char('0' + y));
    struct Case {
        const char* seq;
        std::vector<std::string> rows;
        int x, y;
    } cases[] = {
        {"\x1b[K", {full[0], full[1], "222", full[3], full[4]}, 3, 2},
        {"\x1b[1K", {full[0], full[1], "    " + std::string(76, '2'), full[3], full[4]}, 0, 2},
        {"\x1b[2K", {full[0], full[1], "", full[3], full[4]}, 0, 2},
        {"\x1b[J", {full[0], full[1], "", "", ""}, 3, 2},
        {"\x1b[1J", {"", "", full[2], full[3], full[4]}, 3, 2},
        {"\x1b[2J", {"", "", "", "", ""}, 0, 0},
        {"\x1b[3J", {full[0], full[1], full[2], full[3], full[4]}, 3, 2},
        {"\x1b[3K", {full[0], full[1], full[2], full[3], full[4]}, 3, 2},
    };
    for (const Case& c : cases) {
        SetUp();
        out(c.seq);
        EXPECT_EQ(rows(), c.rows) << c.seq + 1;
        EXPECT_EQ(model.cursor_x(), c.x) << c.seq + 1;
        EXPECT_EQ(model.cursor_y(), c.y) << c.seq + 1;
    }
}

TEST_F(Erase, UsesTheDefaultAttribute) {
    out("\x1b[K");
    EXPECT_EQ(model.at(3, 2).attribute, DEFAULT);
    EXPECT_EQ(model.at(79, 2).attribute, DEFAULT);
    EXPECT_EQ(model.at(2, 2).attribute, 0x1E);
    EXPECT_EQ(model.attribute(), 0x1E);  // the current attribute is not changed
}

TEST_F(Screen, EscNotFollowedByBracketIsACharacter) {
    out("a\x1bxb");
    EXPECT_EQ(model.at(1, 0).ch, U'\x1b');
    EXPECT_EQ(model.at(2, 0).ch, U'x');
    EXPECT_EQ(model.at(3, 0).ch, U'b');
    out("\x1b", false);  // at the very end of the text
    EXPECT_EQ(model.at(4, 0).ch, U'\x1b');
}

TEST_F(Screen, UnknownFinalCharactersEndTheSequence) {
    out("\x1b[31xA\x1b[Zb\x1b[1;2;zc");
    EXPECT_EQ(model.row(0), "Abc");
    EXPECT_EQ(model.at(0, 0).attribute, DEFAULT);
}

TEST_F(Screen, ASequenceCutOffByTheEndOfTheTextDoesNothing) {
    out("ab\x1b[3");
    out("1mc");
    EXPECT_EQ(model.row(0), "ab1mc");
    EXPECT_EQ(model.attribute(), DEFAULT);
}

TEST_F(Screen, LongTextIsWrittenIn510UnitPieces) {
    out(std::string(1500, 'x'));
    std::vector<size_t> expected = {510, 510, 480};
    EXPECT_EQ(model.writes(), expected);
}

TEST_F(Screen, EscapesFlushThePendingText) {
    out("abc\x1b[31mdefg", true);
    std::vector<size_t> expected = {3, 5};  // "defg" and the line feed
    EXPECT_EQ(model.writes(), expected);
    EXPECT_EQ(model.cursor_x(), 0);
    EXPECT_EQ(model.cursor_y(), 1);
}

TEST_F(Screen, TwoByteUnits) {
    out16(u"\x1b[32m\u00e9\U0001F600!");
    EXPECT_EQ(model.at(0, 0).ch, U'\u00e9');
    EXPECT_EQ(model.at(0, 0).attribute, 2);
    EXPECT_EQ(model.at(1, 0).ch, U'\U0001F600');
    EXPECT_EQ(model.at(2, 0).ch, U'!');
}

TEST_F(Screen, OneByteUnitsAreLatin1) {
    out("caf\xE9");
    EXPECT_EQ(model.at(3, 0).ch, U'\u00e9');
}

TEST_F(Screen, CodePointsAreNotInterpreted) {
    std::u32string s = U"\x1b[31m\U0001F600";
    console::write_ucs4(s.data(), s.size() * 4);
    EXPECT_EQ(model.at(0, 0).ch, U'\x1b');
    EXPECT_EQ(model.at(1, 0).ch, U'[');
    EXPECT_EQ(model.at(5, 0).ch, U'\U0001F600');
    EXPECT_EQ(model.attribute(), DEFAULT);
}

TEST_F(Screen, ScreenBufferDump) {
    model.set_attribute(0x1E);
    out("\x1b[2;1H\x1b[?");
    EXPECT_EQ(model.row(1), "  Screen buffer info:");
    EXPECT_EQ(model.row(2), "   size______ 80x25");
    EXPECT_EQ(model.row(3), "   cursor____ 2x1");
    EXPECT_EQ(model.row(4), "   attribute_ 0000001E 00000007");
    EXPECT_EQ(model.row(5), "   left______ 0 top: 0");
    EXPECT_EQ(model.row(6), "   right_____ 79 bottom: 24");
    EXPECT_EQ(model.row(7), "   max_______ 80x25");
}

TEST_F(Screen, LinesScrollAtTheBottom) {
    for (int i = 0; i < 30; ++i) out("line " + std::to_string(i), true);
    EXPECT_EQ(model.row(0), "line 6");
    EXPECT_EQ(model.row(23), "line 29");
    EXPECT_EQ(model.row(24), "");
}

// ---- Byte strings, numbers and hook list B -----------------------------------

std::string hook_text;
void collect(const char* text, int32_t length, int32_t) {
    hook_text.append(text, size_t(length));
}

TEST_F(Screen, PrintersFireHookB) {
    hooks::init();
    hooks::register_callbacks(nullptr, collect);
    hook_text.clear();
    console::print_cstring("ab");
    console::print_int(-5);
    console::print_hex_byte(0x0A);
    console::print_hex(0xDEADBEEF);
    console::print_float(0.1);
    console::print_float(1.0 / 3.0);
    console::print_float32(1.0f / 3.0f);
    console::print_int(2147483647);
    hooks::unregister_callbacks(nullptr, collect);
    const char* expected = "ab-50ADEADBEEF0.10.33333333333333330.33333332147483647";
    EXPECT_EQ(hook_text, expected);
    EXPECT_EQ(model.row(0), expected);
    // A byte string reaches a screen one byte per write.
    EXPECT_EQ(model.writes()[0], 1u);
    EXPECT_EQ(model.writes()[1], 1u);
}

// ---- Redirected output ---------------------------------------------------------

class Redirected : public testing::Test {
  protected:
    int fds[2] = {-1, -1};
    void SetUp() override {
        // A packet socket keeps the boundaries of the writes visible.
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, fds), 0);
        console::use_fd(fds[1]);
    }
    void TearDown() override {
        console::use_fd(1);
        close(fds[0]);
        close(fds[1]);
    }
    std::vector<std::string> packets() {
        std::vector<std::string> r;
        char buf[8192];
        ssize_t n;
        while ((n = recv(fds[0], buf, sizeof buf, 0)) > 0) r.emplace_back(buf, size_t(n));
        return r;
    }
    std::string all() {
        std::string s;
        for (auto& p : packets()) s += p;
        return s;
    }
};

TEST_F(Redirected, FourByteUnitsBecomeUtf8) {
    std::u32string s = U"\U0001F600";
    console::write_text(s.data(), 4, 4, false);
    EXPECT_EQ(all(), "\xF0\x9F\x98\x80");
}

TEST_F(Redirected, UnitsOfEachWidth) {
    struct Case {
        std::string bytes;
        int unit;
        bool newline;
        std::string out;
    } cases[] = {
        {"caf\xE9", 1, true, "caf\xC3\xA9\n"},
        {"\x1b[31mx", 1, false, "\x1b[31mx"},                                // escapes pass through
        {std::string("\x3D\xD8\x00\xDE", 4), 2, false, "\xF0\x9F\x98\x80"},  // a surrogate pair
        {std::string("\x3D\xD8\x41\x00", 4), 2, false,
         "\xEF\xBF\xBD"
         "A"},                                                           // lone high surrogate
        {std::string("\x00\xDE", 2), 2, false, "\xEF\xBF\xBD"},          // lone low surrogate
        {std::string("\x00\xD8\x00\x00", 4), 4, false, "\xEF\xBF\xBD"},  // surrogate code point
        {std::string("\x00\x00\x11\x00", 4), 4, false, "\xEF\xBF\xBD"},  // above U+10FFFF
        {std::string("\xFF\x07\x00\x00", 4), 4, false, "\xDF\xBF"},
        {"", 1, true, "\n"},
    };
    for (const Case& c : cases) {
        console::write_text(c.bytes.data(), c.bytes.size(), c.unit, c.newline);
        EXPECT_EQ(all(), c.out) << c.unit;
    }
}

TEST_F(Redirected, WritesJustOver1020Bytes) {
    console::write_text(std::string(1500, 'y').data(), 1500, 1, false);
    std::vector<std::string> p = packets();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].size(), 1021u);
    EXPECT_EQ(p[1].size(), 479u);
    // Multi-byte characters are never split between writes.
    std::u32string wide(400, U'\u20AC');  // 3 bytes each
    console::write_text(wide.data(), wide.size() * 4, 4, true);
    p = packets();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].size(), 1023u);
    EXPECT_EQ(p[1].size(), 1200u - 1023u + 1u);
}

TEST_F(Redirected, ByteStringsAreWrittenUnchanged) {
    console::print_cstring("\x1b[1m\xC3\xA9");
    console::print_int(12);
    EXPECT_EQ(all(),
              "\x1b[1m\xC3\xA9"
              "12");
}

// ---- Terminal ------------------------------------------------------------------------

TEST(Terminal, SgrSequences) {
    using console::TerminalScreen;
    struct Case {
        uint16_t a;
        const char* seq;
    } cases[] = {
        {0x07, "\x1b[0m"},     {0x04, "\x1b[0;31m"},    {0x01, "\x1b[0;34m"},    {0x89, "\x1b[0;94;100m"},
        {0x8007, "\x1b[0;4m"}, {0x1E, "\x1b[0;93;44m"}, {0x70, "\x1b[0;30;47m"}, {0x0F, "\x1b[0;97m"},
    };
    for (const Case& c : cases) EXPECT_EQ(TerminalScreen::sgr_sequence(c.a, DEFAULT), c.seq) << c.a;
}

TEST(Terminal, EffectsAreSentAsTerminalSequences) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    console::TerminalScreen term(fds[1]);
    console::use_screen(&term);
    std::string text = "\x1b[5;2Hhi\x1b[31m\xE9\x1b[2A\x1b[K\x1b[0m";
    console::write(text.data(), text.size(), 1, true);
    console::use_fd(1);
    std::string got;
    char buf[1024];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, size_t(n));
    EXPECT_EQ(got,
              "\x1b[3;6H"
              "hi"
              "\x1b[0;31m"
              "\xC3\xA9"
              "\x1b[2A"
              "\x1b[0m\x1b[K\x1b[0;31m"
              "\x1b[0m"
              "\n");
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
