// port! (see port.h).
#include "datatypes/port.h"

#include <cstring>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/mold.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/system_object.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::port {

CallPushed call_pushed = nullptr;

namespace {

Unwind call_pushed_checked(const Cell* name, const Cell* fn, Cell* args, bool with_refinements) {
    if (!call_pushed) fire({"internal", "not-done"});
    return call_pushed(name, fn, args, with_refinements);
}

constexpr int32_t PORT_CLASS = 2;

// The value slot of an object's field, or null (valid until the next allocation).
Cell* field(const Cell* obj, const char* name) {
    Cell w = word::load(name);
    int32_t at = object::find_word(obj, &w);
    return at < 0 ? nullptr : context::values_at(object::context_of(obj), uint32_t(at));
}

// The actor of a port; it must be an object!.
Cell actor_of(const Cell* port) {
    Cell* a = field(port, "actor");
    if (!a || a->type() != TYPE_OBJECT) fire({"access", "invalid-port"});
    return *a;
}

// One call of an actor function: the port, then the arguments pushed in
// order, then the call; the result is left in the first cell.
struct Forward {
    const char* name;
    Cell* base;
    Forward(const char* action, const Cell* port) : name(action) {
        Cell p = *port;
        base = stack::push(p);
    }
    Forward& arg(const Cell& v) {
        stack::push(v);
        return *this;
    }
    Forward& flag(bool b) { return arg(logic::cell(b)); }
    // A refinement: its flag, then its argument or none.
    Forward& ref(const Cell* v) {
        flag(v != nullptr);
        return arg(v ? *v : none::cell());
    }
    Forward& count(int32_t n, bool given) {
        flag(given);
        return arg(given ? integer::cell(n) : none::cell());
    }
    // Calls the actor's function; its result is left in the first cell.
    // Returns the call's unwind code.
    Unwind invoke() {
        Cell actor = actor_of(base);
        Cell w = word::load(name);
        Cell* fn = object::select_word(&actor, &w);
        if (!fn || (fn->type() != TYPE_FUNCTION && fn->type() != TYPE_NATIVE && fn->type() != TYPE_ACTION &&
                    fn->type() != TYPE_ROUTINE))
            fire({"access", "no-port-action"}, w);
        Cell f = *fn;
        if (Unwind code = call_pushed_checked(&w, &f, base, false)) return code;
        stack::top = base + 1;
        return UNWIND_NONE;
    }
    // The call for a slot that answers an Outcome: the result cell or the code.
    Outcome outcome() {
        if (Unwind code = invoke()) return code;
        return base;
    }
    // The call for an action without a result: the stack is left as it was.
    // Returns the call's unwind code.
    Unwind perform() {
        if (Unwind code = invoke()) return code;
        stack::top = base;
        return UNWIND_NONE;
    }
};

// The actions that take only the port, or the port and fixed arguments.
template <uint32_t Slot>
Outcome port_op(Cell* port) {
    return Forward(actions::slot_name(Slot), port).outcome();
}

// Actions on the argument base (at, back, head, ...): the result replaces the port there.
template <uint32_t Slot, int Args>
Unwind stack_op() {
    Cell* b = stack::arg_base;
    Forward f(actions::slot_name(Slot), b);
    for (int i = 1; i <= Args; ++i) f.arg(b[i]);
    Outcome r = f.outcome();
    if (r.code) return r.code;
    *stack::arg_base = *r.cell;
    stack::top = stack::arg_base + 1;
    return UNWIND_NONE;
}

template <uint32_t Slot>
Unwind insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool) {
    return Forward(actions::slot_name(Slot), series)
        .arg(*value)
        .count(part, part >= 0)
        .flag(only)
        .count(dup, dup > 1)
        .perform();
}
Unwind change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return Forward("change", series).arg(*value).count(part, part >= 0).flag(only).count(dup, dup > 1).perform();
}
Unwind clear(Cell* series) {
    return Forward("clear", series).perform();
}
Outcome copy(Cell* series, Cell*, Cell* part, bool deep, Cell* types) {
    return Forward("copy", series).ref(part).flag(deep).ref(types).outcome();
}
Outcome find(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    return Forward("find", series)
        .arg(*value).ref(part).flag(only).flag(case_sensitive).flag(same).flag(any).ref(with).ref(skip)
        .flag(last).flag(reverse).flag(tail).flag(match)
        .outcome();
}
Outcome select(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
               Cell* with, Cell* skip, bool last, bool reverse) {
    return Forward("select", series)
        .arg(*value).ref(part).flag(only).flag(case_sensitive).flag(same).flag(any).ref(with).ref(skip)
        .flag(last).flag(reverse)
        .outcome();
}
// The actor's length? must be an integer!.
Count length_q(Cell* value) {
    Outcome r = Forward("length?", value).outcome();
    if (r.code) return r.code;
    if (r.cell->type() != TYPE_INTEGER) fire({"access", "invalid-port"});
    return integer::get(r.cell);
}
Outcome move(Cell* origin, Cell* target, Cell* part) {
    return Forward("move", origin).arg(*target).ref(part).outcome();
}
Outcome pick(Cell* series, int32_t, Cell* index) {
    return Forward("pick", series).arg(*index).outcome();
}
Outcome poke(Cell* series, int32_t, Cell* value, Cell* index) {
    return Forward("poke", series).arg(*index).arg(*value).outcome();
}
Outcome put(Cell* series, Cell* key, Cell* value, bool case_sensitive) {
    return Forward("put", series).arg(*key).arg(*value).flag(case_sensitive).outcome();
}
Outcome modify(Cell* target, Cell* key, Cell* value, bool case_sensitive) {
    return Forward("modify", target).arg(*key).arg(*value).flag(case_sensitive).outcome();
}
Unwind remove(Cell* series, Cell* part, Cell*) {
    return Forward("remove", series).ref(part).perform();
}
Unwind reverse(Cell* series, Cell* part, Cell*) {
    return Forward("reverse", series).ref(part).perform();
}
Unwind sort(Cell* series, bool case_sensitive, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
            bool stable) {
    Forward f("sort", series);
    f.flag(case_sensitive).ref(skip).ref(comparator).ref(part).flag(all).flag(reverse).flag(stable);
    if (Unwind code = f.invoke()) return code;
    *series = *f.base;
    stack::top = f.base;
    return UNWIND_NONE;
}
Unwind swap(Cell* series1, Cell* series2) {
    return Forward("swap", series1).arg(*series2).perform();
}
Outcome take(Cell* series, Cell* part, bool deep, bool last) {
    return Forward("take", series).ref(part).flag(deep).flag(last).outcome();
}
Unwind trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    return Forward("trim", series).flag(head).flag(tail).flag(auto_).flag(lines).flag(all).ref(with).perform();
}
Outcome rename(Cell* from, Cell* to) {
    return Forward("rename", from).arg(*to).outcome();
}
Outcome open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow) {
    return Forward("open", port)
        .flag(new_).flag(read).flag(write).flag(seek).arg(allow ? *allow : none::cell())
        .outcome();
}

