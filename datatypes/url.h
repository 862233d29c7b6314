// url!: a string holding a URL in decoded form; file! is its child.
//
// The text is kept decoded (a space is a space); mold writes it
// percent-encoded with the general table (runtime/percent_coding.h) so that the
// molded text loads back as the same URL. Besides its mold, url! assembles
// a URL from a block (make/to) and joins path elements (url/x), which file!
// inherits. Reading and writing through the network live in url_io.cpp.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/percent_coding.h"
#include "datatypes/actions.h"

namespace kiv::datatype {
struct Registration;
}

namespace kiv::url {

// A new string! on the data stack holding the percent-decoded text of a
// string-like value from its index. Escapes that form invalid UTF-8 raise
// access invalid-utf8.
Cell* push_decoded(Cell* source);
// A new string! on the data stack holding the UTF-8 bytes of a string-like
// value from its index, percent-encoded with the table.
Cell* push_encoded(Cell* source, percent_coding::Table table);

// Actions file! shares.
Outcome make(Cell* proto, Cell* spec, uint32_t type);
Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grandparent, Cell* previous,
                int32_t position, bool case_sensitive, bool get_path, bool last_element, bool notify_owner);

// Sets read, write and open (url_io.cpp).
void register_io(datatype::Registration& r);

// Registers url! (after issue!).
void init();

}  // namespace kiv::url
