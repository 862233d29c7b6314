#include "library/routines.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/natives_impl.h"
#include "runtime/stack.h"
#include "gui/backend/platform.h"
#include "library/library.h"
#include "platform/console_output.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/lowlevel.h"

namespace kiv::library::routines {

namespace {

int32_t int_of(const Cell& c) {
    return int32_t(c.w2);
}

// ---- Process and assignment ------------------------------------------------------------

void quit_return(Cell* a) {
    ks::end_process(int_of(a[0]));
}

void set_quiet(Cell* a) {
    if (!word::any_word_type(a[0].type())) {
        Cell name = word::load("set-quiet");
        Cell word_arg = word::load("word");
        fire({"script", "expect-arg"}, name, datatype::cell(a[0].type()), word_arg);
    }
    Cell w = a[0];
    Cell value = a[1];
    context::set_in(&w, &a[1], w.w1, false);
    a[0] = value;
}

void set_slot_quiet(Cell* a) {
    uint32_t t = a[0].type();
    bool list = t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_PATH || t == TYPE_LIT_PATH ||
                t == TYPE_SET_PATH || t == TYPE_GET_PATH;
    if (!list) {
        Cell name = word::load("set-slot-quiet");
        Cell series_arg = word::load("series");
        fire({"script", "expect-arg"}, name, datatype::cell(TYPE_BLOCK), series_arg);
    }
    Cell value = a[1];
    if (!block::ks_tail_q(&a[0])) {
        Cell* slot = block::ks_abs_at(&a[0], a[0].w1);
        copy_cell(&value, slot);
    }
    a[0] = value;
}

// ---- Bit shifts ----------------------------------------------------------------------------

int32_t shift_bits(const Cell& c) {
    int32_t b = int_of(c);
    return b < 0 ? 0 : b;
}

void shift_right(Cell* a) {
    int32_t data = int_of(a[0]);
    int32_t bits = shift_bits(a[1]);
    int32_t r = bits > 31 ? (data < 0 ? -1 : 0) : (data >> bits);
    a[0] = integer::cell(r);
}

void shift_left(Cell* a) {
    int32_t bits = shift_bits(a[1]);
    uint32_t r = bits > 31 ? 0u : uint32_t(int_of(a[0])) << bits;
    a[0] = integer::cell(int32_t(r));
}

void shift_logical(Cell* a) {
    int32_t bits = shift_bits(a[1]);
    uint32_t r = bits > 31 ? 0u : uint32_t(int_of(a[0])) >> bits;
    a[0] = integer::cell(int32_t(r));
}

// ---- Output and state ------------------------------------------------------------------------

void last_lf_q(Cell* a) {
    a[0] = logic::cell(natives::last_line_feed != 0);
}

void write_stdout(Cell* a) {
    std::string text;
    if (string::is_text_like(a[0].type())) {
        text = to_utf8(a[0]);
    } else {
        Cell* saved = stack::top;
        Cell* out = string::push_new(16);
        Cell* v = stack::push(a[0]);
        actions::form(v, out, nullptr, 0);
        text = to_utf8(*out);
        stack::top = saved;
    }
    Cell* saved = stack::top;
    Cell* s = push_utf8(text);
    natives::write_to_console(s, 0);
    stack::top = saved;
    a[0] = unset::cell();
}

void tracing_q(Cell* a) {
    a[0] = logic::cell(interpreter::tracing);
}

void stack_size_q(Cell* a) {
    a[0] = integer::cell(int32_t(stack::top - stack::bottom));
}

void frame_index_q(Cell* a) {
    a[0] = integer::cell(int32_t(stack::arg_base - stack::bottom));
}

void pick_stack(Cell* a) {
    int32_t idx = int_of(a[0]);
    int32_t size = int32_t(stack::top - stack::bottom);
    a[0] = idx > 0 && idx < size ? stack::bottom[idx - 1] : none::cell();
}

// ---- Directories -------------------------------------------------------------------------------

// A file! value from a POSIX path, pushed.
Cell* push_file(const std::string& path) {
    Cell* f = push_utf8(path);
    f->set_type(TYPE_FILE);
    return f;
}

void get_current_dir(Cell* a) {
    std::string dir;
    std::vector<char> buf(4096);
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE || buf.size() > (1u << 20)) {
            buf.assign(1, '\0');
            break;
        }
        buf.resize(buf.size() * 2);
    }
    dir = buf.data();
    if (dir.empty() || dir.back() != '/') dir += '/';
    Cell* saved = stack::top;
    Cell f = *push_file(dir);
    stack::top = saved;
    a[0] = f;
}

