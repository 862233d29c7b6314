// Fuzz target over the Draw command loop: the input bytes choose a draw
// block from a grammar of every command with right, wrong, missing, huge,
// negative, NaN and infinite arguments, nested blocks, shapes and patterns,
// which then runs into a 48x48 image with the whole library loaded.
//
// Checks, besides the sanitizers: the pass ends (errors are caught), Cairo
// is never left in an error state, the cycle stack comes back empty, and a
// full collection afterwards finds everything intact.
//
// `make test` replays the kept inputs in tests/fuzz/corpus/draw_fuzz; with
// the g++ driver, `draw_fuzz --print FILE` prints the block an input stands for.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "boot/startup.h"
#include "datatypes/none.h"
#include "evaluator/interpreter.h"
#include "gui/draw/draw_context.h"
#include "library/library.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/root.h"
#include "tests/fuzz/fuzz_choices.h"
#include "tests/fuzz/run_program.h"
#include "runtime/stack.h"

using namespace kiv;

namespace {

using fuzz::Choices;

const char* const NUMBERS[] = {"0", "1", "5", "24", "-7", "360", "2147483647", "-2147483648", "0.5",
                               "1.#NaN", "1.#INF", "-1.#INF", "1e300", "-0.0", "50%", "1e-30"};
const char* const POINTS[] = {"0x0", "10x10", "40x20", "-5x30", "48x48", "2147483647x-2147483648",
                              "(1.5, 2.5)", "(1e30, -1e30)", "(1.#NaN, 3.0)", "24x24", "100x0", "0x100"};
const char* const COLOURS[] = {"255.0.0", "0.0.255.128", "0.255.0.255", "1.2.3.4.5", "red", "transparent"};
const char* const WORDS[] = {"off", "closed", "pad", "repeat", "reflect", "tile", "flip-x", "flip-y", "flip-xy",
                             "clamp", "round", "bevel", "square", "inset", "border", "crop", "xor", "sweep",
                             "large", "foo", "'pen", "'fill-pen", "'foo", "img", "none"};

// Commands with the arguments they take: P a point, N a number, C a colour,
// W a word, B a command block, S a shape block, M a matrix block, ? makes the
// next argument optional, * repeats the previous one 0 to 4 times.
const char* const TEMPLATES[] = {
    "pen C", "fill-pen C", "pen off", "fill-pen linear C C ?P ?P ?W", "fill-pen radial C N C ?P ?N ?P ?W",
    "pen diamond C C ?P ?P ?P", "fill-pen linear P N N ?N ?N C C *", "fill-pen pattern P ?P ?P ?W B",
    "fill-pen bitmap img ?P ?P ?W", "box P P ?N", "line P P *", "line-width N", "line-join W", "line-cap W",
    "line-pattern N *", "triangle P P P", "polygon P P P *", "circle P N ?N", "ellipse P P", "anti-alias W",
    "arc P P N N ?W", "curve P P P ?P", "spline P P * ?W", "image img ?P *", "image img P crop P P",
    "shadow P ?N ?N ?C ?W", "shadow off", "clip P P ?W ?B", "clip S ?W ?B", "shape S", "rotate ?W N ?P ?B",
    "scale ?W N N ?P ?B", "translate ?W P ?B", "skew ?W N ?N ?P ?B", "transform ?P N N N P ?B", "push B",
    "matrix ?W M", "reset-matrix ?W", "invert-matrix ?W", "font W", "text P \"hi\"", "s: B",
};
const char* const SHAPE_TEMPLATES[] = {
    "move P", "'move P", "line P *", "'line P *", "hline N", "'vline N", "arc P N N N ?W ?W", "curve P P P *",
    "'curv P P *", "qcurve P P *", "qcurv P *", "close", "S",
};

class Generator {
  public:
    explicit Generator(Choices& in) : in_(in) {}

    std::string block(int depth, bool shape) {
        std::string out = "[";
        int n = int(in_.next(6)) + 1;
        for (int i = 0; i < n && !in_.done(); ++i) {
            const char* t = shape ? SHAPE_TEMPLATES[in_.next(std::size(SHAPE_TEMPLATES))]
                                  : TEMPLATES[in_.next(std::size(TEMPLATES))];
            out += expand(t, depth) + " ";
        }
        return out + "]";
    }

  private:
    // One argument of a kind; now and then a token of another kind.
    std::string arg(char kind, int depth) {
        if (in_.next(12) == 0) kind = "PNCWBSM"[in_.next(7)];
        switch (kind) {
            case 'P': return POINTS[in_.next(std::size(POINTS))];
            case 'N': return NUMBERS[in_.next(std::size(NUMBERS))];
            case 'C': return COLOURS[in_.next(std::size(COLOURS))];
            case 'W': return WORDS[in_.next(std::size(WORDS))];
            case 'B': return depth < 3 ? block(depth + 1, false) : "[]";
            case 'S': return depth < 3 ? block(depth + 1, true) : "[]";
            case 'M': {
                std::string m = "[";
                int n = in_.next(8) == 0 ? int(in_.next(8)) : 6;
                for (int i = 0; i < n; ++i) m += std::string(NUMBERS[in_.next(std::size(NUMBERS))]) + " ";
                return m + "]";
            }
        }
        return "";
    }

    std::string expand(const char* t, int depth) {
        std::string out, word;
        bool optional = false;
        char last = 0;
        for (const char* p = t;; ++p) {
            char ch = *p;
            if (ch == ' ' || ch == 0) {
                if (word.size() == 1 && std::string("PNCWBSM").find(word[0]) != std::string::npos) {
                    if (!optional || in_.next(2)) out += arg(word[0], depth) + " ";
                    last = word[0];
                } else if (word == "*") {
                    for (int n = int(in_.next(5)); n > 0; --n) out += arg(last, depth) + " ";
                } else if (word == "?") {
                    optional = true;
                    word.clear();
                    if (!ch) break;
                    continue;
                } else if (!word.empty()) {
                    out += word + " ";
                }
                word.clear();
                optional = false;
                if (!ch) break;
            } else if (ch == '?' && word.empty()) {
                optional = true;
            } else {
                word += ch;
            }
        }
        return out;
    }

    Choices& in_;
};

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "draw_fuzz: %s\n", what);
        std::abort();
    }
}

void boot() {
    kiv::boot(kiv::BootLevel::language);
    root::recording = false;
    collector::recycle_on();
    library::run_modules();
}

std::string program_of(const uint8_t* data, size_t size) {
    Choices in(data, size);
    std::string b = Generator(in).block(0, false);
    // The image word is cleared at the end, so that nothing is left for the
    // process end to release.
    return "Kiv [] img: make image! [6x6 10.20.30.40] try [draw 48x48 " + b + "] img: none";
}

void run(const std::string& text) {
    kiv::draw::last_pass_status = 0;
    fuzz::run_program(text, "draw-fuzz", check);
    check(kiv::draw::last_pass_status == 0, "Cairo left in an error state");
    check(cycles::depth() == 0, "cycle stack not emptied");
    collector::collect();
}

}  // namespace

extern "C" void KivFuzzDescribe(const uint8_t* data, size_t size) {
    std::string text = program_of(data, size);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool booted = false;
    if (!booted) {
        boot();
        booted = true;
    }
    if (size > 256) return 0;
    run(program_of(data, size));
    return 0;
}
