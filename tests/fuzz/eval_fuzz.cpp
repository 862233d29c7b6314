// Fuzz target over the evaluator: the input bytes choose a Kiv program from a
// small grammar, which then runs with the whole library loaded and collection
// switched on. The grammar aims at the places where native code runs Kiv code
// or allocates while it works on a series: natives with refinements, blocks,
// parens and paths; recycle; blocks that clear or grow themselves while they
// run; sort comparators, loop bodies, object hooks and trace callbacks that
// change the series they are working on.
//
// Checks, besides the sanitizers: every program ends (each statement runs
// under try, loops and growth draw on a shared budget), both stacks come back
// to where they were, and a full collection afterwards finds every reachable
// value intact. Build it with the sanitizer build and KIV_GC_TORTURE so that
// every allocation collects and moves every buffer.
//
// Built by CMake as the other tests/fuzz targets are; `make test` replays the
// kept inputs in tests/fuzz/corpus/eval_fuzz. With the g++ driver,
// `eval_fuzz --print FILE` prints the program an input stands for.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "boot/startup.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "runtime/stack.h"
#include "library/library.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/root.h"
#include "tests/fuzz/fuzz_choices.h"
#include "tests/fuzz/run_program.h"

using namespace kiv;

namespace {

// ---- The grammar ---------------------------------------------------------------------------

using fuzz::Choices;

// The variables every program starts with (set by the prelude) and the only
// words the program assigns, so that nothing it does reaches `budget`.
const char* const SERIES_VARS[] = {"s", "t", "b", "c", "u"};  // block, string, block, block, string
const char* const ANY_VARS[] = {"s", "t", "b", "c", "u", "o", "n", "x", "f"};

// Loops and growth take one unit of the budget per pass; when it is spent,
// loops break and growth stops, so every program ends.
const char PRELUDE[] =
    "Kiv []\n"
    "budget: 400\n"
    "spend: does [budget: budget - 1 budget > 0]\n"
    "grow: func [x v] [if all [spend series? x 500 > length? x] [append/only x :v] x]\n"
    "s: copy [3 1 4 1 5 9 2 6] t: copy \"hello world\" b: copy [] c: copy/deep [[1 2] (3) \"4\" x/y]\n"
    "u: copy \"{braces} \" n: 1 x: 'word f: func [a] [a]\n"
    "o: make object! [a: 1 z: copy [1 2 3] on-change*: func [w old new] [grow z w recycle]]\n";

class Generator {
  public:
    explicit Generator(Choices& in) : in_(in) {}

    std::string program() {
        std::string out = PRELUDE;
        uint32_t statements = 1 + in_.next(12);
        for (uint32_t i = 0; i < statements && !in_.done(); ++i) {
            out += "try [";
            statement(out, 0);
            out += "]\n";
        }
        // Whatever the program left, the values stay sound to mold.
        out += "try [mold/all reduce [s t b c u o n x]]\n";
        return out;
    }

  private:
    Choices& in_;

    const char* series_var() { return SERIES_VARS[in_.next(std::size(SERIES_VARS))]; }
    const char* any_var() { return ANY_VARS[in_.next(std::size(ANY_VARS))]; }

    void statement(std::string& out, int depth) {
        switch (in_.next(10)) {
            case 0:
            case 1:
                expression(out, depth);
                break;
            case 2:
                out += any_var();
                out += ": ";
                expression(out, depth);
                break;
            case 3:
                self_modifying(out, depth);
                break;
            case 4:
                comparator_sort(out, depth);
                break;
            case 5:
                loop(out, depth);
                break;
            case 6:
                out += "o/a: ";
                expression(out, depth);
                break;
            case 7:
                trace(out, depth);
                break;
            case 8:
                out += "recycle";
                break;
            default:
                mutation(out, depth);
                break;
        }
    }

    // Code that changes a series (and may collect).
    void mutation(std::string& out, int depth) {
        const char* v = series_var();
        switch (in_.next(12)) {
            case 0:
                out += std::string("clear ") + v;
                break;
            case 1:
                out += std::string("grow ") + v + " ";
                value(out, depth);
                break;
            case 2:
                out += std::string("remove/part ") + v + " " + std::to_string(in_.next(4));
                break;
            case 3:
                out += std::string("insert ") + v + " ";
                value(out, depth);
                break;
            case 4:
                out += std::string("change ") + v + " ";
                value(out, depth);
                break;
            case 5:
                out += std::string("reverse ") + v;
                break;
            case 6:
                out += std::string("take/last ") + v;
                break;
            case 7:
                out += std::string("sort ") + v;
                break;
            case 8:
                out += std::string("append/dup ") + v + " 0 " + std::to_string(in_.next(40));
                break;
            case 9:
                out += std::string("poke ") + v + " 1 ";
                value(out, depth);
                break;
            case 10:
                out += std::string(v) + ": copy/part " + v + " " + std::to_string(in_.next(5));
                break;
            default:
                out += "recycle";
                break;
        }
    }

