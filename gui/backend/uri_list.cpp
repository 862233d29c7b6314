#include "gui/backend/uri_list.h"

#include <cctype>

namespace kiv::gui::uri_list {

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

}  // namespace

std::vector<std::string> decode(const std::string& text) {
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

std::string encode(const std::vector<std::string>& paths) {
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

}  // namespace kiv::gui::uri_list
