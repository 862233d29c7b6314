#include "platform/ansi.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/console_output.h"
#include "runtime/lowlevel.h"

namespace kiv::console {

// ---- Default effects, built on the primitives ----------------------------------

void ConsoleScreen::write_bytes(const char* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        char16_t u = static_cast<unsigned char>(bytes[i]);
        write_units(&u, 1);
    }
}

void ConsoleScreen::save_cursor() {
    ScreenInfo i = info();
    saved_x_ = i.cursor_x;
    saved_y_ = i.cursor_y;
}

void ConsoleScreen::restore_cursor() {
    set_cursor(saved_x_, saved_y_);
}

void ConsoleScreen::move_cursor(int32_t dx, int32_t dy) {
    ScreenInfo i = info();
    int32_t x = std::clamp(i.cursor_x + dx, 0, std::max(i.width - 1, 0));
    int32_t y = std::clamp(i.cursor_y + dy, 0, std::max(i.height - 1, 0));
    set_cursor(x, y);
}

void ConsoleScreen::erase_to_line_end(uint16_t dflt) {
    ScreenInfo i = info();
    if (i.cursor_x < i.width) fill(i.cursor_x, i.cursor_y, uint32_t(i.width - i.cursor_x), dflt);
}

void ConsoleScreen::erase_line_start_to_end(uint16_t dflt) {
    ScreenInfo i = info();
    fill(0, i.cursor_y, uint32_t(i.width) * uint32_t(i.height - i.cursor_y), dflt);
}

void ConsoleScreen::erase_lines_above(uint16_t dflt) {
    ScreenInfo i = info();
    fill(0, 0, uint32_t(i.width) * uint32_t(i.cursor_y), dflt);
}

void ConsoleScreen::erase_all(uint16_t dflt) {
    ScreenInfo i = info();
    fill(0, 0, uint32_t(i.width) * uint32_t(i.height), dflt);
    set_cursor(0, 0);
}

void ConsoleScreen::erase_line_to_cursor(uint16_t dflt) {
    ScreenInfo i = info();
    // The cursor's own cell is erased too.
    fill(0, i.cursor_y, uint32_t(std::min(i.cursor_x + 1, i.width)), dflt);
    set_cursor(0, i.cursor_y);
}

void ConsoleScreen::erase_line(uint16_t dflt) {
    ScreenInfo i = info();
    fill(0, i.cursor_y, uint32_t(i.width), dflt);
    set_cursor(0, i.cursor_y);
}

// ---- SGR and the interpreter --------------------------------------------------