    // A block that runs while its own code changes it.
    void self_modifying(std::string& out, int depth) {
        static const char* const RUNNERS[] = {"do", "reduce", "compose", "any", "all", "case", "print mold do"};
        out += "b: [";
        uint32_t n = 1 + in_.next(4);
        for (uint32_t i = 0; i < n; ++i) {
            switch (in_.next(6)) {
                case 0:
                    out += "(clear b recycle 1) ";
                    break;
                case 1:
                    out += "true [clear b recycle 2] ";
                    break;
                case 2:
                    out += "(b: copy [] recycle 3) ";
                    break;
                case 3:
                    out += "(grow b 4 recycle) ";
                    break;
                case 4:
                    // Inserting before the running position makes it run
                    // again: only while the budget lasts.
                    out += "(if spend [";
                    mutation(out, depth + 1);
                    out += "]) ";
                    break;
                default:
                    value(out, depth + 1);
                    out += " ";
                    break;
            }
        }
        out += "] ";
        out += RUNNERS[in_.next(std::size(RUNNERS))];
        out += " b";
    }

    // sort/compare with a comparator that changes the series it sorts.
    void comparator_sort(std::string& out, int depth) {
        const char* v = in_.next(2) ? "s" : "c";
        out += "sort/compare";
        if (in_.next(3) == 0) out += "/reverse";
        if (in_.next(4) == 0) out += "/stable";
        out += std::string(" ") + v + " func [p q] [";
        uint32_t n = in_.next(3);
        for (uint32_t i = 0; i < n; ++i) {
            switch (in_.next(5)) {
                case 0:
                    out += std::string("clear ") + v + " ";
                    break;
                case 1:
                    out += std::string("append/dup ") + v + " 0 " + std::to_string(in_.next(20)) + " ";
                    break;
                case 2:
                    out += "recycle ";
                    break;
                case 3:
                    out += "recycle/on ";
                    break;
                default:
                    mutation(out, depth + 1);
                    out += " ";
                    break;
            }
        }
        static const char* const ANSWERS[] = {"p < q", "lesser? mold :p mold :q", "true", "none", "0", "-1"};
        out += ANSWERS[in_.next(std::size(ANSWERS))];
        out += "]";
    }

    // Loops whose bodies change the series they walk; each pass spends budget.
    void loop(std::string& out, int depth) {
        const char* v = series_var();
        switch (in_.next(7)) {
            case 0:
                out += std::string("foreach e ") + v + " [";
                break;
            case 1:
                out += std::string("forall ") + v + " [";
                break;
            case 2:
                out += std::string("remove-each e ") + v + " [";
                break;
            case 3:
                out += "repeat i 3 [";
                break;
            case 4:
                out += "while [spend] [";
                break;
            case 5:
                out += "until [";
                break;
            default:
                out += std::string("foreach [e1 e2] ") + v + " [";
                break;
        }
        out += "unless spend [break] ";
        uint32_t n = 1 + in_.next(3);
        for (uint32_t i = 0; i < n; ++i) {
            if (in_.next(2)) {
                mutation(out, depth + 1);
            } else {
                expression(out, depth + 1);
            }
            out += " ";
        }
        out += in_.next(2) ? "true]" : "none]";
    }

    // The evaluator's and the lexer's trace callbacks, changing what they see.
    void trace(std::string& out, int depth) {
        if (in_.next(2)) {
            out += "do/trace [";
            expression(out, depth + 1);
            // Every event calls the callback: it acts only while the budget lasts.
            out += "] func [event code offset value ref frame] [if spend [";
            if (in_.next(2)) out += "if all [block? code 20 > length? code] [append code 0] ";
            out += "recycle]]";
        } else {
            out += "transcode/trace copy \"";
            static const char* const TEXTS[] = {"a [b (c)] 1", "{x} [[", "1 2 3", "x/y: #[none]"};
            out += TEXTS[in_.next(std::size(TEXTS))];
            out += "\" func [event input type line token] [if spend [";
            if (in_.next(2)) out += "clear input ";
            if (in_.next(2)) out += "grow b token ";
            out += "recycle] true]";
        }
    }

    void value(std::string& out, int depth) {
        switch (in_.next(10)) {
            case 0:
                out += std::to_string(int(in_.next(200)) - 100);
                break;
            case 1:
                out += "\"str\"";
                break;
            case 2:
                out += "#\"c\"";
                break;
            case 3:
                out += "none";
                break;
            case 4:
                out += any_var();
                break;
            case 5:
                out += "[1 [2] (3)]";
                break;
            case 6:
                out += "'w";
                break;
            case 7:
                out += "\"^(D800){\"";
                break;
            case 8:
                if (depth < 3) {
                    out += "(";
                    expression(out, depth + 1);
                    out += ")";
                } else {
                    out += "1.5";
                }
                break;
            default:
                out += series_var();
                break;
        }
    }

