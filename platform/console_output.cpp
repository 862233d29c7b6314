#include "platform/console_output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/ansi.h"
#include "runtime/hooks.h"
#include "runtime/lowlevel.h"
#include "runtime/series.h"

namespace kiv::console {

namespace {

struct OutputState {
    bool initialised = false;
    bool console = false;  // standard output is a terminal (or a test screen)
    int fd = 1;            // descriptor of the redirected path
    ConsoleScreen* screen = nullptr;
    uint8_t* buffer = nullptr;  // OUTPUT_BUFFER_BYTES, tracked heap
    size_t pos = 0;             // pending units (console path) or bytes (redirected path)
    uint16_t default_attribute = 0x07;
};

OutputState out;

void at_quit_output() {
    // Leave a terminal in its own colours.
    if (out.console && out.screen && out.screen->attribute() != out.default_attribute) {
        out.screen->set_attribute(out.default_attribute);
    }
    // Everything written so far has been flushed; the block goes with the
    // rest of the tracked heap.
    out.buffer = nullptr;
    out.pos = 0;
}

void ensure_buffer() {
    if (out.buffer) return;
    out.buffer = static_cast<uint8_t*>(lowlevel::allocate(OUTPUT_BUFFER_BYTES));
    out.pos = 0;
    lowlevel::at_quit(at_quit_output);
}

void ensure_ready() {
    if (!out.initialised) init_output();
    ensure_buffer();
}

void raw_write(int fd, const void* data, size_t count) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (count) {
        ssize_t w = ::write(fd, p, count);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;  // lost silently
        }
        p += w;
        count -= size_t(w);
    }
}

char16_t* units() {
    return reinterpret_cast<char16_t*>(out.buffer);
}

void flush_units() {
    if (out.pos == 0) return;
    size_t n = out.pos;
    out.pos = 0;
    out.screen->write_units(units(), n);
}

void put_unit(char16_t u) {
    units()[out.pos++] = u;
    if (out.pos == CONSOLE_FLUSH_UNITS) flush_units();
}

void put_code_point_units(uint32_t cp) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x10000) {
        put_unit(char16_t(cp));
        return;
    }
    if (out.pos + 2 > CONSOLE_FLUSH_UNITS) flush_units();  // keep the pair in one write
    cp -= 0x10000;
    put_unit(char16_t(0xD800 + (cp >> 10)));
    put_unit(char16_t(0xDC00 + (cp & 0x3FF)));
}

void flush_bytes() {
    if (out.pos == 0) return;
    size_t n = out.pos;
    out.pos = 0;
    raw_write(out.fd, out.buffer, n);
}

void put_code_point_bytes(uint32_t cp) {
    out.pos += encode_utf8(cp, out.buffer + out.pos);
    if (out.pos > REDIRECT_FLUSH_BYTES) flush_bytes();
}

void print_number(const char* format, ...) __attribute__((format(printf, 1, 2)));
void print_number(const char* format, ...) {
    char number[64];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(number, sizeof number, format, args);
    va_end(args);
    if (n < 0) return;
    size_t len = std::min(size_t(n), sizeof number - 1);
    write_text(number, len, 1, false);
    hooks::fire_3(number, int32_t(len), 0);
}

// Writes what waits in the buffer to the current sink before it changes.
void flush_pending() {
    if (!out.initialised || !out.pos) return;
    if (out.console) {
        flush_units();
    } else {
        flush_bytes();
    }
}

}  // namespace

void init_output() {
    if (out.initialised) return;
    if (isatty(1)) {
        static TerminalScreen terminal(1);
        use_screen(&terminal);
    } else {
        use_fd(1);
    }
}

void use_screen(ConsoleScreen* screen) {
    flush_pending();
    out.initialised = true;
    out.console = true;
    out.screen = screen;
    out.pos = 0;
    save_default_attribute();
}

void use_fd(int fd) {
    flush_pending();
    out.initialised = true;
    out.console = false;
    out.screen = nullptr;
    out.fd = fd;
    out.pos = 0;
}

bool is_console() {
    if (!out.initialised) init_output();
    return out.console;
}

ConsoleScreen* screen() {
    return out.screen;
}

void save_default_attribute() {
    if (out.console && out.screen) out.default_attribute = out.screen->attribute();
}

uint16_t default_attribute() {
    return out.default_attribute;
}

