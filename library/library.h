// The library in Kiv: the last steps of start-up.
//
// The standard library, the GUI engine and the console are Kiv source files.
// At build time the boot image tool (boot/make_image.cpp) loads them, with
// the spec blocks of the natives (evaluator/natives.h) and of the
// actions (library/actions.kiv), and writes the boot image in the
// serialization format's compact layout; the executable carries it
// (library/image.h). Start-up brings the library in two steps, both called
// from boot/startup.cpp:
//
//   bind_builtins()  at the end of the runtime initialisation: decodes the
//                    boot image in boot mode into the root block. Its
//                    assignment records bind the word of every datatype,
//                    native and action to its value; its literals are the
//                    base modules' code, each after its file! name, the
//                    specification blocks of the routine tables after the
//                    issue #routines (library/routine_table.h; the routines
//                    are made from them in the module order, not lexed), and
//                    the image of each later group after the group's word.
//   run_modules()    once the words are bound and the booting flag is off:
//                    evaluates the base group's modules in the order of the
//                    module manifest (library/modules.h), each followed by
//                    its C++ step where it has one (the routines, the error
//                    catalog, the command line, the current directory). The
//                    operators are defined before any module whose
//                    top-level code uses infix.
//   need_group()     the later groups (the GUI engine, the console, the
//                    preprocessor): each is decoded from its own image and
//                    run once, when it is first needed.
//
// A module that raises an error is a broken build: the error goes on to the
// entry's top level, which reports it and ends the process. So does a
// damaged boot image (script invalid-data or kb-invalid-record): start-up
// ends with the error's report and a failure status.
//
// Everything made here is reachable from the global context or the root
// block, so the collector never reclaims it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "datatypes/system_object.h"
#include "library/modules.h"
#include "runtime/cell.h"

namespace kiv::library {

void bind_builtins();
// Once the base group has run: the built-ins' own call layouts taken from
// the boot image (or computed) and closed (interpreter::spec::
// close_builtin_layouts).
void close_builtins();

// The boot image bind_builtins decodes: the executable's own unless another
// is given before start-up (a test's damaged one); the bytes must stay
// where they are for the whole run.
void use_image(const uint8_t* image, uint32_t size);

// Keeps the process's command line for the `system` object (its raw text in
// `system/script/args`, re-joined with the quoting rules of the argument
// splitter; see raw_command_line). Call before run_modules.
void set_command_line(int argc, char** argv);

// A faulty build (a boot image that does not match the runtime): the report
// goes to standard error and the process ends as a failed assertion.
[[noreturn]] void broken_build(const std::string& what);

// The boot image's literal that follows the word-like key of that type and
// name (its root position in *root_index), or null. Valid until the next
// allocation.
const Cell* find_boot_literal(uint32_t type, const char* name, uint32_t* root_index);

// Runs the base group's modules (library/modules.h) in their order.
void run_modules();

// Runs a later group's modules once, on its first need: decodes the
// group's own boot image and runs its modules in manifest order. Later
// calls, and calls while the group runs, do nothing.
void need_group(Group group);
// Whether the group has run (or is running).
bool group_has_run(Group group);

// The code block of an embedded module (for example "library/system.kiv"),
// pushed on the data stack: the module's text loaded with the lexer and
// positioned after its header. This is the one place where start-up reads
// the library as text; a boot image replaces it by the module's decoded
// code. A module that is not embedded is a broken build.
Cell* push_module_code(const char* name);

// ---- Scripts ------------------------------------------------------------------------
// The byte offset of the script header in UTF-8 text: the first place where
// "Kiv" (in any letter case) starts a line, blanks before it allowed, and an
// optional "/System", any spaces, tabs, carriage returns or line feeds, and
// "[" follow it. -1 when there is none.
int64_t find_header(const uint8_t* text, uint64_t size);

// Loads UTF-8 script text from its header (find_header) into a block pushed
// on the data stack, positioned after the header (the word `Kiv` and its
// block): the script's code. Returns the block cell and stores the header
// block in *header when header is not null. A text without a header raises
// syntax no-header with `name` (a file! or string! value); a first value
// that is the path Kiv/System raises internal kiv-system. Lexer errors are
// raised as they come.
Cell* load_script(const uint8_t* text, uint64_t size, const Cell* name, Cell* header);

// Evaluates a code block at the top level of a module, leaving the data
// stack as it found it. A non-local exit that reaches this level raises the
// error its kind calls for.
void eval_top(const Cell* code);

// ---- The command line ------------------------------------------------------------------
// argv joined by single spaces, each argument that is empty or holds a space,
// a tab or a double quote written between double quotes.
std::string raw_command_line(int argc, char** argv);

// The process's current directory in the language's path form (a POSIX
// path ending with "/"), or "" when it cannot be read.
std::string current_dir();
// Records the current directory in system/options/path as a file! owned by
// system/options, so that modifying that series reaches the object's
// on-deep-change* (which moves the current directory with it).
void set_options_path();

// Points the error layer at the call trace (library/trace.cpp).
void install_trace_hooks();

// Set by the window layer: checks its facet table (the facets it reads by
// position) against the words of the `face!` the engine just made, and
// raises when they differ. Run right after the module that makes face!.
extern void (*check_face_facets)();

// A string! made from UTF-8 text, pushed on the data stack.
Cell* push_utf8(const std::string& text);
// The UTF-8 text of a string-like value from its index to its tail.
std::string to_utf8(const Cell& str);

// A string! made from bytes the system handed over (a name, an argument,
// the current directory), decoded without loss (unicode::load_escaped),
// pushed on the data stack.
Cell* push_system_text(const std::string& bytes);
// The bytes for the system of a string-like value from its index to its
// tail (unicode::to_system_bytes); "" for any other value.
std::string to_system_bytes(const Cell& str);

}  // namespace kiv::library
