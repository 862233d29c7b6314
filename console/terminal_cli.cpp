#include "console/terminal_cli.h"

#include <sys/ioctl.h>
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

#include "datatypes/fixed_words.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives_impl.h"
#include "runtime/stack.h"
#include "library/library.h"
#include "library/routines.h"
#include "runtime/error.h"
#include "runtime/hooks.h"
#include "runtime/root.h"

namespace kiv::cli {

namespace {

constexpr const char* DEFAULT_PROMPT = ">> ";

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

// ---- Values as text -------------------------------------------------------------------------

// The result line: mold (form for a float!), cut to the terminal's width
// when there is one.
std::string result_text(const Cell& value, int columns) {
    Cell* saved = stack::top;
    Cell* v = stack::push(value);
    Cell* out = string::push_new(64);
    int32_t limit = columns > 0 ? columns - 3 : 0;
    int32_t budget = limit > 0 ? limit + 5 : 0x7FFFFFFF;
    if (value.type() == TYPE_FLOAT) {
        actions::form(v, out, nullptr, budget);
    } else {
        actions::mold(v, out, false, false, false, nullptr, budget, 0);
    }
    std::string text = library::to_utf8(*out);
    stack::top = saved;
    if (limit > 0) {
        // Count characters, not bytes, when cutting.
        std::vector<size_t> starts;
        for (size_t i = 0; i < text.size(); ++i)
            if ((uint8_t(text[i]) & 0xC0) != 0x80) starts.push_back(i);
        if (int32_t(starts.size()) > limit) {
            int32_t keep = limit - int32_t(std::strlen(DEFAULT_PROMPT)) - 1;
            if (keep < 0) keep = 0;
            text = text.substr(0, starts[size_t(keep)]) + "...";
        }
    }
    return text;
}

int terminal_columns() {
    struct winsize ws;
    if (isatty(1) && ioctl(1, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 0;
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
// Lines are collected while the input stays unfinished: the lexer reports
// every opening and closing delimiter and every error to a routine that
// keeps the stack of open delimiters and, at an error, decides whether more
// lines could mend the input (an open block, paren, braced string, tag or
// binary) or not.

struct Delimiters {
    std::string open;                   // characters of the open delimiters, innermost last
    bool unfinished = false;            // the error event's verdict
    std::string rest;                   // the input from the error position
    const std::string* text = nullptr;  // the whole input being scanned
};
Delimiters delimiters;

char delimiter_of(const Cell& type) {
    if (type.type() != TYPE_DATATYPE) return 0;
    switch (type.w1) {
        case TYPE_BLOCK:
            return '[';
        case TYPE_PAREN:
        case TYPE_MAP:
        case TYPE_POINT2D:
            return '(';
        case TYPE_STRING:
            return '{';
        case TYPE_PATH:
        case TYPE_LIT_PATH:
        case TYPE_GET_PATH:
        case TYPE_SET_PATH:
            return '/';
        default:
            return 0;
    }
}

char last_open(size_t from_end) {
    const std::string& o = delimiters.open;
    return o.size() > from_end ? o[o.size() - 1 - from_end] : 0;
}

// More braces opened than closed in the text (a braced string still open).
bool brace_open(const std::string& text) {
    long depth = 0;
    for (char c : text) {
        if (c == '{') ++depth;
        if (c == '}') --depth;
    }
    return depth > 0;
}

// The lexer's callback: event, input (at the event's position), type, line,
// token. Answers true, so that the lexer goes on as it would without one.
template <class A>
Unwind delimiter_event(A a) {
    std::string_view event = routine::arg<"event">(a).type() == TYPE_WORD
                                 ? symbol::name_view(routine::arg<"event">(a).w2)
                                 : std::string_view();
    const Cell type = routine::arg<"type">(a);
    const uint32_t t = type.type() == TYPE_DATATYPE ? type.w1 : 0;
    if (event == "open") {
        delimiters.open.push_back(delimiter_of(type));
    } else if (event == "close") {
        if (!delimiters.open.empty() && delimiter_of(type) == last_open(0)) delimiters.open.pop_back();
    } else if (event == "error") {
        delimiters.rest = library::to_utf8(routine::arg<"input">(a));
        const std::string& text = *delimiters.text;
        bool more = false;
        if ((t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_MAP || t == TYPE_POINT2D) &&
            delimiter_of(type) == last_open(0) && delimiters.rest.find_first_of(")]") == std::string::npos) {
            more = true;
        } else if (t == TYPE_PAREN && last_open(1) == '/') {
            delimiters.open.erase(delimiters.open.size() - 2, 1);
            more = true;
        } else if (t == TYPE_TAG) {
            delimiters.open.push_back('<');
            more = true;
        } else if (t == TYPE_BINARY && !(text.size() >= 2 && text[text.size() - 2] == '}')) {
            delimiters.open.push_back('{');
            more = true;
        } else if (t == TYPE_STRING && (last_open(0) == '{' || brace_open(text))) {
            if (last_open(0) != '{') delimiters.open.push_back('{');
            more = true;
        }
        delimiters.unfinished = more;
    }
    routine::result(a) = logic::cell(true);
    return UNWIND_NONE;
}

// The lexer's callback of the console: it follows the delimiters that the
// input leaves open.
const routine::Row ROWS[] = {
    KIV_ROUTINE("console-delimiters", "[[open close error] event input type line token]", delimiter_event),
};

// True when the load error leaves the input unfinished: the callback said
// so, or a closing bracket or parenthesis is missing for the innermost open
// one with no closing delimiter after the error position.
bool input_unfinished(const RaisedError& e) {
    if (delimiters.unfinished) return !delimiters.open.empty();
    if (e.category != "syntax" || e.id != "missing" || e.arg_count < 2) return false;
    std::string missing = library::to_utf8(e.args[1]);
    char want = missing == "]" ? '[' : missing == ")" ? '(' : 0;
    return want && want == last_open(0) && delimiters.rest.find_first_of(")]") == std::string::npos;
}

// The callback routine, made once and kept in the root block.
const Cell& delimiter_routine() {
    static uint32_t slot = 0;
    if (!slot) {
        Cell* saved = stack::top;
        Cell* r = library::routines::push_table_routine(TABLE, "console-delimiters");
        slot = root::count();
        root::keep_copy(*r);
        stack::top = saved;
    }
    return *root::at(slot);
}

// Loads and evaluates the collected text, printing the result or the error.
// Returns false when the input is unfinished (nothing was evaluated).
bool do_command(const std::string& buffer, bool at_end, char* open, int columns) {
    stack::TopMark guard;
    Cell result;
    std::string error_text;
    bool unfinished_input = false;
    bool ok = guarded(
        [&](Cell* slot) {
            // Load errors name `load`, as loading the text with it would.
            Cell load_word = word::load("load");
            stack::mark_native(&load_word);
            Cell* input = library::push_utf8(buffer);
            Cell* code = stack::push(none::cell());
            Cell callback = delimiter_routine();
            lexer::Options options;
            options.callback = &callback;
            delimiters = Delimiters{};
            delimiters.text = &buffer;
            try {
                uint32_t consumed = 0;
                lexer::load(code, input, -1, options, &consumed);
            } catch (const RaisedError& e) {
                if (!at_end && input_unfinished(e)) {
                    *open = delimiters.open.back();
                    unfinished_input = true;
                    *slot = Cell{TYPE_UNSET, 0, 0, 0};
                    return;
                }
                throw;
            }
            // The code waits in the slot while the load frame goes.
            *slot = *code;
            stack::unwind_drop();
            if (block::cells_length(slot) == 0) {
                *slot = Cell{TYPE_UNSET, 0, 0, 0};
                return;
            }
            eval_in_console_catch(slot, slot);
        },
        &result, &error_text);
    if (unfinished_input) return false;
    if (!ok) {
        emit(error_text, true);
        emit("", true);
        return true;
    }
    if (is_halt_request(result)) {
        emit("(halted)", true);
        return true;
    }
    if (result.type() == TYPE_UNSET) return true;
    if (result.type() == TYPE_ERROR) {
        emit(formed_error(result, nullptr), true);
        emit("", true);
        return true;
    }
    // Molding may fail too (a value whose type cannot be molded): its error
    // is printed instead of the result.
    std::string text;
    Cell nothing;
    bool shown = guarded(
        [&](Cell* slot) {
            text = result_text(result, columns);
            *slot = Cell{TYPE_UNSET, 0, 0, 0};
        },
        &nothing, &error_text);
    emit(shown ? "== " + text : error_text, true);
    return true;
}

int read_lines(bool banner) {
    library::need_group(library::Group::CONSOLE);  // the console's own modules
    bool interactive = isatty(0) != 0;
    int columns = terminal_columns();
    if (banner && interactive) {
        Cell* version = system_object::field({"version"});
        std::string v = version && is_any_string(version->type()) ? library::to_utf8(*version) : "";
        emit("--== Kiv " + v + " ==--", true);
        emit("Type HELP for starting information.", true);
        emit("", true);
    }
    std::string buffer;
    char open = 0;
    std::string line;
    for (;;) {
        if (interactive)
            emit(buffer.empty() ? std::string(DEFAULT_PROMPT) : std::string(1, open) + "    ", false);
        if (!std::getline(std::cin, line)) {
            if (!buffer.empty()) do_command(buffer, true, &open, columns);
            if (interactive) emit("", true);
            return 0;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.back() == '\x1B') {
            buffer.clear();
            emit("(escape)", true);
            continue;
        }
        if (buffer.empty() && line.empty()) continue;
        buffer += line;
        buffer += '\n';
        if (do_command(buffer, false, &open, columns)) buffer.clear();
    }
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
