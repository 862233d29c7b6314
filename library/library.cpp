#include "library/library.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <strings.h>
#include <string>
#include <vector>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/call_layout.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/runtime.h"
#include "library/image.h"
#include "library/modules.h"
#include "library/routines.h"
#include "library/serialize.h"
#include "platform/console_output.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/externals.h"
#include "runtime/lowlevel.h"
#include "runtime/root.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::library {

void (*check_face_facets)() = nullptr;

namespace {


// The raw command line kept by set_command_line until the system object exists.
std::string command_line;

// Sets a global word to a value held on the data stack (making the word may
// allocate, and so collect).
void define(const char* name, const Cell& value) {
    stack::TopMark guard;
    Cell* held = stack::push(value);
    Cell w = word::load(name);
    (void)context::set_word(&w, held);  // global: no change hook
}

// Loads UTF-8 text into a block pushed on the data stack.
Cell* load_text(const uint8_t* text, uint64_t size) {
    if (size > UINT32_MAX) fire({"script", "too-long"});
    Cell* out = stack::push(none::cell());
    lexer::Options options;
    uint32_t consumed = 0;
    lexer::scan(out, text, uint32_t(size), options, nullptr, &consumed);
    return out;
}

// The boot image's literals: pairs of a module's file! name and its code
// (a block positioned after the header), from this root position on.
uint32_t modules_at = 0;
uint32_t module_cells = 0;

// True when the file! names exactly the ASCII text `name` (module names are
// ASCII source paths), compared in place.
bool file_names(const Cell& file, const char* name, uint32_t length) {
    const SeriesBuffer* b = buffer_of(file.w2);
    const uint32_t unit = b->unit();
    const uint32_t count = b->byte_count() / unit;
    if (file.w1 > count || count - file.w1 != length) return false;
    const uint8_t* p = b->head_ptr() + size_t(file.w1) * unit;
    for (uint32_t i = 0; i < length; ++i)
        if (string::get_char(p + size_t(i) * unit, unit) != uint8_t(name[i])) return false;
    return true;
}

// The code of a module of the boot image, pushed on the data stack.
Cell* push_module(const char* name) {
    const uint32_t length = uint32_t(std::strlen(name));
    for (uint32_t i = 0; i + 1 < module_cells; i += 2) {
        const Cell file = *root::at(modules_at + i);
        if (file.type() != TYPE_FILE || !file_names(file, name, length)) continue;
        const Cell code = *root::at(modules_at + i + 1);
        if (code.type() != TYPE_BLOCK) break;
        return stack::push(code);
    }
    broken_build(std::string("module not in the boot image: ") + name);
}

// ---- Steps of the module order ---------------------------------------------------------------

// Marks SOLE the body of each
// `name: func [spec] [body]` (or `function`; the name may also be a set-path
// or `set 'name`) among the direct values of a base module's code, and
// likewise in the body block of each `name: context [...]` (or `object`)
// there, in turn. The code comes from the boot image: no Kiv value reaches
// it or its literals, and it runs once, so the body is reached only by the
// call that the expression makes (a word that does not hold the maker would
// take the blocks as values of their own, discarded), and an object's spec
// is bound in place and run once by `make object!`. The lexer shares no
// series, so nothing inside a body is reached from elsewhere.
struct MakerWords {
    uint32_t func, function, context, object, set;
};

void mark_sole_bodies(const Cell* code, const MakerWords& makers, int depth) {
    const uint32_t n = block::cells_length(code);
    const Cell* c = block::cells_at(code, code->w1);
    for (uint32_t i = 0; i < n; ++i) {
        // The target: a set-word, a set-path, or `set` with a lit-word.
        uint32_t at = i + 1;
        const uint32_t target = c[i].type();
        if (target == TYPE_WORD && i + 1 < n && c[i + 1].type() == TYPE_LIT_WORD &&
            symbol::resolve(c[i].w2) == makers.set)
            at = i + 2;
        else if (target != TYPE_SET_WORD && target != TYPE_SET_PATH)
            continue;
        if (at + 1 >= n || c[at].type() != TYPE_WORD || c[at + 1].type() != TYPE_BLOCK) continue;
        const uint32_t maker = symbol::resolve(c[at].w2);
        if (maker == makers.func || maker == makers.function) {
            if (at + 2 >= n || c[at + 2].type() != TYPE_BLOCK) continue;
            buffer_of(c[at + 2].w2)->flags |= series_flag::SOLE;
        } else if ((maker == makers.context || maker == makers.object) && depth < 8) {
            const Cell spec = c[at + 1];
            mark_sole_bodies(&spec, makers, depth + 1);
        }
    }
}

void run_module(const char* name, const MakerWords& makers) {
    stack::TopMark guard;
    Cell* code = push_module(name);
    // Each marked body is taken by its call, which clears the mark; a base
    // module that fails first ends start-up.
    if (makers.func) mark_sole_bodies(code, makers, 0);
    eval_top(code);
}

// What the constants module cannot write as source: the null handle!.
void define_constants() {
    define("null-handle", handle::cell(0, handle::CLASS_NULL));
}

// What Kiv code cannot build itself: the error catalog, the build date, the
// global context as an object, the routines of state/GC, options/float with
// its handler, the raw command line and the current directory.
void fill_system() {
    stack::TopMark guard;
    Cell* catalog = stack::push(error::build_catalog());
    if (!system_object::set_field({"catalog", "errors"}, *catalog)) broken_build("system/catalog/errors is missing");
    install_trace_hooks();
    money::use_live_currencies();

#ifdef KIV_BUILD_DATE
    // The build date, fixed when the runtime was compiled.
    Cell* date = stack::push(none::cell());
    static const char BUILD_DATE[] = KIV_BUILD_DATE;
    runtime::load_single_utf8(reinterpret_cast<const uint8_t*>(BUILD_DATE), sizeof BUILD_DATE - 1, date);
    if (date->type() == TYPE_DATE) system_object::set_field({"build", "date"}, *date);
#endif

    Cell words = object::cell(context::global(), 0, 0);
    system_object::set_field({"words"}, words);

    // The GC statistics and the float switches are routines.
    for (const char* name : {"active?", "series-cycles", "nodes-cycles"}) {
        Cell* r = routines::push_table_routine(routines::SYSTEM_TABLE, name);
        system_object::set_field({"state", "GC", name}, *r);
    }
    // system/options/float: its on-change* is a function whose body calls
    // the routine that sets the runtime's float switches (the routine is in
    // the body as a value: it has no word).
    Cell* handler_spec = load_text(reinterpret_cast<const uint8_t*>("word old new"), 12);
    Cell* handler_body = load_text(reinterpret_cast<const uint8_t*>("switch word :new"), 16);
    Cell* switcher = routines::push_table_routine(routines::SYSTEM_TABLE, "float-on-change*");
    *block::cells_at(handler_body, handler_body->w1) = *switcher;
    function::init_context(handler_spec, handler_body, 0, 0, 0, 0);
    Cell* handler = stack::top - 1;
    Cell* spec = stack::push(none::cell());
    block::make_at(spec, 6);
    const char* names[] = {"pretty?", "full?", "on-change*"};
    Cell values[] = {logic::cell(true), logic::cell(false), *handler};
    for (int i = 0; i < 3; ++i) {
        Cell* w = stack::push(word::load(names[i]));
        w->set_type(TYPE_SET_WORD);
        block::cells_append(spec, w);
        block::cells_append(spec, &values[i]);
    }
    Cell* float_options = object::construct(spec, nullptr, true);
    system_object::set_field({"options", "float"}, *float_options);

    Cell* args = push_system_text(command_line);
    system_object::set_field({"script", "args"}, *args);

    set_options_path();
}

// `stats/show` prints its report with the library's show-memory-stats,
// called as a function under a frame of that name.
void show_memory_report(const Cell* report) {
    stack::TopMark guard;
    Cell* saved_base = stack::arg_base;
    const Cell name = word::load("show-memory-stats");
    Cell* fn = stack::push(none::cell());
    context::get_global_into(name.w2, fn);
    if (fn->type() != TYPE_FUNCTION) fire({"internal", "not-done"});
    (void)interpreter::call_values(fn, report, 1, &name);
    stack::arg_base = saved_base;
}

void install_memory_report() {
    collector::show_memory_stats = show_memory_report;
}

void check_faces() {
    if (check_face_facets) check_face_facets();
}

struct Module {
    const char* file;
    Group group;
    void (*after)();  // the C++ step that follows the module, or null
};

// The module manifest (library/modules.h), in its order.
const Module MODULES[] = {
#define KIV_MODULE_ROW(file, group, after) {file, Group::group, after},
    KIV_MODULES(KIV_MODULE_ROW)
#undef KIV_MODULE_ROW
};

// Whether each group has run (or is running).
bool group_ran[size_t(Group::COUNT)] = {};

// Runs the modules of a group, each followed by its C++ step.
void run_group_modules(Group group) {
    // Only the base group runs before any script: a later group may meet
    // makers a script has redefined, which could keep what they are given.
    auto canonical = [](const char* name) { return symbol::resolve(word::load(name).w2); };
    MakerWords makers{0, 0, 0, 0, 0};
    if (group == Group::BASE)
        makers = MakerWords{canonical("func"), canonical("function"), canonical("context"), canonical("object"),
                            canonical("set")};
    for (const Module& m : MODULES) {
        if (m.group != group) continue;
        run_module(m.file, makers);
        if (m.after) m.after();
    }
}

}  // namespace

