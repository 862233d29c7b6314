// Fixed words of the runtime: the names the runtime compares and builds words
// from without looking them up by name each time.
//
// Start-up interns these once, right after the symbol hash table exists and
// before the natives and the boot image, and keeps each result in a global
// indexed by the constants below. Afterwards code compares symbol ids (or
// their case-insensitive twins), never text.
//
// Four lists, each in its interning order (the order is part of start-up and
// must not change):
//   SYMBOL_NAMES        113 symbol ids;
//   SYMBOL_WORD_SOURCES  26 words bound in the global context, made from
//                        symbol ids of the first list;
//   WORD_NAMES          105 words interned by name and bound in the global
//                        context;
//   REFINEMENT_NAMES      6 refinement values (interned, not bound).
// A name in several places is interned once: every global made from it holds
// the same symbol id (SYM_CODE and SYM_CODE_2, SW_COLLECT and SW_COLLECT_2).
//
// Each list is one X-macro, so its constants and its names cannot drift apart.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

// clang-format off
#define KIV_FIXED_SYMBOLS(X) \
    /* function specifications */ \
    X(SYM_SPEC, "spec") \
    X(SYM_BODY, "body") \
    X(SYM_WORDS, "words") \
    X(SYM_CLASS, "class") \
    X(SYM_LOGIC_T, "logic!") \
    X(SYM_INTEGER_T, "integer!") \
    X(SYM_CHAR_T, "char!") \
    X(SYM_FLOAT_T, "float!") \
    X(SYM_PERCENT_T, "percent!") \
    X(SYM_ANY_TYPE_T, "any-type!") \
    X(SYM_EXIT, "exit") \
    X(SYM_RETURN, "return") \
    /* operating systems */ \
    X(SYM_WINDOWS, "Windows") \
    X(SYM_SYLLABLE, "Syllable") \
    X(SYM_MACOS, "macOS") \
    X(SYM_LINUX, "Linux") \
    X(SYM_NETBSD, "NetBSD") \
    /* loop natives */ \
    X(SYM_REPEAT, "repeat") \
    X(SYM_FOREACH, "foreach") \
    X(SYM_MAP_EACH, "map-each") \
    X(SYM_REMOVE_EACH, "remove-each") \
    /* parse keywords */ \
    X(SYM_ANY, "any") \
    X(SYM_BREAK, "break") \
    X(SYM_COPY, "copy") \
    X(SYM_END, "end") \
    X(SYM_FAIL, "fail") \
    X(SYM_INTO, "into") \
    X(SYM_OPT, "opt") \
    X(SYM_NOT, "not") \
    X(SYM_QUOTE, "quote") \
    X(SYM_CASE, "case") \
    X(SYM_REJECT, "reject") \
    X(SYM_SET, "set") \
    X(SYM_SKIP, "skip") \
    X(SYM_SOME, "some") \
    X(SYM_THRU, "thru") \
    X(SYM_TO, "to") \
    X(SYM_NONE, "none") \
    X(SYM_PIPE, "|") \
    X(SYM_DASH, "-") \
    X(SYM_IF, "if") \
    X(SYM_REMOVE, "remove") \
    X(SYM_WHILE, "while") \
    X(SYM_INSERT, "insert") \
    X(SYM_ONLY, "only") \
    X(SYM_COLLECT, "collect") \
    X(SYM_KEEP, "keep") \
    X(SYM_PICK, "pick") \
    X(SYM_AHEAD, "ahead") \
    X(SYM_AFTER, "after") \
    /* point axes and objects */ \
    X(SYM_X, "x") \
    X(SYM_Y, "y") \
    X(SYM_Z, "z") \
    X(SYM_SELF, "self") \
    X(SYM_VALUES, "values") \
    X(SYM_OWNER, "owner") \
    X(SYM_OWNED, "owned") \
    X(SYM_EVENTS_Q, "events?") \
    /* logic words */ \
    X(SYM_TRUE, "true") \
    X(SYM_FALSE, "false") \
    X(SYM_YES, "yes") \
    X(SYM_NO, "no") \
    X(SYM_ON, "on") \
    X(SYM_OFF, "off") \
    /* event fields */ \
    X(SYM_TYPE, "type") \
    X(SYM_FACE, "face") \
    X(SYM_WINDOW, "window") \
    X(SYM_OFFSET, "offset") \
    X(SYM_KEY, "key") \
    X(SYM_FLAG, "flag") \
    X(SYM_CODE, "code") \
    X(SYM_PICKED, "picked") \
    X(SYM_FLAGS, "flags") \
    X(SYM_AWAY_Q, "away?") \
    X(SYM_CTRL_Q, "ctrl?") \
    X(SYM_SHIFT_Q, "shift?") \
    X(SYM_DOWN_Q, "down?") \
    X(SYM_MID_DOWN_Q, "mid-down?") \
    X(SYM_ALT_DOWN_Q, "alt-down?") \
    X(SYM_AUX_DOWN_Q, "aux-down?") \
    X(SYM_ORIENTATION, "orientation") \
    /* further words */ \
    X(SYM_GET, "get") \
    X(SYM_PUT, "put") \
    X(SYM_POST, "post") \
    X(SYM_HEAD, "head") \
    X(SYM_SIZE, "size") \
    X(SYM_RGB, "rgb") \
    X(SYM_ALPHA, "alpha") \
    X(SYM_ARGB, "argb") \
    /* date and time fields */ \
    X(SYM_DATE, "date") \
    X(SYM_YEAR, "year") \
    X(SYM_MONTH, "month") \
    X(SYM_DAY, "day") \
    X(SYM_ZONE, "zone") \
    X(SYM_ISOWEEK, "isoweek") \
    X(SYM_WEEK, "week") \
    X(SYM_WEEKDAY, "weekday") \
    X(SYM_YEARDAY, "yearday") \
    X(SYM_JULIAN, "julian") \
    X(SYM_TIME, "time") \
    X(SYM_HOUR, "hour") \
    X(SYM_MINUTE, "minute") \
    X(SYM_SECOND, "second") \
    X(SYM_TIMEZONE, "timezone") \
    /* further words */ \
    X(SYM_CODE_2, "code") /* same symbol as SYM_CODE */ \
    X(SYM_AMOUNT, "amount") \
    X(SYM_USER, "user") \
    X(SYM_HOST, "host") \
    /* preprocessor and tracing */ \
    X(SYM_SYSTEM, "system") \
    X(SYM_SYSTEM_GLOBAL, "system-global") \
    X(SYM_STACK, "stack") \
    X(SYM_TRACE, "trace") \
    X(SYM_NO_TRACE, "no-trace")

