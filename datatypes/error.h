// error!: errors are values. An error is an object (datatypes/object.h) with
// ten fixed fields that names a category and an id of the error catalog and
// carries up to three arguments and where it happened.
//
// Cell: the object layout with type 34, class id always 1 (object::
// ERROR_CLASS), on-set data always 0 (errors have no change hooks).
//
// Fields, in this order (every error is a copy of the error prototype):
//   0 code   integer!: category number x 100 + id position
//   1 type   word!: the category (throw note syntax script math access
//            reserved1 reserved2 user internal)
//   2 id     word!: the id within the category
//   3-5 arg1 arg2 arg3   the arguments, none when not given
//   6 near   the code being evaluated when the error was made
//   7 where  the word of the function in which it happened (none until set)
//   8 stack  while raised: integer! call-frame position; after capture: a
//            block! of frame words; none otherwise
//   9 files  block! of the script files being run when captured, else none
//
// The catalog object (`system/catalog/errors`) is built here from the
// constant table of runtime/error_catalog.h: its words are the ten
// categories in order (category number = word position); each category is
// an object whose words are `code`, `type` (the title text) and then the ids
// (id position = word position - 2), each holding its message template.
//
// The prototype and the catalog are made once (error::init_values, after the
// fixed words) and kept in the root block. fire() (runtime/error.h) builds every
// runtime error through create_named; before init the errors raised carry
// only their category and id names.
//
// The interpreter, the library and the console fill in what this layer
// cannot know; each hook below defaults to "nothing known".
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/error.h"
#include "datatypes/actions.h"

namespace kiv::error {

enum Field : uint32_t {
    FIELD_CODE = 0,
    FIELD_TYPE,
    FIELD_ID,
    FIELD_ARG1,
    FIELD_ARG2,
    FIELD_ARG3,
    FIELD_NEAR,
    FIELD_WHERE,
    FIELD_STACK,
    FIELD_FILES,
    FIELD_COUNT,
};

// Characters of `near` (and of `files`) shown by form, and of each argument.
constexpr int32_t NEAR_LIMIT = 40;
constexpr int32_t ARG_LIMIT = 80;

// ---- Start-up ---------------------------------------------------------------------
// Builds the prototype and the catalog once (needs the symbol table, the
// global context and the fixed words); later calls do nothing. Also reserves
// the root cell that keeps the error in flight reachable.
void init_values();
// True once init_values has run.
bool ready();
// The catalog object (`system/catalog/errors`), built by init_values when needed;
// start-up stores it in the system object.
Cell build_catalog();
Cell catalog();
// The error prototype (an error! whose fields are all none).
Cell prototype();

// ---- Making errors ---------------------------------------------------------------------
// The error of the catalog words category/id (each a word; null args absent):
// pushes the error and returns it.
Cell* create(const Cell* category, const Cell* id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
// The same from the names (fire's path): returns the error value; the data
// stack is left as it was. Unknown names give an error with those words as
// type and id (formed as internal invalid-error).
Cell create_named(const char* category, const char* id, const Cell* args, int count);
// A new error of the catalog entry numbered `code` (category x 100 + id
// position) into `target` (a rooted cell); false, with nothing made, when
// the catalog has no such entry.
bool from_code(Cell* target, int32_t code);
// Copies the value into `where` when `where` is still none.
void set_where(const Cell* err, const Cell* value);
// Symbol ids of the `type` and `id` words (0 when not words).
uint32_t get_type(const Cell* err);
uint32_t get_id(const Cell* err);
// Position of the `stack` field.
constexpr uint32_t stack_field() {
    return FIELD_STACK;
}
// Address of a field's value (valid until the next allocation).
Cell* field(const Cell* err, Field f);
// The word of the Nth word-type entry (word!, get-word!, lit-word!,
// refinement!, from 0) in the current call frame's function spec block,
// as a word!; the word <anon> when there is none.
Cell get_call_argument(int32_t n);
// Turns an integer `stack` field into a block of frame words and fills
// `files` from the running scripts.
void capture_stack(const Cell* err);

// ---- Text ----------------------------------------------------------------------------------
// Appends the message block's values with their arguments (formed for
// syntax errors, molded flat otherwise, each cut at ARG_LIMIT characters),
// one space between values; returns the budget less the characters added.
int32_t reform_message(const Cell* message, Cell* out, const Cell* err, int32_t budget);
// The formed error as UTF-8 text.
std::string form_text(const Cell& err);

// ---- Hooks filled by other layers ------------------------------------------------------------
// The interpreter's current position (copied into `near`); none when unknown.
using PositionSource = Cell (*)();
extern PositionSource current_position;
// The trace level `system/state/stack-trace` (0 when tracing is off).
using TraceLevel = int32_t (*)();
extern TraceLevel trace_level;
// `system/state/source-files` (a block, or none).
using SourceFiles = Cell (*)();
extern SourceFiles source_files;
// The call-frame words from a frame position at a trace level: appended to a
// block, or formed into a string (returning the budget left).
using CollectFrameWords = void (*)(int32_t level, Cell* block, int32_t position);
using FormFrameWords = int32_t (*)(int32_t level, int32_t position, Cell* out, int32_t budget);
extern CollectFrameWords collect_frame_words;
extern FormFrameWords form_frame_words;

// ---- Actions (signatures of datatypes/actions.h) ------------------------------------------
Outcome make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grandparent, Cell* previous,
                int32_t position, bool case_sensitive, bool get_path, bool last_element, bool notify_owner);
int32_t compare(Cell* value, Cell* other, int32_t op);

// Keeps the error being raised reachable for the collector (one root cell)
// until the next one replaces it.
void hold_in_flight(const Cell& err);

// Registers error! (after object!).
void init();

}  // namespace kiv::error

namespace kiv {
// The formed text of a raised error ("*** Script Error: ..."), also when the
// error value could not be built (the catalog's message with the arguments).
std::string raised_text(const RaisedError& e);
}  // namespace kiv