    // Natives and actions with their refinements, over the variables.
    void expression(std::string& out, int depth) {
        if (depth > 4) {
            value(out, depth);
            return;
        }
        const char* v = series_var();
        switch (in_.next(36)) {
            case 0:
                out += std::string("copy/deep ") + v;
                break;
            case 1:
                out += std::string("copy/part ") + v + " " + std::to_string(in_.next(6));
                break;
            case 2:
                out += std::string("find ") + v + " ";
                value(out, depth + 1);
                break;
            case 3:
                out += std::string("select ") + v + " ";
                value(out, depth + 1);
                break;
            case 4:
                out += std::string("pick ") + v + " " + std::to_string(in_.next(6));
                break;
            case 5:
                out += std::string("length? ") + v;
                break;
            case 6:
                out += std::string(v) + "/" + std::to_string(1 + in_.next(3));
                break;
            case 7:
                out += std::string(v) + "/(n)";
                break;
            case 8:
                out += "o/z";
                break;
            case 9:
                out += std::string("mold/all ") + v;
                break;
            case 10:
                out += std::string("form ") + v;
                break;
            case 11:
                out += std::string("unique ") + v;
                break;
            case 12:
                out += std::string("union ") + v + " " + series_var();
                break;
            case 13:
                out += std::string("intersect ") + v + " " + series_var();
                break;
            case 14:
                out += std::string("difference ") + v + " " + series_var();
                break;
            case 15:
                out += std::string("exclude ") + v + " " + series_var();
                break;
            case 16:
                out += std::string("reduce ") + (in_.next(2) ? "c" : "b");
                break;
            case 17:
                out += "compose/deep [x (";
                expression(out, depth + 1);
                out += ") [(recycle)]]";
                break;
            case 18:
                out += "if ";
                value(out, depth + 1);
                out += " [";
                statement(out, depth + 1);
                out += "]";
                break;
            case 19:
                out += "either ";
                value(out, depth + 1);
                out += " [";
                statement(out, depth + 1);
                out += "] [";
                statement(out, depth + 1);
                out += "]";
                break;
            case 20:
                out += "apply :append [";
                out += v;
                out += " ";
                value(out, depth + 1);
                out += "]";
                break;
            case 21:
                out += "f ";
                expression(out, depth + 1);
                break;
            case 22:
                out += "catch [throw ";
                expression(out, depth + 1);
                out += "]";
                break;
            case 23:
                out += "switch ";
                value(out, depth + 1);
                out += " [1 [recycle 1] \"str\" [clear s] none [";
                statement(out, depth + 1);
                out += "]]";
                break;
            case 24:
                out += "make object! [a: ";
                value(out, depth + 1);
                out += " w: copy [1] on-change*: func [w old new] [clear s recycle]]";
                break;
            case 25:
                out += "set [n x] reduce [";
                value(out, depth + 1);
                out += " ";
                value(out, depth + 1);
                out += "]";
                break;
            case 26:
                out += std::string("trim ") + v;
                break;
            case 27:
                out += std::string("swap ") + v + " " + series_var();
                break;
            case 28:
                out += std::string("at ") + v + " " + std::to_string(in_.next(8));
                break;
            case 29:
                out += std::string("skip tail ") + v + " -" + std::to_string(in_.next(3));
                break;
            case 30:
                out += "to-string ";
                value(out, depth + 1);
                break;
            case 31:
                out += "to-block ";
                value(out, depth + 1);
                break;
            case 32:
                out += "func [a /r b] [";
                statement(out, depth + 1);
                out += "]";
                break;
            case 33:
                out += std::string("sort/skip/compare ") + v + " 2 2";
                break;
            case 34:
                mutation(out, depth + 1);
                break;
            default:
                value(out, depth);
                out += " ";
                out += in_.next(2) ? "=" : "<";
                out += " ";
                value(out, depth + 1);
                break;
        }
    }
};

// ---- Running a program ----------------------------------------------------------------------

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "eval_fuzz: %s\n", what);
        std::abort();
    }
}

void boot() {
    kiv::boot(kiv::BootLevel::language);
    root::recording = false;
    collector::recycle_on();
    library::run_modules();
}

// Loads and runs the program text; errors end the run the way a script's
// uncaught error does.
void run(const std::string& text) {
    fuzz::run_program(text, "eval-fuzz", check);
    // Everything still reachable must be sound: a collection walks it all.
    collector::collect();
}

std::string program_of(const uint8_t* data, size_t size) {
    Choices in(data, size);
    return Generator(in).program();
}

}  // namespace

extern "C" void KivFuzzDescribe(const uint8_t* data, size_t size) {
    std::string text = program_of(data, size);
    std::fwrite(text.data(), 1, text.size(), stdout);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool booted = false;
    if (!booted) {
        boot();
        booted = true;
    }
    if (size > 512) return 0;
    run(program_of(data, size));
    return 0;
}
