#include "console/gui_console.h"

#include <gdk/gdk.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/fixed_words.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives_impl.h"
#include "library/library.h"
#include "platform/late_library.h"
#include "runtime/error.h"
#include "runtime/hooks.h"
#include "runtime/root.h"
#include "runtime/stack.h"

namespace kiv::gui_console {

namespace {

// ---- Output into the terminal -----------------------------------------------------------------

// Index in the root block of the cell that holds the text of the last
// low-level print (unset until the first one); 0 before add-gui-print.
uint32_t buffer_at = 0;

// Set while a print is being handed to the terminal: a print made from
// inside (the terminal's own code failing or printing) goes to standard
// error instead of looping back into it.
bool in_terminal = false;

void to_stderr(const std::string& text, bool new_line) {
    std::string out = new_line ? text + "\n" : text;
    (void)!write(2, out.data(), out.size());
}

// gui-console-ctx/terminal/vprint, or null when the terminal is not there.
bool find_vprint(Cell* fn) {
    Cell ctx_word = word::load("gui-console-ctx");
    Cell* ctx = context::get_word(&ctx_word);
    if (!ctx || !object::is_object_like(ctx->type())) return false;
    Cell terminal_word = word::load("terminal");
    Cell* terminal = object::select_word(ctx, &terminal_word);
    if (!terminal || !object::is_object_like(terminal->type())) return false;
    Cell vprint_word = word::load("vprint");
    Cell* f = object::select_word(terminal, &vprint_word);
    if (!f || f->type() != TYPE_FUNCTION) return false;
    *fn = *f;
    return true;
}

// kiv-print-gui: the hook of language output (`print` and `prin`).
void kiv_print_gui(const Cell* value, uint32_t new_line) {
    if (!is_any_string(value->type())) return;
    // Near the ends of the stacks the terminal's code could not run: the
    // error a call would raise is raised here, before anything is printed.
    if (stack::frames_limit - stack::frames_top <= 60) stack::frame_overflow();
    if (stack::limit - stack::top <= 80) stack::data_overflow(stack::top + 80);
    Cell fn;
    if (in_terminal || !find_vprint(&fn)) {
        to_stderr(library::to_utf8(*value), new_line != 0);
        return;
    }
    // Console output never shows in a trace.
    const bool was_tracing = interpreter::tracing;
    interpreter::tracing = false;
    in_terminal = true;
    Cell* saved = stack::top;
    struct Restore {
        bool tracing;
        Cell* top;
        ~Restore() {
            interpreter::tracing = tracing;
            in_terminal = false;
            stack::top = top;
        }
    } restore{was_tracing, saved};
    Cell name = word::load("vprint");
    Cell* saved_base = stack::arg_base;
    stack::mark_try(&fixed::words[fixed::W_TRY]);
    stack::Frame* frame = stack::ctop();
    try {
        Cell* args = stack::push(*value);
        stack::push(logic::cell(new_line != 0));
        if (interpreter::call_pushed(&name, &fn, args, false) != 0) fire({"throw", "throw"});
        stack::catch_at(frame);
    } catch (const RaisedError& e) {
        // The terminal could not take the text: it goes to standard error,
        // with the reason, rather than being lost or failing the print.
        stack::catch_at(frame);
        to_stderr(library::to_utf8(*value), new_line != 0);
        to_stderr(raised_text(e), true);
    }
    stack::arg_base = saved_base;
}

// ks-print-gui: the hook of low-level output (UTF-8 bytes; a negative count
// means up to the NUL). The runtime has written the bytes to the process's
// output already; the terminal shows them too, when its code can run. A
// failure there is not raised at the low-level print's caller (which may be
// reporting a fault): the text goes to standard error instead.
void ks_print_gui(const char* text, int32_t length, int32_t new_line) {
    size_t n = length < 0 ? std::strlen(text) : size_t(length);
    std::string bytes(text, n);
    if (in_terminal || buffer_at == 0) {
        to_stderr(bytes, new_line != 0);
        return;
    }
    Cell* saved = stack::top;
    try {
        Cell* s = library::push_utf8(bytes);
        *root::at(buffer_at) = *s;
        Cell held = *root::at(buffer_at);
        kiv_print_gui(&held, uint32_t(new_line));
    } catch (const RaisedError&) {
        to_stderr(bytes, new_line != 0);
    }
    stack::top = saved;
}

// add-gui-print: from now on the print hooks write into the console window,
// not to standard output.
template <class A>
Unwind add_gui_print(A a) {
    if (buffer_at == 0) {
        root::keep_copy(unset::cell());
        buffer_at = root::count() - 1;
        hooks::unregister_callbacks(&natives::write_to_console, nullptr);
        hooks::register_callbacks(&kiv_print_gui, &ks_print_gui);
    }
    routine::result(a) = unset::cell();
    return UNWIND_NONE;
}

// ---- The caret's blink time --------------------------------------------------------------------
//
// The desktop's settings (XSETTINGS, read through the display library that
// the window layer has opened): gtk-cursor-blink off gives -1 (no
// blinking); gtk-cursor-blink-time is a whole on-off cycle, the caret
// toggles every half of it. Without a settings manager, a 1200 ms cycle.

constexpr int DEFAULT_CYCLE_MS = 1200;

#define SETTINGS_FUNCTIONS(X) \
    X(gdk_screen_get_default) X(gdk_screen_get_setting) X(g_value_init) X(g_value_unset) X(g_value_get_int) \
    X(g_value_get_boolean)
struct SettingsTable {
    SETTINGS_FUNCTIONS(KIV_LATE_FIELD)
};
SettingsTable settings;
platform::LateLibrary settings_library("libgdk-3.so.0", "the desktop settings need libgdk-3: ");

bool settings_ready() {
    static bool tried = false, ready = false;
    if (tried) return ready;
    tried = true;
    std::string why;
    auto& table = settings;
    ready = settings_library.load(why, [&](platform::LateLibrary& lib) { SETTINGS_FUNCTIONS(KIV_LATE_RESOLVE) });
    return ready;
}

int caret_blink_ms() {
    if (!settings_ready()) return DEFAULT_CYCLE_MS / 2;
    GdkScreen* screen = settings.gdk_screen_get_default();
    if (!screen) return DEFAULT_CYCLE_MS / 2;
    GValue blink = G_VALUE_INIT;
    settings.g_value_init(&blink, G_TYPE_BOOLEAN);
    bool off = settings.gdk_screen_get_setting(screen, "gtk-cursor-blink", &blink) &&
               !settings.g_value_get_boolean(&blink);
    settings.g_value_unset(&blink);
    if (off) return -1;
    GValue time = G_VALUE_INIT;
    settings.g_value_init(&time, G_TYPE_INT);
    int cycle = DEFAULT_CYCLE_MS;
    if (settings.gdk_screen_get_setting(screen, "gtk-cursor-blink-time", &time))
        cycle = settings.g_value_get_int(&time);
    settings.g_value_unset(&time);
    return cycle > 0 ? cycle / 2 : 0;
}

template <class A>
Unwind get_caret_blink_time(A a) {
    routine::result(a) = integer::cell(caret_blink_ms());
    return UNWIND_NONE;
}

const routine::Row ROWS[] = {
    KIV_ROUTINE("add-gui-print", "[\"Internal Use Only\"]", add_gui_print),
    KIV_ROUTINE("get-caret-blink-time", "[return: [integer!]]", get_caret_blink_time),
};

// ---- Start ----------------------------------------------------------------------------------------

// Evaluates Kiv source text; its value is left at *out.
Unwind eval_text(const char* code, Cell* out) {
    Cell* saved = stack::top;
    Cell* block = stack::push(none::cell());
    lexer::Options options;
    uint32_t consumed = 0;
    lexer::scan(block, reinterpret_cast<const uint8_t*>(code), uint32_t(std::strlen(code)), options, nullptr,
                &consumed);
    Unwind status = interpreter::eval(block, false);
    *out = *(stack::top - 1);
    stack::top = saved;
    return status;
}

}  // namespace

const routine::Table TABLE = routine::table("gui-console", ROWS, false);

bool window_wanted(int argc, char** argv) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    bool gui = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--", 0) != 0) return gui;  // a script: text mode unless --gui came first
        if (a == "--") return gui || i + 1 == argc;
        if (a == "--cli") return false;
        if (a == "--gui") gui = true;
    }
    return true;  // no script
}

int run() {
    Cell ok;
    // The display first: a display that cannot be opened leaves the choice
    // to the caller, before anything of the window's code has run.
    if (eval_text("not error? try [load-gui unless system/view/screens [system/view/platform/init] true]", &ok) != 0 || ok.type() != TYPE_LOGIC || !logic::get(&ok))
        return -1;
    Cell done;
    if (eval_text("load-gui-console gui-console-ctx/launch", &done) != 0) fire({"throw", "throw"});
    return 0;
}

}  // namespace kiv::gui_console
