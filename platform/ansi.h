// The console screen and the ANSI escape interpreter.
//
// When standard output is a terminal, text reaches it through a ConsoleScreen
// and the CSI sequences in that text are interpreted here, with the console's
// own attribute model: a 16-bit character attribute whose bits are
//
//   0x0001 0x0002 0x0004  foreground blue, green, red
//   0x0008                foreground intensity
//   0x0010 0x0020 0x0040  background blue, green, red
//   0x0080                background intensity
//   0x8000                underscore
//
// Positions are 0-based columns (x) and rows (y) of the screen buffer.
//
// Two screens exist: TerminalScreen re-emits the effect of each sequence as
// its own escape sequences on a real terminal (which interprets them), and
// ScreenModel keeps a grid of cells that tests inspect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv::console {

struct ScreenInfo {
    int32_t width = 0, height = 0;  // screen buffer size
    int32_t cursor_x = 0, cursor_y = 0;
    uint16_t attribute = 0;                            // current attribute
    int32_t left = 0, top = 0, right = 0, bottom = 0;  // visible window
    int32_t max_width = 0, max_height = 0;             // largest possible window
};

class ConsoleScreen {
  public:
    virtual ~ConsoleScreen() = default;

    // The primitives every screen provides.
    virtual ScreenInfo info() = 0;
    virtual void set_cursor(int32_t x, int32_t y) = 0;
    virtual void set_attribute(uint16_t attribute) = 0;
    // Writes `count` spaces with `attribute` from (x, y) on, row after row,
    // stopping at the end of the buffer. The cursor does not move.
    virtual void fill(int32_t x, int32_t y, uint32_t count, uint16_t attribute) = 0;
    // Writes UTF-16 units at the cursor with the current attribute. A
    // surrogate pair may be split between two calls.
    virtual void write_units(const char16_t* units, size_t count) = 0;
    // Writes a byte string with no escape processing. The default writes
    // each byte as one unit by its own call; a terminal takes the bytes as UTF-8.
    virtual void write_bytes(const char* bytes, size_t count);

    // The effects of the escape interpreter. The defaults are built on the
    // primitives; a terminal overrides them with its own sequences.
    virtual uint16_t attribute() { return info().attribute; }
    virtual void save_cursor();                           // ESC [ s
    virtual void restore_cursor();                        // ESC [ u
    virtual void move_cursor(int32_t dx, int32_t dy);     // ESC [ n A/B/C/D, kept inside the buffer
    virtual void home() { set_cursor(0, 0); }             // ESC [ H
    virtual void erase_to_line_end(uint16_t dflt);        // ESC [ K
    virtual void erase_line_start_to_end(uint16_t dflt);  // ESC [ J: cursor's line start to buffer end
    virtual void erase_lines_above(uint16_t dflt);        // ESC [ 1 J
    virtual void erase_all(uint16_t dflt);                // ESC [ 2 J, cursor to 0,0
    virtual void erase_line_to_cursor(uint16_t dflt);     // ESC [ 1 K, cursor to line start
    virtual void erase_line(uint16_t dflt);               // ESC [ 2 K, cursor to line start

  protected:
    int32_t saved_x_ = 0, saved_y_ = 0;
};

// The attribute that SGR `code` makes of attribute `a`.
uint16_t sgr(uint16_t a, uint32_t code, uint16_t default_attribute);

// Interprets the escape sequence at `at` (an ESC unit; `bytes_left` bytes of
// text from there on, units of 1 or 2 bytes) on `screen`. Returns the number of
// bytes consumed, ESC included, or 0 when the ESC is not followed by "[". A
// sequence cut off by the end of the text is consumed without effect.
size_t ansi_escape(ConsoleScreen& screen, const void* at, size_t bytes_left, int unit,
                   uint16_t default_attribute);

// A grid of cells, for tests: text, attributes, cursor, and a log of the
// unit counts of write_units calls (one entry per call).
class ScreenModel final : public ConsoleScreen {
  public:
    struct Cell {
        char32_t ch;
        uint16_t attribute;
    };

    ScreenModel(int32_t width, int32_t height, uint16_t attribute = 0x07);

    ScreenInfo info() override;
    void set_cursor(int32_t x, int32_t y) override;
    void set_attribute(uint16_t attribute) override { attribute_ = attribute; }
    void fill(int32_t x, int32_t y, uint32_t count, uint16_t attribute) override;
    void write_units(const char16_t* units, size_t count) override;

    const Cell& at(int32_t x, int32_t y) const { return cells_[size_t(y) * size_t(width_) + size_t(x)]; }
    // Row y as UTF-8, trailing spaces removed.
    std::string row(int32_t y) const;
    int32_t cursor_x() const { return x_; }
    int32_t cursor_y() const { return y_; }
    const std::vector<size_t>& writes() const { return writes_; }
    void clear_writes() { writes_.clear(); }

  private:
    void put(char32_t ch);
    void line_feed();

    int32_t width_, height_;
    int32_t x_ = 0, y_ = 0;
    uint16_t attribute_;
    uint16_t blank_attribute_;
    char16_t pending_high_ = 0;
    std::vector<Cell> cells_;
    std::vector<size_t> writes_;
};

// A real terminal on a file descriptor. The cursor position it reports is
// its own count of what it has written since start-up (a terminal cannot be
// asked cheaply); cursor moves and erases are sent as the terminal's own
// sequences, so they act on the real cursor.
class TerminalScreen final : public ConsoleScreen {
  public:
    explicit TerminalScreen(int fd, uint16_t default_attribute = 0x07);

    ScreenInfo info() override;
    void set_cursor(int32_t x, int32_t y) override;
    void set_attribute(uint16_t attribute) override;
    void fill(int32_t x, int32_t y, uint32_t count, uint16_t attribute) override;
    void write_units(const char16_t* units, size_t count) override;
    void write_bytes(const char* bytes, size_t count) override;

    uint16_t attribute() override { return attribute_; }
    void save_cursor() override;
    void restore_cursor() override;
    void move_cursor(int32_t dx, int32_t dy) override;
    void home() override { set_cursor(0, 0); }
    void erase_to_line_end(uint16_t dflt) override;
    void erase_line_start_to_end(uint16_t dflt) override;
    void erase_lines_above(uint16_t dflt) override;
    void erase_all(uint16_t dflt) override;
    void erase_line_to_cursor(uint16_t dflt) override;
    void erase_line(uint16_t dflt) override;

    // The SGR sequence that shows attribute `a` on a terminal whose own
    // default colours stand for `default_attribute`.
    static std::string sgr_sequence(uint16_t a, uint16_t default_attribute);

  private:
    void emit(const char* bytes, size_t count);
    void emit(const std::string& s) { emit(s.data(), s.size()); }
    // Runs an erase with the default colours, then restores the current ones.
    void erase_with_default(const char* sequence);
    void track(const uint8_t* utf8, size_t count);
    void size(int32_t& w, int32_t& h) const;

    int fd_;
    uint16_t default_attribute_;
    uint16_t attribute_;
    int32_t x_ = 0, y_ = 0;
    char16_t pending_high_ = 0;
};

}  // namespace kiv::console