// ---- Public ------------------------------------------------------------------------------------

void broken_build(const std::string& what) {
    std::string text = "*** Library Error: " + what;
    lowlevel::error_box("Kiv NoName App", text.c_str());
    lowlevel::quit(lowlevel::ERR_ASSERTION);
}

const Cell* find_boot_literal(uint32_t type, const char* name, uint32_t* root_index) {
    for (uint32_t i = 0; i + 1 < module_cells; i += 2) {
        const Cell key = *root::at(modules_at + i);
        if (key.type() != type || symbol::name_view(key.w2) != name) continue;
        if (root_index) *root_index = modules_at + i + 1;
        return root::at(modules_at + i + 1);
    }
    return nullptr;
}

namespace {
// Another image than the executable's own (null: none given).
const uint8_t* image_bytes = nullptr;
uint32_t image_size = 0;
}  // namespace

void use_image(const uint8_t* image, uint32_t size) {
    image_bytes = image;
    image_size = size;
}

void bind_builtins() {
    lexer::init();
    // The executable's image is read here, not copied at static
    // initialisation (its size is computed then, in another file).
    if (!image_bytes) use_image(BOOT_IMAGE, BOOT_IMAGE_SIZE);
    modules_at = kivbin::load_boot(image_bytes, image_size, false, &module_cells);
}