// The end read and write share: the port's data copied (with the part) into
// a new top cell, the port closed, and the copy left in *keep as the result.
Outcome copy_and_close(Cell* keep, Cell* part) {
    Cell* result = stack::push(none::cell());
    Outcome copied = actions::copy(keep, result, part, false, nullptr);
    if (copied.code) return copied.code;
    *result = *copied.cell;
    stack::top = result + 1;
    if (Unwind code = actions::port_op(ACT_CLOSE, keep).code) return code;
    *keep = *result;
    stack::top = keep + 1;
    return keep;
}

// read: open (seek set when a seek position was given), copy with the part,
// close; through the generic dispatch, so that a native actor serves them too.
Outcome read(Cell* source, Cell* part, Cell* seek, bool, bool, bool, Cell*) {
    Cell* keep = stack::push(*source);
    if (Unwind code = actions::open(keep, false, false, false, seek != nullptr, nullptr).code) return code;
    stack::top = keep + 1;
    return copy_and_close(keep, part);
}

// write: open for writing, insert the data (part length or -1, dup 1), copy
// with the part, close.
Outcome write(Cell* destination, Cell* data, bool, bool, bool, bool, Cell* part, Cell* seek, Cell*, Cell*) {
    Cell* keep = stack::push(*destination);
    Cell* value = stack::push(*data);
    int32_t length = part && part->type() == TYPE_INTEGER ? integer::get(part) : -1;
    if (Unwind code = actions::open(keep, false, false, true, seek != nullptr, nullptr).code) return code;
    stack::top = value + 1;
    if (Unwind code = actions::insert(keep, value, length, false, 1, false)) return code;
    stack::top = value + 1;
    return copy_and_close(keep, part);
}

