// The runtime's low-level output to standard output.
//
// Two paths, chosen once by whether standard output is a terminal:
// - console path: text goes through a ConsoleScreen as UTF-16 units, batched
//   510 units per screen write; CSI escape sequences are interpreted (ansi.h)
//   and flush the pending text first so that their effect lands in place;
// - redirected path: every unit is written as UTF-8, batched into writes of
//   just over 1,020 bytes; escape sequences pass through unchanged.
// Text units are 1 byte (Latin-1), 2 bytes (UTF-16) or 4 bytes (code points).
// A line end is a single LF on both paths.
//
// Byte strings and numbers written through print_cstring and the number
// printers are also handed to hook list B (hooks.h) as UTF-8 bytes, so that a
// GUI console can show the same text.
//
// The output buffer (1,024 bytes, tracked heap) and the parse state are
// global; main thread only. Write errors are ignored: output to a closed
// descriptor is lost silently.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::console {

class ConsoleScreen;

constexpr size_t OUTPUT_BUFFER_BYTES = 1024;
constexpr size_t CONSOLE_FLUSH_UNITS = 510;
constexpr size_t REDIRECT_FLUSH_BYTES = 1020;

// Chooses the path for standard output (terminal: console path on a
// TerminalScreen) and keeps the screen's attribute as the default. Safe to
// call again; the output functions call it on first use.
void init_output();
// The console path onto `screen` (tests use a ScreenModel). Also saves the
// screen's current attribute as the default.
void use_screen(ConsoleScreen* screen);
// The redirected path onto descriptor `fd`.
void use_fd(int fd);

bool is_console();
ConsoleScreen* screen();

// Keeps the console's current attribute as the default (SGR 0 and erases).
void save_default_attribute();
uint16_t default_attribute();

// Console path: units of 1 or 2 bytes, escape sequences interpreted.
void write(const void* text, size_t bytes, int unit, bool newline);
// Redirected path: units of 1, 2 or 4 bytes encoded as UTF-8. Unit-2 text is
// read as UTF-16 (pairs combined); an unpaired surrogate becomes U+FFFD.
void write_utf8(const void* text, size_t bytes, int unit, bool newline);
// The path of the current output.
void write_text(const void* text, size_t bytes, int unit, bool newline);
// Code points with no escape processing.
void write_ucs4(const char32_t* code_points, size_t bytes);

// A NUL-terminated byte string, written unchanged (UTF-8 on a terminal, raw
// bytes when redirected; a screen takes each byte as one unit), then handed to
// hook list B.
void print_cstring(const char* s);
// Bytes written unchanged, whatever they hold (a NUL, bytes that are no
// UTF-8), with no escape processing and no hook: what waits in the buffer
// goes first. Raw output of binary data.
void write_raw(const void* data, size_t count);
// One character by code point, then hook list B with its UTF-8 bytes.
void print_char(uint32_t code_point);
// Numbers formatted with "%i", "%02X", "%08X", "%.16g" and "%.7g".
void print_int(int32_t value);
void print_hex_byte(uint8_t value);
void print_hex(uint32_t value);
void print_float(double value);
void print_float32(float value);

// Writes the UTF-8 form of one code point (1 to 4 bytes) and returns its
// length; surrogates and values above 0x10FFFF give U+FFFD.
inline size_t encode_utf8(uint32_t cp, uint8_t* out) {
    if (cp < 0x80) {
        out[0] = uint8_t(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = uint8_t(0xC0 | (cp >> 6));
        out[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x10000) {
        out[0] = uint8_t(0xE0 | (cp >> 12));
        out[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        out[2] = uint8_t(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = uint8_t(0xF0 | (cp >> 18));
    out[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
    out[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    out[3] = uint8_t(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace kiv::console
