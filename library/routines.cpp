#include "library/routines.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/natives_impl.h"
#include "runtime/stack.h"
#include "gui/backend/platform.h"
#include "library/library.h"
#include "platform/console_output.h"
#include "platform/os_info.h"
#include "runtime/arena.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/lowlevel.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace kiv::library::routines {

namespace {

int32_t int_of(const Cell& c) {
    return int32_t(c.w2);
}

// ---- Process and assignment ------------------------------------------------------------

Unwind quit_return(Cell* a) {
    lowlevel::end_process(int_of(a[0]));
    return UNWIND_NONE;
}

Unwind set_quiet(Cell* a) {
    if (!is_all_word(a[0].type())) {
        Cell name = word::load("set-quiet");
        Cell word_arg = word::load("word");
        fire({"script", "expect-arg"}, name, datatype::cell(a[0].type()), word_arg);
    }
    Cell w = a[0];
    Cell value = a[1];
    (void)context::set_in(&w, &a[1], w.w1, false);  // quiet: no change hook
    a[0] = value;
    return UNWIND_NONE;
}

Unwind set_slot_quiet(Cell* a) {
    uint32_t t = a[0].type();
    bool list = t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_PATH || t == TYPE_LIT_PATH ||
                t == TYPE_SET_PATH || t == TYPE_GET_PATH;
    if (!list) {
        Cell name = word::load("set-slot-quiet");
        Cell series_arg = word::load("series");
        fire({"script", "expect-arg"}, name, datatype::cell(TYPE_BLOCK), series_arg);
    }
    Cell value = a[1];
    if (!block::cells_at_tail(&a[0])) {
        Cell* slot = block::cells_at(&a[0], a[0].w1);
        copy_cell(&value, slot);
    }
    a[0] = value;
    return UNWIND_NONE;
}

// ---- Bit shifts ----------------------------------------------------------------------------

// The routines are the `shift` native with its refinements set as each asks.
template <bool Left, bool Logical>
Unwind shift_by(Cell*) {
    using R = natives::Refs<natives::N_SHIFT>;
    int32_t refs[2] = {-1, -1};
    if (Left) refs[R::index<"left">()] = 2;
    if (Logical) refs[R::index<"logical">()] = 2;
    static_cast<void>(natives::shift(refs));  // shift never unwinds
    return UNWIND_NONE;
}

// ---- Output and state ------------------------------------------------------------------------

Unwind last_lf_q(Cell* a) {
    a[0] = logic::cell(natives::last_line_feed != 0);
    return UNWIND_NONE;
}

// A binary! goes out as its bytes from the index, unchanged; any other
// value as its text.
Unwind write_stdout(Cell* a) {
    if (a[0].type() == TYPE_BINARY) {
        uint32_t count = 0;
        const uint8_t* bytes = binary::bytes_at(&a[0], count);
        console::write_raw(bytes, count);  // allocates no series memory: the bytes stay put
        a[0] = unset::cell();
        return UNWIND_NONE;
    }
    std::string text;
    if (is_any_string(a[0].type())) {
        text = to_utf8(a[0]);
    } else {
        stack::TopMark mark;
        text = to_utf8(*string::push_formed(a[0]));
    }
    Cell* saved = stack::top;
    Cell* s = push_utf8(text);
    natives::write_to_console(s, 0);
    stack::top = saved;
    a[0] = unset::cell();
    return UNWIND_NONE;
}

Unwind tracing_q(Cell* a) {
    a[0] = logic::cell(interpreter::tracing);
    return UNWIND_NONE;
}

// Cells from the bottom up to the routine's own result slot included, so
// that `pick-stack stack-size?` reads past every cell pick-stack may give.
Unwind stack_size_q(Cell* a) {
    Cell* top = stack::top > a ? stack::top : a + 1;
    a[0] = integer::cell(int32_t(top - stack::bottom));
    return UNWIND_NONE;
}

// The argument base of the function in progress where frame-index? is
// called: the first argument cell of the topmost function! call, so that
// `pick-stack frame-index? + 1` is that call's first argument. Outside any
// function call, the argument base of the routine's caller.
Unwind frame_index_q(Cell* a) {
    Cell* base = nullptr;
    for (stack::Frame* f = stack::frames_top; f-- > stack::frames_bottom;) {
        if (f->type() != stack::FRAME_FUNCTION || !f->function_context) continue;
        Off ctx = f->function_context;
        if (context::on_stack(ctx) && context::cell(ctx)->w2) base = arena::ptr<Cell>(context::cell(ctx)->w2);
        break;
    }
    if (!base)
        base = stack::frames_top > stack::frames_bottom ? stack::saved_base(stack::frames_top - 1)
                                                        : stack::arg_base;
    a[0] = integer::cell(int32_t(base - stack::bottom));
    return UNWIND_NONE;
}

Unwind pick_stack(Cell* a) {
    int32_t idx = int_of(a[0]);
    int32_t size = int32_t(stack::top - stack::bottom);
    a[0] = idx > 0 && idx < size ? stack::bottom[idx - 1] : none::cell();
    return UNWIND_NONE;
}

// ---- Directories -------------------------------------------------------------------------------

// A file! value from a POSIX path (bytes, decoded without loss), pushed.
Cell* push_file(const std::string& path) {
    Cell* f = push_system_text(path);
    f->set_type(TYPE_FILE);
    return f;
}

Unwind get_current_dir(Cell* a) {
    Cell* saved = stack::top;
    Cell f = *push_file(current_dir());
    stack::top = saved;
    a[0] = f;
    return UNWIND_NONE;
}

// The POSIX path of a file! value; empty when it names nothing (empty, or
// holding a NUL character, which no path can).
std::string posix_path(const Cell& file) {
    std::string path = to_system_bytes(file);
    if (path.find('\0') != std::string::npos) path.clear();
    return path;
}

Unwind set_current_dir(Cell* a) {
    std::string path = posix_path(a[0]);
    if (path.empty() || chdir(path.c_str()) != 0) fire({"access", "cannot-open"}, a[0]);
    a[0] = unset::cell();
    return UNWIND_NONE;
}

Unwind create_dir(Cell* a) {
    std::string path = posix_path(a[0]);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty() || mkdir(path.c_str(), 0777) != 0) fire({"access", "no-create"}, a[0]);
    a[0] = unset::cell();
    return UNWIND_NONE;
}

