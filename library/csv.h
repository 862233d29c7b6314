// The CSV reader behind library/csv.kiv (`routine-table 'csv`): the lines
// of a text as blocks of strings, with the header, alignment and quoting
// checks of load-csv.
#pragma once

#include "library/routine_table.h"

namespace kiv::library::csv {

// The object table `csv`: `read`.
extern const routine::Table TABLE;

}  // namespace kiv::library::csv
