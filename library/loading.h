// The routine of do-file's header search; the Kiv side takes it from the
// object of this table (`routine-table 'loading`).
#pragma once

#include "library/routine_table.h"

namespace kiv::library::loading {

// The object table `loading`: `find-header`.
extern const routine::Table TABLE;

}  // namespace kiv::library::loading
