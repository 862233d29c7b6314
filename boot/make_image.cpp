// The boot image tool, run by the build:
//
//   kiv-make-image OUTPUT SOURCE_DIR FOUND...
//
// The modules are the rows of the module manifest (library/modules.h);
// FOUND are the .kiv files the build found in the module folders (paths
// relative to SOURCE_DIR). A found file that the manifest does not list,
// and a listed module that cannot be read, stop the tool: a module is
// listed once, and no module is packed that nothing runs
// (library/actions.kiv is the actions' specification, not a module).
//
// Brings up the runtime's value layer and the lexer (no library: this
// program is the one build of the runtime without a boot image), then
// writes OUTPUT in the serialization format's compact layout (version 1,
// with the symbol table):
//   - an assignment record for the word of every datatype, for default!
//     and any-type!, for every native (its number and its specification
//     block, from evaluator/natives.h) and every action (its slot and its
//     specification block, from library/actions.kiv);
//   - then, as literals, each module of the base group as its file! name
//     followed by its code: the block the lexer reads from the script
//     header on, positioned after `Kiv [...]`;
//   - then the issue #routines and the specification blocks of every
//     routine table (library/routine_table.h), lexed here so that start-up
//     does not;
//   - then the issue #layouts and the call layouts of every native and
//     action (add_layouts), taken by start-up as the entries' own;
//   - then each later group that has modules as its word followed by a
//     binary!: a boot image of its own with no assignments and that
//     group's modules as literals, decoded only when the group is needed.
// Start-up decodes it in boot mode (library/library.cpp). Any fault (a file
// that cannot be read, a lexer error, a specification that does not match
// the runtime's tables) ends the tool with a message naming the file and a
// failure status, and no output is left behind, so the build stops there.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "boot/startup.h"
#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/call_layout.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/parse.h"
#include "evaluator/runtime.h"
#include "library/image.h"
#include "library/library.h"
#include "library/modules.h"
#include "library/routine_table.h"
#include "library/serialize.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv::library {
// This program makes the image; it carries none.
const uint8_t* const BOOT_IMAGE = nullptr;
const uint32_t BOOT_IMAGE_SIZE = 0;
}  // namespace kiv::library

namespace {

using namespace kiv;

// What the tool is doing, for the message of a fault.
std::string doing = "starting";

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "kiv-make-image: %s: %s\n", doing.c_str(), why.c_str());
    std::exit(1);
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A word (made global) followed by its value, appended to the block.
// The word is also set in this program's own global context, where the
// built-ins' layouts are computed (add_layouts).
void assign(Cell* assignments, const char* name, const Cell& value) {
    Cell* held = stack::push(value);
    Cell w = word::load(name);
    block::cells_append(assignments, &w);
    block::cells_append(assignments, held);
    (void)context::set_word(&w, held);  // global: no change hook
    stack::pop(1);
}

// A native! or action! value from its specification and number, pushed.
Cell* push_builtin(uint32_t type, const Cell& spec, uint32_t number) {
    Cell* pair = stack::push(none::cell());
    block::make_at(pair, 2);
    const Cell n{TYPE_INTEGER, 0, number, 0};
    block::cells_append(pair, &spec);
    block::cells_append(pair, &n);
    Cell* made = stack::push(datatype::cell(type));
    (void)native::make(made, pair, type);  // writes *made; runs no Kiv code
    *pair = *made;
    stack::top = pair + 1;
    return pair;
}

// The refinements of a specification block before /local, as
// "[/part /only ...]" (the form of the action rows in datatypes/actions.h).
std::string refinements_of(const Cell& spec) {
    std::string text = "[";
    const uint32_t length = block::cells_length(&spec);
    for (uint32_t i = 0; i < length; ++i) {
        const Cell v = *block::cells_at(&spec, spec.w1 + i);
        if (v.type() != TYPE_REFINEMENT) continue;
        const std::string_view name = symbol::name_view(v.w2);
        if (name == "local") break;
        if (text.size() > 1) text += ' ';
        text += '/';
        text += name;
    }
    return text + "]";
}

