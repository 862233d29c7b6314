// The JSON kernels behind library/json.kiv: the decoder (the library's JSON
// grammar with its exact results and messages) and the encoder. The Kiv side
// takes them from the object of the table `json` (`routine-table 'json`).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "library/routine_table.h"

namespace kiv::library::json {

// The object table `json`: `decode` and `encode`.
extern const routine::Table TABLE;

// Rewrites the backslash escapes of the UTF-8 text raw[0..n) into `out`.
// A bad escape, or a surrogate escape that is not a high unit followed by a
// low unit, raises script invalid-data with the text.
void unescape(const uint8_t* raw, size_t n, std::string& out);

}  // namespace kiv::library::json
