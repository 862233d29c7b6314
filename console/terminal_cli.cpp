#include "console/terminal_cli.h"

#include <sys/ioctl.h>
#include <csignal>
#include <clocale>
#include <editline/readline.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/fixed_words.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives_impl.h"
#include "library/library.h"
#include "library/routines.h"
#include "platform/late_library.h"
#include "runtime/error.h"
#include "runtime/hooks.h"
#include "runtime/root.h"
#include "runtime/stack.h"

namespace kiv::cli {

namespace {

// ---- Output ----------------------------------------------------------------------------------

// Prints UTF-8 text through the print hooks, as `print` (line end) or `prin` does.
void emit(const std::string& text, bool new_line) {
    Cell* saved = stack::top;
    Cell* s = library::push_utf8(text);
    hooks::fire_2(s, new_line ? 1 : 0);
    stack::top = saved;
}

// ---- Guarded evaluation ----------------------------------------------------------------------

// The error value of a caught error (errors raised before error values
// existed are built now).
Cell error_value(const RaisedError& e) {
    if (e.value.type() == TYPE_ERROR) return e.value;
    Cell* saved = stack::top;
    Cell v = none::cell();
    try {
        v = error::create_named(e.category.c_str(), e.id.c_str(), e.args, e.arg_count);
    } catch (const RaisedError&) {
        v = none::cell();
    }
    stack::top = saved;
    return v;
}

// The formed text of an error value, or of a raised error whose value could
// not be made.
std::string formed_error(const Cell& err, const RaisedError* raised) {
    if (err.type() == TYPE_ERROR) {
        try {
            return error::form_text(err);
        } catch (const RaisedError&) {
            // Fall back on the catalog text below.
        }
    }
    return raised ? raised_text(*raised) : std::string("*** Internal Error: error text unavailable");
}

// Runs `body` under a try frame, as the `try` native does. The body leaves
// its value in the slot it is given (a data-stack cell below the frame, so
// the value stays reachable). Returns true with that value in *result, or
// false with the error! value in *result and its formed text in *text. The
// slot stays on the data stack (one cell at the old top) so that the value
// remains reachable; the caller drops it when done.
template <class Body>
bool guarded(Body&& body, Cell* result, std::string* text) {
    Cell* saved_base = stack::arg_base;
    Cell* slot = stack::push(none::cell());
    stack::arg_base = slot;
    stack::mark_try(&fixed::words[fixed::W_TRY]);
    stack::Frame* frame = stack::ctop();
    bool ok = true;
    try {
        body(slot);
        stack::catch_at(frame);  // pops our frame (and any a body left)
    } catch (const RaisedError& e) {
        Cell err = error_value(e);
        if (err.type() == TYPE_ERROR) {
            // `where`: the call the error was raised in, read while the
            // frames of the fire point are still on the stack.
            Cell* held = stack::push(err);
            Cell caller = word::caller();
            error::set_where(held, &caller);
        }
        stack::catch_at(frame);
        *slot = err;
        *text = formed_error(err, &e);
        ok = false;
    }
    *result = *slot;
    stack::top = slot + 1;
    stack::arg_base = saved_base;
    return ok;
}

// Evaluates a code block inside `catch/name ... 'console`, so that `halt`
// (which throws halt-request to that name) ends only this evaluation. The
// value goes into *slot.
void eval_in_console_catch(const Cell* code, Cell* slot) {
    static const char WRAPPER[] = "catch/name [] 'console";
    Cell* wrapper = stack::push(none::cell());
    lexer::Options options;
    uint32_t consumed = 0;
    lexer::scan(wrapper, reinterpret_cast<const uint8_t*>(WRAPPER), sizeof WRAPPER - 1, options, nullptr,
                &consumed);
    *block::cells_at(wrapper, wrapper->w1 + 1) = *code;
    Unwind status = interpreter::eval(wrapper, false);
    if (status != 0) {
        // An exit that found a target below this level: nothing here admits
        // it, so it ends as the language's uncaught throw.
        fire({"throw", "throw"});
    }
    *slot = *(stack::top - 1);
}

// True when the script's header object names the word preprocessor in its
// Needs field (alone or in a block).
bool needs_preprocessor(const Cell* header) {
    if (header->type() != TYPE_OBJECT) return false;
    Cell field = word::load("Needs");
    Cell* needs = object::select_word(header, &field);
    if (!needs) return false;
    Cell wanted = word::load("preprocessor");
    if (needs->type() == TYPE_BLOCK) return block::cells_find_word(needs, &wanted, false) != nullptr;
    if (needs->type() != TYPE_WORD && needs->type() != TYPE_LIT_WORD) return false;
    return symbol::resolve(needs->w2) == symbol::resolve(wanted.w2);
}

// Runs the library's expand-directives on the script's code, in place. The
// preprocessor's group runs first (once), so that the real expand-directives
// is called, not the base group's stand-in.
void expand_script(const Cell* code) {
    library::need_group(library::Group::PREPROCESSOR);
    Cell fn_word = word::load("expand-directives");
    Cell* fn = context::get_word(&fn_word);
    if (!fn || fn->type() != TYPE_FUNCTION) fire({"internal", "not-done"});
    Cell f = *fn;
    Cell* saved = stack::top;
    Cell* args = stack::push(*code);
    if (interpreter::call_pushed(&fn_word, &f, args, false) != 0) fire({"throw", "throw"});
    stack::top = saved;
}

bool is_halt_request(const Cell& v) {
    if (v.type() != TYPE_WORD) return false;
    Cell halt = word::load("halt-request");
    return symbol::resolve(v.w2) == symbol::resolve(halt.w2);
}

// ---- Files and the system object --------------------------------------------------------------

// A file name value: file! when that datatype can be formed and molded,
// else a string! (error messages need one of the two).
Cell* push_file_name(const std::string& path) {
    Cell* f = library::push_system_text(path);
    if (datatype::lookup(TYPE_FILE, ACT_FORM) && datatype::lookup(TYPE_FILE, ACT_MOLD))
        f->set_type(TYPE_FILE);
    return f;
}

bool read_file(const std::string& path, std::string* text) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) return false;
    *text = s.str();
    return true;
}

