#include "datatypes/registry.h"

#include <cstring>

#include "runtime/collector.h"
#include "runtime/lowlevel.h"

namespace kiv {

void bad_slot_signature(uint32_t slot) {
    lowlevel::print_line({"*** Datatype Error: action slot called with another signature: ", int32_t(slot)});
    lowlevel::quit(lowlevel::ERR_ASSERTION, lowlevel::caller_address());
}

}  // namespace kiv

namespace kiv::datatype {

NameRecord names[TYPE_ID_LIMIT + 1];
ActionEntry action_table[(TYPE_ID_LIMIT + 1) * 256];
uint32_t highest_type_id = 0;
// Set by the first registration after init_tables: a table never filled is
// still all zero (static storage) and is not written again (it is large).
bool action_table_filled = false;

namespace {
// The datatype-name words are roots.
void mark_names() {
    for (auto& n : names) collector::mark_cells(&n.word, &n.word + 1);
}
}  // namespace

void init_tables() {
    collector::unregister_marker(&mark_names);
    collector::register_marker(&mark_names);
    for (auto& n : names) n = NameRecord{nullptr, 0, Cell{0, 0, 0, 0}};
    if (action_table_filled) {
        for (auto& e : action_table) e = nullptr;
        action_table_filled = false;
    }
    highest_type_id = 0;
}

Registration blank(uint32_t id, uint32_t parent, const char* name) {
    Registration r{id, parent, name, ACTION_COUNT, {}};
    for (auto& e : r.entries) e = nullptr;
    return r;
}

void register_type(const Registration& reg) {
    if (reg.id == 0 || reg.id > TYPE_ID_LIMIT || reg.parent > TYPE_ID_LIMIT) {
        lowlevel::print_line({"*** Datatype Error: invalid type id: ", int32_t(reg.id)});
        lowlevel::quit(lowlevel::ERR_ASSERTION, lowlevel::caller_address());
    }
    action_table_filled = true;
    if (reg.id > highest_type_id) highest_type_id = reg.id;
    NameRecord& rec = names[reg.id];
    rec.name = reg.name;
    rec.length = int32_t(std::strlen(reg.name)) - 1;
    if (reg.count != ACTION_COUNT) {
        // A faulty build of a type module: report it and end with a runtime
        // error rather than a success status.
        lowlevel::print_line({"*** Datatype Error: invalid actions count for type: ", int32_t(reg.id)});
        lowlevel::print_line({"*** Found: ", int32_t(reg.count)});
        lowlevel::print_line({"*** Expected: ", int32_t(ACTION_COUNT)});
        lowlevel::quit(lowlevel::ERR_ASSERTION, lowlevel::caller_address());
    }
    for (uint32_t k = 1; k <= ACTION_COUNT; ++k) {
        ActionEntry e = reg.entries[k - 1];
        if (e == INHERIT) e = reg.parent ? lookup(reg.parent, k) : nullptr;
        action_table[reg.id * 256 + k - 1] = e;
    }
}

}  // namespace kiv::datatype
