// Natives that reach outside the evaluator. Each is a thin adapter: it reads
// its arguments by the native entry contract and hands them to the part that
// does the work.
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
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

uint32_t stats(bool check, const int32_t* refs) {
    collector::native_stats(check, refs);
    return 0;
}

uint32_t recycle(bool check, const int32_t* refs) {
    collector::native_recycle(check, refs);
    return 0;
}

}  // namespace kiv::natives