void write(const void* text, size_t bytes, int unit, bool newline) {
    ensure_ready();
    if (!out.console) {
        write_utf8(text, bytes, unit, newline);
        return;
    }
    if (unit == 4) {
        write_ucs4(static_cast<const char32_t*>(text), bytes);
        if (newline) {
            put_unit(u'\n');
            flush_units();
        }
        return;
    }
    const auto* p = static_cast<const uint8_t*>(text);
    size_t count = bytes / size_t(unit);
    for (size_t i = 0; i < count;) {
        uint32_t u = read_unit(p + i * size_t(unit), uint32_t(unit));
        if (u == 0x1B) {
            // Pending text first, so that the sequence acts at the right place.
            flush_units();
            size_t used = ansi_escape(*out.screen, p + i * size_t(unit), (count - i) * size_t(unit), unit,
                                      out.default_attribute);
            if (used) {
                i += used / size_t(unit);
                continue;
            }
        }
        put_unit(char16_t(u));  // a 1-byte unit is zero-extended
        ++i;
    }
    if (newline) put_unit(u'\n');
    flush_units();
}

void write_utf8(const void* text, size_t bytes, int unit, bool newline) {
    ensure_ready();
    if (out.console) {
        // The caller asked for UTF-8 on a screen: no escape processing, as
        // for code points.
        const auto* p = static_cast<const uint8_t*>(text);
        size_t count = bytes / size_t(unit);
        for (size_t i = 0; i < count; ++i) put_code_point_units(read_unit(p + i * size_t(unit), uint32_t(unit)));
        if (newline) put_unit(u'\n');
        flush_units();
        return;
    }
    const auto* p = static_cast<const uint8_t*>(text);
    size_t count = bytes / size_t(unit);
    for (size_t i = 0; i < count; ++i) {
        uint32_t cp = read_unit(p + i * size_t(unit), uint32_t(unit));
        if (unit == 2 && cp >= 0xD800 && cp <= 0xDFFF) {
            uint32_t low = i + 1 < count ? read_unit(p + (i + 1) * 2, 2) : 0;
            if (cp <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                cp = 0xFFFD;
            }
        }
        put_code_point_bytes(cp);
    }
    if (newline) out.buffer[out.pos++] = '\n';
    flush_bytes();
}

void write_text(const void* text, size_t bytes, int unit, bool newline) {
    if (is_console()) {
        write(text, bytes, unit, newline);
    } else {
        write_utf8(text, bytes, unit, newline);
    }
}

void write_ucs4(const char32_t* code_points, size_t bytes) {
    ensure_ready();
    if (!out.console) {
        write_utf8(code_points, bytes, 4, false);
        return;
    }
    size_t count = bytes / 4;
    for (size_t i = 0; i < count; ++i) {
        uint32_t cp;
        std::memcpy(&cp, reinterpret_cast<const uint8_t*>(code_points) + i * 4, 4);
        put_code_point_units(cp);
    }
    flush_units();
}

void print_cstring(const char* s) {
    ensure_ready();
    size_t n = std::strlen(s);
    if (out.console) {
        out.screen->write_bytes(s, n);
    } else {
        raw_write(out.fd, s, n);
    }
    hooks::fire_3(s, int32_t(n), 0);
}

void write_raw(const void* data, size_t count) {
    ensure_ready();
    flush_pending();
    if (out.console) {
        out.screen->write_bytes(static_cast<const char*>(data), count);
    } else {
        raw_write(out.fd, data, count);
    }
}

void print_char(uint32_t code_point) {
    ensure_ready();
    uint8_t utf8[4];
    size_t n = encode_utf8(code_point, utf8);
    if (out.console) {
        put_code_point_units(code_point);
        flush_units();
    } else {
        raw_write(out.fd, utf8, n);
    }
    hooks::fire_3(reinterpret_cast<const char*>(utf8), int32_t(n), 0);
}

void print_int(int32_t value) {
    print_number("%i", value);
}
void print_hex_byte(uint8_t value) {
    print_number("%02X", unsigned(value));
}
void print_hex(uint32_t value) {
    print_number("%08X", unsigned(value));
}
void print_float(double value) {
    print_number("%.16g", value);
}
void print_float32(float value) {
    print_number("%.7g", double(value));
}

}  // namespace kiv::console
