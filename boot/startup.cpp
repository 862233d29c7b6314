#include "boot/startup.h"

#include <exception>
#include <new>
#include <string>

#include "platform/os.h"
#include "runtime/arena.h"
#include "evaluator/random.h"
#include "runtime/case_fold.h"
#include "runtime/cycles.h"
#include "runtime/root.h"
#include "boot/fixed_words.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/error.h"
#include "runtime/entry.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "datatypes/registry.h"
#include "datatypes/types.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/hooks.h"
#include "runtime/lowlevel.h"
#include "runtime/memory.h"

namespace kiv {

void runtime_boot() {
    root::recording = true;  // words made during start-up are kept in the root block
    hooks::init();
    platform::init();
    random::init();  // also fixes the hash seed before the first table
    arena::init();
    memory::init();
    // externals/init comes here.
    datatype::init_tables();
    datatype::register_all();
    datatype::register_image();
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
    error::init_values();
    runtime::init();
    natives::init();
    // The parser, ownership/init, the checksums, the compression words,
    // call/init-buffer and the boot image come here.
    lexer::init();
    interpreter::init();
    // slots/init, and collector/init last.
}

namespace {

// A language error that reached the bottom of the frame stack: its formed
// text goes to the message box (standard error unless a dialog is
// installed; the title is not printed there) and the process ends with -2.
[[noreturn]] void uncaught_error(const RaisedError& e) {
    if (stack::bottom) stack::reset_all();  // room for forming the text
    std::string text = raised_text(e);
    ks::error_box("Kiv NoName App", text.c_str());
    ks::end_process(-2);
}

}  // namespace

void entry(int argc, char** argv) {
    platform::start(argc, argv);
    try {
        ks::catch_level(
            ks::TOP_CATCH_LEVEL,
            [] {
                runtime_boot();
                // Then: intern the library's words, switch collection on, run
                // the library's start-up code and the console.
            },
            ks::top_level_catch);
    } catch (const RaisedError& e) {
        uncaught_error(e);
    } catch (const std::bad_alloc&) {
        ks::quit(ks::ERR_OUT_OF_MEMORY);
    } catch (const std::exception&) {
        // A C++ library error escaping the runtime is a broken internal rule.
        ks::quit(ks::ERR_ASSERTION);
    }
    ks::quit(0);
}

}  // namespace kiv