void add_datatypes(Cell* assignments) {
    doing = "datatype words";
    // series! is an abstract parent that no value carries (the library
    // makes the word a typeset).
    for (uint32_t t = 1; t <= datatype::highest_type_id; ++t)
        if (datatype::names[t].name && t != TYPE_SERIES)
            assign(assignments, datatype::names[t].name, datatype::cell(t));
    // Every specification refers to these two; they exist before any call.
    Cell all = typeset::default_set();
    assign(assignments, "default!", all);
    typeset::set_bit(&all, TYPE_UNSET);
    assign(assignments, "any-type!", all);
}

void add_natives(Cell* assignments) {
    for (uint32_t n = 1; n <= natives::NATIVE_COUNT; ++n) {
        doing = std::string("specification of native ") + natives::NAMES[n - 1];
        Cell* saved = stack::top;
        const char* text = natives::SPECS[n - 1];
        Cell* spec = stack::push(none::cell());
        lexer::Options options;
        options.one = true;
        uint32_t consumed = 0;
        lexer::scan(spec, reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)), options, nullptr,
                    &consumed);
        if (spec->type() != TYPE_BLOCK) fail("not a block");
        Cell* value = push_builtin(TYPE_NATIVE, *spec, n);
        assign(assignments, natives::NAMES[n - 1], *value);
        stack::top = saved;
    }
}

// library/actions.kiv: each set-word names an action, the block after it
// is its specification.
void add_actions(Cell* assignments, const std::string& source_dir) {
    doing = "library/actions.kiv";
    const std::vector<uint8_t> text = read_file(source_dir + "/library/actions.kiv");
    Cell* saved = stack::top;
    Cell* name_cell = library::push_utf8("library/actions.kiv");
    name_cell->set_type(TYPE_FILE);
    Cell* code = library::load_script(text.data(), text.size(), name_cell, nullptr);
    bool defined[ACTION_COUNT + 1] = {};
    const uint32_t length = block::cells_length(code);
    for (uint32_t i = 0; i < length; i += 2) {
        Cell name = *block::cells_at(code, code->w1 + i);
        const Cell spec = i + 1 < length ? *block::cells_at(code, code->w1 + i + 1) : none::cell();
        if (name.type() != TYPE_SET_WORD || spec.type() != TYPE_BLOCK)
            fail("expected a set-word and a specification block");
        const std::string word(symbol::name_view(name.w2));
        uint32_t slot = 0;
        for (uint32_t s = 1; s <= ACTION_COUNT; ++s)
            if (word == actions::slot_name(s)) slot = s;
        if (!slot || defined[slot]) fail("unknown or repeated action " + word);
        if (refinements_of(spec) != actions::refinements_text(slot))
            fail("the refinements of " + word + " differ from its row in datatypes/actions.h");
        defined[slot] = true;
        Cell* mark = stack::top;
        Cell* value = push_builtin(TYPE_ACTION, spec, slot);
        assign(assignments, word.c_str(), *value);
        stack::top = mark;
    }
    for (uint32_t s = 1; s <= ACTION_COUNT; ++s)
        if (!defined[s] && actions::slot_name(s)[0])
            fail(std::string("no specification for ") + actions::slot_name(s));
    stack::top = saved;
}

// Each module: its file! name, then its code.
void add_module(Cell* literals, const std::string& source_dir, const std::string& rel) {
    doing = rel;
    const std::vector<uint8_t> text = read_file(source_dir + "/" + rel);
    Cell* saved = stack::top;
    Cell* name = library::push_utf8(rel);
    name->set_type(TYPE_FILE);
    Cell* code = library::load_script(text.data(), text.size(), name, nullptr);
    block::cells_append(literals, name);
    block::cells_append(literals, code);
    stack::top = saved;
}

struct Module {
    const char* file;
    library::Group group;
};