Unwind exists_q(Cell* a) {
    std::string path = posix_path(a[0]);
    struct stat st;
    a[0] = logic::cell(!path.empty() && stat(path.c_str(), &st) == 0);
    return UNWIND_NONE;
}

// ---- The operating system ------------------------------------------------------------------

// An object of four fields: name (string!), arch (word!), version (tuple!)
// and build (integer!).
Unwind os_info(Cell* a) {
    platform::OsInfo info = platform::os_info();
    Cell* saved = stack::top;
    Cell* spec = block::push_only(8);
    Cell* name = push_utf8(info.name);
    uint8_t bytes[12] = {info.version[0], info.version[1], info.version[2]};
    Cell values[] = {*name, word::load(info.arch.c_str()), tuple::make(bytes, 3), integer::cell(info.build)};
    const char* fields[] = {"name", "arch", "version", "build"};
    for (int i = 0; i < 4; ++i) {
        Cell* value = stack::push(values[i]);  // kept reachable while the field word is made
        Cell w = word::load(fields[i]);
        w.set_type(TYPE_SET_WORD);
        block::cells_append(spec, &w);
        block::cells_append(spec, value);
    }
    Cell result = *object::construct(spec, nullptr, true);
    stack::top = saved;
    a[0] = result;
    return UNWIND_NONE;
}

// ---- Tuple builders ----------------------------------------------------------------------------

// The first negative component is refused with the integer itself.
void check_components(const Cell* a, int n) {
    for (int i = 0; i < n; ++i)
        if (int_of(a[i]) < 0) fire({"script", "invalid-arg"}, a[i]);
}

Unwind as_color(Cell* a) {
    check_components(a, 3);
    uint8_t bytes[12] = {uint8_t(int_of(a[0])), uint8_t(int_of(a[1])), uint8_t(int_of(a[2]))};
    a[0] = tuple::make(bytes, 3);
    return UNWIND_NONE;
}

// The bytes of (d << 24) or (c << 16) or (b << 8) or a, low byte first: a
// component above 255 spills into the bytes after it.
Unwind as_ipv4(Cell* a) {
    check_components(a, 4);
    uint32_t v = uint32_t(int_of(a[3])) << 24 | uint32_t(int_of(a[2])) << 16 | uint32_t(int_of(a[1])) << 8 |
                 uint32_t(int_of(a[0]));
    uint8_t bytes[12] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    a[0] = tuple::make(bytes, 4);
    return UNWIND_NONE;
}

// ---- Text ---------------------------------------------------------------------------------------

