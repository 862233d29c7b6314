// The system object's fields as C++ reaches them: by the words of a path
// from `system` (e.g. {"options", "args"}). The object is made by the
// library at start-up; before that, and when a step is missing, the
// readers answer null and the writer false.
#pragma once
#include <initializer_list>

#include "runtime/cell.h"

namespace kiv::system_object {

// The value slot of the field, or null when the system object or a step is
// missing. Valid until the next allocation.
Cell* field(std::initializer_list<const char*> path);
// Stores a value in such a field (no change handler runs); false when the
// field is missing.
bool set_field(std::initializer_list<const char*> path, const Cell& value);

}  // namespace kiv::system_object
