// file!: a string holding a file name in the language's own form, written
// "%name" or, when the name holds characters that would end or change the
// token, "%"..."" with the string escapes. It is a child of url! (path
// joining and make/to come from there). On this POSIX system a file name is
// the OS path as it stands: %/home/ann/x.kiv is /home/ann/x.kiv, with no
// drive-letter rules. The actions that touch the file system belong to the
// platform layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace kiv::datatype {
struct Registration;
}

namespace kiv::file {

// The OS path of a file! from its index (POSIX: the name as it stands). An
// empty name or one holding a NUL cannot name a file: access cannot-open.
std::string os_path(const Cell* file);

// Appends the OS path of a file! (or string!) from its index to the target
// string; with `full`, a relative name gets the current directory and "/"
// in front.
void append_os_path(Cell* file, Cell* target, bool full);

// Read bytes as the value the read actions give (pushed on the data stack):
// a binary! with `binary`, a block of line strings with `lines`, else a
// string! decoded from UTF-8 with CR LF and lone CR folded to LF.
Cell* push_read_value(const std::vector<uint8_t>& bytes, bool binary, bool lines);

// Sets the actions that touch the file system (file_io.cpp).
void register_io(datatype::Registration& r);

// Registers file! (after url!).
void init();

}  // namespace kiv::file