// Characters from the index of `start` to the index of `pos`, read in the
// buffer of `start` (both positions clamped to its tail; none when pos is
// before start).
Unwind count_chars(Cell* a) {
    const SeriesBuffer* b = buffer_of(a[0].w2);
    uint32_t size = b->byte_count();
    uint32_t from = a[0].w1 < size ? a[0].w1 : size;
    uint32_t to = a[1].w1 < size ? a[1].w1 : size;
    const uint8_t* head = b->head_ptr();
    a[0] = integer::cell(to > from ? int32_t(unicode::count_utf8_chars(head + from, head + to)) : 0);
    return UNWIND_NONE;
}

// ---- Stack introspection ---------------------------------------------------------------------

// From the topmost frame down to the second, each named call: its word and
// the saved argument base as a cell index from the data-stack bottom.
Unwind collect_calls(Cell* a) {
    Cell blk = a[0];
    Cell* held = stack::push(blk);
    uint32_t count = stack::frame_count();
    for (uint32_t i = count; i-- > 1;) {
        const stack::Frame* f = stack::frames_bottom + i;  // re-read: appending may allocate
        uint32_t s = f->symbol();
        if (s == 0 || s == stack::body_symbol || s == stack::anon_symbol) continue;
        Off binding = f->binding;
        Cell base = integer::cell(int32_t(f->saved_index()));
        Cell w = binding && context::cell(binding)->type() == TYPE_CONTEXT ? context::word_for_symbol(binding, s)
                                                                           : word::make_global(s);
        w.set_type(TYPE_WORD);
        block::cells_append(held, &w);
        block::cells_append(held, &base);
    }
    stack::top = held;
    a[0] = unset::cell();
    return UNWIND_NONE;
}

// ---- Routines of the system object ----------------------------------------------------------

Unwind gc_active_q(Cell* a) {
    a[0] = logic::cell(collector::enabled());
    return UNWIND_NONE;
}

Unwind gc_series_cycles(Cell* a) {
    a[0] = integer::cell(int32_t(collector::cycle_count()));
    return UNWIND_NONE;
}

Unwind gc_nodes_cycles(Cell* a) {
    a[0] = integer::cell(int32_t(collector::node_compaction_count()));
    return UNWIND_NONE;
}

// The full float support switch: kept here until the float layer reads one.
bool float_full_support = false;

Unwind float_on_change(Cell* a) {
    std::string_view name = symbol::name_view(a[0].w2);
    bool on = natives::lenient_true(&a[1]);
    if (name == "pretty?") float_::pretty_print = on;
    if (name == "full?") float_full_support = on;
    a[0] = unset::cell();
    return UNWIND_NONE;
}

// ---- Type predicates and typeset tests --------------------------------------------------------

template <uint32_t Type>
Unwind type_predicate(Cell* a) {
    a[0] = logic::cell(a[0].type() == Type);
    return UNWIND_NONE;
}

// Typeset tests read their typeset through its global word at every call.
const char* const TYPESET_TESTS[][2] = {
    {"any-list?", "any-list!"},     {"any-block?", "any-block!"}, {"any-function?", "any-function!"},
    {"any-object?", "any-object!"}, {"any-path?", "any-path!"},   {"any-string?", "any-string!"},
    {"any-word?", "any-word!"},     {"series?", "series!"},       {"number?", "number!"},
    {"immediate?", "immediate!"},   {"scalar?", "scalar!"},       {"all-word?", "all-word!"},
    {"any-point?", "any-point!"},   {"planar?", "planar!"},
};
constexpr uint32_t TYPESET_TEST_COUNT = sizeof TYPESET_TESTS / sizeof TYPESET_TESTS[0];

// The symbol of each test's typeset word, filled by bind_all.
uint32_t typeset_symbols[TYPESET_TEST_COUNT];

template <uint32_t N>
Unwind typeset_test(Cell* a) {
    Cell ts;
    context::get_global_into(typeset_symbols[N], &ts);
    a[0] = logic::cell(ts.type() == TYPE_TYPESET && typeset::has(&ts, a[0].type()));
    return UNWIND_NONE;
}

template <uint32_t... N>
constexpr std::array<routine::Fn, sizeof...(N)> typeset_tests(std::integer_sequence<uint32_t, N...>) {
    return {&typeset_test<N>...};
}

// ---- The table -----------------------------------------------------------------------------------

struct Def {
    const char* name;
    const char* spec;
    routine::Fn fn;
};

