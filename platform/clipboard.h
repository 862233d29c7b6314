// The clipboard store: named formats, each holding bytes, behind a small
// interface so that a system clipboard can stand in for the in-process store
// (the X11 clipboard of the GUI layer installs its own Store).
//
// The formats and their byte layouts are those the clipboard routines
// (library/clipboard.cpp) write and read:
//   TEXT   UTF-16LE text with CR LF line breaks and a NUL unit at the end;
//   FILES  a dropped-file list: a 20-byte header {offset of the names = 20,
//          point 0,0, non-client flag 0, wide flag 1}, then each path as
//          NUL-terminated UTF-16LE, then one more NUL unit;
//   "PNG", "JFIF", "GIF"  encoded images;
//   DIBV5  a 124-byte bitmap header (32 bits, bit fields, BGRA masks) and
//          the pixels right after it.
// Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::platform::clipboard {

constexpr const char* TEXT = "CF_UNICODETEXT";
constexpr const char* FILES = "CF_HDROP";
constexpr const char* DIBV5 = "CF_DIBV5";

class Store {
  public:
    virtual ~Store() = default;
    // False when the clipboard cannot be used right now (another program
    // holds it); the routines try three times.
    virtual bool open() = 0;
    virtual void close() = 0;
    // Removes every format.
    virtual bool empty() = 0;
    virtual bool put(const std::string& format, std::vector<uint8_t> bytes) = 0;
    // False when the format is not there.
    virtual bool get(const std::string& format, std::vector<uint8_t>& out) = 0;
};

// The store in use: the in-process one unless another was installed.
Store& store();
// Installs a store (null: back to the in-process one). The caller keeps
// ownership.
void set_store(Store* s);

}  // namespace kiv::platform::clipboard
