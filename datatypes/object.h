// object!: a context with a self slot, a class id and optional change hooks.
//
// Object cell (id 32; error! 34 and port! 48 share the layout):
//   word 1  the context node (kind 2, has-self; datatypes/context.h)
//   word 2  the class id (signed)
//   word 3  node of the on-set data, 0 when the object has neither hook
//
// Invariants the rest of the code relies on:
//   - the self cell of the context (its second cell) holds a copy of the
//     object cell; every constructor stores it there last, so `self`
//     evaluates to the object and the context code can find the on-set data
//     of an object from its context alone;
//   - an object made from a prototype keeps the prototype's class id unless
//     its set of words differs; error objects always carry class id 1;
//   - setting a word of an object context sets header::WORD_SET on that
//     word's cell in the words series; reflecting `changed` reads the marks.
//
// On-set data: a series of two pair!-typed cells used as packed records,
// cell 0 for `on-change*`, cell 1 for `on-deep-change*`:
//   word 2  (index of the hook word in the context << 16) | local count; the
//           index reads back with an arithmetic shift, so 0xFFFF is -1 (no hook)
//   word 3  the hook function's specification node when the record was
//           last refreshed (a replaced hook function is noticed by it)
//
// Hooks: `on-change*` is called after a field is set (by a word in the
// object's context, a path, `set`, `put`), `on-deep-change*` when a series
// the object owns is modified in place. There is no re-entrancy guard: a
// hook that assigns a field of its own object runs again.
//
// Two call points connect objects to the interpreter, which installs them:
// `evaluate` runs a spec block (make object! / make error! bodies) and
// `call_hook` runs a hook function. Until installed they raise internal
// not-done. Both return the unwind code of the Kiv code they ran, and so
// does every function below that may run it: a non-zero code is passed up
// as it came, with the stacks as the exit left them (runtime/stack.h).
#pragma once

#include <cstdint>

#include "datatypes/context.h"
#include "runtime/cell.h"
#include "runtime/stack.h"
#include "datatypes/actions.h"