const Def ROUTINES[] = {
    {"quit-return",
     "[\"Stops evaluation and exits the program with a given status\" status [integer!] \"Process "
     "termination "
     "value to return\"]",
     quit_return},
    {"set-quiet",
     "[\"Set an object's field to a value without triggering eventual object's events\" word [any-type!] "
     "value "
     "[any-type!] return: [any-type!]]",
     set_quiet},
    {"set-slot-quiet",
     "[\"Set a value in series without triggering eventual owner's events\" series [any-type!] value "
     "[any-type!]]",
     set_slot_quiet},
    {"shift-right", "[\"Shift bits to the right\" data [integer!] bits [integer!] return: [integer!]]",
     shift_by<false, false>},
    {"shift-left", "[\"Shift bits to the left\" data [integer!] bits [integer!] return: [integer!]]",
     shift_by<true, false>},
    {"shift-logical",
     "[\"Shift bits to the right (unsigned)\" data [integer!] bits [integer!] return: [integer!]]",
     shift_by<false, true>},
    {"last-lf?", "[\"Internal Use Only\" return: [logic!]]", last_lf_q},
    {"get-current-dir", "[\"Returns the platform's current directory for the process\" return: [file!]]",
     get_current_dir},
    {"set-current-dir", "[\"Sets the platform's current process directory\" path [file!]]", set_current_dir},
    {"create-dir", "[\"Create the given directory\" path [file!]]", create_dir},
    {"exists?", "[\"Returns TRUE if the file exists\" path [file!] return: [logic!]]", exists_q},
    {"os-info", "[\"Returns detailed operating system version information\" return: [object!]]", os_info},
    {"as-color",
     "[\"Combine R, G and B values into a tuple\" r [integer!] g [integer!] b [integer!] return: [tuple!]]",
     as_color},
    {"as-ipv4",
     "[\"Combine a, b, c and d values into a tuple\" a [integer!] b [integer!] c [integer!] d [integer!] "
     "return: [tuple!]]",
     as_ipv4},
    {"as-rgba",
     "[\"Combine R, G, B and A color components into a tuple\" r [integer!] g [integer!] b [integer!] a "
     "[integer!] return: [tuple!]]",
     as_ipv4},
    {"count-chars",
     "[\"Count UTF-8 encoded characters between two positions in a binary series\" start [binary!] pos "
     "[binary!] return: [integer!]]",
     count_chars},
    {"stack-size?", "[return: [integer!]]", stack_size_q},
    {"pick-stack", "[idx [integer!]]", pick_stack},
    {"frame-index?", "[return: [integer!]]", frame_index_q},
    {"collect-calls", "[blk [block!]]", collect_calls},
    {"tracing?", "[return: [logic!]]", tracing_q},
    {"write-stdout", "[\"Write data to STDOUT\" data [any-type!]]", write_stdout},
    {"event?", "[\"Returns true if the value is this type\" value [any-type!] return: [logic!]]",
     type_predicate<TYPE_EVENT>},
    {"load-gui",
     "[\"Opens the display and returns the window layer's platform routines\" return: [object!]]",
     gui::load_gui},
};

struct Predicate {
    const char* name;
    routine::Fn fn;
};

