// The call trace of error values: the `stack` field of an error records the
// frame-stack height at the fire point; these hooks turn it into the words of
// the calls then in progress, at the level set by system/state/stack-trace.
// Level 1 lists only calls of function! values, higher levels every named
// call; frames named <body> or <anon> are never listed.

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "library/library.h"
#include "runtime/stack.h"

namespace kiv::library {

namespace {

int32_t trace_level() {
    Cell* c = system_object::field({"state", "stack-trace"});
    return c && c->type() == TYPE_INTEGER ? int32_t(c->w2) : 0;
}

Cell source_files() {
    Cell* c = system_object::field({"state", "source-files"});
    return c ? *c : Cell{TYPE_NONE, 0, 0, 0};
}

// The word naming frame i when the trace at `level` lists it, else none.
// Frames are re-read by index because looking a value up may allocate.
Cell frame_word(int32_t level, uint32_t i) {
    const stack::Frame* f = stack::frames_bottom + i;
    uint32_t s = f->symbol();
    Cell none{TYPE_NONE, 0, 0, 0};
    if (s == 0 || s == stack::body_symbol || s == stack::anon_symbol) return none;
    Off binding = f->binding;
    Cell w = binding && context::cell(binding)->type() == TYPE_CONTEXT ? context::word_for_symbol(binding, s)
                                                                       : word::make_global(s);
    if (level > 1) return w;
    // Only function calls: a native's frame named after a function (the
    // script runner's, named do-file) is not one.
    if (f->type() != stack::FRAME_FUNCTION) return none;
    Cell* saved = stack::top;
    Cell* v = word::push_value(&w);
    bool is_function = v->type() == TYPE_FUNCTION;
    stack::top = saved;
    return is_function ? w : none;
}

uint32_t end_of(int32_t position) {
    uint32_t count = stack::frame_count();
    return position < 0 ? 0 : (uint32_t(position) < count ? uint32_t(position) : count);
}

void collect_frame_words(int32_t level, Cell* block, int32_t position) {
    uint32_t end = end_of(position);
    for (uint32_t i = 0; i < end; ++i) {
        Cell w = frame_word(level, i);
        if (w.type() != TYPE_NONE) block::cells_append(block, &w);
    }
}

int32_t form_frame_words(int32_t level, int32_t position, Cell* out, int32_t budget) {
    uint32_t end = end_of(position);
    for (uint32_t i = 0; i < end && budget > 0; ++i) {
        Cell w = frame_word(level, i);
        if (w.type() == TYPE_NONE) continue;
        budget = word::form_name(w.w2, out, budget);
        string::concatenate_literal(out, " ");
        budget -= 1;
    }
    return budget;
}

}  // namespace

void install_trace_hooks() {
    error::trace_level = trace_level;
    error::source_files = source_files;
    error::collect_frame_words = collect_frame_words;
    error::form_frame_words = form_frame_words;
}

}  // namespace kiv::library