uint16_t sgr(uint16_t a, uint32_t code, uint16_t default_attribute) {
    static constexpr uint8_t FOREGROUND[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    static constexpr uint8_t BACKGROUND[8] = {0x00, 0x40, 0x20, 0x60, 0x10, 0x50, 0x30, 0x70};
    switch (code) {
        case 0:
            return default_attribute;
        case 1:
            return uint16_t(a | 0x88);
        case 4:
            return uint16_t(a | 0x8000);
        case 7:
            return uint16_t(((a & 0x0F) << 4) | ((a & 0xF0) >> 4));
        case 39:
            return uint16_t(a | 0x08);
        case 49:
            return uint16_t(a | 0x80);
        default:
            break;
    }
    if (code >= 30 && code <= 37) return uint16_t((a & 0xF8) + FOREGROUND[code - 30]);
    if (code >= 40 && code <= 47) return uint16_t((a & 0x8F) + BACKGROUND[code - 40]);
    return uint16_t(code);  // any other code becomes the attribute itself
}

namespace {

void print_dump(ConsoleScreen& screen, uint16_t default_attribute) {
    ScreenInfo i = screen.info();
    lowlevel::print_line({"Screen buffer info:"});
    lowlevel::print_line({"   size______ ", i.width, "x", i.height});
    lowlevel::print_line({"   cursor____ ", i.cursor_x, "x", i.cursor_y});
    lowlevel::print_line({"   attribute_ ", lowlevel::hex(i.attribute), " ", lowlevel::hex(default_attribute)});
    lowlevel::print_line({"   left______ ", i.left, " top: ", i.top});
    lowlevel::print_line({"   right_____ ", i.right, " bottom: ", i.bottom});
    lowlevel::print_line({"   max_______ ", i.max_width, "x", i.max_height});
}

constexpr uint32_t NUMBER_MODULUS = 65535;

// Joins UTF-16 units into code points for `put`: a surrogate pair makes one,
// an unpaired surrogate U+FFFD. A high surrogate that ends the units waits
// in `pending` for the next write.
template <class Put>
void join_units(const char16_t* units, size_t count, char16_t& pending, Put&& put) {
    for (size_t i = 0; i < count; ++i) {
        char16_t u = units[i];
        if (pending) {
            char16_t high = pending;
            pending = 0;
            if (u >= 0xDC00 && u <= 0xDFFF) {
                put(0x10000 + ((char32_t(high) - 0xD800) << 10) + (u - 0xDC00));
                continue;
            }
            put(0xFFFD);
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            pending = u;
            continue;
        }
        put(u >= 0xDC00 && u <= 0xDFFF ? 0xFFFD : u);
    }
}

}  // namespace

size_t ansi_escape(ConsoleScreen& screen, const void* at, size_t bytes_left, int unit,
                   uint16_t default_attribute) {
    const auto* p = static_cast<const uint8_t*>(at);
    size_t count = bytes_left / size_t(unit);
    auto get = [&](size_t i) -> uint32_t {
        if (unit == 1) return p[i];
        uint16_t u;
        std::memcpy(&u, p + 2 * i, 2);
        return u;
    };
    if (count < 2 || get(1) != '[') return 0;

    enum { START, FIRST_NUMBER, SECOND_NUMBER_START, SECOND_NUMBER } state = START;
    uint32_t p1 = 0, p2 = 0;
    // The attribute is read when the sequence first applies an SGR code and
    // then carried through the rest of it.
    bool have_attribute = false;
    uint16_t attribute = 0;
    auto current = [&]() -> uint16_t {
        if (!have_attribute) {
            attribute = screen.attribute();
            have_attribute = true;
        }
        return attribute;
    };

    for (size_t i = 2; i < count; ++i) {
        uint32_t c = get(i);
        bool digit = c >= '0' && c <= '9';
        size_t used = (i + 1) * size_t(unit);
        switch (state) {
            case START:
                if (digit) {
                    p1 = c - '0';
                    state = FIRST_NUMBER;
                    continue;
                }
                if (c == ';') continue;
                switch (c) {
                    case 's':
                        screen.save_cursor();
                        break;
                    case 'u':
                        screen.restore_cursor();
                        break;
                    case 'K':
                        screen.erase_to_line_end(default_attribute);
                        break;
                    case 'J':
                        screen.erase_line_start_to_end(default_attribute);
                        break;
                    case 'H':
                    case 'f':
                        screen.home();
                        break;
                    case '?':
                        print_dump(screen, default_attribute);
                        break;
                    default:
                        break;
                }
                return used;
            case FIRST_NUMBER:
                if (digit) {
                    p1 = (p1 * 10 + (c - '0')) % NUMBER_MODULUS;
                    continue;
                }
                if (c == ';') {
                    state = SECOND_NUMBER_START;
                    continue;
                }
                switch (c) {
                    case 'm':
                        attribute = sgr(current(), p1, default_attribute);
                        screen.set_attribute(attribute);
                        break;
                    case 'A':
                        screen.move_cursor(0, -int32_t(p1));
                        break;
                    case 'B':
                        screen.move_cursor(0, int32_t(p1));
                        break;
                    case 'C':
                        screen.move_cursor(int32_t(p1), 0);
                        break;
                    case 'D':
                        screen.move_cursor(-int32_t(p1), 0);
                        break;
                    case 'J':
                        if (p1 == 1) screen.erase_lines_above(default_attribute);
                        if (p1 == 2) screen.erase_all(default_attribute);
                        break;
                    case 'K':
                        if (p1 == 1) screen.erase_line_to_cursor(default_attribute);
                        if (p1 == 2) screen.erase_line(default_attribute);
                        break;
                    default:
                        break;
                }
                return used;
            case SECOND_NUMBER_START:
                if (digit) {
                    p2 = c - '0';
                    state = SECOND_NUMBER;
                    continue;
                }
                if (c == ';') continue;
                return used;
            case SECOND_NUMBER:
                if (digit) {
                    p2 = (p2 * 10 + (c - '0')) % NUMBER_MODULUS;
                    continue;
                }
                switch (c) {
                    case 'm':
                        attribute = sgr(sgr(current(), p1, default_attribute), p2, default_attribute);
                        screen.set_attribute(attribute);
                        return used;
                    case ';':
                        // More SGR codes may follow; the attribute is carried.
                        attribute = sgr(sgr(current(), p1, default_attribute), p2, default_attribute);
                        p1 = p2 = 0;
                        state = START;
                        continue;
                    case 'H':
                    case 'f':
                        screen.set_cursor(int32_t(p1), int32_t(p2));
                        return used;
                    default:
                        return used;
                }
        }
    }
    return count * size_t(unit);
}

// ---- ScreenModel ------------------------------------------------------------------

ScreenModel::ScreenModel(int32_t width, int32_t height, uint16_t attribute)
    : width_(std::max(width, 1)),
      height_(std::max(height, 1)),
      attribute_(attribute),
      blank_attribute_(attribute),
      cells_(size_t(width_) * size_t(height_), Cell{U' ', attribute}) {}

ScreenInfo ScreenModel::info() {
    ScreenInfo i;
    i.width = width_;
    i.height = height_;
    i.cursor_x = x_;
    i.cursor_y = y_;
    i.attribute = attribute_;
    i.left = 0;
    i.top = 0;
    i.right = width_ - 1;
    i.bottom = height_ - 1;
    i.max_width = width_;
    i.max_height = height_;
    return i;
}

void ScreenModel::set_cursor(int32_t x, int32_t y) {
    // Positions outside the buffer are refused, as a console refuses them.
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    x_ = x;
    y_ = y;
}

void ScreenModel::fill(int32_t x, int32_t y, uint32_t count, uint16_t attribute) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    size_t start = size_t(y) * size_t(width_) + size_t(x);
    size_t end = std::min(cells_.size(), start + count);
    for (size_t i = start; i < end; ++i) cells_[i] = Cell{U' ', attribute};
}

