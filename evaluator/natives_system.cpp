// Natives that reach outside the evaluator. Each is a thin adapter: it reads
// its arguments by the native entry contract and hands them to the part that
// does the work.
#include "datatypes/fixed_words.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/parse.h"
#include "runtime/stack.h"
#include "runtime/collector.h"

namespace kiv::natives {

namespace {
const Cell* refinement_arg(const int32_t* refs, int i) {
    return refs[i] < 0 ? nullptr : stack::arg_base + refs[i];
}
}  // namespace

// transcode src /next /one /prescan /scan /part length /into dst /trace callback
uint32_t transcode(bool check, const int32_t* refs) {
    if (check) check_args(N_TRANSCODE, 1);
    lexer::TranscodeArgs args;
    args.next = refs[0] >= 0;
    args.one = refs[1] >= 0;
    args.prescan = refs[2] >= 0;
    args.scan = refs[3] >= 0;
    args.part = refinement_arg(refs, 4);
    args.into = refinement_arg(refs, 5);
    args.trace = refinement_arg(refs, 6);
    Cell* base = stack::arg_base;
    uint32_t code = lexer::transcode(base, args, base);
    if (code) return code;
    stack::top = base + 1;
    return 0;
}

// parse input rules /case /part length /trace callback
uint32_t parse(bool check, const int32_t* refs) {
    if (check) check_args(N_PARSE, 2);
    Cell* base = stack::arg_base;
    const bool strict = refs[0] >= 0;
    const Cell* length = refinement_arg(refs, 1);
    const Cell* callback = refinement_arg(refs, 2);
    int64_t end = -1;
    if (length) {
        const Cell in = *base;
        const uint32_t t = length->type();
        if (t == TYPE_INTEGER) {
            end = int64_t(in.w1) + int32_t(length->w2);
        } else if (t == TYPE_FLOAT) {
            end = int64_t(in.w1) + int64_t(length->get_f64());
        } else if (t == in.type() && length->w2 == in.w2) {
            end = length->w1;
        } else {
            fire("script", "invalid-refine-arg", fixed::refinements[fixed::REF_PART], *length);
        }
        if (end <= 0) {
            // Nothing to run the rules over: only an empty input matches.
            Cell s = in;
            bool empty = s.w1 >= series::buffer_length(&s);
            stack::set_last_keep(logic::cell(empty));
            return 0;
        }
    }
    if (uint32_t code = parser::process(base, base + 1, strict ? 2 : 0, end, callback, base)) return code;
    stack::top = base + 1;
    return 0;
}

uint32_t stats(bool check, const int32_t* refs) {
    collector::native_stats(check, refs);
    return 0;
}

uint32_t recycle(bool check, const int32_t* refs) {
    collector::native_recycle(check, refs);
    return 0;
}

}  // namespace kiv::natives