#define KIV_FIXED_SYMBOL_WORDS(X) \
    /* operating systems */ \
    X(SW_WINDOWS, SYM_WINDOWS) \
    X(SW_SYLLABLE, SYM_SYLLABLE) \
    X(SW_MACOS, SYM_MACOS) \
    X(SW_LINUX, SYM_LINUX) \
    X(SW_NETBSD, SYM_NETBSD) \
    /* parse keywords */ \
    X(SW_TO, SYM_TO) \
    X(SW_THRU, SYM_THRU) \
    X(SW_NOT, SYM_NOT) \
    X(SW_REMOVE, SYM_REMOVE) \
    X(SW_WHILE, SYM_WHILE) \
    X(SW_COLLECT, SYM_COLLECT) \
    X(SW_KEEP, SYM_KEEP) \
    X(SW_AHEAD, SYM_AHEAD) \
    X(SW_PIPE, SYM_PIPE) \
    X(SW_ANY, SYM_ANY) \
    X(SW_SOME, SYM_SOME) \
    X(SW_COPY, SYM_COPY) \
    X(SW_OPT, SYM_OPT) \
    X(SW_INTO, SYM_INTO) \
    X(SW_INSERT, SYM_INSERT) \
    X(SW_IF, SYM_IF) \
    X(SW_QUOTE, SYM_QUOTE) \
    X(SW_COLLECT_2, SYM_COLLECT) /* a second word for collect */ \
    X(SW_SET, SYM_SET) \
    X(SW_CASE, SYM_CASE) \
    X(SW_END, SYM_END)