// One per datatype, in their order of definition.
const Predicate PREDICATES[] = {
    {"bitset?", type_predicate<TYPE_BITSET>},     {"binary?", type_predicate<TYPE_BINARY>},
    {"block?", type_predicate<TYPE_BLOCK>},       {"char?", type_predicate<TYPE_CHAR>},
    {"email?", type_predicate<TYPE_EMAIL>},       {"file?", type_predicate<TYPE_FILE>},
    {"float?", type_predicate<TYPE_FLOAT>},       {"get-path?", type_predicate<TYPE_GET_PATH>},
    {"get-word?", type_predicate<TYPE_GET_WORD>}, {"hash?", type_predicate<TYPE_HASH>},
    {"integer?", type_predicate<TYPE_INTEGER>},   {"issue?", type_predicate<TYPE_ISSUE>},
    {"lit-path?", type_predicate<TYPE_LIT_PATH>}, {"lit-word?", type_predicate<TYPE_LIT_WORD>},
    {"logic?", type_predicate<TYPE_LOGIC>},       {"map?", type_predicate<TYPE_MAP>},
    {"none?", type_predicate<TYPE_NONE>},         {"pair?", type_predicate<TYPE_PAIR>},
    {"paren?", type_predicate<TYPE_PAREN>},       {"path?", type_predicate<TYPE_PATH>},
    {"percent?", type_predicate<TYPE_PERCENT>},   {"refinement?", type_predicate<TYPE_REFINEMENT>},
    {"set-path?", type_predicate<TYPE_SET_PATH>}, {"set-word?", type_predicate<TYPE_SET_WORD>},
    {"string?", type_predicate<TYPE_STRING>},     {"tag?", type_predicate<TYPE_TAG>},
    {"time?", type_predicate<TYPE_TIME>},         {"typeset?", type_predicate<TYPE_TYPESET>},
    {"tuple?", type_predicate<TYPE_TUPLE>},       {"unset?", type_predicate<TYPE_UNSET>},
    {"url?", type_predicate<TYPE_URL>},           {"word?", type_predicate<TYPE_WORD>},
    {"image?", type_predicate<TYPE_IMAGE>},       {"date?", type_predicate<TYPE_DATE>},
    {"money?", type_predicate<TYPE_MONEY>},       {"ref?", type_predicate<TYPE_REF>},
    {"point2D?", type_predicate<TYPE_POINT2D>},   {"point3D?", type_predicate<TYPE_POINT3D>},
    {"handle?", type_predicate<TYPE_HANDLE>},     {"error?", type_predicate<TYPE_ERROR>},
    {"action?", type_predicate<TYPE_ACTION>},     {"native?", type_predicate<TYPE_NATIVE>},
    {"datatype?", type_predicate<TYPE_DATATYPE>}, {"function?", type_predicate<TYPE_FUNCTION>},
    {"object?", type_predicate<TYPE_OBJECT>},     {"op?", type_predicate<TYPE_OP>},
    {"routine?", type_predicate<TYPE_ROUTINE>},   {"vector?", type_predicate<TYPE_VECTOR>},
};
static_assert(sizeof PREDICATES / sizeof PREDICATES[0] == 48);

const Def SYSTEM_ROUTINES[] = {
    {"active?", "[return: [logic!]]", gc_active_q},
    {"series-cycles", "[return: [integer!]]", gc_series_cycles},
    {"nodes-cycles", "[return: [integer!]]", gc_nodes_cycles},
    {"float-on-change*", "[word [any-word!] new [any-type!]]", float_on_change},
};

}  // namespace

Cell* push_routine(const char* name, const char* spec_text, routine::Fn fn) {
    Cell* spec = stack::push(none::cell());
    lexer::Options options;
    options.one = true;
    uint32_t consumed = 0;
    lexer::scan(spec, reinterpret_cast<const uint8_t*>(spec_text), uint32_t(std::strlen(spec_text)), options,
                nullptr, &consumed);
    uint32_t id = routine::register_fn(fn, name);
    Cell value = *routine::push(spec, nullptr, id, 0, true);
    *spec = value;
    stack::top = spec + 1;
    return spec;
}

namespace {

// Makes the routine and binds its word.
void define_routine(const char* name, const char* spec_text, routine::Fn fn) {
    Cell* saved = stack::top;
    Cell* value = push_routine(name, spec_text, fn);
    Cell w = word::load(name);
    (void)context::set_word(&w, value);  // global: no change hook
    stack::top = saved;
}

}  // namespace

void bind_all() {
    for (const Def& d : ROUTINES) define_routine(d.name, d.spec, d.fn);
    const char* predicate_spec =
        "[\"Returns true if the value is this type\" value [any-type!] return: [logic!]]";
    for (const Predicate& p : PREDICATES) define_routine(p.name, predicate_spec, p.fn);
    static const auto tests = typeset_tests(std::make_integer_sequence<uint32_t, TYPESET_TEST_COUNT>{});
    for (uint32_t i = 0; i < TYPESET_TEST_COUNT; ++i) {
        std::string type_name = TYPESET_TESTS[i][1];
        typeset_symbols[i] = word::load(type_name.c_str()).w2;
        std::string doc =
            "Returns true if the value is any type of " + type_name.substr(0, type_name.size() - 1);
        std::string spec = "[\"" + doc + "\" value [any-type!] return: [logic!]]";
        define_routine(TYPESET_TESTS[i][0], spec.c_str(), tests[i]);
    }
}

Cell* push_system_routine(const char* name) {
    for (const Def& d : SYSTEM_ROUTINES)
        if (std::strcmp(d.name, name) == 0) return push_routine(d.name, d.spec, d.fn);
    return stack::push(none::cell());
}

}  // namespace kiv::library::routines