// A block of strings from command-line arguments (decoded without loss), pushed.
Cell* push_strings(const std::vector<std::string>& items) {
    Cell* blk = stack::push(none::cell());
    block::make_at(blk, int32_t(items.size() ? items.size() : 1));
    for (const std::string& item : items) {
        Cell* s = library::push_system_text(item);
        block::cells_append(blk, s);
        stack::top = s;
    }
    return blk;
}

// Makes `dir` the current directory and system/options/path; raises access
// cannot-open when it cannot be entered.
void change_dir(const std::string& dir, const Cell* name) {
    if (chdir(dir.c_str()) != 0) fire({"access", "cannot-open"}, *name);
    library::set_options_path();
}

// ---- The command line ---------------------------------------------------------------------------

struct CommandLine {
    bool catch_after = false;
    bool has_script = false;
    std::string script;
    std::vector<std::string> args;     // the script's own arguments
    std::vector<std::string> options;  // arguments when there is no script ("--catch" removed)
};

CommandLine read_command_line(int argc, char** argv) {
    CommandLine cl;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--", 0) != 0) break;
        if (a == "--") {
            cl.options.push_back(a);
            ++i;
            break;
        }
        if (a == "--catch") {
            cl.catch_after = true;
            continue;
        }
        cl.options.push_back(a);  // --cli and unknown options are skipped
    }
    if (i < argc) {
        cl.has_script = true;
        cl.script = argv[i];
        for (++i; i < argc; ++i) cl.args.push_back(argv[i]);
    }
    return cl;
}

// ---- Running a script ------------------------------------------------------------------------------