void close_builtins() {
    // The built-ins' own call layouts, computed by the image tool; an image
    // without them (tests make such) leaves them to be computed here.
    if (const Cell* layouts = find_boot_literal(TYPE_ISSUE, "layouts", nullptr)) {
        const SeriesBuffer* b = layouts->type() == TYPE_BINARY ? buffer_of(layouts->w2) : nullptr;
        if (!b || !interpreter::spec::take_own_layouts(b->head_ptr(), b->byte_count()))
            broken_build("the boot image's #layouts are malformed or differ from the layouts start-up made");
    }
    interpreter::spec::close_builtin_layouts();
}

Cell* push_module_code(const char* name) {
    return push_module(name);
}

void set_command_line(int argc, char** argv) {
    command_line = raw_command_line(argc, argv);
}

void run_modules() {
    group_ran[size_t(Group::BASE)] = true;
    run_group_modules(Group::BASE);
}

void need_group(Group group) {
    if (group_ran[size_t(group)]) return;
    group_ran[size_t(group)] = true;  // once, also when a module of it fails
    // The group's own boot image follows its word among the literals; a
    // group without modules has none. It is copied out of the arena first:
    // its bytes must stay put while they are decoded.
    Cell name = word::load(group_name(group));
    std::vector<uint8_t> image;
    for (uint32_t i = 0; i + 1 < module_cells; i += 2) {
        const Cell key = *root::at(modules_at + i);
        if (key.type() != TYPE_WORD || symbol::resolve(key.w2) != symbol::resolve(name.w2)) continue;
        const Cell bytes = *root::at(modules_at + i + 1);
        if (bytes.type() != TYPE_BINARY) broken_build(std::string("no image of the group ") + group_name(group));
        const SeriesBuffer* b = buffer_of(bytes.w2);
        image.assign(b->head_ptr(), b->head_ptr() + b->byte_count());
        break;
    }
    if (image.empty()) return;
    uint32_t count = 0;
    const uint32_t first = kivbin::load_boot(image.data(), uint32_t(image.size()), true, &count);
    const uint32_t base_at = modules_at, base_cells = module_cells;
    modules_at = first;
    module_cells = count;
    struct Restore {
        uint32_t at, cells;
        ~Restore() {
            modules_at = at;
            module_cells = cells;
        }
    } restore{base_at, base_cells};
    run_group_modules(group);
}

bool group_has_run(Group group) {
    return group_ran[size_t(group)];
}

