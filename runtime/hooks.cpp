#include "runtime/hooks.h"

#include <cstring>

#include "runtime/lowlevel.h"

namespace kiv::hooks {

namespace {

void forget_lists();

// A fire in progress: the position of the callback being called. Removal
// shifts the later entries down, so it moves these positions along; nested
// fires of the same list each have their own.
struct Firing {
    uint32_t index;
    Firing* outer;
};

template <class Fn>
struct List {
    Fn* items = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
    Firing* firing = nullptr;

    void create() {
        items = static_cast<Fn*>(lowlevel::allocate(INITIAL_CAPACITY * sizeof(Fn)));
        count = 0;
        capacity = INITIAL_CAPACITY;
        lowlevel::at_quit(forget_lists);
    }
    void append(Fn fn) {
        if (!items) create();
        if (count == capacity) {
            // A full list is copied into a new array 5 entries larger.
            auto* bigger = static_cast<Fn*>(lowlevel::allocate((capacity + GROWTH) * sizeof(Fn)));
            std::memcpy(bigger, items, count * sizeof(Fn));
            lowlevel::free(items);
            items = bigger;
            capacity += GROWTH;
        }
        items[count++] = fn;
    }
    void remove_first(Fn fn) {
        for (uint32_t i = 0; i < count; ++i) {
            if (items[i] != fn) continue;
            std::memmove(items + i, items + i + 1, (count - i - 1) * sizeof(Fn));
            --count;
            for (Firing* f = firing; f; f = f->outer) {
                if (f->index >= i) --f->index;  // wraps below 0; the loop's ++ brings it back
            }
            return;
        }
    }
    template <class... Args>
    void fire(Args... args) {
        // The guard unlinks this fire also when a callback raises an error.
        struct Guard {
            List& list;
            Firing me;
            explicit Guard(List& l) : list(l), me{0, l.firing} { list.firing = &me; }
            ~Guard() { list.firing = me.outer; }
        } guard(*this);
        for (; guard.me.index < count; ++guard.me.index) items[guard.me.index](args...);
    }
    void release() {
        lowlevel::free(items);
        items = nullptr;
        count = capacity = 0;
    }
};

List<PrintHook> list_a;
List<OutputHook> list_b;

// The arrays go with the rest of the tracked heap when the process quits.
void forget_lists() {
    list_a.items = nullptr;
    list_a.count = list_a.capacity = 0;
    list_b.items = nullptr;
    list_b.count = list_b.capacity = 0;
}

}  // namespace

void init() {
    list_a.release();
    list_b.release();
    list_a.create();
    list_b.create();
}

void register_callbacks(PrintHook a, OutputHook b) {
    if (a) list_a.append(a);
    if (b) list_b.append(b);
}

void unregister_callbacks(PrintHook a, OutputHook b) {
    if (a) list_a.remove_first(a);
    if (b) list_b.remove_first(b);
}

void fire_2(const Cell* value, uint32_t flag) {
    list_a.fire(value, flag);
}

void fire_3(const char* text, int32_t length, int32_t flag) {
    list_b.fire(text, length, flag);
}

uint32_t count_a() {
    return list_a.count;
}
uint32_t count_b() {
    return list_b.count;
}
uint32_t capacity_a() {
    return list_a.capacity;
}
uint32_t capacity_b() {
    return list_b.capacity;
}

}  // namespace kiv::hooks
