#include "boot/startup.h"

#include <exception>
#include <new>
#include <string>

#include "platform/os.h"
#include "runtime/arena.h"
#include "evaluator/random.h"
#include "runtime/case_fold.h"
#include "runtime/error.h"
#include "runtime/hooks.h"
#include "runtime/lowlevel.h"
#include "runtime/memory.h"

namespace kiv {

void runtime_boot() {
    hooks::init();
    platform::init();
    random::init();  // also fixes the hash seed before the first table
    arena::init();
    memory::init();
    casefold::init();  // checks the case tables; runs before the symbol table
    // Next, in this order: externals/init, the datatype-name records and the
    // action table, every datatype's init, the image layers, the generic
    // action table, the first node and series frames, the root block, the data
    // and call-frame stacks, the symbol block, the global context, case/init,
    // the symbol hash table, type-name words, the fixed words, the natives,
    // the parser, ownership/init, the checksums, the compression words,
    // call/init-buffer, the stacks, the lexer, the boot image, the
    // interpreter, slots/init, and collector/init last.
}

namespace {

// A language error that no try or catch frame took. The evaluator's own
// top-level handler forms and shows it; this is the last line of defence.
[[noreturn]] void uncaught_error(const RaisedError& e) {
    std::string text = "*** Uncaught error: " + e.category + " " + e.id;
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