int64_t find_header(const uint8_t* text, uint64_t size) {
    // "Kiv" counts only as the first token of its line (blanks before it
    // allowed), so that a name such as "MyKiv [" or a comment mentioning
    // "Kiv [" before the real header is passed over. It is matched without
    // regard to case, as the lexer reads words.
    auto blank = [](uint8_t c) { return c == ' ' || c == '\t'; };
    for (uint64_t i = 0; i + 3 <= size; ++i) {
        if ((text[i] | 0x20) != 'k' || (text[i + 1] | 0x20) != 'i' || (text[i + 2] | 0x20) != 'v') continue;
        uint64_t b = i;
        while (b > 0 && blank(text[b - 1])) --b;
        if (b > 0 && text[b - 1] != '\n' && text[b - 1] != '\r') continue;
        uint64_t j = i + 3;
        if (j + 7 <= size && text[j] == '/' && strncasecmp(reinterpret_cast<const char*>(text + j + 1), "System", 6) == 0)
            j += 7;
        while (j < size && (blank(text[j]) || text[j] == '\r' || text[j] == '\n')) ++j;
        if (j < size && text[j] == '[') return int64_t(i);
    }
    return -1;
}

Cell* load_script(const uint8_t* text, uint64_t size, const Cell* name, Cell* header) {
    int64_t at = find_header(text, size);
    if (at < 0) fire({"syntax", "no-header"}, *name);
    Cell* code = load_text(text + at, size - uint64_t(at));
    uint32_t length = block::cells_length(code);
    const Cell* first = length ? block::cells_at(code, code->w1) : nullptr;
    if (first && first->type() == TYPE_PATH) fire({"internal", "kiv-system"});
    const Cell* second = length > 1 ? block::cells_at(code, code->w1 + 1) : nullptr;
    if (header) *header = second && second->type() == TYPE_BLOCK ? *second : none::cell();
    // The word Kiv and its header block are not part of the code.
    if (second && second->type() == TYPE_BLOCK) code->w1 += 2;
    return code;
}

void eval_top(const Cell* code) {
    stack::TopMark guard;
    Cell* held = stack::push(*code);
    Unwind status = interpreter::eval(held, false);
    if (status != 0) {
        // Nothing at this level admits an exit: the stacks were trimmed to a
        // frame that is not ours, which cannot happen with an empty frame
        // stack. Reset both and report it as the language does.
        stack::reset_all();
        fire({"throw", "throw"});
    }
}

std::string raw_command_line(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i] ? argv[i] : "";
        if (i) line += ' ';
        bool quote = arg.empty() || arg.find_first_of(" \t\"") != std::string::npos;
        if (quote) line += '"';
        line += arg;
        if (quote) line += '"';
    }
    return line;
}

std::string current_dir() {
    std::vector<char> buf(4096);
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE || buf.size() > (1u << 20)) return std::string();
        buf.resize(buf.size() * 2);
    }
    std::string dir = buf.data();
    if (dir.back() != '/') dir += '/';
    return dir;
}

void set_options_path() {
    std::string dir = current_dir();
    if (dir.empty()) return;
    stack::TopMark guard;
    Cell* path = push_system_text(dir);
    path->set_type(TYPE_FILE);
    if (!system_object::set_field({"options", "path"}, *path)) return;
    Cell* field = stack::push(word::load("path"));
    Cell* options = system_object::field({"options"});
    if (!options) return;
    Cell* owner = stack::push(*options);
    ownership::bind_set(path, owner, field);
}

Cell* push_utf8(const std::string& text) {
    return string::load_push(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()),
                             string::ENC_UTF8);
}

Cell* push_system_text(const std::string& bytes) {
    return string::load_push(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()),
                             string::ENC_SYSTEM);
}

std::string to_system_bytes(const Cell& str) {
    if (!is_any_string(str.type())) return std::string();
    return unicode::to_system_bytes(&str);
}

std::string to_utf8(const Cell& str) {
    std::string text;
    if (!is_any_string(str.type())) return text;
    const SeriesBuffer* b = buffer_of(str.w2);
    uint32_t unit = b->unit();
    uint32_t length = b->byte_count() / unit;
    const uint8_t* p = b->head_ptr();
    for (uint32_t i = str.w1; i < length; ++i) {
        uint8_t bytes[4];
        size_t n = console::encode_utf8(string::get_char(p + size_t(i) * unit, unit), bytes);
        text.append(reinterpret_cast<const char*>(bytes), n);
    }
    return text;
}

}  // namespace kiv::library