// The scheme object registered under the name: system/schemes holds pairs
// of name and scheme (an object of schemes by name is accepted as well).
bool find_scheme(uint32_t name, Cell& out) {
    Cell* schemes = system_object::field({"schemes"});
    if (!schemes) return false;
    Cell s = *schemes;
    if (object::is_object_like(s.type())) {
        Cell w = word::load(symbol::name(name));
        Cell* v = object::select_word(&s, &w);
        if (!v || v->type() != TYPE_OBJECT) return false;
        out = *v;
        return true;
    }
    if (s.type() != TYPE_BLOCK) return false;
    uint32_t n = block::cells_length(&s);
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        Cell* k = block::cells_at(&s, s.w1 + i);
        if (k->type() >= TYPE_WORD && k->type() <= TYPE_REFINEMENT && symbol::resolve(k->w2) == symbol::resolve(name)) {
            Cell* v = k + 1;
            if (v->type() != TYPE_OBJECT) return false;
            out = *v;
            return true;
        }
    }
    return false;
}

Outcome make(Cell*, Cell* spec_in, uint32_t) {
    Cell* spec = stack::push(*spec_in);
    Cell* proto_spec = system_object::field({"standard", "url-parts"});
    if (!object::is_object_like(spec->type())) {
        if (!proto_spec) fire({"access", "invalid-spec"}, *spec);
        Cell p = *proto_spec;
        Cell* p_cell = stack::push(p);
        Outcome made = object::make(p_cell, spec, TYPE_OBJECT);
        if (made.code) return made.code;
        *spec = *made.cell;
    } else {
        Cell* copied = stack::push(none::cell());
        Cell s = *spec;
        object::copy_into(&s, copied, false, false);
        *spec = *copied;
    }
    stack::top = spec + 1;
    // The scheme name is the first field of the port's spec object.
    Cell scheme = object::word_count(spec) > 0 ? *context::values_at(object::context_of(spec), 0) : none::cell();
    if (Cell* named = field(spec, "scheme")) scheme = *named;
    if (scheme.type() != TYPE_WORD) fire({"access", "no-scheme"}, *spec);
    Cell* proto = system_object::field({"standard", "port"});
    if (!proto || !object::is_object_like(proto->type())) fire({"access", "invalid-port"});
    Cell p = *proto;
    Cell* port = stack::push(none::cell());
    object::copy_into(&p, port, false, false);
    port->set_type(TYPE_PORT);
    port->w2 = uint32_t(PORT_CLASS);
    if (Cell* f = field(port, "spec")) *f = *spec;
    if (Cell* f = field(port, "scheme")) *f = scheme;
    Cell found;
    if (!find_scheme(scheme.w2, found)) fire({"access", "unknown-scheme"}, *spec);
    Cell* actor = field(&found, "actor");
    if (!actor) {
        if (object::word_count(&found) < 4) fire({"access", "invalid-actor"}, *spec);
        actor = context::values_at(object::context_of(&found), 3);
    }
    if (actor->type() != TYPE_OBJECT && actor->type() != TYPE_HANDLE) fire({"access", "invalid-actor"}, *spec);
    Cell a = *actor;
    if (Cell* f = field(port, "actor")) *f = a;
    *spec = *port;
    stack::top = spec + 1;
    return spec;
}

int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    string::concatenate_literal(out, "make port! [");
    budget -= 12;
    budget = object::mold_body(value, out, only, all, flat, part, budget, true, indent + 1, true);
    if (!flat && indent > 0) budget = mold::indent(out, indent, budget);
    string::concatenate_literal(out, "]");
    return budget - 1;
}

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget) {
    return mold(value, out, false, false, false, part, budget, 0);
}

// The URL's parse by the library's url-parser/parse-url (called with a copy
// of the URL), pushed; anything but an object is script invalid-arg with the
// URL. An exit from the parse passes up as its code.
Outcome push_spec(Cell* url) {
    Cell parser_word = word::load("url-parser");
    Cell* parser = context::get_word(&parser_word);
    Cell fn_word = word::load("parse-url");
    Cell* fn = parser && parser->type() == TYPE_OBJECT ? object::select_word(parser, &fn_word) : nullptr;
    if (!fn || fn->type() != TYPE_FUNCTION) fire({"script", "invalid-arg"}, *url);
    Cell f = *fn;
    Cell* arg = stack::push(*url);
    Cell* fresh = stack::push(none::cell());
    Outcome copied = actions::copy(arg, fresh, nullptr, false, nullptr);
    if (copied.code) return copied.code;
    *arg = *copied.cell;
    stack::top = arg + 1;
    if (Unwind code = call_pushed_checked(&fn_word, &f, arg, false)) return code;
    stack::top = arg + 1;
    if (arg->type() != TYPE_OBJECT) fire({"script", "invalid-arg"}, *url);
    return arg;
}

}  // namespace

