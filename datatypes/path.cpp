#include "datatypes/path.h"

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::path {

namespace {

// Pops the path's node from the cycle stack when the walk leaves.
struct CycleEntry {
    explicit CycleEntry(uint32_t identity) { cycles::push(identity); }
    ~CycleEntry() { cycles::pop(); }
    CycleEntry(const CycleEntry&) = delete;
    CycleEntry& operator=(const CycleEntry&) = delete;
};

inline uint32_t cell_count(const Cell* p) {
    return series::count(p->w2);
}
inline Cell read_cell(const Cell* p, uint32_t i) {
    return *block::cells_at(p, i);
}

void put_char(Cell* out, char c) {
    string::append_char(buffer_of(out->w2), uint8_t(c));
}

// The values from the position, each formed or molded, "/" between them.
int32_t write_values(Cell* value, Cell* out, bool mold, bool all, bool flat, Cell* part, int32_t budget,
                     int32_t indent) {
    Cell p = *value;
    CycleEntry entry(p.w2);
    uint32_t n = cell_count(&p);
    for (uint32_t i = p.w1; i < n; ++i) {
        if (part && budget <= 0) break;
        Cell v = read_cell(&p, i);
        v.clear_new_line();
        budget = mold ? actions::mold(&v, out, false, all, flat, part, budget, indent)
                      : actions::form(&v, out, part, budget);
        n = cell_count(&p);  // a mold hook may have changed the path
        if (i + 1 < n) {
            put_char(out, '/');
            --budget;
        }
    }
    return budget;
}

}  // namespace

Cell* push(Cell* cell, uint32_t type) {
    cell->set_type(type);
    return stack::push(*cell);
}

Cell* make_at(Cell* cell, int32_t n) {
    *cell = none::cell();
    block::make_at(cell, n < 1 ? 1 : n);
    cell->set_type(TYPE_PATH);
    return cell;
}

Outcome make(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t t = spec->type();
    if (t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT) {
        double n = t == TYPE_INTEGER ? double(int32_t(spec->w2)) : spec->get_f64();
        // NaN and sizes below one give room for one cell; the block layer
        // refuses sizes it cannot hold.
        int32_t room = n >= 1 ? (n < 2147483647.0 ? int32_t(n) : INT32_MAX) : 1;
        if (room > 1 << 26) fire({"internal", "no-memory"});
        make_at(proto, room);
        proto->set_type(type);
        return proto;
    }
    if (is_any_block(t)) {
        (void)block::to(proto, spec, type);  // writes *proto
        return proto;
    }
    Cell s = *spec;
    fire({"script", "bad-make-arg"}, datatype::cell(type), s);
}

Outcome to(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t t = spec->type();
    if (t == TYPE_MAP || t == TYPE_OBJECT || t == TYPE_TYPESET) {
        Cell v = *spec;
        v.clear_new_line();
        make_at(proto, 1);
        block::cells_append(proto, &v);
        proto->set_type(type);
        return proto;
    }
    (void)block::to(proto, spec, type);  // writes *proto
    return proto;
}

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget) {
    if (string::append_cycle_marker(value, out, budget, false)) return budget;
    return write_values(value, out, false, false, false, part, budget, 0);
}

int32_t mold(Cell* value, Cell* out, bool, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    if (string::append_cycle_marker(value, out, budget, true)) return budget;
    uint32_t t = value->type();
    if (t == TYPE_LIT_PATH || t == TYPE_GET_PATH) {
        put_char(out, t == TYPE_LIT_PATH ? '\'' : ':');
        --budget;
    }
    budget = write_values(value, out, true, all, flat, part, budget, indent);
    if (t == TYPE_SET_PATH) {
        put_char(out, ':');
        --budget;
    }
    return budget;
}

void init() {
    datatype::Registration p = datatype::blank(TYPE_PATH, TYPE_BLOCK, "path!");
    p.inherit({ACT_REFLECT, ACT_EVAL_PATH, ACT_COMPARE,  ACT_APPEND,  ACT_AT,     ACT_BACK,
                          ACT_CHANGE,  ACT_CLEAR,     ACT_COPY,     ACT_FIND,    ACT_HEAD,   ACT_HEAD_Q,
                          ACT_INDEX_Q, ACT_INSERT,    ACT_LENGTH_Q, ACT_MOVE,    ACT_NEXT,   ACT_PICK,
                          ACT_POKE,    ACT_PUT,       ACT_REMOVE,   ACT_REVERSE, ACT_SELECT, ACT_SKIP,
                          ACT_SWAP,    ACT_TAIL,      ACT_TAIL_Q,   ACT_TAKE,    ACT_MODIFY});
    p.set<ACT_MAKE>(make);
    p.set<ACT_TO>(to);
    p.set<ACT_FORM>(form);
    p.set<ACT_MOLD>(mold);
    datatype::register_type(p);

    // The other three take path!'s entries (mold included, which reads the
    // value's own type for its affixes).
    const struct {
        uint32_t id;
        const char* name;
    } children[] = {{TYPE_LIT_PATH, "lit-path!"}, {TYPE_SET_PATH, "set-path!"}, {TYPE_GET_PATH, "get-path!"}};
    for (const auto& c : children) {
        datatype::Registration r = datatype::blank(c.id, TYPE_PATH, c.name);
        r.inherit_all();
        datatype::register_type(r);
    }
}

}  // namespace kiv::path