const Module MODULES[] = {
#define KIV_MODULE_ROW(file, group, after) {file, library::Group::group},
    KIV_MODULES(KIV_MODULE_ROW)
#undef KIV_MODULE_ROW
};

// The routine specifications: the issue #routines, then a block with one
// block per routine table (library/routine_table.h, all_tables() order),
// each [name spec name spec ...] in row order: start-up makes the routines
// from them without lexing.
void add_routines(Cell* literals) {
    Cell* saved = stack::top;
    const routine::Table* const* tables = routine::all_tables();
    Cell* all = stack::push(none::cell());
    block::make_at(all, int32_t(routine::table_count()));
    for (uint32_t t = 0; t < routine::table_count(); ++t) {
        const routine::Table& table = *tables[t];
        Cell* rows = stack::push(none::cell());
        block::make_at(rows, int32_t(table.count * 2));
        for (uint32_t i = 0; i < table.count; ++i) {
            doing = std::string("specification of routine ") + table.rows[i].name;
            Cell* mark = stack::top;
            Cell* spec = stack::push(none::cell());
            lexer::Options options;
            options.one = true;
            uint32_t consumed = 0;
            const char* text = table.rows[i].spec;
            lexer::scan(spec, reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)), options,
                        nullptr, &consumed);
            if (spec->type() != TYPE_BLOCK) fail("not a block");
            // The arguments the routine reads by name are the spec block's words.
            uint32_t words = 0;
            for (uint32_t k = 0; k < block::cells_length(spec); ++k)
                if (block::cells_at(spec, spec->w1 + k)->type() == TYPE_WORD) ++words;
            if (words != table.rows[i].arity) fail("its arguments differ from those its spec text gives");
            Cell name = word::load(table.rows[i].name);
            block::cells_append(rows, &name);
            block::cells_append(rows, spec);
            stack::top = mark;
        }
        block::cells_append(all, rows);
        stack::top = rows;
    }
    Cell key = word::load("routines");
    key.set_type(TYPE_ISSUE);
    block::cells_append(literals, &key);
    block::cells_append(literals, all);
    stack::top = saved;
}

// The call layouts of the built-ins (datatypes/call_layout.h), which
// start-up takes as each entry's own instead of computing them from the
// argument lists: the issue #layouts, then a binary! of records
//   kind (1 byte: 0 native, 1 action), number (4 bytes), length (4 bytes),
//   the layout's bytes (header, entries, refinement table).
// The argument lists name typesets that the typesets module defines: it is
// run here first (it needs only the datatype words and `make`).
void add_layouts(Cell* literals, const std::string& source_dir) {
    doing = "library/typesets.kiv (for the built-ins' layouts)";
    natives::init();
    parser::init();
    interpreter::init();
    const std::vector<uint8_t> text = read_file(source_dir + "/library/typesets.kiv");
    Cell* saved = stack::top;
    Cell* name = library::push_utf8("library/typesets.kiv");
    name->set_type(TYPE_FILE);
    Cell* code = library::load_script(text.data(), text.size(), name, nullptr);
    library::eval_top(code);
    stack::top = saved;
    std::vector<uint8_t> out;
    auto put32 = [&out](uint32_t v) {
        for (int k = 0; k < 4; ++k) out.push_back(uint8_t(v >> (8 * k)));
    };
    auto add = [&](const char* word, uint32_t type, uint32_t number) {
        doing = std::string("the layout of ") + word;
        Cell w = word::load(word);
        const Cell v = *context::get_word(&w);
        if (v.type() != type || v.w1 != number) fail("not the built-in of its number");
        const std::vector<uint8_t> bytes = interpreter::spec::layout_bytes(v);
        out.push_back(type == TYPE_ACTION ? 1 : 0);
        put32(number);
        put32(uint32_t(bytes.size()));
        out.insert(out.end(), bytes.begin(), bytes.end());
    };
    for (uint32_t n = 1; n <= natives::NATIVE_COUNT; ++n) add(natives::NAMES[n - 1], TYPE_NATIVE, n);
    for (uint32_t s = 1; s <= ACTION_COUNT; ++s)
        if (actions::slot_name(s)[0]) add(actions::slot_name(s), TYPE_ACTION, s);
    Cell key = word::load("layouts");
    key.set_type(TYPE_ISSUE);
    block::cells_append(literals, &key);
    Cell* bin = stack::push(none::cell());
    *bin = Cell{TYPE_BINARY, 0, memory::alloc_bytes(uint32_t(out.size())), 0};
    SeriesBuffer* b = buffer_of(bin->w2);
    std::memcpy(b->head_ptr(), out.data(), out.size());
    b->tail = b->head + uint32_t(out.size());
    block::cells_append(literals, bin);
    stack::top = saved;
}

