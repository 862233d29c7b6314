// The CSV reader behind library/csv.kiv (`routine-table 'csv`): the lines
// of a text as blocks of strings, with the header, alignment and quoting
// checks of load-csv.
#pragma once

#include <cstdint>
#include <string>

#include "library/routine_table.h"
#include "runtime/cell.h"

namespace kiv::library::csv {

// The object table `csv`: `read`.
extern const routine::Table TABLE;

enum Outcome { DONE, NOT_ALIGNED, MALFORMED, TOO_SMALL };
struct ReadResult {
    Outcome outcome = DONE;
    int32_t line = 0;  // of malformed quoting
};

// Reads the lines of UTF-8 text into the block `out` (each line a block of
// strings, or with `flat` the strings one by one) and, `with_header`, the
// first line's values into `header`. Stops at the first line whose length
// differs from the first's (NOT_ALIGNED), at malformed quoting (MALFORMED,
// with its line), or, with a header, when no data line follows (TOO_SMALL).
ReadResult read_text(const std::string& text, const std::string& delimiter, uint32_t quote, bool trim,
                     bool with_header, bool flat, Cell* out, Cell* header);

}  // namespace kiv::library::csv
