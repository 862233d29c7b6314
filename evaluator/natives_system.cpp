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
Unwind transcode(const int32_t* refs) {
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
    // The values go to the tail of an /into block: its owner hears of them
    // once, as reduce/into reports an append.
    bool into = args.into && args.into->type() == TYPE_BLOCK;
    uint32_t start = into ? series::buffer_length(args.into) : 0;
    uint32_t node = into ? args.into->w2 : 0;
    Unwind code = lexer::transcode(base, args, base);
    if (code) return code;
    stack::top = base + 1;
    if (into && base->type() == TYPE_BLOCK && base->w2 == node) {
        uint32_t n = series::buffer_length(base);
        if (n > start) return series::notify_owner(base, ownership::OwnerEvent::INSERT, nullptr, start, n - start, nullptr);
    }
    return UNWIND_NONE;
}

// parse input rules /case /part length /trace callback
Unwind parse(const int32_t* refs) {
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
            fire({"script", "invalid-refine-arg"}, fixed::refinements[fixed::REF_PART], *length);
        }
        if (end <= 0) {
            // Nothing to run the rules over: only an empty input matches.
            Cell s = in;
            bool empty = s.w1 >= series::buffer_length(&s);
            stack::set_last_keep(logic::cell(empty));
            return UNWIND_NONE;
        }
    }
    if (Unwind code = parser::process(base, base + 1, strict ? 2 : 0, end, callback, base)) return code;
    stack::top = base + 1;
    return UNWIND_NONE;
}

Unwind stats(const int32_t* refs) {
    Refs<N_STATS> r{refs};
    collector::native_stats(r.has<"show">(), r.has<"info">());
    return UNWIND_NONE;
}

Unwind recycle(const int32_t* refs) {
    Refs<N_RECYCLE> r{refs};
    collector::native_recycle(r.has<"on">(), r.has<"off">());
    return UNWIND_NONE;
}

}  // namespace kiv::natives
