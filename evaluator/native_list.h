// The built-in natives, one row each: the native's number (N_<NAME>, in row
// order from 1), its word, the C++ function that runs it (`later` for a
// native whose step is not built yet: calling it raises internal not-done
// naming it) and its specification as Kiv source text (arguments with their
// type blocks, refinements with their arguments, the return type when the
// native declares one, the doc string first).
//
// Everything else is derived from the row: the number constants, the names
// and specifications tables, the entry table, the prototype of the function,
// the count of fixed arguments that the entry checks, and the index of each
// refinement (natives::Refs<N_NAME>, evaluator/natives.h). Adding a native is
// one row here plus its function.
//
// The row order is the native numbering: append new rows at the end.
#pragma once

// clang-format off
#define KIV_NATIVES(X) \
    X(IF, "if", if_, \
      "[\"If conditional expression is truthy, evaluate block; else return NONE\" cond " \
      "[any-type!] then-blk [block!]]") \
    X(UNLESS, "unless", unless, \
      "[\"If conditional expression is falsy, evaluate block; else return NONE\" cond " \
      "[any-type!] then-blk [block!]]") \
    X(EITHER, "either", either, \
      "[\"If conditional expression is truthy, evaluate the first branch; else evaluate the " \
      "alternative\" cond [any-type!] true-blk [block!] false-blk [block!]]") \
    X(ANY, "any", any, \
      "[\"Evaluates and returns the first truthy value, if any; else NONE\" conds [block!]]") \
    X(ALL, "all", all, \
      "[\"Evaluates and returns the last value if all are truthy; else NONE\" conds [block!]]") \
    X(WHILE, "while", while_, \
      "[\"Evaluates body as long as condition block evaluates to truthy value\" cond [block!] " \
      "body [block!]]") \
    X(UNTIL, "until", until, "[\"Evaluates body until it is truthy\" body [block!]]") \
    X(LOOP, "loop", loop, "[\"Evaluates body a number of times\" count [integer! float!] body [block!]]") \
    X(REPEAT, "repeat", repeat, \
      "[\"Evaluates body a number of times, tracking iteration count\" 'word [word!] value " \
      "[integer! float!] body [block!]]") \
    X(FOREVER, "forever", forever, "[\"Evaluates body repeatedly forever\" body [block!]]") \
    X(FOREACH, "foreach", foreach, \
      "[\"Evaluates body for each value in a series\" 'word [word! block!] series [series! " \
      "map!] body [block!]]") \
    X(FORALL, "forall", forall, \
      "[\"Evaluates body for all values in a series\" 'word [word!] body [block!]]") \
    X(REMOVE_EACH, "remove-each", remove_each, \
      "[\"Removes values for each block that returns truthy value\" 'word [word! block!] data " \
      "[series!] body [block!]]") \
    X(FUNC, "func", func, "[\"Defines a function with a given spec and body\" spec [block!] body [block!]]") \
    X(FUNCTION, "function", function, \
      "[\"Defines a function, making all set-words found in body, local\" spec [block!] body " \
      "[block!] /extern]") \
    X(DOES, "does", does, "[\"Defines a function with no arguments or local variables\" body [block!]]") \
    X(HAS, "has", has, \
      "[\"Defines a function with local variables, but no arguments\" vars [block!] body " \
      "[block!]]") \
    X(SWITCH, "switch", switch_, \
      "[\"Evaluates the first block following the value found in cases\" value [any-type!] " \
      "cases [block!] /default case [block!]]") \
    X(CASE, "case", case_, \
      "[\"Evaluates the block following the first truthy condition\" cases [block!] /all]") \
    X(DO, "do", do_, \
      "[\"Evaluates a value, returning the last evaluation result\" value [any-type!] /expand " \
      "/args arg /next position [word!] /trace callback [function!]]") \
    X(GET, "get", get, \
      "[\"Returns the value a word refers to\" word [any-word! any-path! object!] /any /case " \
      "return: [any-type!]]") \
    X(SET, "set", set, \
      "[\"Sets the value(s) one or more words refer to\" word [any-word! block! object! " \
      "any-path!] value [any-type!] /any /case /only /some return: [any-type!]]") \
    X(PRINT, "print", print, "[\"Outputs a value followed by a newline\" value [any-type!]]") \
    X(PRIN, "prin", prin, "[\"Outputs a value\" value [any-type!]]") \
    X(EQUAL_Q, "equal?", equal_q, \
      "[\"Returns TRUE if two values are equal\" value1 [any-type!] value2 [any-type!]]") \
    X(NOT_EQUAL_Q, "not-equal?", not_equal_q, \
      "[\"Returns TRUE if two values are not equal\" value1 [any-type!] value2 [any-type!]]") \
    X(STRICT_EQUAL_Q, "strict-equal?", strict_equal_q, \
      "[\"Returns TRUE if two values are equal, and also the same datatype\" value1 [any-type!] " \
      "value2 [any-type!]]") \
    X(LESSER_Q, "lesser?", lesser_q, \
      "[\"Returns TRUE if the first value is less than the second\" value1 [any-type!] value2 " \
      "[any-type!]]") \
    X(GREATER_Q, "greater?", greater_q, \
      "[\"Returns TRUE if the first value is greater than the second\" value1 [any-type!] " \
      "value2 [any-type!]]") \
    X(LESSER_OR_EQUAL_Q, "lesser-or-equal?", lesser_or_equal_q, \
      "[\"Returns TRUE if the first value is less than or equal to the second\" value1 " \
      "[any-type!] value2 [any-type!]]") \
    X(GREATER_OR_EQUAL_Q, "greater-or-equal?", greater_or_equal_q, \
      "[\"Returns TRUE if the first value is greater than or equal to the second\" value1 " \
      "[any-type!] value2 [any-type!]]") \
    X(SAME_Q, "same?", same_q, \
      "[\"Returns TRUE if two values have the same identity\" value1 [any-type!] value2 " \
      "[any-type!]]") \
    X(NOT, "not", not_, \
      "[\"Returns the logical complement of a value (truthy or falsy)\" value [any-type!]]") \
    X(TYPE_Q, "type?", type_q, "[\"Returns the datatype of a value\" value [any-type!] /word]") \
    X(REDUCE, "reduce", reduce, \
      "[\"Returns a copy of a block, evaluating all expressions\" value [any-type!] /into out " \
      "[any-block!]]") \
    X(COMPOSE, "compose", compose, \
      "[\"Returns a copy of a block, evaluating only parens\" value [block!] /deep /only /into " \
      "out [any-block!]]") \
    X(STATS, "stats", stats, "[\"Returns interpreter statistics\" /show /info return: [integer! block!]]") \
    X(BIND, "bind", bind, \
      "[\"Bind words to a context; returns rebound words\" word [block! any-word!] context " \
      "[any-word! any-object! function!] /copy return: [block! any-word!]]") \
    X(IN, "in", in, \
      "[\"Returns the given word bound to the object's context\" object [any-object! " \
      "any-function!] word [any-word! refinement!]]") \
    X(PARSE, "parse", parse, \
      "[\"Process a series using dialected grammar rules\" input [binary! any-block! " \
      "any-string!] rules [block!] /case /part length [number! series!] /trace callback " \
      "[function!] return: [logic! block!]]") \
    X(UNION, "union", union_, \
      "[\"Returns the union of two data sets\" set1 [block! hash! string! bitset! typeset!] " \
      "set2 [block! hash! string! bitset! typeset! datatype!] /case /skip size [integer!] return: [block! " \
      "hash! string! bitset! typeset!]]") \
    X(INTERSECT, "intersect", intersect, \
      "[\"Returns the intersection of two data sets\" set1 [block! hash! string! bitset! " \
      "typeset!] set2 [block! hash! string! bitset! typeset! datatype!] /case /skip size [integer!] " \
      "return: [block! hash! string! bitset! typeset!]]") \
    X(UNIQUE, "unique", unique, \
      "[\"Returns the data set with duplicates removed\" set [block! hash! string!] /case /skip " \
      "size [integer!] return: [block! hash! string!]]") \
    X(DIFFERENCE, "difference", difference, \
      "[\"Returns the special difference of two data sets\" set1 [block! hash! string! bitset! " \
      "typeset! date!] set2 [block! hash! string! bitset! typeset! datatype! date!] /case /skip size " \
      "[integer!] return: [block! hash! string! bitset! typeset! time!]]") \
    X(EXCLUDE, "exclude", exclude, \
      "[\"Returns the first data set less the second data set\" set1 [block! hash! string! " \
      "bitset! typeset!] set2 [block! hash! string! bitset! typeset! datatype!] /case /skip size " \
      "[integer!] return: [block! hash! string! bitset! typeset!]]") \
    X(COMPLEMENT_Q, "complement?", complement_q, "[\"Returns TRUE if the bitset is complemented\" bits [bitset!]]") \
    X(DEHEX, "dehex", dehex, \
      "[\"Converts URL-style hex encoded (%xx) strings\" value [any-string!] return: [string!]]") \
    X(ENHEX, "enhex", enhex, \
      "[\"Encode URL-style hex encoded (%xx) strings\" value [any-string!] return: [string!]]") \
    X(NEGATIVE_Q, "negative?", negative_q, \
      "[\"Returns TRUE if the number is negative\" number [number! money! time!] return: " \
      "[logic!]]") \
    X(POSITIVE_Q, "positive?", positive_q, \
      "[\"Returns TRUE if the number is positive\" number [number! money! time!] return: " \
      "[logic!]]") \
    X(MAX, "max", max, \
      "[\"Returns the greater of the two values\" value1 [scalar! series!] value2 [scalar! " \
      "series!]]") \
    X(MIN, "min", min, \
      "[\"Returns the lesser of the two values\" value1 [scalar! series!] value2 [scalar! " \
      "series!]]") \
    X(SHIFT, "shift", shift, \
      "[\"Perform a bit shift operation. Right shift (decreasing) by default\" data [integer!] " \
      "bits [integer!] /left /logical return: [integer!]]") \
    X(TO_HEX, "to-hex", to_hex, \
      "[\"Converts numeric value to a hex issue! datatype (with leading # and 0's)\" value " \
      "[integer!] /size length [integer!] return: [issue!]]") \
    X(SINE, "sine", sine, \
      "[\"Returns the trigonometric sine\" angle [float! integer!] /radians return: [float!]]") \
    X(COSINE, "cosine", cosine, \
      "[\"Returns the trigonometric cosine\" angle [float! integer!] /radians return: [float!]]") \
    X(TANGENT, "tangent", tangent, \
      "[\"Returns the trigonometric tangent\" angle [float! integer!] /radians return: " \
      "[float!]]") \
    X(ARCSINE, "arcsine", arcsine, \
      "[\"Returns the trigonometric arcsine in degrees in range [-90,90]\" sine [float! " \
      "integer!] /radians return: [float!]]") \
    X(ARCCOSINE, "arccosine", arccosine, \
      "[\"Returns the trigonometric arccosine in degrees in range [0,180]\" cosine [float! " \
      "integer!] /radians return: [float!]]") \
    X(ARCTANGENT, "arctangent", arctangent, \
      "[\"Returns the trigonometric arctangent in degrees in range [-90,90]\" tangent [float! " \
      "integer!] /radians return: [float!]]") \
    X(ARCTANGENT2, "arctangent2", arctangent2, \
      "[\"Returns the smallest angle between the vectors (1,0) and (x,y) in degrees " \
      "(-180,180]\" y [float! integer!] x [float! integer!] /radians return: [float!]]") \
    X(NAN_Q, "NaN?", nan_q, \
      "[\"Returns TRUE if the number is Not-a-Number\" value [number!] return: [logic!]]") \
    X(LOG_2, "log-2", log_2, \
      "[\"Return the base-2 logarithm\" value [float! integer! percent!] return: [float!]]") \
    X(LOG_10, "log-10", log_10, \
      "[\"Returns the base-10 logarithm\" value [float! integer! percent!] return: [float!]]") \
    X(LOG_E, "log-e", log_e, \
      "[\"Returns the natural (base-E) logarithm of the given value\" value [float! integer! " \
      "percent!] return: [float!]]") \
    X(EXP, "exp", exp, \
      "[\"Raises E (the base of natural logarithm) to the power specified\" value [float! " \
      "integer! percent!] return: [float!]]") \
    X(SQUARE_ROOT, "square-root", square_root, \
      "[\"Returns the square root of a number\" value [float! integer! percent!] return: " \
      "[float!]]") \
    X(CONSTRUCT, "construct", construct, \
      "[\"Makes a new object from an unevaluated spec; standard logic words are evaluated\" " \
      "block [block!] /with object [object!] /only]") \
    X(VALUE_Q, "value?", value_q, \
      "[\"Returns TRUE if the word has a value\" value [word!] return: [logic!]]") \
    X(TRY, "try", try_, \
      "[\"Tries to DO a block and returns its value or an error\" block [block!] /all /keep]") \
    X(UPPERCASE, "uppercase", uppercase, \
      "[\"Converts string of characters to uppercase\" string [any-string! char!] /part limit " \
      "[number! any-string!] return: [any-string! char!]]") \
    X(LOWERCASE, "lowercase", lowercase, \
      "[\"Converts string of characters to lowercase\" string [any-string! char!] /part limit " \
      "[number! any-string!] return: [any-string! char!]]") \
    X(AS_PAIR, "as-pair", as_pair, \
      "[\"Combine X and Y values into a pair\" x [integer! float!] y [integer! float!]]") \
    X(AS_POINT2D, "as-point2D", as_point2d, \
      "[\"Combine X and Y values into a 2D point\" x [integer! float!] y [integer! float!]]") \
    X(AS_POINT3D, "as-point3D", as_point3d, \
      "[\"Combine X, Y and Z values into a 3D point\" x [integer! float!] y [integer! float!] z " \
      "[integer! float!]]") \
    X(AS_MONEY, "as-money", as_money, \
      "[\"Combine currency code and amount into a monetary value\" currency [word!] amount " \
      "[integer! float!] return: [money!]]") \
    X(BREAK, "break", break_, \
      "[\"Breaks out of a loop, while, until, repeat, foreach, etc\" /return value [any-type!]]") \
    X(CONTINUE, "continue", continue_, "[\"Throws control back to top of loop\"]") \
    X(EXIT, "exit", exit_, "[\"Exits a function, returning no value\"]") \
    X(RETURN, "return", return_, "[\"Returns a value from a function\" value [any-type!]]") \
    X(THROW, "throw", throw_, \
      "[\"Throws control back to a previous catch\" value [any-type!] /name word [word!]]") \
    X(CATCH, "catch", catch_, \
      "[\"Catches a throw from a block and returns its value\" block [block!] /name word [word! " \
      "block!]]") \
    X(EXTEND, "extend", extend, \
      "[\"Extend an object or map value with list of key and value pairs\" obj [object! map!] " \
      "spec [block! hash! map!] /case]") \
    X(DEBASE, "debase", debase, \
      "[\"Decodes binary-coded string (BASE-64 default) to binary value\" value [string!] /base " \
      "base-value [integer!]]") \
    X(TO_LOCAL_FILE, "to-local-file", to_local_file, \
      "[\"Converts a Kiv file path to the local system file path\" path [file! string!] /full " \
      "return: [string!]]") \
    X(WAIT, "wait", wait, \
      "[\"Waits for a duration in seconds or specified time\" value [number! time! block! " \
      "none!] /all]") \
    X(CHECKSUM, "checksum", checksum, \
      "[\"Computes a checksum, CRC, hash, or HMAC\" data [binary! string! file!] method [word!] " \
      "/with spec [any-string! binary! integer!] return: [integer! binary!]]") \
    X(UNSET, "unset", unset, "[\"Unsets the value of a word in its current context\" word [word! block!]]") \
    X(NEW_LINE, "new-line", new_line, \
      "[\"Sets or clears the new-line marker within a list series\" position [any-list!] value " \
      "[logic!] /all /skip size [integer!] return: [any-list!]]") \
    X(NEW_LINE_Q, "new-line?", new_line_q, \
      "[\"Returns the state of the new-line marker within a list series\" position [any-list!] " \
      "return: [logic!]]") \
    X(ENBASE, "enbase", enbase, \
      "[\"Encodes a string into a binary-coded string (BASE-64 default)\" value [binary! " \
      "string!] /base base-value [integer!]]") \
    X(CONTEXT_Q, "context?", context_q, \
      "[\"Returns the context to which a word is bound\" word [any-word!] return: [object! " \
      "function! none!]]") \
    X(SET_ENV, "set-env", set_env, \
      "[\"Sets the value of an operating system environment variable (for current process)\" " \
      "var [any-string! any-word!] value [string! none!]]") \
    X(GET_ENV, "get-env", get_env, \
      "[\"Returns the value of an OS environment variable (for current process)\" var " \
      "[any-string! any-word!] return: [string! none!]]") \
    X(LIST_ENV, "list-env", list_env, \
      "[\"Returns a map of OS environment variables (for current process)\" return: [map!]]") \
    X(NOW, "now", now, \
      "[\"Returns date and time\" /year /month /day /time /zone /date /weekday /yearday " \
      "/precise /utc return: [date! time! integer!]]") \
    X(SIGN_Q, "sign?", sign_q, \
      "[\"Returns sign of N as 1, 0, or -1 (to use as a multiplier)\" number [number! money! " \
      "time!] return: [integer!]]") \
    X(AS, "as", as, \
      "[\"Coerce a series into a compatible datatype without copying it\" type [datatype! " \
      "block! paren! any-path! any-string!] spec [block! paren! any-path! any-string!]]") \
    X(CALL, "call", call, \
      "[\"Executes a shell command to run another process\" cmd [string! file!] /wait /show " \
      "/console /shell /input in [string! file! binary!] /output out [string! file! binary!] " \
      "/error err [string! file! binary!] return: [integer!]]") \
    X(ZERO_Q, "zero?", zero_q, \
      "[\"Returns TRUE if the value is zero\" value [number! money! pair! time! char! tuple! " \
      "any-point!] return: [logic!]]") \
    X(SIZE_Q, "size?", size_q, \
      "[\"Returns the size of a file content\" file [file!] return: [integer! none!]]") \
    X(BROWSE, "browse", browse, \
      "[\"Opens the URL in a web browser or the file in the associated application\" url [url! " \
      "file!]]") \
    X(COMPRESS, "compress", compress, \
      "[\"Compresses data\" data [any-string! binary!] method [word!] return: [binary!]]") \
    X(DECOMPRESS, "decompress", decompress, \
      "[\"Decompresses data\" data [binary!] method [word!] /size sz [integer!] return: " \
      "[binary!]]") \
    X(RECYCLE, "recycle", recycle, \
      "[\"Recycles unused memory and returns memory amount still in use\" /on /off return: " \
      "[integer! unset!]]") \
    X(TRANSCODE, "transcode", transcode, \
      "[\"Translates UTF-8 binary source to values. Returns one or several values in a block\" " \
      "src [binary! string!] /next /one /prescan /scan /part length [integer! binary!] /into " \
      "dst [block!] /trace callback [function! routine!] return: [block!]]") \
    X(APPLY, "apply", apply, \
      "[\"Apply a function to a reduced block of arguments\" func [word! path! any-function!] " \
      "args [block!] /all /safer]")
// clang-format on