#define KIV_FIXED_WORDS(X) \
    /* series actions, each with the word that reports its change to an owner object */ \
    X(W_AT, "at") \
    X(W_BACK, "back") \
    X(W_FIND, "find") \
    X(W_HEAD, "head") \
    X(W_HEAD_Q, "head?") \
    X(W_INDEX_Q, "index?") \
    X(W_LENGTH_Q, "length?") \
    X(W_NEXT, "next") \
    X(W_PICK, "pick") \
    X(W_SKIP, "skip") \
    X(W_SELECT, "select") \
    X(W_TAIL, "tail") \
    X(W_TAIL_Q, "tail?") \
    X(W_CHANGE, "change") \
    X(W_CHANGED, "changed") \
    X(W_CLEAR, "clear") \
    X(W_CLEARED, "cleared") \
    X(W_SET_PATH, "set-path") \
    X(W_APPEND, "append") \
    X(W_APPENDED, "appended") \
    X(W_MOVE, "move") \
    X(W_MOVED, "moved") \
    X(W_POKE, "poke") \
    X(W_POKED, "poked") \
    X(W_PUT, "put") \
    X(W_PUT_ED, "put-ed") \
    X(W_REMOVED, "removed") \
    X(W_RANDOM, "random") \
    X(W_RANDOMIZED, "randomized") \
    X(W_REVERSE, "reverse") \
    X(W_REVERSED, "reversed") \
    X(W_SORT, "sort") \
    X(W_SORTED, "sorted") \
    X(W_SWAP, "swap") \
    X(W_SWAPED, "swaped") \
    X(W_TAKE, "take") \
    X(W_TAKEN, "taken") \
    X(W_TRIM, "trim") \
    X(W_TRIMMED, "trimmed") \
    X(W_INSERTED, "inserted") \
    X(W_UPPERCASE, "uppercase") \
    X(W_LOWERCASE, "lowercase") \
    X(W_CHECKSUM, "checksum") \
    /* parse trace events */ \
    X(W_PUSH, "push") \
    X(W_POP, "pop") \
    X(W_FETCH, "fetch") \
    X(W_MATCH, "match") \
    X(W_ITERATE, "iterate") \
    X(W_PAREN, "paren") \
    /* placeholder names */ \
    X(W_ANON, "<anon>") \
    X(W_BODY, "<body>") \
    X(W_NOT_FOUND, "<not-found>") \
    /* actions */ \
    X(W_ADD, "add") \
    X(W_SUBTRACT, "subtract") \
    X(W_DIVIDE, "divide") \
    /* object and parse callbacks */ \
    X(W_ON_PARSE_EVENT, "on-parse-event") \
    X(W_ON_CHANGE_STAR, "on-change*") \
    X(W_ON_DEEP_CHANGE_STAR, "on-deep-change*") \
    /* further words */ \
    X(W_TYPE, "type") \
    X(W_ID, "id") \
    X(W_TRY, "try") \
    X(W_CATCH, "catch") \
    X(W_NAME, "name") \
    X(W_MULTIPLY, "multiply") \
    /* port actions */ \
    X(W_BROWSE, "browse") \
    X(W_OPEN, "open") \
    X(W_CREATE, "create") \
    X(W_CLOSE, "close") \
    X(W_DELETE, "delete") \
    X(W_MODIFY, "modify") \
    X(W_QUERY, "query") \
    X(W_READ, "read") \
    X(W_RENAME, "rename") \
    X(W_UPDATE, "update") \
    X(W_WRITE, "write") \
    /* lexer trace events */ \
    X(W_PRESCAN, "prescan") \
    X(W_SCAN, "scan") \
    X(W_LOAD, "load") \
    X(W_ERROR, "error") \
    X(W_COMMENT, "comment") \
    /* interpreter trace events */ \
    X(W_INIT, "init") \
    X(W_EXEC, "exec") \
    X(W_CALL, "call") \
    X(W_RETURN, "return") \
    X(W_ENTER, "enter") \
    X(W_EXIT, "exit") \
    X(W_PROLOG, "prolog") \
    X(W_EPILOG, "epilog") \
    X(W_THROW, "throw") \
    X(W_EXPR, "expr") \
    /* names of the callback frames */ \
    X(W_INTERP_CALLBACK, "<interp-callback>") \
    X(W_LEXER_CALLBACK, "<lexer-callback>") \
    X(W_PARSE_CALLBACK, "<parse-callback>") \
    X(W_COMPARE_CALLBACK, "<compare-callback>") \
    /* error categories */ \
    X(W_CAT_THROW, "throw") \
    X(W_CAT_NOTE, "note") \
    X(W_CAT_SYNTAX, "syntax") \
    X(W_CAT_SCRIPT, "script") \
    X(W_CAT_MATH, "math") \
    X(W_CAT_ACCESS, "access") \
    X(W_CAT_USER, "user") \
    X(W_CAT_INTERNAL, "internal") \
    X(W_INVALID_ERROR, "invalid-error") \
    /* locals */ \
    X(W_LOCAL, "local") \
    X(W_APPLIED, "<applied>")

