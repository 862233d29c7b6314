// Natives that reach outside the evaluator. Each is a thin adapter: it reads
// its arguments by the native entry contract and hands them to the part that
// does the work.
#include "datatypes/fixed_words.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/parse.h"
#include "runtime/collector.h"
#include "runtime/stack.h"

namespace kiv::natives {

// transcode src /next /one /prescan /scan /part length /into dst /trace callback
uint32_t transcode(const int32_t* refs) {
    lexer::TranscodeArgs args;
    Refs<N_TRANSCODE> r{refs};
    args.next = r.has<"next">();
    args.one = r.has<"one">();
    args.prescan = r.has<"prescan">();
    args.scan = r.has<"scan">();
    args.part = r.arg<"part">();
    args.into = r.arg<"into">();
    args.trace = r.arg<"trace">();
    Cell* base = stack::arg_base;
    uint32_t code = lexer::transcode(base, args, base);
    if (code) return code;
    stack::top = base + 1;
    return 0;
}

// parse input rules /case /part length /trace callback
uint32_t parse(const int32_t* refs) {
    Cell* base = stack::arg_base;
    Refs<N_PARSE> r{refs};
    const bool strict = r.has<"case">();
    const Cell* length = r.arg<"part">();
    const Cell* callback = r.arg<"trace">();
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

uint32_t stats(const int32_t* refs) {
    Refs<N_STATS> r{refs};
    collector::native_stats(r.has<"show">(), r.has<"info">());
    return 0;
}

uint32_t recycle(const int32_t* refs) {
    Refs<N_RECYCLE> r{refs};
    collector::native_recycle(r.has<"on">(), r.has<"off">());
    return 0;
}

}  // namespace kiv::natives
