#include "boot/startup.h"

#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "console/gui_console.h"
#include "console/terminal_cli.h"
#include "datatypes/action_dispatch.h"
#include "datatypes/call_layout.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/fixed_words.h"
#include "datatypes/ownership.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/parse.h"
#include "evaluator/runtime.h"
#include "gui/camera/camera.h"
#include "gui/controls/controls.h"
#include "gui/controls/dialog_requests.h"
#include "gui/controls/menu_ui.h"
#include "gui/window/event.h"
#include "gui/window/loop.h"
#include "library/library.h"
#include "platform/os.h"
#include "runtime/arena.h"
#include "runtime/case_fold.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/externals.h"
#include "runtime/hooks.h"
#include "runtime/idle.h"
#include "runtime/lowlevel.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/root.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

// The value layer: memory, datatypes, stacks, symbols, the fixed words, the
// external tables and the collector (not yet switched on).
void boot_values() {
    hooks::init();
    platform::init();
    random::init();  // also fixes the hash seed before the first table
    arena::init();
    memory::init();
    externals::init();
    datatype::init_tables();
    datatype::register_all();
    datatype::register_image();
    gui::event::init();
    idle::message_turn = [] { (void)gui::loop::do_events(true); };
    actions::init();
    memory::init_frames();
    root::init();
    stack::init();
    cycles::init();
    symbol::init_block();
    context::init_global();
    casefold::init();  // checks the case tables; runs before the symbol table
    symbol::init_index();
    fixed::bind_type_names();
    fixed::build();
    ownership::init();
    slots::init();
    collector::init();  // collection starts once the entry (or a test) switches it on
}

// The language: error values, the natives, the lexer and the interpreter,
// and the words of the datatypes, natives, actions and routines (what the
// boot image's assignment records would bind).
void boot_language() {
    error::init_values();
    runtime::init();
    natives::init();
    parser::init();
    lexer::init();
    interpreter::init();
    library::bind_builtins();
    gui::camera::install();
    gui::controls::install();
    gui::menus::install();
    gui::dialogs::install();
}

BootLevel reached = BootLevel::none;

}  // namespace

void boot(BootLevel level) {
    if (level <= reached) return;
    root::recording = true;  // words made during start-up are kept in the root block
    if (reached < BootLevel::values) boot_values();
    if (level >= BootLevel::language) boot_language();
    reached = level;
    root::recording = false;  // the booting flag goes off once the words are interned
}

namespace {

// A language error that reached the bottom of the frame stack: its formed
// text goes to the message box (standard error unless a dialog is
// installed; the title is not printed there) and the process ends with -2.
[[noreturn]] void uncaught_error(const RaisedError& e) {
    if (stack::bottom) stack::reset_all();  // room for forming the text
    std::string text = raised_text(e);
    lowlevel::error_box("Kiv NoName App", text.c_str());
    lowlevel::end_process(-2);
}

}  // namespace

namespace {

// The front end: the console window (no script, or --gui; not --cli; a
// display that opens), else the terminal. The window's launch returns when
// its session ends, and the process then ends with 0.
int launch(int argc, char** argv) {
    if (gui_console::window_wanted(argc, argv)) {
        int status = gui_console::run();
        if (status >= 0) return 0;
    }
    return cli::run(argc, argv);
}

}  // namespace

void startup_failure(const char* message) {
    lowlevel::error_box("Kiv NoName App", message);
    lowlevel::end_process(STARTUP_FAILURE_STATUS);
}

// The start-up sequence. The floating-point unit needs no reset: x86-64
// code computes in SSE registers whose defaults (round to nearest, double
// precision, exceptions masked) are what the language expects.
//   1. the process: fault handlers, the argument vector (platform::start);
//   2. the outermost catch frame (a quit request ends quietly with 0);
//   3. the runtime, level by level, ending with the words of the datatypes,
//      natives and actions bound (boot; library::bind_builtins stands in
//      for the boot image's assignment records);
//   4. the collector on, the booting flag off;
//   5. the library's modules in their fixed order (library/library.cpp),
//      each module's code from library::push_module_code, the one place
//      that reads the library as text; a boot image that cannot be used
//      ends the process through startup_failure;
//   6. the console: the console window when the command line asks for it
//      and a display opens, else the terminal front end (launch below);
//   7. the end through lowlevel::quit with 0, or the console's exit status.
void entry(int argc, char** argv) {
    platform::start(argc, argv);
    int status = 0;
    try {
        lowlevel::catch_level(
            lowlevel::TOP_CATCH_LEVEL,
            [&] {
#ifdef KIV_GC_TORTURE
                // Every process starts the same way: collecting at every
                // allocation of start-up is left to the runs that ask for it
                // (one test does), so that the others spend their time on
                // what they test.
                memory::torture_on = std::getenv("KIV_TORTURE_BOOT") != nullptr;
#endif
                boot(BootLevel::language);
                collector::recycle_on();
                cli::attach_output();
                library::set_command_line(argc, argv);
                library::run_modules();
                library::close_builtins();
                memory::note_base_heap();
                memory::torture_on = true;
                status = launch(argc, argv);
            },
            lowlevel::top_level_catch);
    } catch (const RaisedError& e) {
        uncaught_error(e);
    } catch (const std::bad_alloc&) {
        lowlevel::quit(lowlevel::ERR_OUT_OF_MEMORY);
    } catch (const std::exception&) {
        // A C++ library error escaping the runtime is a broken internal rule.
        lowlevel::quit(lowlevel::ERR_ASSERTION);
    }
    if (status != 0) lowlevel::end_process(status);
    lowlevel::quit(0);
}

}  // namespace kiv