#define KIV_FIXED_REFINEMENTS(X) \
    /* refinements */ \
    X(REF_LOCAL, "local") \
    X(REF_EXTERN, "extern") \
    X(REF_COMPARE, "compare") \
    X(REF_PART, "part") \
    X(REF_SKIP, "skip") \
    X(REF_WITH, "with")

// clang-format on

namespace kiv::fixed {

#define KIV_FIXED_ENUM(id, name) id,

enum Symbol : uint16_t { KIV_FIXED_SYMBOLS(KIV_FIXED_ENUM) SYMBOL_COUNT };
enum SymbolWord : uint16_t { KIV_FIXED_SYMBOL_WORDS(KIV_FIXED_ENUM) SYMBOL_WORD_COUNT };
enum Word : uint16_t { KIV_FIXED_WORDS(KIV_FIXED_ENUM) WORD_COUNT };
enum Refinement : uint16_t { KIV_FIXED_REFINEMENTS(KIV_FIXED_ENUM) REFINEMENT_COUNT };

#undef KIV_FIXED_ENUM

static_assert(SYMBOL_COUNT == 113);
static_assert(SYMBOL_WORD_COUNT == 26);
static_assert(WORD_COUNT == 105);
static_assert(REFINEMENT_COUNT == 6);

// Names as interned (UTF-8, case as written).
extern const char* const SYMBOL_NAMES[SYMBOL_COUNT];
extern const char* const WORD_NAMES[WORD_COUNT];
extern const char* const REFINEMENT_NAMES[REFINEMENT_COUNT];
// The symbol each bound word of the second list is made from.
extern const Symbol SYMBOL_WORD_SOURCES[SYMBOL_WORD_COUNT];

// ---- Interned values (filled by build) ---------------------------------------------
// Symbol ids of the first list (0 before build).
extern uint32_t sym[SYMBOL_COUNT];
// Bound global words of the second and third lists, and the refinement values
// (unbound refinement! cells); header 0 before build. The cells are copies:
// the words series they come from may move, these do not.
extern Cell symbol_words[SYMBOL_WORD_COUNT];
extern Cell words[WORD_COUNT];
extern Cell refinements[REFINEMENT_COUNT];
// A global block (kept in the root block) holding the refinement values.
extern Cell refinement_block;

// Binds every registered datatype name (ids 1..highest_type_id) to its word
// and stores the word in the datatype's name record. Runs after the symbol
// index and the global context exist.
void bind_type_names();
// Interns the four lists in their order and fills the globals above (with
// word recording on, so the words made are also kept in the root block).
// Also tells the call-frame stack the ids of <body> and <anon>.
void build();

// The canonical symbol id of a fixed name, interned on demand when build()
// has not run yet (early start-up).
uint32_t canonical(Symbol id);
uint32_t canonical(Refinement id);

}  // namespace kiv::fixed
