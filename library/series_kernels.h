// The kernels of the library's series functions: the loops of `sum`,
// `extract`, `split` and `replace/all` done in one routine call each, for
// the common cases (the Kiv functions keep every other case). Each gives
// exactly what the Kiv loop it stands for gives; the functions take them
// from the object of this table (`routine-table 'series-kernels`).
#pragma once

#include "library/routine_table.h"

namespace kiv::library::series_kernels {

// The object table `series-kernels`: `sum-values`, `extract-values`,
// `split-text` and `replace-text`.
extern const routine::Table TABLE;

}  // namespace kiv::library::series_kernels