// Returns the exit status: 0 when the script ended normally, 1 when an error
// reached the top.
int run_script(const CommandLine& cl) {
    stack::TopMark guard;
    // The script's arguments, as the script sees them.
    {
        Cell* saved = stack::top;
        Cell* args = push_strings(cl.args);
        system_object::set_field({"options", "args"}, *args);
        std::vector<char*> rest;
        for (const std::string& a : cl.args) rest.push_back(const_cast<char*>(a.c_str()));
        Cell* raw = library::push_system_text(library::raw_command_line(int(rest.size()), rest.data()));
        system_object::set_field({"script", "args"}, *raw);
        stack::top = saved;
    }

    Cell result;
    std::string error_text;
    bool ok = guarded(
        [&](Cell* slot) {
            // Reading and loading report their errors as running a file does.
            Cell do_file = word::load("do-file");
            stack::mark_native(&do_file);
            Cell* name = push_file_name(cl.script);
            system_object::set_field({"options", "script"}, *name);
            std::string text;
            bool read = read_file(cl.script, &text);
            // The script's folder becomes the current directory, whether or
            // not it could be read.
            size_t cut = cl.script.rfind('/');
            if (cut != std::string::npos) {
                std::string dir = cl.script.substr(0, cut + 1);
                if (dir != "./") change_dir(dir, name);
            }
            if (!read) fire({"access", "cannot-open"}, *name);
            Cell* header = stack::push(none::cell());
            Cell* code = library::load_script(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                              name, header);
            // The header object: the fields of system/standard/header, set
            // from the header block.
            if (header->type() == TYPE_BLOCK) {
                Cell* proto = system_object::field({"standard", "header"});
                Cell standard = proto ? *proto : none::cell();
                Cell* held = stack::push(standard);
                *header =
                    *object::construct(header, object::is_object_like(held->type()) ? held : nullptr, false);
            }
            system_object::set_field({"script", "header"}, *header);
            if (needs_preprocessor(header)) expand_script(code);
            eval_in_console_catch(code, slot);
        },
        &result, &error_text);
    if (!ok) {
        emit(error_text, true);
        return 1;
    }
    if (is_halt_request(result)) {
        emit("(halted)", true);
    } else if (result.type() == TYPE_ERROR) {
        emit(formed_error(result, nullptr), true);
    }
    return 0;
}

// ---- Reading lines --------------------------------------------------------------------------------
//
// The console engine (system/console, console/engine.kiv) collects the
// lines, follows the open delimiters, evaluates and prints the results; the
// front end only reads each line (`read-line`, through `ask`) and keeps
// system/console/size up to date.

// Set by SIGWINCH: the size is read again before the next prompt.
volatile sig_atomic_t window_resized = 1;

void on_window_resize(int) {
    window_resized = 1;
}