Outcome from_url(Cell* url, bool open_it, bool new_, bool read_, bool write_, bool seek, Cell* allow) {
    Outcome parsed = push_spec(url);
    if (parsed.code) return parsed.code;
    Cell* spec = parsed.cell;
    Outcome made = make(nullptr, spec, TYPE_PORT);
    if (made.code) return made.code;
    *spec = *made.cell;
    stack::top = spec + 1;
    if (open_it) {
        if (Unwind code = actions::open(spec, new_, read_, write_, seek, allow).code) return code;
        stack::top = spec + 1;
    }
    return spec;
}

Outcome read_url(Cell* url, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    Outcome port = from_url(url, false, false, false, false, false, nullptr);
    if (port.code) return port.code;
    Cell* p = port.cell;
    Outcome r = read(p, part, seek, binary, lines, info, as);
    if (r.code) return r.code;
    *p = *r.cell;
    stack::top = p + 1;
    return p;
}

Outcome write_url(Cell* url, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part,
                  Cell* seek, Cell* allow, Cell* as) {
    Cell* d = stack::push(*data);
    Outcome port = from_url(url, false, false, false, false, false, nullptr);
    if (port.code) return port.code;
    Outcome r = write(port.cell, d, binary, lines, info, append, part, seek, allow, as);
    if (r.code) return r.code;
    *d = *r.cell;
    stack::top = d + 1;
    return d;
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_PORT, TYPE_OBJECT, "port!");
    r.inherit({ACT_REFLECT, ACT_EVAL_PATH, ACT_COMPARE});
    r.set<ACT_MAKE>(make);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_APPEND>(insert<ACT_APPEND>);
    r.set<ACT_INSERT>(insert<ACT_INSERT>);
    r.set<ACT_AT>(stack_op<ACT_AT, 1>);
    r.set<ACT_SKIP>(stack_op<ACT_SKIP, 1>);
    r.set<ACT_BACK>(stack_op<ACT_BACK, 0>);
    r.set<ACT_HEAD>(stack_op<ACT_HEAD, 0>);
    r.set<ACT_HEAD_Q>(stack_op<ACT_HEAD_Q, 0>);
    r.set<ACT_INDEX_Q>(stack_op<ACT_INDEX_Q, 0>);
    r.set<ACT_NEXT>(stack_op<ACT_NEXT, 0>);
    r.set<ACT_TAIL>(stack_op<ACT_TAIL, 0>);
    r.set<ACT_TAIL_Q>(stack_op<ACT_TAIL_Q, 0>);
    r.set<ACT_CHANGE>(change);
    r.set<ACT_CLEAR>(clear);
    r.set<ACT_COPY>(copy);
    r.set<ACT_FIND>(find);
    r.set<ACT_LENGTH_Q>(length_q);
    r.set<ACT_MOVE>(move);
    r.set<ACT_PICK>(pick);
    r.set<ACT_POKE>(poke);
    r.set<ACT_PUT>(put);
    r.set<ACT_REMOVE>(remove);
    r.set<ACT_REVERSE>(reverse);
    r.set<ACT_SELECT>(select);
    r.set<ACT_SORT>(sort);
    r.set<ACT_SWAP>(swap);
    r.set<ACT_TAKE>(take);
    r.set<ACT_TRIM>(trim);
    r.set<ACT_CREATE>(port_op<ACT_CREATE>);
    r.set<ACT_CLOSE>(port_op<ACT_CLOSE>);
    r.set<ACT_DELETE>(port_op<ACT_DELETE>);
    r.set<ACT_QUERY>(port_op<ACT_QUERY>);
    r.set<ACT_UPDATE>(port_op<ACT_UPDATE>);
    r.set<ACT_MODIFY>(modify);
    r.set<ACT_OPEN>(open);
    r.set<ACT_READ>(read);
    r.set<ACT_RENAME>(rename);
    r.set<ACT_WRITE>(write);
    datatype::register_type(r);
}

}  // namespace kiv::port
