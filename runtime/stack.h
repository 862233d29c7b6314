// The data stack and the call-frame stack.
//
// Both stacks are fixed series (they never move), so Cell* and Frame* into
// them stay valid across allocations. The argument base is the first argument
// cell of the call in progress and also its result slot. Every native, action
// and function call pushes one 20-byte frame; error reports, non-local exits
// and the collector read the same frames.
//
// Non-local exits (break, continue, return, exit, throw) never unwind the
// machine stack with C++ exceptions: the throw_* operations below trim both
// stacks to the target frame, leave the carried value in place and return
// the unwind code, which every evaluating caller passes up until the frame
// that admits it. Errors are the exception: fire() unwinds as a C++ exception
// (RaisedError) caught at try/catch frames and at the top level.
//
// Rules the callers rely on:
//   - When a throw_* returns a code, the stacks are already trimmed: the
//     target frame (loop, function body, catch) is the topmost frame, the
//     argument base is that frame's own base and holds the carried value.
//     Activations between the exit and its target pass the code up without
//     touching either stack; only the owner of the target frame pops it.
//   - A break, continue, return, exit or throw that has no target, or whose
//     search meets a try/all frame, raises a throw error (break, continue,
//     return, throw) with both stacks exactly as they were before the search.
//   - A RaisedError leaves the stacks as they were when it was fired. The
//     code that catches it (a try, the top level) restores them with
//     catch_at(), passing the frame record it pushed. Popping a function
//     frame (type 1) always restores its context's values word.
//   - A stack context's values word (context cell word 2) holds the arena
//     offset of the first argument cell (the data stack is an arena block).
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/arena.h"
#include "runtime/cell.h"
#include "runtime/error.h"
#include "runtime/series.h"

namespace kiv {

// Unwind codes, ordered: a catch level admits every code at or below it.
// Every function that runs Kiv code returns one; it must not be dropped
// (UNWIND_NONE when the code ran to its end).
enum [[nodiscard]] Unwind : uint32_t{
    UNWIND_NONE = 0,
    UNWIND_THROW = 0x7FFFFFFA,
    UNWIND_EXIT = 0x7FFFFFFB,
    UNWIND_RETURN = 0x7FFFFFFC,
    UNWIND_CONTINUE = 0x7FFFFFFD,
    UNWIND_BREAK = 0x7FFFFFFE,
    UNWIND_ERROR = 0x7FFFFFFF,
};

namespace stack {

constexpr uint32_t DATA_CELLS = 20000;
constexpr uint32_t FRAME_CELLS = 15000;  // seen as 12,000 frames of 20 bytes
constexpr uint32_t FRAME_COUNT = FRAME_CELLS * 16 / 20;

// Frame types (bits 24-27 of the header) and flags.
enum FrameType : uint32_t {
    FRAME_FUNCTION = 1,
    FRAME_NATIVE = 2,
    FRAME_TRY = 4,
    FRAME_TRY_ALL = 5,
    FRAME_CATCH = 6,
    FRAME_EVAL = 7,
    FRAME_LOOP = 8,
};
constexpr uint32_t FRAME_TYPE_SHIFT = 24;
constexpr uint32_t FRAME_TYPE_MASK = 0x0F000000u;
constexpr uint32_t FRAME_RETURN_TARGET = 0x10000000u;  // bit 28: return/exit stop here
constexpr uint32_t FRAME_EVALUATING = 0x80000000u;     // bit 31: pushed by the interpreter
// Bit 29, catch frames: made by catch/name. Its names (a word or a block of
// words) sit in the second argument cell of the catch native (the cell after
// the frame's saved base + 1), and a throw stops here only when it is named
// by them (or when the block holds something else, which catch refuses).
constexpr uint32_t FRAME_NAMED_CATCH = 0x20000000u;

// Header bits added by each push operation.
constexpr uint32_t MARK_FUNC = 0x01000000u;
constexpr uint32_t MARK_NATIVE = 0x02000000u;
constexpr uint32_t MARK_FUNC_ON_STACK = 0x12000000u;
constexpr uint32_t MARK_INTERP_NATIVE = 0x82000000u;
constexpr uint32_t MARK_INTERP_FUNC = 0x81000000u;
constexpr uint32_t MARK_TRY = 0x04000000u;
constexpr uint32_t MARK_TRY_ALL = 0x05000000u;
constexpr uint32_t MARK_CATCH = 0x06000000u;
constexpr uint32_t MARK_EVAL = 0x87000000u;
// A function body evaluated by the interpreter: one frame serves as the
// return target and as the evaluation frame of the body block.
constexpr uint32_t MARK_BODY = 0x92000000u;
constexpr uint32_t MARK_LOOP = 0x08000000u;

struct Frame {
    uint32_t header;        // symbol id << 8 | type << 24 | flags
    uint32_t saved_offset;  // caller's argument base, as a byte offset from the data-stack bottom
                            // (no scaling on a push or a pop); saved_base() gives the cell
    Off binding;            // context node of the naming word (0 when unbound)
    Off function_context;   // type-1 frames: the function's context node
    Off saved_values;       // type-1 frames: the context's values word at push time;
                            // frames of the interpreter that evaluate a block (eval,
                            // function bodies, single expressions): its node, which
                            // the collector marks so the block outlives its references