// Columns and rows: the terminal's (TIOCGWINSZ on standard output, else
// standard input), else COLUMNS and LINES, else 80x24.
std::pair<int, int> terminal_size() {
    struct winsize ws;
    for (int fd : {1, 0})
        if (isatty(fd) && ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
            return {ws.ws_col, ws.ws_row > 0 ? ws.ws_row : 24};
    auto env = [](const char* name, int fallback) {
        const char* v = std::getenv(name);
        int n = v ? std::atoi(v) : 0;
        return n > 0 && n < 100000 ? n : fallback;
    };
    return {env("COLUMNS", 80), env("LINES", 24)};
}

void update_console_size() {
    if (!window_resized) return;
    window_resized = 0;
    auto [columns, rows] = terminal_size();
    system_object::set_field({"console", "size"}, pair::make(columns, rows));
}

bool interactive() {
    static const bool tty = isatty(0) && isatty(1);
    return tty;
}

// ---- The line editor: libedit, opened on the first interactive line -----------------------------
//
// A session whose standard input is not a terminal never opens it: piped
// lines are read as they are, with no prompt.

#define EDIT_FUNCTIONS(X)                                                                             \
    X(readline) X(add_history) X(using_history) X(stifle_history) X(rl_initialize) \
    X(rl_insert_text)
struct EditTable {
    EDIT_FUNCTIONS(KIV_LATE_FIELD)
    rl_completion_func_t** attempted_completion = nullptr;
    int* completion_append_character = nullptr;
    char** completer_word_break_characters = nullptr;
    int* attempted_completion_over = nullptr;
    char** line_buffer = nullptr;
};
EditTable edit;
platform::LateLibrary edit_library("libedit.so.2", "line editing needs libedit: ");

constexpr int HISTORY_SIZE = 200;

std::string history_file() {
    Cell* dir = system_object::field({"options", "cache"});
    if (!dir || !is_any_string(dir->type())) return "";
    return library::to_utf8(*dir) + "console-history";
}

// Completion: the console engine's complete-input on the line up to the
// caret; the token that libedit replaces starts after the same delimiters.
char** complete(const char* text, int start, int end);

bool edit_ready() {
    static bool tried = false, ready = false;
    if (tried) return ready;
    tried = true;
    std::string why;
    auto& table = edit;
    ready = edit_library.load(why, [&](platform::LateLibrary& lib) {
        EDIT_FUNCTIONS(KIV_LATE_RESOLVE)
        lib.entry("rl_attempted_completion_function", table.attempted_completion);
        lib.entry("rl_completion_append_character", table.completion_append_character);
        lib.entry("rl_completer_word_break_characters", table.completer_word_break_characters);
        lib.entry("rl_attempted_completion_over", table.attempted_completion_over);
        lib.entry("rl_line_buffer", table.line_buffer);
    });
    if (!ready) return false;
    setlocale(LC_CTYPE, "");  // UTF-8 and wide characters as the terminal shows them
    edit.rl_initialize();
    edit.using_history();
    edit.stifle_history(HISTORY_SIZE);
    std::string file = history_file();
    // The file holds one line per entry, oldest first (plain text, not
    // libedit's own encoding).
    if (!file.empty()) {
        std::ifstream in(file);
        std::string l;
        while (std::getline(in, l))
            if (!l.empty()) edit.add_history(l.c_str());
    }
    static char breaks[] = "\t [(:'{";
    *edit.completer_word_break_characters = breaks;
    *edit.attempted_completion = complete;
    return true;
}

// Keeps the line in libedit's history and at the end of the history file
// (written at once: `quit` ends the process without unwinding).
void remember(const std::string& line) {
    if (line.empty()) return;
    edit.add_history(line.c_str());
    std::string file = history_file();
    if (file.empty()) return;
    mkdir(file.substr(0, file.rfind('/')).c_str(), 0700);
    std::vector<std::string> lines;
    {
        std::ifstream in(file);
        std::string l;
        while (std::getline(in, l)) lines.push_back(l);
    }
    lines.push_back(line);
    size_t from = lines.size() > size_t(HISTORY_SIZE) ? lines.size() - HISTORY_SIZE : 0;
    std::string tmp = file + ".new";
    {
        std::ofstream out(tmp, std::ios::trunc);
        for (size_t i = from; i < lines.size(); ++i) out << lines[i] << '\n';
    }
    std::rename(tmp.c_str(), file.c_str());
}

// Calls a function of the console engine by its path words with string and
// integer arguments; the result cell is left at *out. False on any error.
bool call_engine(const char* object, const char* name, const std::vector<Cell>& args, Cell* out) {
    Cell* saved = stack::top;
    bool ok = false;
    try {
        Cell obj_word = word::load(object);
        Cell* obj = context::get_word(&obj_word);
        if (obj && object::is_object_like(obj->type())) {
            Cell field = word::load(name);
            Cell* fn = object::select_word(obj, &field);
            if (fn && fn->type() == TYPE_FUNCTION) {
                Cell f = *fn;
                Cell* first = stack::top;
                for (const Cell& a : args) stack::push(a);
                if (interpreter::call_pushed(&field, &f, first, false) == 0) {
                    *out = *first;
                    ok = true;
                }
            }
        }
    } catch (const RaisedError&) {
        ok = false;
    }
    stack::top = saved;
    return ok;
}

char* copy_c(const std::string& s) {
    char* c = static_cast<char*>(std::malloc(s.size() + 1));
    std::memcpy(c, s.c_str(), s.size() + 1);
    return c;
}

char** complete(const char* text, int start, int end) {
    (void)text;
    *edit.attempted_completion_over = 1;  // no file-name completion of its own
    *edit.completion_append_character = 0;
    // The line up to the caret, with the caret as the string's position.
    const char* buffer = *edit.line_buffer;
    if (!buffer) return nullptr;
    std::string line = buffer;
    if (end > int(line.size())) return nullptr;
    Cell* saved = stack::top;
    Cell* str = library::push_utf8(line);
    // The caret counts characters, libedit bytes.
    uint32_t caret = 0;
    for (int i = 0; i < end; ++i)
        if ((uint8_t(line[size_t(i)]) & 0xC0) != 0x80) ++caret;
    str->w1 += caret;
    Cell result;
    std::vector<std::string> values;
    uint32_t new_caret = 0;
    if (call_engine("kiv-complete-ctx", "complete-input", {*str, logic::cell(true)}, &result) &&
        result.type() == TYPE_BLOCK) {
        Cell* held = stack::push(result);
        uint32_t n = block::cells_length(held);
        for (uint32_t i = 0; i < n; ++i) {
            Cell v = *block::cells_at(held, held->w1 + i);
            if (!is_any_string(v.type())) continue;
            if (i == 0) {
                Cell at_head = v;
                new_caret = v.w1;
                at_head.w1 = 0;
                values.push_back(library::to_utf8(at_head));
            } else {
                values.push_back(library::to_utf8(v));
            }
        }
    }
    stack::top = saved;
    if (values.empty()) return nullptr;
    // The first value is the new line: libedit replaces the token with its
    // text from the token's start to the new caret.
    const std::string& whole = values[0];
    size_t byte_caret = 0;
    for (uint32_t c = 0; byte_caret < whole.size() && c < new_caret; ++c) {
        ++byte_caret;
        while (byte_caret < whole.size() && (uint8_t(whole[byte_caret]) & 0xC0) == 0x80) ++byte_caret;
    }
    if (whole.compare(0, size_t(start), line, 0, size_t(start)) != 0 || byte_caret < size_t(start)) return nullptr;
    char** matches = static_cast<char**>(std::calloc(values.size() + 1, sizeof(char*)));
    matches[0] = copy_c(whole.substr(size_t(start), byte_caret - size_t(start)));
    for (size_t i = 1; i < values.size(); ++i) matches[i] = copy_c(values[i]);
    return matches;
}

volatile sig_atomic_t prompt_interrupted = 0;

void on_interrupt(int) {
    prompt_interrupted = 1;
}

// Reads one line from standard input without its line end; false at the end.
// Ctrl-C while the console evaluates: the evaluation halts at its next
// loop pass and the console prints "(halted)" and a new prompt.
void on_halt_interrupt(int) {
    interpreter::interrupt_requested = 1;
}

bool read_plain_line(std::string* line) {
    if (!std::getline(std::cin, *line)) return false;
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
}

// read-line prompt: the next line typed (or piped), or none at the end of input.
template <class A>
Unwind read_line(A a) {
    update_console_size();
    std::string text;
    bool got = false;
    if (interactive() && edit_ready()) {
        std::string prompt = library::to_utf8(routine::arg<"prompt">(a));
        // Ctrl-C while a line is typed drops that line: the read is
        // interrupted and an empty line is answered, so a new prompt follows.
        struct sigaction interrupt {}, previous {};
        interrupt.sa_handler = on_interrupt;
        sigemptyset(&interrupt.sa_mask);
        sigaction(SIGINT, &interrupt, &previous);
        prompt_interrupted = 0;
        char* l = edit.readline(prompt.c_str());
        sigaction(SIGINT, &previous, nullptr);
        if (!l && prompt_interrupted) {
            emit("", true);
            l = copy_c("");
        }
        if (l) {
            text = l;
            std::free(l);
            got = true;
            remember(text);
        } else {
            emit("", true);
        }
    } else {
        got = read_plain_line(&text);
    }
    // A Ctrl-C that came after the last loop pass does not halt the next command.
    interpreter::interrupt_requested = 0;
    if (got) {
        routine::result(a) = *library::push_utf8(text);
    } else {
        routine::result(a) = none::cell();
    }
    return UNWIND_NONE;
}

// set-title text: the terminal window's title (an OSC 0 sequence), when
// standard output is a terminal.
template <class A>
Unwind set_title(A a) {
    if (isatty(1)) {
        std::string t = library::to_utf8(routine::arg<"str">(a));
        for (char& c : t)
            if (uint8_t(c) < 0x20 || c == 0x7F) c = ' ';
        std::string seq = "\x1B]0;" + t + "\x07";
        (void)!write(1, seq.data(), seq.size());
    }
    routine::result(a) = unset::cell();
    return UNWIND_NONE;
}

// load-console: runs the console's module group once (the engine, help,
// completion, highlighting, the debugger and the tracer).
template <class A>
Unwind load_console(A a) {
    library::need_group(library::Group::CONSOLE);
    routine::result(a) = unset::cell();
    return UNWIND_NONE;
}

const routine::Row ROWS[] = {
    KIV_ROUTINE("read-line", "[\"Internal Use Only\" prompt [string!] return: [string! none!]]", read_line),
    KIV_ROUTINE("set-title", "[\"Internal Use Only\" str [string!]]", set_title),
    KIV_ROUTINE("load-console", "[\"Internal Use Only\"]", load_console),
};

// Runs the console engine: system/console/run, with the banner on a terminal
// when no script ran before.
int read_lines(bool banner) {
    library::need_group(library::Group::CONSOLE);
    system_object::set_field({"console", "gui?"}, logic::cell(false));
    if (interactive()) {
        struct sigaction sa {};
        sa.sa_handler = on_window_resize;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGWINCH, &sa, nullptr);
        struct sigaction halt {};
        halt.sa_handler = on_halt_interrupt;
        sigemptyset(&halt.sa_mask);
        halt.sa_flags = SA_RESTART;
        sigaction(SIGINT, &halt, nullptr);
    }
    update_console_size();
    stack::TopMark guard;
    Cell result;
    std::string error_text;
    const char* code = banner && interactive() ? "system/console/run" : "system/console/run/no-banner";
    bool ok = guarded(
        [&](Cell* slot) {
            Cell* block = stack::push(none::cell());
            lexer::Options options;
            uint32_t consumed = 0;
            lexer::scan(block, reinterpret_cast<const uint8_t*>(code), uint32_t(std::strlen(code)), options,
                        nullptr, &consumed);
            if (interpreter::eval(block, false) != 0) fire({"throw", "throw"});
            *slot = *(stack::top - 1);
        },
        &result, &error_text);
    if (!ok) emit(error_text, true);
    return ok ? 0 : 1;
}

}  // namespace

const routine::Table TABLE = routine::table("console", ROWS, false);

void attach_output() {
    static bool attached = false;
    if (attached) return;
    attached = true;
    hooks::register_callbacks(&natives::write_to_console, nullptr);
}

int run(int argc, char** argv) {
    attach_output();
    CommandLine cl = read_command_line(argc, argv);
    if (!cl.has_script) {
        Cell* saved = stack::top;
        Cell* options = push_strings(cl.options);
        system_object::set_field({"options", "args"}, *options);
        stack::top = saved;
        return read_lines(true);
    }
    int status = run_script(cl);
    if (!cl.catch_after) return status;
    return read_lines(false);
}

}  // namespace kiv::cli