void set_current_dir(Cell* a) {
    std::string path = to_utf8(a[0]);
    if (path.empty() || chdir(path.c_str()) != 0) fire({"access", "cannot-open"}, a[0]);
    a[0] = unset::cell();
}

void create_dir(Cell* a) {
    std::string path = to_utf8(a[0]);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty() || mkdir(path.c_str(), 0777) != 0) fire({"access", "no-create"}, a[0]);
    a[0] = unset::cell();
}

void exists_q(Cell* a) {
    std::string path = to_utf8(a[0]);
    struct stat st;
    a[0] = logic::cell(!path.empty() && stat(path.c_str(), &st) == 0);
}

// ---- Routines of the system object ----------------------------------------------------------

void gc_active_q(Cell* a) {
    a[0] = logic::cell(collector::enabled());
}

void gc_series_cycles(Cell* a) {
    a[0] = integer::cell(int32_t(collector::cycle_count()));
}

void gc_nodes_cycles(Cell* a) {
    a[0] = integer::cell(int32_t(collector::node_compaction_count()));
}

// The full float support switch: kept here until the float layer reads one.
bool float_full_support = false;

void float_on_change(Cell* a) {
    std::string_view name = symbol::name_view(a[0].w2);
    bool on = natives::lenient_true(&a[1]);
    if (name == "pretty?") float_::pretty_print = on;
    if (name == "full?") float_full_support = on;
    a[0] = unset::cell();
}

// ---- Type predicates and typeset tests --------------------------------------------------------

template <uint32_t Type>
void type_predicate(Cell* a) {
    a[0] = logic::cell(a[0].type() == Type);
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
void typeset_test(Cell* a) {
    Cell ts;
    context::get_global_into(typeset_symbols[N], &ts);
    a[0] = logic::cell(ts.type() == TYPE_TYPESET && typeset::has(&ts, a[0].type()));
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
     shift_right},
    {"shift-left", "[\"Shift bits to the left\" data [integer!] bits [integer!] return: [integer!]]",
     shift_left},
    {"shift-logical",
     "[\"Shift bits to the right (unsigned)\" data [integer!] bits [integer!] return: [integer!]]",
     shift_logical},
    {"last-lf?", "[\"Internal Use Only\" return: [logic!]]", last_lf_q},
    {"get-current-dir", "[\"Returns the platform's current directory for the process\" return: [file!]]",
     get_current_dir},
    {"set-current-dir", "[\"Sets the platform's current process directory\" path [file!]]", set_current_dir},
    {"create-dir", "[\"Create the given directory\" path [file!]]", create_dir},
    {"exists?", "[\"Returns TRUE if the file exists\" path [file!] return: [logic!]]", exists_q},
    {"stack-size?", "[return: [integer!]]", stack_size_q},
    {"pick-stack", "[idx [integer!]]", pick_stack},
    {"frame-index?", "[return: [integer!]]", frame_index_q},
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

// Makes the routine and binds its word.
static void define_routine(const char* name, const char* spec_text, routine::Fn fn) {
    Cell* saved = stack::top;
    Cell* value = push_routine(name, spec_text, fn);
    Cell w = word::load(name);
    context::set_word(&w, value);
    stack::top = saved;
}

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
