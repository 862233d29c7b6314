#include "datatypes/system_object.h"

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "runtime/stack.h"

namespace kiv::system_object {

Cell* field(std::initializer_list<const char*> path) {
    Cell sys_word = word::load("system");
    Cell current = *context::get_word(&sys_word);
    Cell* slot = nullptr;
    for (const char* step : path) {
        if (!object::is_object_like(current.type())) return nullptr;
        Cell w = word::load(step);
        int32_t at = object::find_word(&current, &w);
        if (at < 0) return nullptr;
        slot = context::values_at(object::context_of(&current), uint32_t(at));
        current = *slot;
    }
    return slot;
}

bool set_field(std::initializer_list<const char*> path, const Cell& value) {
    stack::TopMark guard;
    Cell* held = stack::push(value);
    for (const char* step : path) word::load(step);  // made before the slot is taken
    word::load("system");
    Cell* slot = field(path);
    if (!slot) return false;
    *slot = *held;
    return true;
}

}  // namespace kiv::system_object
