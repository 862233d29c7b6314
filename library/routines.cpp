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
#include "library/clipboard.h"
#include "library/codecs.h"
#include "library/loading.h"
#include "library/json.h"
#include "library/csv.h"
#include "library/library.h"
#include "runtime/root.h"
#include "platform/console_output.h"
#include "platform/os_info.h"
#include "runtime/arena.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/lowlevel.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace kiv::library::routines {

using routine::arg;
using routine::result;

namespace {

int32_t int_of(const Cell& c) {
    return int32_t(c.w2);
}

// ---- Process and assignment ------------------------------------------------------------

template <class A>
Unwind quit_return(A a) {
    lowlevel::end_process(int_of(arg<"status">(a)));
    return UNWIND_NONE;
}

template <class A>
Unwind set_quiet(A a) {
    if (!is_all_word(arg<"word">(a).type())) {
        Cell name = word::load("set-quiet");
        Cell word_arg = word::load("word");
        fire({"script", "expect-arg"}, name, datatype::cell(arg<"word">(a).type()), word_arg);
    }
    Cell w = arg<"word">(a);
    Cell value = arg<"value">(a);
    (void)context::set_in(&w, &arg<"value">(a), w.w1, false);  // quiet: no change hook
    result(a) = value;
    return UNWIND_NONE;
}

template <class A>
Unwind set_slot_quiet(A a) {
    uint32_t t = arg<"series">(a).type();
    bool list = t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_PATH || t == TYPE_LIT_PATH ||
                t == TYPE_SET_PATH || t == TYPE_GET_PATH;
    if (!list) {
        Cell name = word::load("set-slot-quiet");
        Cell series_arg = word::load("series");
        fire({"script", "expect-arg"}, name, datatype::cell(TYPE_BLOCK), series_arg);
    }
    Cell value = arg<"value">(a);
    if (!block::cells_at_tail(&arg<"series">(a))) {
        Cell* slot = block::cells_at(&arg<"series">(a), arg<"series">(a).w1);
        copy_cell(&value, slot);
    }
    result(a) = value;
    return UNWIND_NONE;
}

// ---- Bit shifts ----------------------------------------------------------------------------

// The routines are the `shift` native with its refinements set as each asks.
template <bool Left, bool Logical, class A>
Unwind shift_by(A) {
    using R = natives::Refs<natives::N_SHIFT>;
    int32_t refs[2] = {-1, -1};
    if (Left) refs[R::index<"left">()] = 2;
    if (Logical) refs[R::index<"logical">()] = 2;
    static_cast<void>(natives::shift(refs));  // shift never unwinds
    return UNWIND_NONE;
}

// ---- Output and state ------------------------------------------------------------------------

template <class A>
Unwind last_lf_q(A a) {
    result(a) = logic::cell(natives::last_line_feed != 0);
    return UNWIND_NONE;
}

// A binary! goes out as its bytes from the index, unchanged; any other
// value as its text.
template <class A>
Unwind write_stdout(A a) {
    if (arg<"data">(a).type() == TYPE_BINARY) {
        uint32_t count = 0;
        const uint8_t* bytes = binary::bytes_at(&arg<"data">(a), count);
        console::write_raw(bytes, count);  // allocates no series memory: the bytes stay put
        result(a) = unset::cell();
        return UNWIND_NONE;
    }
    std::string text;
    if (is_any_string(arg<"data">(a).type())) {
        text = to_utf8(arg<"data">(a));
    } else {
        stack::TopMark mark;
        text = to_utf8(*string::push_formed(arg<"data">(a)));
    }
    Cell* saved = stack::top;
    Cell* s = push_utf8(text);
    natives::write_to_console(s, 0);
    stack::top = saved;
    result(a) = unset::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind tracing_q(A a) {
    result(a) = logic::cell(interpreter::tracing);
    return UNWIND_NONE;
}

// Runs the preprocessor's module group once, on its first need (it defines
// `preprocessor` and the real `expand-directives`).
template <class A>
Unwind load_preprocessor(A a) {
    library::need_group(library::Group::PREPROCESSOR);
    result(a) = unset::cell();
    return UNWIND_NONE;
}

// Runs the group of JSON, CSV and the download cache once, on its first
// need (its modules define the real functions in place of the stand-ins).
template <class A>
Unwind load_formats(A a) {
    library::need_group(library::Group::FORMATS);
    result(a) = unset::cell();
    return UNWIND_NONE;
}

// Runs the graphical console's group once, after the groups it builds on
// (the GUI engine's faces and text routines, the console's completion and
// highlighting): its module defines gui-console-ctx and the terminal.
template <class A>
Unwind load_gui_console(A a) {
    library::need_group(library::Group::ENGINE);
    library::need_group(library::Group::CONSOLE);
    library::need_group(library::Group::GCONSOLE);
    result(a) = unset::cell();
    return UNWIND_NONE;
}

// Cells from the bottom up to the routine's own result slot included, so
// that `pick-stack stack-size?` reads past every cell pick-stack may give.
template <class A>
Unwind stack_size_q(A a) {
    Cell* slot = &result(a);
    Cell* top = stack::top > slot ? stack::top : slot + 1;
    result(a) = integer::cell(int32_t(top - stack::bottom));
    return UNWIND_NONE;
}

// The argument base of the function in progress where frame-index? is
// called: the first argument cell of the topmost function! call, so that
// `pick-stack frame-index? + 1` is that call's first argument. Outside any
// function call, the argument base of the routine's caller.
template <class A>
Unwind frame_index_q(A a) {
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
    result(a) = integer::cell(int32_t(base - stack::bottom));
    return UNWIND_NONE;
}

template <class A>
Unwind pick_stack(A a) {
    int32_t idx = int_of(arg<"idx">(a));
    int32_t size = int32_t(stack::top - stack::bottom);
    result(a) = idx > 0 && idx < size ? stack::bottom[idx - 1] : none::cell();
    return UNWIND_NONE;
}

// ---- Directories -------------------------------------------------------------------------------

// A file! value from a POSIX path (bytes, decoded without loss), pushed.
Cell* push_file(const std::string& path) {
    Cell* f = push_system_text(path);
    f->set_type(TYPE_FILE);
    return f;
}

template <class A>
Unwind get_current_dir(A a) {
    Cell* saved = stack::top;
    Cell f = *push_file(current_dir());
    stack::top = saved;
    result(a) = f;
    return UNWIND_NONE;
}

// The POSIX path of a file! value; empty when it names nothing (empty, or
// holding a NUL character, which no path can).
std::string posix_path(const Cell& file) {
    std::string path = to_system_bytes(file);
    if (path.find('\0') != std::string::npos) path.clear();
    return path;
}

template <class A>
Unwind set_current_dir(A a) {
    std::string path = posix_path(arg<"path">(a));
    if (path.empty() || chdir(path.c_str()) != 0) fire({"access", "cannot-open"}, arg<"path">(a));
    result(a) = unset::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind create_dir(A a) {
    std::string path = posix_path(arg<"path">(a));
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty() || mkdir(path.c_str(), 0777) != 0) fire({"access", "no-create"}, arg<"path">(a));
    result(a) = unset::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind exists_q(A a) {
    std::string path = posix_path(arg<"path">(a));
    struct stat st;
    result(a) = logic::cell(!path.empty() && stat(path.c_str(), &st) == 0);
    return UNWIND_NONE;
}

// ---- The operating system ------------------------------------------------------------------

// An object of four fields: name (string!), arch (word!), version (tuple!)
// and build (integer!).
template <class A>
Unwind os_info(A a) {
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
    routine::result(a) = result;
    return UNWIND_NONE;
}

// ---- Tuple builders ----------------------------------------------------------------------------

// The first negative component is refused with the integer itself.
void check_components(std::initializer_list<const Cell*> parts) {
    for (const Cell* c : parts)
        if (int_of(*c) < 0) fire({"script", "invalid-arg"}, *c);
}

template <class A>
Unwind as_color(A a) {
    check_components({&arg<"r">(a), &arg<"g">(a), &arg<"b">(a)});
    uint8_t bytes[12] = {uint8_t(int_of(arg<"r">(a))), uint8_t(int_of(arg<"g">(a))),
                         uint8_t(int_of(arg<"b">(a)))};
    result(a) = tuple::make(bytes, 3);
    return UNWIND_NONE;
}

// The bytes of (d << 24) or (c << 16) or (b << 8) or a, low byte first: a
// component above 255 spills into the bytes after it.
Cell ipv4_tuple(const Cell& a0, const Cell& a1, const Cell& a2, const Cell& a3) {
    check_components({&a0, &a1, &a2, &a3});
    uint32_t v = uint32_t(int_of(a3)) << 24 | uint32_t(int_of(a2)) << 16 | uint32_t(int_of(a1)) << 8 |
                 uint32_t(int_of(a0));
    uint8_t bytes[12] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return tuple::make(bytes, 4);
}

template <class A>
Unwind as_ipv4(A a) {
    result(a) = ipv4_tuple(arg<"a">(a), arg<"b">(a), arg<"c">(a), arg<"d">(a));
    return UNWIND_NONE;
}

// The same bytes from colour components, red first.
template <class A>
Unwind as_rgba(A a) {
    result(a) = ipv4_tuple(arg<"r">(a), arg<"g">(a), arg<"b">(a), arg<"a">(a));
    return UNWIND_NONE;
}

// ---- Text ---------------------------------------------------------------------------------------

// Characters from the index of `start` to the index of `pos`, read in the
// buffer of `start` (both positions clamped to its tail; none when pos is
// before start).
template <class A>
Unwind count_chars(A a) {
    const SeriesBuffer* b = buffer_of(arg<"start">(a).w2);
    uint32_t size = b->byte_count();
    uint32_t from = arg<"start">(a).w1 < size ? arg<"start">(a).w1 : size;
    uint32_t to = arg<"pos">(a).w1 < size ? arg<"pos">(a).w1 : size;
    const uint8_t* head = b->head_ptr();
    result(a) = integer::cell(to > from ? int32_t(unicode::count_utf8_chars(head + from, head + to)) : 0);
    return UNWIND_NONE;
}

// ---- Stack introspection ---------------------------------------------------------------------

// From the topmost frame down to the second, each named call: its word and
// the saved argument base as a cell index from the data-stack bottom.
template <class A>
Unwind collect_calls(A a) {
    Cell blk = arg<"blk">(a);
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
    result(a) = unset::cell();
    return UNWIND_NONE;
}

// ---- Routines of the system object ----------------------------------------------------------

template <class A>
Unwind gc_active_q(A a) {
    result(a) = logic::cell(collector::enabled());
    return UNWIND_NONE;
}

template <class A>
Unwind gc_series_cycles(A a) {
    result(a) = integer::cell(int32_t(collector::cycle_count()));
    return UNWIND_NONE;
}

template <class A>
Unwind gc_nodes_cycles(A a) {
    result(a) = integer::cell(int32_t(collector::node_compaction_count()));
    return UNWIND_NONE;
}

// The full float support switch: kept here until the float layer reads one.
bool float_full_support = false;

template <class A>
Unwind float_on_change(A a) {
    std::string_view name = symbol::name_view(arg<"word">(a).w2);
    bool on = natives::lenient_true(&arg<"new">(a));
    if (name == "pretty?") float_::pretty_print = on;
    if (name == "full?") float_full_support = on;
    result(a) = unset::cell();
    return UNWIND_NONE;
}

// ---- Type predicates and typeset tests --------------------------------------------------------

template <uint32_t Type, class A>
Unwind type_predicate(A a) {
    result(a) = logic::cell(arg<"value">(a).type() == Type);
    return UNWIND_NONE;
}

// A predicate's row, marked with the datatype it tests (routine::register_fn).
constexpr routine::Row type_test_row(routine::Row r, uint32_t type) {
    r.tests = type;
    return r;
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

template <uint32_t N, class A>
Unwind typeset_test(A a) {
    Cell ts;
    context::get_global_into(typeset_symbols[N], &ts);
    result(a) = logic::cell(ts.type() == TYPE_TYPESET && typeset::has(&ts, arg<"value">(a).type()));
    return UNWIND_NONE;
}

template <class A>
Unwind routine_table(A a);

// ---- The tables -----------------------------------------------------------------------------------

#define KIV_PREDICATE(name, type)                                                                               \
    type_test_row(                                                                                              \
        KIV_ROUTINE(name, "[\"Returns true if the value is this type\" value [any-type!] return: [logic!]]", \
                    type_predicate<type>),                                                                      \
        type)
#define KIV_TYPESET_TEST(n, kind)                                   \
    KIV_ROUTINE(TYPESET_TESTS[n][0],                                \
                "[\"Returns true if the value is any type of " kind \
                "\" value [any-type!] return: [logic!]]",           \
                typeset_test<n>)

// The global routines: the library's own, then one predicate per datatype
// (in their order of definition), then one test per typeset.
const routine::Row LIBRARY_ROWS[] = {
    KIV_ROUTINE("quit-return",
                "[\"Stops evaluation and exits the program with a given status\" status [integer!] \"Process "
                "termination "
                "value to return\"]",
                quit_return),
    KIV_ROUTINE(
        "set-quiet",
        "[\"Set an object's field to a value without triggering eventual object's events\" word [any-type!] "
        "value "
        "[any-type!] return: [any-type!]]",
        set_quiet),
    KIV_ROUTINE(
        "set-slot-quiet",
        "[\"Set a value in series without triggering eventual owner's events\" series [any-type!] value "
        "[any-type!]]",
        set_slot_quiet),
    KIV_ROUTINE("shift-right",
                "[\"Shift bits to the right\" data [integer!] bits [integer!] return: [integer!]]",
                shift_by<false, false>),
    KIV_ROUTINE("shift-left",
                "[\"Shift bits to the left\" data [integer!] bits [integer!] return: [integer!]]",
                shift_by<true, false>),
    KIV_ROUTINE("shift-logical",
                "[\"Shift bits to the right (unsigned)\" data [integer!] bits [integer!] return: [integer!]]",
                shift_by<false, true>),
    KIV_ROUTINE("last-lf?", "[\"Internal Use Only\" return: [logic!]]", last_lf_q),
    KIV_ROUTINE("get-current-dir",
                "[\"Returns the platform's current directory for the process\" return: [file!]]",
                get_current_dir),
    KIV_ROUTINE("set-current-dir", "[\"Sets the platform's current process directory\" path [file!]]",
                set_current_dir),
    KIV_ROUTINE("create-dir", "[\"Create the given directory\" path [file!]]", create_dir),
    KIV_ROUTINE("exists?", "[\"Returns TRUE if the file exists\" path [file!] return: [logic!]]", exists_q),
    KIV_ROUTINE("os-info", "[\"Returns detailed operating system version information\" return: [object!]]",
                os_info),
    KIV_ROUTINE("as-color",
                "[\"Combine R, G and B values into a tuple\" r [integer!] g [integer!] b [integer!] return: "
                "[tuple!]]",
                as_color),
    KIV_ROUTINE(
        "as-ipv4",
        "[\"Combine a, b, c and d values into a tuple\" a [integer!] b [integer!] c [integer!] d [integer!] "
        "return: [tuple!]]",
        as_ipv4),
    KIV_ROUTINE(
        "as-rgba",
        "[\"Combine R, G, B and A color components into a tuple\" r [integer!] g [integer!] b [integer!] a "
        "[integer!] return: [tuple!]]",
        as_rgba),
    KIV_ROUTINE(
        "count-chars",
        "[\"Count UTF-8 encoded characters between two positions in a binary series\" start [binary!] pos "
        "[binary!] return: [integer!]]",
        count_chars),
    KIV_ROUTINE("stack-size?", "[return: [integer!]]", stack_size_q),
    KIV_ROUTINE("pick-stack", "[idx [integer!]]", pick_stack),
    KIV_ROUTINE("frame-index?", "[return: [integer!]]", frame_index_q),
    KIV_ROUTINE("collect-calls", "[blk [block!]]", collect_calls),
    KIV_ROUTINE("tracing?", "[return: [logic!]]", tracing_q),
    KIV_ROUTINE("load-preprocessor", "[\"Internal Use Only\"]", load_preprocessor),
    KIV_ROUTINE("load-formats", "[\"Internal Use Only\"]", load_formats),
    KIV_ROUTINE("load-gui-console", "[\"Internal Use Only\"]", load_gui_console),
    KIV_ROUTINE("write-stdout", "[\"Write data to STDOUT\" data [any-type!]]", write_stdout),
    KIV_ROUTINE("event?", "[\"Returns true if the value is this type\" value [any-type!] return: [logic!]]",
                type_predicate<TYPE_EVENT>),
    KIV_ROUTINE("routine-table", "[\"Internal Use Only\" name [word!] return: [object! none!]]",
                routine_table),

    KIV_PREDICATE("bitset?", TYPE_BITSET),
    KIV_PREDICATE("binary?", TYPE_BINARY),
    KIV_PREDICATE("block?", TYPE_BLOCK),
    KIV_PREDICATE("char?", TYPE_CHAR),
    KIV_PREDICATE("email?", TYPE_EMAIL),
    KIV_PREDICATE("file?", TYPE_FILE),
    KIV_PREDICATE("float?", TYPE_FLOAT),
    KIV_PREDICATE("get-path?", TYPE_GET_PATH),
    KIV_PREDICATE("get-word?", TYPE_GET_WORD),
    KIV_PREDICATE("hash?", TYPE_HASH),
    KIV_PREDICATE("integer?", TYPE_INTEGER),
    KIV_PREDICATE("issue?", TYPE_ISSUE),
    KIV_PREDICATE("lit-path?", TYPE_LIT_PATH),
    KIV_PREDICATE("lit-word?", TYPE_LIT_WORD),
    KIV_PREDICATE("logic?", TYPE_LOGIC),
    KIV_PREDICATE("map?", TYPE_MAP),
    KIV_PREDICATE("none?", TYPE_NONE),
    KIV_PREDICATE("pair?", TYPE_PAIR),
    KIV_PREDICATE("paren?", TYPE_PAREN),
    KIV_PREDICATE("path?", TYPE_PATH),
    KIV_PREDICATE("percent?", TYPE_PERCENT),
    KIV_PREDICATE("refinement?", TYPE_REFINEMENT),
    KIV_PREDICATE("set-path?", TYPE_SET_PATH),
    KIV_PREDICATE("set-word?", TYPE_SET_WORD),
    KIV_PREDICATE("string?", TYPE_STRING),
    KIV_PREDICATE("tag?", TYPE_TAG),
    KIV_PREDICATE("time?", TYPE_TIME),
    KIV_PREDICATE("typeset?", TYPE_TYPESET),
    KIV_PREDICATE("tuple?", TYPE_TUPLE),
    KIV_PREDICATE("unset?", TYPE_UNSET),
    KIV_PREDICATE("url?", TYPE_URL),
    KIV_PREDICATE("word?", TYPE_WORD),
    KIV_PREDICATE("image?", TYPE_IMAGE),
    KIV_PREDICATE("date?", TYPE_DATE),
    KIV_PREDICATE("money?", TYPE_MONEY),
    KIV_PREDICATE("ref?", TYPE_REF),
    KIV_PREDICATE("point2D?", TYPE_POINT2D),
    KIV_PREDICATE("point3D?", TYPE_POINT3D),
    KIV_PREDICATE("handle?", TYPE_HANDLE),
    KIV_PREDICATE("error?", TYPE_ERROR),
    KIV_PREDICATE("action?", TYPE_ACTION),
    KIV_PREDICATE("native?", TYPE_NATIVE),
    KIV_PREDICATE("datatype?", TYPE_DATATYPE),
    KIV_PREDICATE("function?", TYPE_FUNCTION),
    KIV_PREDICATE("object?", TYPE_OBJECT),
    KIV_PREDICATE("op?", TYPE_OP),
    KIV_PREDICATE("routine?", TYPE_ROUTINE),
    KIV_PREDICATE("vector?", TYPE_VECTOR),

    KIV_TYPESET_TEST(0, "any-list"),
    KIV_TYPESET_TEST(1, "any-block"),
    KIV_TYPESET_TEST(2, "any-function"),
    KIV_TYPESET_TEST(3, "any-object"),
    KIV_TYPESET_TEST(4, "any-path"),
    KIV_TYPESET_TEST(5, "any-string"),
    KIV_TYPESET_TEST(6, "any-word"),
    KIV_TYPESET_TEST(7, "series"),
    KIV_TYPESET_TEST(8, "number"),
    KIV_TYPESET_TEST(9, "immediate"),
    KIV_TYPESET_TEST(10, "scalar"),
    KIV_TYPESET_TEST(11, "all-word"),
    KIV_TYPESET_TEST(12, "any-point"),
    KIV_TYPESET_TEST(13, "planar"),
};

#undef KIV_PREDICATE
#undef KIV_TYPESET_TEST

// The routines that live in the system object: system/state/GC and the
// change handler of system/options/float.
const routine::Row SYSTEM_ROWS[] = {
    KIV_ROUTINE("active?", "[return: [logic!]]", gc_active_q),
    KIV_ROUTINE("series-cycles", "[return: [integer!]]", gc_series_cycles),
    KIV_ROUTINE("nodes-cycles", "[return: [integer!]]", gc_nodes_cycles),
    KIV_ROUTINE("float-on-change*", "[word [any-word!] new [any-type!]]", float_on_change),
};

}  // namespace

const routine::Table LIBRARY_TABLE = routine::table("library", LIBRARY_ROWS, true);
const routine::Table SYSTEM_TABLE = routine::table("system", SYSTEM_ROWS, false);

namespace {

// The root position of the boot image's routine specifications: a block
// with one block per table of all_tables(), each [name spec name spec ...]
// in row order (found by bind_all).
uint32_t specs_at = 0;
bool specs_found = false;

[[noreturn]] void broken_image(const std::string& what) {
    broken_build(what);
}

// The spec block of row `row` of table `t`, from the image.
Cell spec_of(uint32_t t, uint32_t row) {
    if (!specs_found) broken_image("the routine specifications are not loaded");
    const Cell all = *root::at(specs_at);
    const Cell table = *block::cells_at(&all, all.w1 + t);
    return *block::cells_at(&table, table.w1 + 2 * row + 1);
}

uint32_t index_of(const routine::Table& table) {
    const routine::Table* const* tables = routine::all_tables();
    for (uint32_t t = 0; t < routine::table_count(); ++t)
        if (tables[t] == &table) return t;
    broken_image(std::string("unknown routine table ") + table.name);
}

// Makes row `row` of table `t` as a routine! and pushes it.
Cell* push_row(uint32_t t, uint32_t row) {
    const routine::Row& r = routine::all_tables()[t]->rows[row];
    Cell* spec = stack::push(spec_of(t, row));
    uint32_t id = routine::register_fn(r.fn, r.name, r.tests);
    Cell value = *routine::push(spec, nullptr, id, 0, true);
    *spec = value;
    stack::top = spec + 1;
    return spec;
}

// An object of the table's routines, pushed.
Cell* push_object(uint32_t t) {
    const routine::Table& table = *routine::all_tables()[t];
    Cell* saved = stack::top;
    Cell* spec = stack::push(none::cell());
    block::make_at(spec, int32_t(table.count * 2));
    for (uint32_t i = 0; i < table.count; ++i) {
        Cell name = word::load(table.rows[i].name);
        name.set_type(TYPE_SET_WORD);
        block::cells_append(spec, &name);
        Cell* fn = push_row(t, i);
        block::cells_append(spec, fn);
        stack::top = fn;
    }
    Cell obj = *object::construct(spec, nullptr, true);
    stack::top = saved;
    return stack::push(obj);
}

// routine-table name: the object of the routines of an object table, or
// none for a name that is no such table.
template <class A>
Unwind routine_table(A a) {
    const std::string_view name = symbol::name_view(arg<"name">(a).w2);
    const routine::Table* const* tables = routine::all_tables();
    for (uint32_t t = 0; t < routine::table_count(); ++t)
        if (!tables[t]->global && name == tables[t]->name) {
            Cell* saved = stack::top;
            Cell obj = *push_object(t);
            stack::top = saved;
            result(a) = obj;
            return UNWIND_NONE;
        }
    result(a) = none::cell();
    return UNWIND_NONE;
}

}  // namespace

void bind_all() {
    // The specifications: the boot image's #routines literal.
    const Cell* found = find_boot_literal(TYPE_ISSUE, "routines", &specs_at);
    if (!found || found->type() != TYPE_BLOCK) broken_image("no routine specifications");
    specs_found = true;
    const routine::Table* const* tables = routine::all_tables();
    {
        const Cell all = *found;
        if (block::cells_length(&all) != routine::table_count()) broken_image("the routine tables differ");
        for (uint32_t t = 0; t < routine::table_count(); ++t) {
            const Cell table = *block::cells_at(&all, all.w1 + t);
            if (table.type() != TYPE_BLOCK || block::cells_length(&table) != 2 * tables[t]->count)
                broken_image(std::string("the routine table ") + tables[t]->name + " differs");
            for (uint32_t i = 0; i < tables[t]->count; ++i) {
                const Cell name = *block::cells_at(&table, table.w1 + 2 * i);
                if (symbol::name_view(name.w2) != tables[t]->rows[i].name)
                    broken_image(std::string("the routine ") + tables[t]->rows[i].name + " differs");
            }
        }
    }
    for (uint32_t i = 0; i < TYPESET_TEST_COUNT; ++i) typeset_symbols[i] = word::load(TYPESET_TESTS[i][1]).w2;
    for (uint32_t t = 0; t < routine::table_count(); ++t) {
        if (!tables[t]->global) continue;
        for (uint32_t i = 0; i < tables[t]->count; ++i) {
            Cell* saved = stack::top;
            Cell* value = push_row(t, i);
            const Cell all = *root::at(specs_at);
            const Cell table = *block::cells_at(&all, all.w1 + t);
            Cell w = *block::cells_at(&table, table.w1 + 2 * i);
            w.set_type(TYPE_WORD);
            (void)context::set_word(&w, value);  // global: no change hook
            stack::top = saved;
        }
    }
}

Cell* push_table_object(const routine::Table& table) {
    return push_object(index_of(table));
}

Cell* push_table_routine(const routine::Table& table, const char* name) {
    const uint32_t t = index_of(table);
    for (uint32_t i = 0; i < table.count; ++i)
        if (std::strcmp(table.rows[i].name, name) == 0) return push_row(t, i);
    return stack::push(none::cell());
}

}  // namespace kiv::library::routines