// Every found file must be a listed module (or the actions' specification).
void check_found(int count, char** found) {
    for (int i = 0; i < count; ++i) {
        const std::string rel = found[i];
        if (rel == "library/actions.kiv") continue;
        bool listed = false;
        for (const Module& m : MODULES) listed = listed || rel == m.file;
        doing = rel;
        if (!listed) fail("not in the module manifest (library/modules.h)");
    }
}

// The modules of a later group as a boot image of their own, appended to
// the literals after the group's word; nothing for a group without modules.
void add_group(Cell* literals, const std::string& source_dir, library::Group group) {
    Cell* saved = stack::top;
    Cell* none_assigned = stack::push(none::cell());
    block::make_at(none_assigned, 1);
    Cell* own = stack::push(none::cell());
    block::make_at(own, 8);
    for (const Module& m : MODULES)
        if (m.group == group) add_module(own, source_dir, m.file);
    if (block::cells_length(own) == 0) {
        stack::top = saved;
        return;
    }
    doing = std::string("encoding the group ") + library::group_name(group);
    Cell* image = stack::push(none::cell());
    kivbin::encode_boot(none_assigned, own, image);
    Cell name = word::load(library::group_name(group));
    block::cells_append(literals, &name);
    block::cells_append(literals, image);
    stack::top = saved;
}

void write_atomically(const std::string& path, const Cell* bin) {
    doing = "writing " + path;
    const SeriesBuffer* b = buffer_of(bin->w2);
    const std::string temp = path + ".part";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) fail("cannot create " + temp);
    const bool written = std::fwrite(b->head_ptr(), 1, b->byte_count(), f) == b->byte_count();
    if (std::fclose(f) != 0 || !written) {
        std::remove(temp.c_str());
        fail("cannot write " + temp);
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        fail("cannot rename " + temp);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kiv-make-image OUTPUT SOURCE_DIR FOUND...\n");
        return 2;
    }
    const std::string output = argv[1], source_dir = argv[2];
    try {
        boot(BootLevel::values);
        error::init_values();
        runtime::init();
        lexer::init();
        Cell* assignments = stack::push(none::cell());
        block::make_at(assignments, 600);
        Cell* literals = stack::push(none::cell());
        block::make_at(literals, 64);
        add_datatypes(assignments);
        add_natives(assignments);
        add_actions(assignments, source_dir);
        check_found(argc - 3, argv + 3);
        for (const Module& m : MODULES)
            if (m.group == library::Group::BASE) add_module(literals, source_dir, m.file);
        add_routines(literals);
        add_layouts(literals, source_dir);
        add_group(literals, source_dir, library::Group::ENGINE);
        add_group(literals, source_dir, library::Group::CONSOLE);
        add_group(literals, source_dir, library::Group::PREPROCESSOR);
        add_group(literals, source_dir, library::Group::FORMATS);
        add_group(literals, source_dir, library::Group::GCONSOLE);
        doing = "encoding";
        Cell* out = stack::push(none::cell());
        kivbin::encode_boot(assignments, literals, out);
        write_atomically(output, out);
    } catch (const RaisedError& e) {
        fail(raised_text(e));
    }
    return 0;
}