namespace kiv::object {

// Class id of every error!.
constexpr int32_t ERROR_CLASS = 1;

// ---- Cells ------------------------------------------------------------------------------
inline bool is_object_like(uint32_t type) {
    return type == TYPE_OBJECT || type == TYPE_ERROR || type == TYPE_PORT;
}
inline Off context_of(const Cell* obj) {
    return obj->w1;
}
inline int32_t class_of(const Cell* obj) {
    return int32_t(obj->w2);
}
inline Cell cell(Off ctx, int32_t class_id, Off on_set, uint32_t type = TYPE_OBJECT) {
    return Cell{type, ctx, uint32_t(class_id), on_set};
}

// ---- Class ids --------------------------------------------------------------------------
// Increments the class-id counter and returns it.
int32_t next_class_id();

// ---- Construction -------------------------------------------------------------------------
// Pushes an object cell and stores it in the context's self cell.
Cell* push(Off ctx, int32_t class_id, Off on_set);
// Makes the cell an object over a new empty object context (class id 0, no
// hooks) with room for `slots` words, stored in the self cell.
Cell* make_at(Cell* cell, uint32_t slots);
// Pushes an object for an existing context (an empty values series is first
// given one unset value per word) and stores it in the self cell.
Cell* push_context(Off ctx, int32_t class_id);
// Hook data given by compiled code: indexes (-1 when absent) and local counts
// of on-change* and on-deep-change*.
struct HookData {
    int32_t change_index;
    int32_t change_locals;
    int32_t deep_index;
    int32_t deep_locals;
};
// Builds the on-set data of the object on the stack top from the given
// indexes and counts (ownership bound when the deep index is not -1) and
// stores the object in its self cell.
void attach_hooks(const HookData& data);
// Builds the on-set data from the hook words of the context (none present:
// word 3 becomes 0), binds ownership when there is an on-deep-change* hook,
// and stores the object in the self cell. A hook word holding something
// other than a function! or routine! raises script bad-field-set.
void init_hooks(Cell* obj);
// Allocates the two-cell on-set data.
Off make_on_set_data(Off change_spec, Off deep_spec, int32_t change_index, int32_t deep_index,
                     int32_t change_locals, int32_t deep_locals);

// ---- Words and values ---------------------------------------------------------------------
// Index of the word's symbol in the object (case-insensitive), -1 when absent.
int32_t find_word(const Cell* obj, const Cell* word);
// The word's value, or the shared none value when absent (valid until the
// next allocation).
Cell* select_word(const Cell* obj, const Cell* word);
// Word n of the object's words series; its first word; the word count; the
// first value (pointers valid until the next allocation).
Cell* word_at(const Cell* obj, uint32_t n);
Cell* first_word(const Cell* obj);
uint32_t word_count(const Cell* obj);
Cell* get_values(const Cell* obj);
// The field a path element (a word of any kind) names in the object
// context: the element's own index when it is bound to that context, else
// the index of its symbol; -1 when the object lacks it. Allocates nothing.
// The path action and the interpreter's object steps find fields by it.
inline int32_t path_field(Off ctx, const Cell* element) {
    return context::find_bound_word(ctx, element);
}
// path_field with the field's value and word cells (context::Field).
inline context::Field path_field_cells(Off ctx, const Cell* element) {
    return context::find_bound_field(ctx, element);
}
// True when a set-path may assign the field found at `index` for `symbol`:
// it exists and is not `self`. Whether a symbol is `self` in some case is
// fixed once it is added (symbols are never removed), so the symbols found
// not to be are remembered in a small direct-mapped memo, which spares the
// common case the symbol table.
constexpr uint32_t NOT_SELF_MEMO = 16;
extern uint32_t not_self_memo[NOT_SELF_MEMO];
bool path_settable_found(uint32_t symbol);
inline bool path_settable(uint32_t symbol, int32_t index) {
    if (index < 0) return false;
    return not_self_memo[symbol % NOT_SELF_MEMO] == symbol || path_settable_found(symbol);
}
// Field n of the context set and its word marked set, nothing reported.
inline void set_field_quiet(Off ctx, uint32_t n, const Cell* value) {
    Cell v = *value;
    *context::values_at(ctx, n) = v;
    context::word_at(ctx, n)->header |= header::WORD_SET;
}
// A set-path's assignment of field n: the value stored, the word marked set,
// the change reported to on-change* (which may run Kiv code, whose
// non-local exit is returned).
Unwind set_path_field_notified(const Cell* obj, uint32_t n, const Cell* value);
inline Unwind set_path_field(const Cell* obj, uint32_t n, const Cell* value) {
    if (obj->w3 == 0) {
        set_field_quiet(obj->w1, n, value);
        return UNWIND_NONE;
    }
    return set_path_field_notified(obj, n, value);
}
// True when the word's value is an object whose context is `ctx`.
bool same_object_q(const Cell* word, Off ctx);
// True when value n of the context is an object whose context is `owner`.
bool is_owner_q(Off ctx, uint32_t n, Off owner);

// ---- Hooks ---------------------------------------------------------------------------------
// Calls on-change* (when the object has one) with the word, the old and the
// new value.
Unwind on_set_notify(const Cell* obj, const Cell* word, const Cell* old_value, const Cell* new_value);
// on_set_notify before a store: the word's value is the old value, the cell
// just below the stack top the new one.
Unwind on_set_word(const Cell* obj, const Cell* word);
// on_set_notify with the two topmost stack values as old and new value.
Unwind on_set_from_stack(const Cell* obj, const Cell* word);
// on_set_from_stack for the object in the context's self cell.
Unwind set_on_stack_top(Off ctx, const Cell* word);
// Calls on-deep-change* of the owner: (owner, word, target, action, new
// value or none, index, part). Called by the ownership registry.
Unwind on_deep_change(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                      const Cell* new_value, int32_t index, int32_t part);

// The call point of a hook: opens a function frame named by `frame_word`,
// pushes the `count` arguments and, when `locals` > 0, the absent /local
// refinement with its words, runs the function through the installed
// runner in the object's context, then unwinds the frame and restores the
// data stack (unless the function exited: then both stacks are the exit's).
Unwind call_hook(const Cell* function, Off object_ctx, const Cell* frame_word, const Cell* args, uint32_t count,
                 int32_t locals);
// The interpreter's half of call_hook: runs `function` whose frame is open
// and whose arguments start at the argument base; returns its unwind code.
using HookRunner = Unwind (*)(const Cell* function, Off object_ctx);
extern HookRunner hook_runner;

// The call point that evaluates a block already bound (the bodies of make
// object! and make error!). The result is left in a new top cell; returns
// the block's unwind code.
Unwind evaluate(const Cell* block);
using BlockEvaluator = Unwind (*)(const Cell* block);
extern BlockEvaluator block_evaluator;

// The ownership registry's entry points (installed by it): make the object
// the owner of its series / remove its ownership. Null: no ownership.
using OwnershipBind = void (*)(const Cell* obj, const Cell* word);
using OwnershipUnbind = void (*)(const Cell* obj);
extern OwnershipBind ownership_bind_set;
extern OwnershipUnbind ownership_unbind;

// ---- Constructors and copies ----------------------------------------------------------------
// The set native on an object target; returns the unwind code of a change
// hook it ran.
Unwind set_many(Cell* target, const Cell* value, bool any, bool only, bool some);
// The construct native: a new object from its spec's set-words, values not
// evaluated. `proto` may be null. Pushes the object and returns it.
Cell* construct(const Cell* spec, const Cell* proto, bool only);
// The set-word pass of construct.
void construct_words(Off ctx, const Cell* spec, bool only);
// Copies values slot by slot from a prototype (series copied, block-like
// ones bound to the target; with copy_all every other value as well).
void transfer_values(Off source, Off target, bool copy_all);
// The copy behind make with a prototype and the copy action: a new object
// with the same words into `target`; functions are rebuilt for the copy when
// asked, series (and nested objects) copied with deep.
Cell* copy_into(const Cell* proto, Cell* target, bool rebuild_functions, bool deep);
// Adds the words and values of the source object to ctx (values copied,
// functions rebuilt for `obj`); true when words were added.
bool extend_from(Off ctx, Off source, const Cell* obj);
// Rebuilds a function for a copied object: spec copied, body copied and
// bound to the new context. Replaces *fn.
void copy_function(Cell* fn, Off ctx);
// Copies values between two contexts by matching words (series copied).
void copy_values(Off source, Off target);

// Clears the new-line marker of every cell of a cell series.
void clear_new_lines(Off node);

// ---- Output ---------------------------------------------------------------------------------
int32_t mold_body(const Cell* obj, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
                  bool line, int32_t level, bool mold_flag);

// ---- Actions (signatures of datatypes/actions.h) ------------------------------------------
Outcome make(Cell* proto, Cell* spec, uint32_t type);
void reflect(Cell* value, uint32_t field_symbol);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grandparent, Cell* previous,
                int32_t position, bool case_sensitive, bool get_path, bool last_element, bool notify_owner);
int32_t compare(Cell* value, Cell* other, int32_t op);
Outcome copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
Outcome select(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
               Cell* with, Cell* skip, bool last, bool reverse);
Outcome put(Cell* series, Cell* key, Cell* value, bool case_sensitive);
Outcome modify(Cell* target, Cell* field, Cell* value, bool case_sensitive);

// Registers object! and installs the context layer's change report.
void init();

}  // namespace kiv::object
