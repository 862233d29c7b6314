#include "gui/window/selection_formats.h"

#include <cctype>

namespace kiv::gui::selection_formats {

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool path_of_uri(const std::string& uri, std::string* path) {
    if (uri.rfind("file://", 0) != 0) return false;
    const size_t slash = uri.find('/', 7);
    if (slash == std::string::npos) return false;
    path->clear();
    for (size_t i = slash; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size() && hex_value(uri[i + 1]) >= 0 && hex_value(uri[i + 2]) >= 0) {
            *path += char(hex_value(uri[i + 1]) * 16 + hex_value(uri[i + 2]));
            i += 2;
        } else {
            *path += uri[i];
        }
    }
    return true;
}

constexpr uint32_t REPLACEMENT = 0xFFFD;

// The code points of UTF-8 bytes; a malformed sequence gives U+FFFD and
// decoding goes on at the next byte.
std::vector<uint32_t> code_points_of(const std::string& s) {
    std::vector<uint32_t> out;
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        const uint8_t b = uint8_t(s[i]);
        int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len > 0 && i + size_t(len) <= n;
        for (int k = 1; ok && k < len; ++k) {
            const uint8_t c = uint8_t(s[i + size_t(k)]);
            if ((c & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        static const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
        if (!ok) {
            out.push_back(REPLACEMENT);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += size_t(len);
    }
    return out;
}

void put_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

void put_unit(std::vector<uint8_t>& out, uint32_t u) {
    out.push_back(uint8_t(u & 0xFF));
    out.push_back(uint8_t(u >> 8));
}

void put_utf16(std::vector<uint8_t>& out, uint32_t cp) {
    if (cp >= 0x10000) {
        put_unit(out, 0xD800 + ((cp - 0x10000) >> 10));
        put_unit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        put_unit(out, cp);
    }
}

// UTF-16LE units from byte `at` up to a NUL unit (or the end); *next gets
// the byte after the NUL. Unpaired surrogates give U+FFFD.
std::string utf8_of_units(const std::vector<uint8_t>& b, size_t at, size_t* next) {
    std::string out;
    size_t i = at;
    while (i + 1 < b.size()) {
        uint32_t u = uint32_t(b[i]) | uint32_t(b[i + 1]) << 8;
        i += 2;
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < b.size()) {
            const uint32_t low = uint32_t(b[i]) | uint32_t(b[i + 1]) << 8;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                i += 2;
                put_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = REPLACEMENT;
        put_utf8(out, u);
    }
    if (next) *next = i;
    return out;
}

}  // namespace

std::vector<std::string> decode_uri_list(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string path;
        if (!line.empty() && line[0] != '#' && path_of_uri(line, &path)) out.push_back(path);
        start = end + 1;
    }
    return out;
}

std::string encode_uri_list(const std::vector<std::string>& paths) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (const std::string& p : paths) {
        out += "file://";
        for (unsigned char c : p) {
            if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
                out += char(c);
            } else {
                out += '%';
                out += digits[c >> 4];
                out += digits[c & 15];
            }
        }
        out += "\r\n";
    }
    return out;
}

std::vector<uint8_t> text_to_store(const std::string& utf8) {
    std::vector<uint8_t> out;
    for (uint32_t cp : code_points_of(utf8)) {
        if (cp == 0) break;
        if (cp == '\n') put_unit(out, '\r');
        put_utf16(out, cp);
    }
    put_unit(out, 0);
    return out;
}

std::string text_from_store(const std::vector<uint8_t>& utf16) {
    const std::string raw = utf8_of_units(utf16, 0, nullptr);
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i)
        if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) out += raw[i];
    return out;
}

std::vector<uint8_t> files_to_store(const std::vector<std::string>& paths) {
    std::vector<uint8_t> out{20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    for (const std::string& p : paths) {
        for (uint32_t cp : code_points_of(p))
            if (cp) put_utf16(out, cp);
        put_unit(out, 0);
    }
    put_unit(out, 0);
    return out;
}

std::vector<std::string> files_from_store(const std::vector<uint8_t>& b) {
    std::vector<std::string> out;
    if (b.size() < 20) return out;
    const uint32_t offset = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    const bool wide = b[16] | b[17] | b[18] | b[19];
    if (!wide || offset < 20 || offset >= b.size()) return out;
    size_t at = offset;
    while (at + 1 < b.size()) {
        size_t next = at;
        std::string path = utf8_of_units(b, at, &next);
        if (path.empty()) break;  // the closing NUL unit
        out.push_back(path);
        at = next;
    }
    return out;
}

}  // namespace kiv::gui::selection_formats
