// Natives that reach outside the evaluator. Each is a thin adapter: it reads
// its arguments by the native entry contract and hands them to the part that
// does the work.
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"

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