    uint32_t type() const { return (header & FRAME_TYPE_MASK) >> FRAME_TYPE_SHIFT; }
    uint32_t symbol() const { return (header >> 8) & 0xFFFFu; }
    // The caller's argument base as a cell index from the data-stack bottom.
    uint32_t saved_index() const { return saved_offset / sizeof(Cell); }
};
static_assert(sizeof(Frame) == 20, "call frames are 20 bytes");

extern Cell* bottom;
extern Cell* top;       // next free cell
extern Cell* arg_base;  // first argument of the call in progress = its result slot
extern Cell* limit;
extern Frame* frames_bottom;
extern Frame* frames_top;  // next free frame
extern Frame* frames_limit;

// A frame's saved base, kept as a byte offset from the bottom.
inline uint32_t byte_offset(const Cell* base) {
    return uint32_t(reinterpret_cast<const uint8_t*>(base) - reinterpret_cast<const uint8_t*>(bottom));
}
inline Cell* saved_base(const Frame* f) {
    return reinterpret_cast<Cell*>(reinterpret_cast<uint8_t*>(bottom) + f->saved_offset);
}

// Allocates both stacks (fixed series) and empties them.
void init();

// ---- Data stack ----------------------------------------------------------------
// Raises internal stack-overflow for a reservation that would reach the limit:
// the top is left 5 cells below the attempted new top and the cycle stack is
// emptied first. At most DATA_CELLS - 1 cells are ever in use.
[[noreturn]] void data_overflow(Cell* attempted_top);
// Reserves the top cell (set to unset!); overflow raises.
inline Cell* push_slot() {
    Cell* slot = top;
    if (slot + 1 >= limit) [[unlikely]]
        data_overflow(slot + 1);
    top = slot + 1;
    // The collector scans every cell below the top, and the caller may
    // allocate before it fills the slot: it must not hold a stale value.
    *slot = Cell{TYPE_UNSET, 0, 0, 0};
    return slot;
}
// Copies the value into a new top cell (the value may lie on the stack).
// One 16-byte copy: nothing runs between the reservation and the store.
inline Cell* push(const Cell& value) {
    Cell* slot = top;
    if (slot + 1 >= limit) [[unlikely]]
        data_overflow(slot + 1);
    std::memmove(slot, &value, sizeof(Cell));
    top = slot + 1;
    return slot;
}
void pop(uint32_t n);  // never below the bottom
inline void reset() {
    top = arg_base;
}
inline void keep() {
    top = arg_base + 1;
}
inline void set_last(const Cell& v) {
    copy_cell(&v, arg_base);
}
// Restores the data top when a helper leaves (normally or by error). A
// helper that returns an unwind code passes it through pass(): the exit has
// trimmed the stacks to its target, so the top is left as it is.
struct TopMark {
    Cell* saved = top;
    Unwind pass(Unwind code) {
        saved = nullptr;
        return code;
    }
    ~TopMark() {
        if (saved) top = saved;
    }
};
// The data top, the argument base and the frame top before a step whose
// raised error is answered on the spot, where none of the step's frames
// needs unwinding one by one: restore() puts all three back.
struct Marks {
    Cell* const saved_top = top;
    Cell* const saved_arg_base = arg_base;
    Frame* const saved_frames = frames_top;
    void restore() const {
        top = saved_top;
        arg_base = saved_arg_base;
        frames_top = saved_frames;
    }
};
inline void set_last_keep(const Cell& v) {
    copy_cell(&v, arg_base);
    top = arg_base + 1;
}
inline Cell* top_cell() {
    return top > bottom ? top - 1 : bottom;
}
inline Cell* arg(uint32_t i) {
    return arg_base + i;
}

// ---- Frames ------------------------------------------------------------------------
// Each push names the call by a word cell (or null for anonymous) and returns
// the new argument base (the data top). Pushes and pops run on every call,
// so they are inline; only the overflow report is out of line.
[[noreturn]] void frame_overflow();
// Writes the next frame, each field once, and starts its arguments at the
// data top.
inline Cell* push_frame(const Cell* word, uint32_t bits, Off context, Off saved_values) {
    Frame* f = frames_top;
    if (f >= frames_limit) [[unlikely]]
        frame_overflow();
    uint32_t symbol = word ? word->w2 & 0xFFFFu : 0;
    f->header = (symbol << 8) | bits;
    f->saved_offset = byte_offset(arg_base);
    f->binding = word ? word->w1 : 0;
    f->function_context = context;
    f->saved_values = saved_values;
    frames_top = f + 1;
    arg_base = top;
    return arg_base;
}
inline Cell* mark(const Cell* word, uint32_t bits) {
    return push_frame(word, bits, 0, 0);
}
// A function frame (its bits: MARK_FUNC, or MARK_INTERP_FUNC for a call the
// interpreter makes): the context's values word is kept for the pop.
inline Cell* mark_func(const Cell* word, Off context, uint32_t bits = MARK_FUNC) {
    return push_frame(word, bits, context, context ? buffer_of(context)->head_cell()->w2 : 0);
}
// Points the stack context at the values from the argument base. Word 3 of
// the context cell receives the number of value cells the call has (the
// cells up to the data top), which bounds the interpreter's direct reads of
// local words; a frame pop restores word 2 only (a later call of the same
// context lays out the same cells).
inline Cell* mark_on_stack(const Cell* word, Off context, uint32_t bits) {
    if (context) {
        Cell* cc = buffer_of(context)->head_cell();
        cc->w2 = arena::off(arg_base);
        cc->w3 = uint32_t(top - arg_base);
    }
    return mark(word, bits);
}
inline Cell* mark_func_on_stack(const Cell* word, Off context) {
    return mark_on_stack(word, context, MARK_FUNC_ON_STACK);
}
inline Cell* mark_native(const Cell* word) {
    return mark(word, MARK_NATIVE);
}
inline Cell* mark_try(const Cell* word) {
    return mark(word, MARK_TRY);
}
inline Cell* mark_try_all(const Cell* word) {
    return mark(word, MARK_TRY_ALL);
}
inline Cell* mark_catch(const Cell* word) {
    return mark(word, MARK_CATCH);
}
inline Cell* mark_loop(const Cell* word) {
    return mark(word, MARK_LOOP);
}
inline Cell* mark_eval(const Cell* word) {
    return mark(word, MARK_EVAL);
}
inline Frame* ctop() {
    return frames_top > frames_bottom ? frames_top - 1 : nullptr;
}

// Pops the topmost frame (restoring a function frame's context when
// `restore`); returns the callee's base.
[[gnu::always_inline]] inline Cell* pop_frame(bool restore) {
    Cell* callee = arg_base;
    if (frames_top > frames_bottom) [[likely]] {
        Frame* f = --frames_top;
        if (restore && f->type() == FRAME_FUNCTION && f->function_context != 0)
            buffer_of(f->function_context)->head_cell()->w2 = f->saved_values;
        arg_base = saved_base(f);
    }
    return callee;
}
// Pops the topmost frame, which the caller knows to be a function frame
// (its context's values word restored).
inline void pop_func_frame() {
    Frame* f = --frames_top;
    if (f->function_context) buffer_of(f->function_context)->head_cell()->w2 = f->saved_values;
    arg_base = saved_base(f);
}
[[gnu::always_inline]] inline void unwind() {
    top = pop_frame(false) + 1;
}
// unwind() for a frame the caller pushed itself and knows to be no
// function frame: no test for an empty frame stack.
[[gnu::always_inline]] inline void unwind_own() {
    Cell* callee = arg_base;
    arg_base = saved_base(--frames_top);
    top = callee + 1;
}
inline void unwind_func() {
    top = pop_frame(true) + 1;
}
inline void unwind_func_drop() {
    pop_frame(true);
    top = arg_base;
}
inline void unwind_drop() {
    pop_frame(false);
    top = arg_base;
}
inline void unwind_last() {
    Cell* callee = pop_frame(false);
    copy_cell(callee, arg_base);
    top = callee + 1;
}
inline void unwind_func_last() {
    Cell* callee = pop_frame(true);
    copy_cell(callee, arg_base);
    top = callee + 1;
}
void unwind_checked();
void unroll(uint32_t type, bool keep);
void unroll_last(uint32_t type);
inline void unroll_loop(bool keep) {
    unroll(FRAME_LOOP, keep);
}

// ---- Non-local exits: trim the stacks and return the code to pass up ---------
// break (with /return value when has_value) and continue: the nearest loop frame.
Unwind throw_break(bool has_value, bool is_continue);
// return (has_value) and exit: the nearest frame with the return-target bit.
// Unless from_top, the topmost frame (the native frame of return/exit) is
// dropped before the search.
Unwind throw_exit(bool has_value, bool from_top);
// throw: drops the topmost frame (throw's own), then finds the nearest catch
// frame; the catch's base receives the thrown value (former argument base)
// and the cell after it (the /name argument). Returns `code`.
Unwind throw_value(Unwind code);

// The frame where the throw in progress started (0 when none); read and
// cleared by caller_frame (word::caller).
extern Frame* throw_position;

// ---- Errors -----------------------------------------------------------------------
// Restores both stacks at the code that pushed `frame` (a try frame, usually)
// after a RaisedError: pops every frame from the top down to and including
// `frame` (restoring function contexts), sets the argument base to the base
// in force before `frame` was pushed and keeps only the result slot. Calling
// it again for the same frame changes nothing more.
void catch_at(Frame* frame);
// Trims the stacks to the nearest try or try/all frame as an uncaught error
// needs (the try frame itself is popped, the data top kept), then rethrows
// the error. With no try frame, both stacks end empty and the error goes on
// to the top level.
[[noreturn]] void throw_error(const RaisedError& error);
// Pops every frame (restoring function contexts) and empties the data stack.
void reset_all();

// ---- Inspection --------------------------------------------------------------------
inline uint32_t top_type() {
    return top_cell()->type();
}
inline uint32_t index_of(const Cell* c) {
    return uint32_t(c - bottom);
}
inline uint32_t frame_count() {
    return uint32_t(frames_top - frames_bottom);
}
// When the topmost value is an error!, copies it into the result slot; then
// keeps only the result slot.
void keep_thrown();
// Starting below `frame` (below the frame top when null): true when a frame
// pushed by the interpreter (bit 31) is met; only_one examines one frame.
bool eval_q(const Frame* frame, bool only_one);

// Symbol ids of the fixed words <body> and <anon>, whose frames call traces
// skip. 0 until the fixed words exist.
extern uint32_t body_symbol;
extern uint32_t anon_symbol;
// The frame naming the caller for an error's `where`: from the throw
// position (else the topmost frame) down, the first frame not named <body>
// or <anon>; null below the bottom. Clears the throw position.
Frame* caller_frame();
// The word for an error's `where` is word::caller() (datatypes/word.h),
// which turns caller_frame()'s symbol and binding into a word.

// The case-insensitive canonical id of a symbol, for matching a throw's name
// with its catch; the symbol table installs it (identity until then).
extern uint32_t (*canonical_symbol)(uint32_t id);

}  // namespace stack
}  // namespace kiv
