#include "evaluator/natives.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "runtime/stack.h"
#include "runtime/error.h"
#include "runtime/root.h"

namespace kiv::natives {

NativeFn natives_table[TABLE_SLOTS];
uint32_t next_number = 1;

const char* const NAMES[NATIVE_COUNT] = {
    "if",                 // 1
    "unless",             // 2
    "either",             // 3
    "any",                // 4
    "all",                // 5
    "while",              // 6
    "until",              // 7
    "loop",               // 8
    "repeat",             // 9
    "forever",            // 10
    "foreach",            // 11
    "forall",             // 12
    "remove-each",        // 13
    "func",               // 14
    "function",           // 15
    "does",               // 16
    "has",                // 17
    "switch",             // 18
    "case",               // 19
    "do",                 // 20
    "get",                // 21
    "set",                // 22
    "print",              // 23
    "prin",               // 24
    "equal?",             // 25
    "not-equal?",         // 26
    "strict-equal?",      // 27
    "lesser?",            // 28
    "greater?",           // 29
    "lesser-or-equal?",   // 30
    "greater-or-equal?",  // 31
    "same?",              // 32
    "not",                // 33
    "type?",              // 34
    "reduce",             // 35
    "compose",            // 36
    "stats",              // 37
    "bind",               // 38
    "in",                 // 39
    "parse",              // 40
    "union",              // 41
    "intersect",          // 42
    "unique",             // 43
    "difference",         // 44
    "exclude",            // 45
    "complement?",        // 46
    "dehex",              // 47
    "enhex",              // 48
    "negative?",          // 49
    "positive?",          // 50
    "max",                // 51
    "min",                // 52
    "shift",              // 53
    "to-hex",             // 54
    "sine",               // 55
    "cosine",             // 56
    "tangent",            // 57
    "arcsine",            // 58
    "arccosine",          // 59
    "arctangent",         // 60
    "arctangent2",        // 61
    "NaN?",               // 62
    "log-2",              // 63
    "log-10",             // 64
    "log-e",              // 65
    "exp",                // 66
    "square-root",        // 67
    "construct",          // 68
    "value?",             // 69
    "try",                // 70
    "uppercase",          // 71
    "lowercase",          // 72
    "as-pair",            // 73
    "as-point2D",         // 74
    "as-point3D",         // 75
    "as-money",           // 76
    "break",              // 77
    "continue",           // 78
    "exit",               // 79
    "return",             // 80
    "throw",              // 81
    "catch",              // 82
    "extend",             // 83
    "debase",             // 84
    "to-local-file",      // 85
    "wait",               // 86
    "checksum",           // 87
    "unset",              // 88
    "new-line",           // 89
    "new-line?",          // 90
    "enbase",             // 91
    "context?",           // 92
    "set-env",            // 93
    "get-env",            // 94
    "list-env",           // 95
    "now",                // 96
    "sign?",              // 97
    "as",                 // 98
    "call",               // 99
    "zero?",              // 100
    "size?",              // 101
    "browse",             // 102
    "compress",           // 103
    "decompress",         // 104
    "recycle",            // 105
    "transcode",          // 106
    "apply",              // 107
};

const char* const SPECS[NATIVE_COUNT] = {
    "[\"If conditional expression is truthy, evaluate block; else return NONE\" cond [any-type!] then-blk "
    "[block!]]",
    "[\"If conditional expression is falsy, evaluate block; else return NONE\" cond [any-type!] then-blk "
    "[block!]]",
    "[\"If conditional expression is truthy, evaluate the first branch; else evaluate the alternative\" cond "
    "[any-type!] true-blk [block!] false-blk [block!]]",
    "[\"Evaluates and returns the first truthy value, if any; else NONE\" conds [block!]]",
    "[\"Evaluates and returns the last value if all are truthy; else NONE\" conds [block!]]",
    "[\"Evaluates body as long as condition block evaluates to truthy value\" cond [block!] body [block!]]",
    "[\"Evaluates body until it is truthy\" body [block!]]",
    "[\"Evaluates body a number of times\" count [integer! float!] body [block!]]",
    "[\"Evaluates body a number of times, tracking iteration count\" 'word [word!] value [integer! float!] "
    "body [block!]]",
    "[\"Evaluates body repeatedly forever\" body [block!]]",
    "[\"Evaluates body for each value in a series\" 'word [word! block!] series [series! map!] body "
    "[block!]]",
    "[\"Evaluates body for all values in a series\" 'word [word!] body [block!]]",
    "[\"Removes values for each block that returns truthy value\" 'word [word! block!] data [series!] body "
    "[block!]]",
    "[\"Defines a function with a given spec and body\" spec [block!] body [block!]]",
    "[\"Defines a function, making all set-words found in body, local\" spec [block!] body [block!] /extern]",
    "[\"Defines a function with no arguments or local variables\" body [block!]]",
    "[\"Defines a function with local variables, but no arguments\" vars [block!] body [block!]]",
    "[\"Evaluates the first block following the value found in cases\" value [any-type!] cases [block!] "
    "/default case [block!]]",
    "[\"Evaluates the block following the first truthy condition\" cases [block!] /all]",
    "[\"Evaluates a value, returning the last evaluation result\" value [any-type!] /expand /args arg /next "
    "position [word!] /trace callback [function!]]",
    "[\"Returns the value a word refers to\" word [any-word! any-path! object!] /any /case return: "
    "[any-type!]]",
    "[\"Sets the value(s) one or more words refer to\" word [any-word! block! object! any-path!] value "
    "[any-type!] /any /case /only /some return: [any-type!]]",
    "[\"Outputs a value followed by a newline\" value [any-type!]]",
    "[\"Outputs a value\" value [any-type!]]",
    "[\"Returns TRUE if two values are equal\" value1 [any-type!] value2 [any-type!]]",
    "[\"Returns TRUE if two values are not equal\" value1 [any-type!] value2 [any-type!]]",
    "[\"Returns TRUE if two values are equal, and also the same datatype\" value1 [any-type!] value2 "
    "[any-type!]]",
    "[\"Returns TRUE if the first value is less than the second\" value1 [any-type!] value2 [any-type!]]",
    "[\"Returns TRUE if the first value is greater than the second\" value1 [any-type!] value2 [any-type!]]",
    "[\"Returns TRUE if the first value is less than or equal to the second\" value1 [any-type!] value2 "
    "[any-type!]]",
    "[\"Returns TRUE if the first value is greater than or equal to the second\" value1 [any-type!] value2 "
    "[any-type!]]",
    "[\"Returns TRUE if two values have the same identity\" value1 [any-type!] value2 [any-type!]]",
    "[\"Returns the logical complement of a value (truthy or falsy)\" value [any-type!]]",
    "[\"Returns the datatype of a value\" value [any-type!] /word]",
    "[\"Returns a copy of a block, evaluating all expressions\" value [any-type!] /into out [any-block!]]",
    "[\"Returns a copy of a block, evaluating only parens\" value [block!] /deep /only /into out "
    "[any-block!]]",
    "[\"Returns interpreter statistics\" /show /info return: [integer! block!]]",
    "[\"Bind words to a context; returns rebound words\" word [block! any-word!] context [any-word! "
    "any-object! function!] /copy return: [block! any-word!]]",
    "[\"Returns the given word bound to the object's context\" object [any-object! any-function!] word "
    "[any-word! refinement!]]",
    "[\"Process a series using dialected grammar rules\" input [binary! any-block! any-string!] rules "
    "[block!] /case /part length [number! series!] /trace callback [function!] return: [logic! block!]]",
    "[\"Returns the union of two data sets\" set1 [block! hash! string! bitset! typeset!] set2 [block! hash! "
    "string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!]]",
    "[\"Returns the intersection of two data sets\" set1 [block! hash! string! bitset! typeset!] set2 "
    "[block! hash! string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! "
    "bitset! typeset!]]",
    "[\"Returns the data set with duplicates removed\" set [block! hash! string!] /case /skip size "
    "[integer!] return: [block! hash! string!]]",
    "[\"Returns the special difference of two data sets\" set1 [block! hash! string! bitset! typeset! date!] "
    "set2 [block! hash! string! bitset! typeset! date!] /case /skip size [integer!] return: [block! hash! "
    "string! bitset! typeset! time!]]",
    "[\"Returns the first data set less the second data set\" set1 [block! hash! string! bitset! typeset!] "
    "set2 [block! hash! string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! "
    "bitset! typeset!]]",
    "[\"Returns TRUE if the bitset is complemented\" bits [bitset!]]",
    "[\"Converts URL-style hex encoded (%xx) strings\" value [any-string!] return: [string!]]",
    "[\"Encode URL-style hex encoded (%xx) strings\" value [any-string!] return: [string!]]",
    "[\"Returns TRUE if the number is negative\" number [number! money! time!] return: [logic!]]",
    "[\"Returns TRUE if the number is positive\" number [number! money! time!] return: [logic!]]",
    "[\"Returns the greater of the two values\" value1 [scalar! series!] value2 [scalar! series!]]",
    "[\"Returns the lesser of the two values\" value1 [scalar! series!] value2 [scalar! series!]]",
    "[\"Perform a bit shift operation. Right shift (decreasing) by default\" data [integer!] bits [integer!] "
    "/left /logical return: [integer!]]",
    "[\"Converts numeric value to a hex issue! datatype (with leading # and 0's)\" value [integer!] /size "
    "length [integer!] return: [issue!]]",
    "[\"Returns the trigonometric sine\" angle [float! integer!] /radians return: [float!]]",
    "[\"Returns the trigonometric cosine\" angle [float! integer!] /radians return: [float!]]",
    "[\"Returns the trigonometric tangent\" angle [float! integer!] /radians return: [float!]]",
    "[\"Returns the trigonometric arcsine in degrees in range [-90,90]\" sine [float! integer!] /radians "
    "return: [float!]]",
    "[\"Returns the trigonometric arccosine in degrees in range [0,180]\" cosine [float! integer!] /radians "
    "return: [float!]]",
    "[\"Returns the trigonometric arctangent in degrees in range [-90,90]\" tangent [float! integer!] "
    "/radians return: [float!]]",
    "[\"Returns the smallest angle between the vectors (1,0) and (x,y) in degrees (-180,180]\" y [float! "
    "integer!] x [float! integer!] /radians return: [float!]]",
    "[\"Returns TRUE if the number is Not-a-Number\" value [number!] return: [logic!]]",
    "[\"Return the base-2 logarithm\" value [float! integer! percent!] return: [float!]]",
    "[\"Returns the base-10 logarithm\" value [float! integer! percent!] return: [float!]]",
    "[\"Returns the natural (base-E) logarithm of the given value\" value [float! integer! percent!] return: "
    "[float!]]",
    "[\"Raises E (the base of natural logarithm) to the power specified\" value [float! integer! percent!] "
    "return: [float!]]",
    "[\"Returns the square root of a number\" value [float! integer! percent!] return: [float!]]",
    "[\"Makes a new object from an unevaluated spec; standard logic words are evaluated\" block [block!] "
    "/with object [object!] /only]",
    "[\"Returns TRUE if the word has a value\" value [word!] return: [logic!]]",
    "[\"Tries to DO a block and returns its value or an error\" block [block!] /all /keep]",
    "[\"Converts string of characters to uppercase\" string [any-string! char!] /part limit [number! "
    "any-string!] return: [any-string! char!]]",
    "[\"Converts string of characters to lowercase\" string [any-string! char!] /part limit [number! "
    "any-string!] return: [any-string! char!]]",
    "[\"Combine X and Y values into a pair\" x [integer! float!] y [integer! float!]]",
    "[\"Combine X and Y values into a 2D point\" x [integer! float!] y [integer! float!]]",
    "[\"Combine X, Y and Z values into a 3D point\" x [integer! float!] y [integer! float!] z [integer! "
    "float!]]",
    "[\"Combine currency code and amount into a monetary value\" currency [word!] amount [integer! float!] "
    "return: [money!]]",
    "[\"Breaks out of a loop, while, until, repeat, foreach, etc\" /return value [any-type!]]",
    "[\"Throws control back to top of loop\"]",
    "[\"Exits a function, returning no value\"]",
    "[\"Returns a value from a function\" value [any-type!]]",
    "[\"Throws control back to a previous catch\" value [any-type!] /name word [word!]]",
    "[\"Catches a throw from a block and returns its value\" block [block!] /name word [word! block!]]",
    "[\"Extend an object or map value with list of key and value pairs\" obj [object! map!] spec [block! "
    "hash! map!] /case]",
    "[\"Decodes binary-coded string (BASE-64 default) to binary value\" value [string!] /base base-value "
    "[integer!]]",
    "[\"Converts a Kiv file path to the local system file path\" path [file! string!] /full return: "
    "[string!]]",
    "[\"Waits for a duration in seconds or specified time\" value [number! time! block! none!] /all]",
    "[\"Computes a checksum, CRC, hash, or HMAC\" data [binary! string! file!] method [word!] /with spec "
    "[any-string! binary! integer!] return: [integer! binary!]]",
    "[\"Unsets the value of a word in its current context\" word [word! block!]]",
    "[\"Sets or clears the new-line marker within a list series\" position [any-list!] value [logic!] /all "
    "/skip size [integer!] return: [any-list!]]",
    "[\"Returns the state of the new-line marker within a list series\" position [any-list!] return: "
    "[logic!]]",
    "[\"Encodes a string into a binary-coded string (BASE-64 default)\" value [binary! string!] /base "
    "base-value [integer!]]",
    "[\"Returns the context to which a word is bound\" word [any-word!] return: [object! function! none!]]",
    "[\"Sets the value of an operating system environment variable (for current process)\" var [any-string! "
    "any-word!] value [string! none!]]",
    "[\"Returns the value of an OS environment variable (for current process)\" var [any-string! any-word!] "
    "return: [string! none!]]",
    "[\"Returns a map of OS environment variables (for current process)\" return: [map!]]",
    "[\"Returns date and time\" /year /month /day /time /zone /date /weekday /yearday /precise /utc return: "
    "[date! time! integer!]]",
    "[\"Returns sign of N as 1, 0, or -1 (to use as a multiplier)\" number [number! money! time!] return: "
    "[integer!]]",
    "[\"Coerce a series into a compatible datatype without copying it\" type [datatype! block! paren! "
    "any-path! any-string!] spec [block! paren! any-path! any-string!]]",
    "[\"Executes a shell command to run another process\" cmd [string! file!] /wait /show /console /shell "
    "/input in [string! file! binary!] /output out [string! file! binary!] /error err [string! file! "
    "binary!] return: [integer!]]",
    "[\"Returns TRUE if the value is zero\" value [number! money! pair! time! char! tuple! any-point!] "
    "return: [logic!]]",
    "[\"Returns the size of a file content\" file [file!] return: [integer! none!]]",
    "[\"Opens the URL in a web browser or the file in the associated application\" url [url! file!]]",
    "[\"Compresses data\" data [any-string! binary!] method [word!] return: [binary!]]",
    "[\"Decompresses data\" data [binary!] method [word!] /size sz [integer!] return: [binary!]]",
    "[\"Recycles unused memory and returns memory amount still in use\" /on /off return: [integer! unset!]]",
    "[\"Translates UTF-8 binary source to values. Returns one or several values in a block\" src [binary! "
    "string!] /next /one /prescan /scan /part length [integer! binary!] /into dst [block!] /trace callback "
    "[function! routine!] return: [block!]]",
    "[\"Apply a function to a reduced block of arguments\" func [word! path! any-function!] args [block!] "
    "/all /safer]",
};

namespace {

// Root-block index of the print worker's working block (0: not made yet).
uint32_t working_slot = 0;

// A native whose step is not built yet: raises internal not-done naming it.
template <uint32_t N>
uint32_t not_done(bool, const int32_t*) {
    fire("internal", "not-done", word::load(NAMES[N - 1]));
}

// The entries in native-number order.
const NativeFn entries[NATIVE_COUNT] = {
    if_,
    unless,
    either,
    any,
    all,
    while_,
    until,
    loop,
    repeat,
    forever,
    foreach,
    forall,
    remove_each,
    func,
    function,
    does,
    has,
    switch_,
    case_,
    do_,
    get,
    set,
    print,
    prin,
    equal_q,
    not_equal_q,
    strict_equal_q,
    lesser_q,
    greater_q,
    lesser_or_equal_q,
    greater_or_equal_q,
    same_q,
    not_,
    type_q,
    reduce,
    compose,
    stats,
    bind,
    in,
    parse,
    union_,
    intersect,
    unique,
    difference,
    exclude,
    complement_q,
    dehex,
    enhex,
    not_done<49>,  // negative?: a later step
    not_done<50>,  // positive?: a later step
    not_done<51>,  // max: a later step
    not_done<52>,  // min: a later step
    not_done<53>,  // shift: a later step
    not_done<54>,  // to-hex: a later step
    not_done<55>,  // sine: a later step
    not_done<56>,  // cosine: a later step
    not_done<57>,  // tangent: a later step
    not_done<58>,  // arcsine: a later step
    not_done<59>,  // arccosine: a later step
    not_done<60>,  // arctangent: a later step
    not_done<61>,  // arctangent2: a later step
    not_done<62>,  // NaN?: a later step
    not_done<63>,  // log-2: a later step
    not_done<64>,  // log-10: a later step
    not_done<65>,  // log-e: a later step
    not_done<66>,  // exp: a later step
    not_done<67>,  // square-root: a later step
    construct,
    value_q,
    try_,
    not_done<71>,  // uppercase: a later step
    not_done<72>,  // lowercase: a later step
    not_done<73>,  // as-pair: a later step
    not_done<74>,  // as-point2D: a later step
    not_done<75>,  // as-point3D: a later step
    not_done<76>,  // as-money: a later step
    break_,
    continue_,
    exit_,
    return_,
    throw_,
    catch_,
    extend,
    debase,
    to_local_file,
    not_done<86>,  // wait: a later step
    not_done<87>,  // checksum: a later step
    unset,
    not_done<89>,  // new-line: a later step
    not_done<90>,  // new-line?: a later step
    enbase,
    context_q,
    not_done<93>,   // set-env: a later step
    not_done<94>,   // get-env: a later step
    not_done<95>,   // list-env: a later step
    not_done<96>,   // now: a later step
    not_done<97>,   // sign?: a later step
    not_done<98>,   // as: a later step
    not_done<99>,   // call: a later step
    not_done<100>,  // zero?: a later step
    not_done<101>,  // size?: a later step
    not_done<102>,  // browse: a later step
    compress,
    decompress,
    recycle,
    transcode,
    apply,
};

}  // namespace

void register_entries(const NativeFn* list, uint32_t count) {
    for (uint32_t i = 0; i < count && next_number <= TABLE_SLOTS; ++i)
        natives_table[next_number++ - 1] = list[i];
}

void init() {
    for (NativeFn& f : natives_table) f = nullptr;
    next_number = 1;
    register_entries(entries, NATIVE_COUNT);
    init_compress_methods();
    if (!working_slot) {
        block::make_in(&root::block, 32);
        working_slot = root::count() - 1;
    }
}

Cell working_block() {
    return working_slot ? *root::at(working_slot) : Cell{TYPE_NONE, 0, 0, 0};
}

bool strict_true(const Cell* v) {
    uint32_t t = v->type();
    if (t == TYPE_UNSET) fire("script", "no-return");
    return !(t == TYPE_NONE || (t == TYPE_LOGIC && v->w1 == 0));
}

void check_args(uint32_t number, uint32_t fixed) {
    if (number < 1 || number > NATIVE_COUNT) return;
    // The native's value is the one its word holds in the global context.
    Cell name = word::load(NAMES[number - 1]);
    Cell value;
    context::get_global_into(name.w2, &value);
    if (value.type() != TYPE_NATIVE || value.w1 != number) return;
    for (uint32_t i = 0; i < fixed; ++i) interpreter::check_argument(&value, &name, i, stack::arg_base + i);
}

}  // namespace kiv::natives