void ScreenModel::line_feed() {
    x_ = 0;
    if (++y_ < height_) return;
    y_ = height_ - 1;
    std::move(cells_.begin() + width_, cells_.end(), cells_.begin());
    std::fill(cells_.end() - width_, cells_.end(), Cell{U' ', attribute_});
}

void ScreenModel::put(char32_t ch) {
    switch (ch) {
        case U'\n':
            line_feed();
            return;
        case U'\r':
            x_ = 0;
            return;
        case U'\b':
            if (x_ > 0) --x_;
            return;
        case U'\a':
            return;
        case U'\t': {
            int32_t stop = (x_ / 8 + 1) * 8;
            while (x_ < stop && x_ < width_) put(U' ');
            return;
        }
        default:
            break;
    }
    cells_[size_t(y_) * size_t(width_) + size_t(x_)] = Cell{ch, attribute_};
    if (++x_ == width_) line_feed();
}

void ScreenModel::write_units(const char16_t* units, size_t count) {
    writes_.push_back(count);
    join_units(units, count, pending_high_, [this](char32_t cp) { put(cp); });
}

std::string ScreenModel::row(int32_t y) const {
    std::string out;
    for (int32_t x = 0; x < width_; ++x) {
        uint8_t buf[4];
        size_t n = encode_utf8(at(x, y).ch, buf);
        out.append(reinterpret_cast<const char*>(buf), n);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// ---- TerminalScreen ----------------------------------------------------------------

TerminalScreen::TerminalScreen(int fd, uint16_t default_attribute)
    : fd_(fd), default_attribute_(default_attribute), attribute_(default_attribute) {}

void TerminalScreen::size(int32_t& w, int32_t& h) const {
    winsize ws{};
    if (ioctl(fd_, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
        w = ws.ws_col;
        h = ws.ws_row;
    } else {
        w = 80;
        h = 25;
    }
}

ScreenInfo TerminalScreen::info() {
    ScreenInfo i;
    size(i.width, i.height);
    i.cursor_x = std::min(x_, i.width - 1);
    i.cursor_y = std::min(y_, i.height - 1);
    i.attribute = attribute_;
    i.right = i.width - 1;
    i.bottom = i.height - 1;
    i.max_width = i.width;
    i.max_height = i.height;
    return i;
}

void TerminalScreen::emit(const char* bytes, size_t count) {
    while (count) {
        ssize_t w = ::write(fd_, bytes, count);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;  // output to a closed terminal is lost silently
        }
        bytes += w;
        count -= size_t(w);
    }
}

std::string TerminalScreen::sgr_sequence(uint16_t a, uint16_t default_attribute) {
    // Console colour bits are blue, green, red; terminal colour numbers are red, green, blue.
    auto colour = [](unsigned bits) { return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2); };
    std::string s = "\x1b[0";
    unsigned fg = a & 0x0F, bg = (a >> 4) & 0x0F;
    if (fg != (default_attribute & 0x0Fu)) {
        s += ';';
        s += std::to_string((fg & 8 ? 90 : 30) + colour(fg & 7));
    }
    if (bg != ((default_attribute >> 4) & 0x0Fu)) {
        s += ';';
        s += std::to_string((bg & 8 ? 100 : 40) + colour(bg & 7));
    }
    if (a & 0x8000) s += ";4";
    s += 'm';
    return s;
}

void TerminalScreen::set_attribute(uint16_t attribute) {
    attribute_ = attribute;
    emit(sgr_sequence(attribute, default_attribute_));
}

void TerminalScreen::set_cursor(int32_t x, int32_t y) {
    if (x < 0 || y < 0) return;
    x_ = x;
    y_ = y;
    emit("\x1b[" + std::to_string(y + 1) + ";" + std::to_string(x + 1) + "H");
}

void TerminalScreen::fill(int32_t x, int32_t y, uint32_t count, uint16_t attribute) {
    int32_t w, h;
    size(w, h);
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    uint64_t room = uint64_t(w) * uint64_t(h - y) - uint64_t(x);
    if (count > room) count = uint32_t(room);
    std::string s =
        "\x1b"
        "7\x1b[" +
        std::to_string(y + 1) + ";" + std::to_string(x + 1) + "H";
    s += sgr_sequence(attribute, default_attribute_);
    s.append(count, ' ');
    s += "\x1b"
         "8";
    s += sgr_sequence(attribute_, default_attribute_);
    emit(s);
}

void TerminalScreen::track(const uint8_t* utf8, size_t count) {
    int32_t w, h;
    size(w, h);
    for (size_t i = 0; i < count; ++i) {
        uint8_t b = utf8[i];
        if ((b & 0xC0) == 0x80) continue;  // continuation byte
        switch (b) {
            case '\n':
                x_ = 0;
                y_ = std::min(y_ + 1, h - 1);
                continue;
            case '\r':
                x_ = 0;
                continue;
            case '\b':
                x_ = std::max(x_ - 1, 0);
                continue;
            case '\t':
                x_ = std::min((x_ / 8 + 1) * 8, w - 1);
                continue;
            default:
                break;
        }
        if (b < 0x20 || b == 0x7F) continue;
        if (++x_ >= w) {
            x_ = 0;
            y_ = std::min(y_ + 1, h - 1);
        }
    }
}

void TerminalScreen::write_units(const char16_t* units, size_t count) {
    uint8_t out[1024] = {};
    size_t n = 0;
    auto put = [&](char32_t cp) {
        n += encode_utf8(cp, out + n);
        if (n > sizeof out - 8) {
            track(out, n);
            emit(reinterpret_cast<const char*>(out), n);
            n = 0;
        }
    };
    join_units(units, count, pending_high_, put);
    track(out, n);
    emit(reinterpret_cast<const char*>(out), n);
}

void TerminalScreen::write_bytes(const char* bytes, size_t count) {
    track(reinterpret_cast<const uint8_t*>(bytes), count);
    emit(bytes, count);
}

void TerminalScreen::save_cursor() {
    saved_x_ = x_;
    saved_y_ = y_;
    emit("\x1b[s");
}

void TerminalScreen::restore_cursor() {
    x_ = saved_x_;
    y_ = saved_y_;
    emit("\x1b[u");
}

void TerminalScreen::move_cursor(int32_t dx, int32_t dy) {
    int32_t w, h;
    size(w, h);
    if (dy) emit("\x1b[" + std::to_string(dy < 0 ? -dy : dy) + (dy < 0 ? "A" : "B"));
    if (dx) emit("\x1b[" + std::to_string(dx < 0 ? -dx : dx) + (dx < 0 ? "D" : "C"));
    x_ = std::clamp(x_ + dx, 0, w - 1);
    y_ = std::clamp(y_ + dy, 0, h - 1);
}

void TerminalScreen::erase_with_default(const char* sequence) {
    std::string s = sgr_sequence(default_attribute_, default_attribute_);
    s += sequence;
    if (attribute_ != default_attribute_) s += sgr_sequence(attribute_, default_attribute_);
    emit(s);
}

void TerminalScreen::erase_to_line_end(uint16_t) {
    erase_with_default("\x1b[K");
}

// The whole cursor line, then everything below it; the cursor stays.
void TerminalScreen::erase_line_start_to_end(uint16_t) {
    erase_with_default("\x1b[2K\x1b[J");
}

// Every line above: from the end of the previous line back to the screen
// start, the cursor coming back afterwards.
void TerminalScreen::erase_lines_above(uint16_t) {
    erase_with_default(
        "\x1b"
        "7\x1b[A\x1b[999C\x1b[1J\x1b"
        "8");
}

void TerminalScreen::erase_all(uint16_t) {
    erase_with_default("\x1b[2J\x1b[H");
    x_ = y_ = 0;
}

void TerminalScreen::erase_line_to_cursor(uint16_t) {
    erase_with_default("\x1b[1K\r");
    x_ = 0;
}

void TerminalScreen::erase_line(uint16_t) {
    erase_with_default("\x1b[2K\r");
    x_ = 0;
}

}  // namespace kiv::console
