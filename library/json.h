// The JSON kernels behind library/json.kiv: the decoder (the library's JSON
// grammar with its exact results and messages) and the encoder. The Kiv side
// takes them from the object of the table `json` (`routine-table 'json`).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "library/routine_table.h"
#include "runtime/cell.h"

namespace kiv::library::json {

// The object table `json`: `decode` and `encode`.
extern const routine::Table TABLE;

// Decodes JSON text (UTF-8) and appends its value to the block `out`; false
// when the text is not JSON. Raises script invalid-data for a bad escape,
// internal stack-overflow for nesting too deep.
bool decode_text(const std::string& text, Cell* out);

// The JSON text of a value: compact, or indented with `indent` when given;
// with `ascii` every character beyond ASCII escaped. A float with no JSON
// form (NaN, infinities) raises script invalid-data.
std::string encode_text(const Cell& value, const std::string* indent, bool ascii);

// Rewrites the backslash escapes of the UTF-8 text raw[0..n) into `out`.
// A bad escape, or a surrogate escape that is not a high unit followed by a
// low unit, raises script invalid-data with the text.
void unescape(const uint8_t* raw, size_t n, std::string& out);

}  // namespace kiv::library::json
