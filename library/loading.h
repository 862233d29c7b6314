// The routines behind loading and the data formats: the script header
// search of do-file, and the JSON and CSV kernels (library/json.cpp,
// library/csv.cpp). The Kiv side takes them from the objects of these
// tables (`routine-table 'loading`, `routine-table 'formats`).
#pragma once

#include "library/routine_table.h"

namespace kiv::library::loading {

// The object table `loading`: `find-header`.
extern const routine::Table TABLE;

// The object table `formats`: the JSON decoder and encoder, `unescape`,
// and the CSV reader.
extern const routine::Table FORMATS_TABLE;

}  // namespace kiv::library::loading
