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
      "[any-type!] \"Condition tested\" then-blk [block!] \"Evaluated when the condition is " \
      "truthy\"]") \
    X(UNLESS, "unless", unless, \
      "[\"If conditional expression is falsy, evaluate block; else return NONE\" cond " \
      "[any-type!] \"Condition tested\" then-blk [block!] \"Evaluated when the condition is " \
      "falsy\"]") \
    X(EITHER, "either", either, \
      "[\"If conditional expression is truthy, evaluate the first branch; else evaluate the " \
      "alternative\" cond [any-type!] \"Condition tested\" true-blk [block!] \"Evaluated when " \
      "the condition is truthy\" false-blk [block!] \"Evaluated when the condition is falsy\"]") \
    X(ANY, "any", any, \
      "[\"Evaluates and returns the first truthy value, if any; else NONE\" conds [block!] " \
      "\"Expressions evaluated in turn\"]") \
    X(ALL, "all", all, \
      "[\"Evaluates and returns the last value if all are truthy; else NONE\" conds [block!] " \
      "\"Expressions evaluated in turn\"]") \
    X(WHILE, "while", while_, \
      "[\"Evaluates body as long as condition block evaluates to truthy value\" cond [block!] " \
      "\"Evaluated before each pass\" body [block!] \"Evaluated while the condition is " \
      "truthy\"]") \
    X(UNTIL, "until", until, \
      "[\"Evaluates body until it is truthy\" body [block!] \"Evaluated until its last value is " \
      "truthy\"]") \
    X(LOOP, "loop", loop, \
      "[\"Evaluates body a number of times\" count [integer! float!] \"Number of repetitions\" " \
      "body [block!] \"Block to evaluate\"]") \
    X(REPEAT, "repeat", repeat, \
      "[\"Evaluates body a number of times, tracking iteration count\" 'word [word!] \"Word set " \
      "to the iteration count, from 1\" value [integer! float!] \"Number of repetitions\" body " \
      "[block!] \"Block to evaluate\"]") \
    X(FOREVER, "forever", forever, \
      "[\"Evaluates body repeatedly forever\" body [block!] \"Block to evaluate\"]") \
    X(FOREACH, "foreach", foreach, \
      "[\"Evaluates body for each value in a series\" 'word [word! block!] \"Word, or block of " \
      "words, set to each value\" series [series! map!] \"The series or map to walk\" body " \
      "[block!] \"Block to evaluate\"]") \
    X(FORALL, "forall", forall, \
      "[\"Evaluates body for all values in a series\" 'word [word!] \"Word referring to the " \
      "series, moved at each pass\" body [block!] \"Block to evaluate\"]") \
    X(REMOVE_EACH, "remove-each", remove_each, \
      "[\"Removes values for each block that returns truthy value\" 'word [word! block!] " \
      "\"Word, or block of words, set to each value\" data [series!] \"The series to modify\" " \
      "body [block!] \"Block whose truthy result removes the value\"]") \
    X(FUNC, "func", func, \
      "[\"Defines a function with a given spec and body\" spec [block!] \"Arguments, " \
      "refinements, locals and doc strings\" body [block!] \"The code of the function\"]") \
    X(FUNCTION, "function", function, \
      "[\"Defines a function, making all set-words found in body, local\" spec [block!] " \
      "\"Arguments, refinements, locals and doc strings\" body [block!] \"The code of the " \
      "function\" /extern \"Words after it are not made local\"]") \
    X(DOES, "does", does, \
      "[\"Defines a function with no arguments or local variables\" body [block!] \"The code of " \
      "the function\"]") \
    X(HAS, "has", has, \
      "[\"Defines a function with local variables, but no arguments\" vars [block!] \"The local " \
      "words\" body [block!] \"The code of the function\"]") \
    X(SWITCH, "switch", switch_, \
      "[\"Evaluates the first block following the value found in cases\" value [any-type!] " \
      "\"Value to look for\" cases [block!] \"Values each followed by a block to evaluate\" " \
      "/default \"Evaluate a block when no case matches\" case [block!] \"Block evaluated when " \
      "no case matches\"]") \
    X(CASE, "case", case_, \
      "[\"Evaluates the block following the first truthy condition\" cases [block!] " \
      "\"Conditions each followed by a block to evaluate\" /all \"Evaluate the block of every " \
      "truthy condition\"]") \
    X(DO, "do", do_, \
      "[\"Evaluates a value, returning the last evaluation result\" value [any-type!] \"The " \
      "value to evaluate\" /expand \"Run the preprocessor on the code first\" /args \"Pass " \
      "arguments to a script\" arg \"The script's arguments\" /next \"Evaluate only the next " \
      "expression\" position [word!] \"Word set to the position after it\" /trace \"Report each " \
      "evaluation step to a callback\" callback [function!] \"The function receiving the trace " \
      "events\"]") \
    X(GET, "get", get, \
      "[\"Returns the value a word refers to\" word [any-word! any-path! object!] \"The word, " \
      "path or object\" /any \"Allow an unset value\" /case \"Match path words " \
      "case-sensitively\" return: [any-type!]]") \
    X(SET, "set", set, \
      "[\"Sets the value(s) one or more words refer to\" word [any-word! block! object! " \
      "any-path!] \"The word(s), path or object to set\" value [any-type!] \"The value(s) to " \
      "assign\" /any \"Allow an unset value\" /case \"Match path words case-sensitively\" /only " \
      "\"Set every word to the whole block value\" /some \"Leave words whose value would be " \
      "none unchanged\" return: [any-type!]]") \
    X(PRINT, "print", print, \
      "[\"Outputs a value followed by a newline\" value [any-type!] \"The value to output (a " \
      "block is reduced)\"]") \
    X(PRIN, "prin", prin, \
      "[\"Outputs a value\" value [any-type!] \"The value to output (a block is reduced)\"]") \
    X(EQUAL_Q, "equal?", equal_q, \
      "[\"Returns TRUE if two values are equal\" value1 [any-type!] \"First value\" value2 " \
      "[any-type!] \"Second value\"]") \
    X(NOT_EQUAL_Q, "not-equal?", not_equal_q, \
      "[\"Returns TRUE if two values are not equal\" value1 [any-type!] \"First value\" value2 " \
      "[any-type!] \"Second value\"]") \
    X(STRICT_EQUAL_Q, "strict-equal?", strict_equal_q, \
      "[\"Returns TRUE if two values are equal, and also the same datatype\" value1 [any-type!] " \
      "\"First value\" value2 [any-type!] \"Second value\"]") \
    X(LESSER_Q, "lesser?", lesser_q, \
      "[\"Returns TRUE if the first value is less than the second\" value1 [any-type!] \"First " \
      "value\" value2 [any-type!] \"Second value\"]") \
    X(GREATER_Q, "greater?", greater_q, \
      "[\"Returns TRUE if the first value is greater than the second\" value1 [any-type!] " \
      "\"First value\" value2 [any-type!] \"Second value\"]") \
    X(LESSER_OR_EQUAL_Q, "lesser-or-equal?", lesser_or_equal_q, \
      "[\"Returns TRUE if the first value is less than or equal to the second\" value1 " \
      "[any-type!] \"First value\" value2 [any-type!] \"Second value\"]") \
    X(GREATER_OR_EQUAL_Q, "greater-or-equal?", greater_or_equal_q, \
      "[\"Returns TRUE if the first value is greater than or equal to the second\" value1 " \
      "[any-type!] \"First value\" value2 [any-type!] \"Second value\"]") \
    X(SAME_Q, "same?", same_q, \
      "[\"Returns TRUE if two values have the same identity\" value1 [any-type!] \"First " \
      "value\" value2 [any-type!] \"Second value\"]") \
    X(NOT, "not", not_, \
      "[\"Returns the logical complement of a value (truthy or falsy)\" value [any-type!] \"The " \
      "value tested\"]") \
    X(TYPE_Q, "type?", type_q, \
      "[\"Returns the datatype of a value\" value [any-type!] \"The value whose type is " \
      "returned\" /word \"Return the type's name as a word\"]") \
    X(REDUCE, "reduce", reduce, \
      "[\"Returns a copy of a block, evaluating all expressions\" value [any-type!] \"The block " \
      "to evaluate (other values are evaluated alone)\" /into \"Put the results in a given " \
      "block\" out [any-block!] \"The block receiving the results\"]") \
    X(COMPOSE, "compose", compose, \
      "[\"Returns a copy of a block, evaluating only parens\" value [block!] \"The block " \
      "holding parens to evaluate\" /deep \"Compose nested blocks too\" /only \"Insert a block " \
      "result as one value\" /into \"Put the results in a given block\" out [any-block!] \"The " \
      "block receiving the results\"]") \
    X(STATS, "stats", stats, \
      "[\"Returns interpreter statistics\" /show \"Print a memory report\" /info \"Return " \
      "detailed figures in a block\" return: [integer! block!]]") \
    X(BIND, "bind", bind, \
      "[\"Bind words to a context; returns rebound words\" word [block! any-word!] \"The words " \
      "to bind (a block is modified)\" context [any-word! any-object! function!] \"A word of " \
      "the context, the object or the function\" /copy \"Bind a deep copy of the block\" " \
      "return: [block! any-word!]]") \
    X(IN, "in", in, \
      "[\"Returns the given word bound to the object's context\" object [any-object! " \
      "any-function!] \"The object or function\" word [any-word! refinement!] \"The word to " \
      "bind\"]") \
    X(PARSE, "parse", parse, \
      "[\"Process a series using dialected grammar rules\" input [binary! any-block! " \
      "any-string!] \"The series to parse\" rules [block!] \"The grammar rules\" /case \"Match " \
      "characters case-sensitively\" /part \"Limit the parse to a length or position\" length " \
      "[number! series!] \"The length or position\" /trace \"Report each parsing step to a " \
      "callback\" callback [function!] \"The function receiving the events\" return: [logic! " \
      "block!]]") \
    X(UNION, "union", union_, \
      "[\"Returns the union of two data sets\" set1 [block! hash! string! bitset! typeset!] " \
      "\"First data set\" set2 [block! hash! string! bitset! typeset! datatype!] \"Second data " \
      "set\" /case \"Compare case-sensitively\" /skip \"Treat the series as records of fixed " \
      "size\" size [integer!] \"The record size\" return: [block! hash! string! bitset! " \
      "typeset!]]") \
    X(INTERSECT, "intersect", intersect, \
      "[\"Returns the intersection of two data sets\" set1 [block! hash! string! bitset! " \
      "typeset!] \"First data set\" set2 [block! hash! string! bitset! typeset! datatype!] " \
      "\"Second data set\" /case \"Compare case-sensitively\" /skip \"Treat the series as " \
      "records of fixed size\" size [integer!] \"The record size\" return: [block! hash! " \
      "string! bitset! typeset!]]") \
    X(UNIQUE, "unique", unique, \
      "[\"Returns the data set with duplicates removed\" set [block! hash! string!] \"The data " \
      "set\" /case \"Compare case-sensitively\" /skip \"Treat the series as records of fixed " \
      "size\" size [integer!] \"The record size\" return: [block! hash! string!]]") \
    X(DIFFERENCE, "difference", difference, \
      "[\"Returns the special difference of two data sets\" set1 [block! hash! string! bitset! " \
      "typeset! date!] \"First data set\" set2 [block! hash! string! bitset! typeset! datatype! " \
      "date!] \"Second data set\" /case \"Compare case-sensitively\" /skip \"Treat the series " \
      "as records of fixed size\" size [integer!] \"The record size\" return: [block! hash! " \
      "string! bitset! typeset! time!]]") \
    X(EXCLUDE, "exclude", exclude, \
      "[\"Returns the first data set less the second data set\" set1 [block! hash! string! " \
      "bitset! typeset!] \"First data set\" set2 [block! hash! string! bitset! typeset! " \
      "datatype!] \"Second data set, removed from the first\" /case \"Compare " \
      "case-sensitively\" /skip \"Treat the series as records of fixed size\" size [integer!] " \
      "\"The record size\" return: [block! hash! string! bitset! typeset!]]") \
    X(COMPLEMENT_Q, "complement?", complement_q, \
      "[\"Returns TRUE if the bitset is complemented\" bits [bitset!] \"The bitset tested\"]") \
    X(DEHEX, "dehex", dehex, \
      "[\"Converts URL-style hex encoded (%xx) strings\" value [any-string!] \"The text to " \
      "decode\" return: [string!]]") \
    X(ENHEX, "enhex", enhex, \
      "[\"Encode URL-style hex encoded (%xx) strings\" value [any-string!] \"The text to " \
      "encode\" return: [string!]]") \
    X(NEGATIVE_Q, "negative?", negative_q, \
      "[\"Returns TRUE if the number is negative\" number [number! money! time!] \"The value " \
      "tested\" return: [logic!]]") \
    X(POSITIVE_Q, "positive?", positive_q, \
      "[\"Returns TRUE if the number is positive\" number [number! money! time!] \"The value " \
      "tested\" return: [logic!]]") \
    X(MAX, "max", max, \
      "[\"Returns the greater of the two values\" value1 [scalar! series!] \"First value\" " \
      "value2 [scalar! series!] \"Second value\"]") \
    X(MIN, "min", min, \
      "[\"Returns the lesser of the two values\" value1 [scalar! series!] \"First value\" " \
      "value2 [scalar! series!] \"Second value\"]") \
    X(SHIFT, "shift", shift, \
      "[\"Perform a bit shift operation. Right shift (decreasing) by default\" data [integer!] " \
      "\"The integer to shift\" bits [integer!] \"Number of bits\" /left \"Shift left " \
      "(increasing)\" /logical \"Fill with zeros, not the sign bit\" return: [integer!]]") \
    X(TO_HEX, "to-hex", to_hex, \
      "[\"Converts numeric value to a hex issue! datatype (with leading # and 0's)\" value " \
      "[integer!] \"The integer to convert\" /size \"Give the number of hex digits\" length " \
      "[integer!] \"The number of digits\" return: [issue!]]") \
    X(SINE, "sine", sine, \
      "[\"Returns the trigonometric sine\" angle [float! integer!] \"The angle, in degrees\" " \
      "/radians \"The angle is in radians\" return: [float!]]") \
    X(COSINE, "cosine", cosine, \
      "[\"Returns the trigonometric cosine\" angle [float! integer!] \"The angle, in degrees\" " \
      "/radians \"The angle is in radians\" return: [float!]]") \
    X(TANGENT, "tangent", tangent, \
      "[\"Returns the trigonometric tangent\" angle [float! integer!] \"The angle, in degrees\" " \
      "/radians \"The angle is in radians\" return: [float!]]") \
    X(ARCSINE, "arcsine", arcsine, \
      "[\"Returns the trigonometric arcsine in degrees in range [-90,90]\" sine [float! " \
      "integer!] \"The sine, from -1 to 1\" /radians \"Return the angle in radians\" return: " \
      "[float!]]") \
    X(ARCCOSINE, "arccosine", arccosine, \
      "[\"Returns the trigonometric arccosine in degrees in range [0,180]\" cosine [float! " \
      "integer!] \"The cosine, from -1 to 1\" /radians \"Return the angle in radians\" return: " \
      "[float!]]") \
    X(ARCTANGENT, "arctangent", arctangent, \
      "[\"Returns the trigonometric arctangent in degrees in range [-90,90]\" tangent [float! " \
      "integer!] \"The tangent\" /radians \"Return the angle in radians\" return: [float!]]") \
    X(ARCTANGENT2, "arctangent2", arctangent2, \
      "[\"Returns the smallest angle between the vectors (1,0) and (x,y) in degrees " \
      "(-180,180]\" y [float! integer!] \"The vector's Y coordinate\" x [float! integer!] \"The " \
      "vector's X coordinate\" /radians \"Return the angle in radians\" return: [float!]]") \
    X(NAN_Q, "NaN?", nan_q, \
      "[\"Returns TRUE if the number is Not-a-Number\" value [number!] \"The number tested\" " \
      "return: [logic!]]") \
    X(LOG_2, "log-2", log_2, \
      "[\"Return the base-2 logarithm\" value [float! integer! percent!] \"A positive number\" " \
      "return: [float!]]") \
    X(LOG_10, "log-10", log_10, \
      "[\"Returns the base-10 logarithm\" value [float! integer! percent!] \"A positive " \
      "number\" return: [float!]]") \
    X(LOG_E, "log-e", log_e, \
      "[\"Returns the natural (base-E) logarithm of the given value\" value [float! integer! " \
      "percent!] \"A positive number\" return: [float!]]") \
    X(EXP, "exp", exp, \
      "[\"Raises E (the base of natural logarithm) to the power specified\" value [float! " \
      "integer! percent!] \"The exponent\" return: [float!]]") \
    X(SQUARE_ROOT, "square-root", square_root, \
      "[\"Returns the square root of a number\" value [float! integer! percent!] \"A number not " \
      "below zero\" return: [float!]]") \
    X(CONSTRUCT, "construct", construct, \
      "[\"Makes a new object from an unevaluated spec; standard logic words are evaluated\" " \
      "block [block!] \"Set-words each followed by a value\" /with \"Start from a prototype " \
      "object\" object [object!] \"The prototype\" /only \"Do not evaluate the logic words\"]") \
    X(VALUE_Q, "value?", value_q, \
      "[\"Returns TRUE if the word has a value\" value [word!] \"The word tested\" return: " \
      "[logic!]]") \
    X(TRY, "try", try_, \
      "[\"Tries to DO a block and returns its value or an error\" block [block!] \"The code to " \
      "evaluate\" /all \"Also catch break, continue, return, exit and throw\" /keep \"Keep the " \
      "call stack in the error\"]") \
    X(UPPERCASE, "uppercase", uppercase, \
      "[\"Converts string of characters to uppercase\" string [any-string! char!] \"The text to " \
      "convert (modified)\" /part \"Limit the change to a length or position\" limit [number! " \
      "any-string!] \"The length or position\" return: [any-string! char!]]") \
    X(LOWERCASE, "lowercase", lowercase, \
      "[\"Converts string of characters to lowercase\" string [any-string! char!] \"The text to " \
      "convert (modified)\" /part \"Limit the change to a length or position\" limit [number! " \
      "any-string!] \"The length or position\" return: [any-string! char!]]") \
    X(AS_PAIR, "as-pair", as_pair, \
      "[\"Combine X and Y values into a pair\" x [integer! float!] \"The X coordinate\" y " \
      "[integer! float!] \"The Y coordinate\"]") \
    X(AS_POINT2D, "as-point2D", as_point2d, \
      "[\"Combine X and Y values into a 2D point\" x [integer! float!] \"The X coordinate\" y " \
      "[integer! float!] \"The Y coordinate\"]") \
    X(AS_POINT3D, "as-point3D", as_point3d, \
      "[\"Combine X, Y and Z values into a 3D point\" x [integer! float!] \"The X coordinate\" " \
      "y [integer! float!] \"The Y coordinate\" z [integer! float!] \"The Z coordinate\"]") \
    X(AS_MONEY, "as-money", as_money, \
      "[\"Combine currency code and amount into a monetary value\" currency [word!] \"The " \
      "currency code, as a word\" amount [integer! float!] \"The amount\" return: [money!]]") \
    X(BREAK, "break", break_, \
      "[\"Breaks out of a loop, while, until, repeat, foreach, etc\" /return \"Give the loop a " \
      "result\" value [any-type!] \"The loop's result\"]") \
    X(CONTINUE, "continue", continue_, \
      "[\"Throws control back to top of loop\"]") \
    X(EXIT, "exit", exit_, \
      "[\"Exits a function, returning no value\"]") \
    X(RETURN, "return", return_, \
      "[\"Returns a value from a function\" value [any-type!] \"The function's result\"]") \
    X(THROW, "throw", throw_, \
      "[\"Throws control back to a previous catch\" value [any-type!] \"The value given to the " \
      "catch\" /name \"Throw to the catch of that name\" word [word!] \"The catch's name\"]") \
    X(CATCH, "catch", catch_, \
      "[\"Catches a throw from a block and returns its value\" block [block!] \"The code to " \
      "evaluate\" /name \"Catch only throws of the given names\" word [word! block!] \"A name, " \
      "or a block of names\"]") \
    X(EXTEND, "extend", extend, \
      "[\"Extend an object or map value with list of key and value pairs\" obj [object! map!] " \
      "\"The object or map to extend (modified)\" spec [block! hash! map!] \"Keys each followed " \
      "by a value\" /case \"Compare keys case-sensitively\"]") \
    X(DEBASE, "debase", debase, \
      "[\"Decodes binary-coded string (BASE-64 default) to binary value\" value [string!] \"The " \
      "encoded text\" /base \"Give the base\" base-value [integer!] \"The base: 64, 58, 16 or " \
      "2\"]") \
    X(TO_LOCAL_FILE, "to-local-file", to_local_file, \
      "[\"Converts a Kiv file path to the local system file path\" path [file! string!] \"The " \
      "file path to convert\" /full \"Give an absolute path\" return: [string!]]") \
    X(WAIT, "wait", wait, \
      "[\"Waits for a duration in seconds or specified time\" value [number! time! block! " \
      "none!] \"Seconds, a time, or a block of them\" /all \"Wait for all the events of the " \
      "block\"]") \
    X(CHECKSUM, "checksum", checksum, \
      "[\"Computes a checksum, CRC, hash, or HMAC\" data [binary! string! file!] \"The data to " \
      "hash\" method [word!] \"The method: crc32, tcp, md5, sha1, sha256, sha384, sha512...\" " \
      "/with \"Use a key (HMAC), or a hash table size\" spec [any-string! binary! integer!] " \
      "\"The key, or the table size\" return: [integer! binary!]]") \
    X(UNSET, "unset", unset, \
      "[\"Unsets the value of a word in its current context\" word [word! block!] \"The word, " \
      "or block of words, to unset\"]") \
    X(NEW_LINE, "new-line", new_line, \
      "[\"Sets or clears the new-line marker within a list series\" position [any-list!] " \
      "\"Where to set or clear the marker (modified)\" value [logic!] \"True to set, false to " \
      "clear\" /all \"Do it for every value from the position\" /skip \"Do it for every Nth " \
      "value from the position\" size [integer!] \"The step N\" return: [any-list!]]") \
    X(NEW_LINE_Q, "new-line?", new_line_q, \
      "[\"Returns the state of the new-line marker within a list series\" position [any-list!] " \
      "\"The position to test\" return: [logic!]]") \
    X(ENBASE, "enbase", enbase, \
      "[\"Encodes a string into a binary-coded string (BASE-64 default)\" value [binary! " \
      "string!] \"The data to encode\" /base \"Give the base\" base-value [integer!] \"The " \
      "base: 64, 58, 16 or 2\"]") \
    X(CONTEXT_Q, "context?", context_q, \
      "[\"Returns the context to which a word is bound\" word [any-word!] \"The bound word\" " \
      "return: [object! function! none!]]") \
    X(SET_ENV, "set-env", set_env, \
      "[\"Sets the value of an operating system environment variable (for current process)\" " \
      "var [any-string! any-word!] \"The variable's name\" value [string! none!] \"Its new " \
      "value, or none to remove it\"]") \
    X(GET_ENV, "get-env", get_env, \
      "[\"Returns the value of an OS environment variable (for current process)\" var " \
      "[any-string! any-word!] \"The variable's name\" return: [string! none!]]") \
    X(LIST_ENV, "list-env", list_env, \
      "[\"Returns a map of OS environment variables (for current process)\" return: [map!]]") \
    X(NOW, "now", now, \
      "[\"Returns date and time\" /year \"Return the year only\" /month \"Return the month " \
      "only\" /day \"Return the day only\" /time \"Return the time only\" /zone \"Return the " \
      "time zone offset only\" /date \"Return the date only\" /weekday \"Return the day of the " \
      "week (1 is Monday)\" /yearday \"Return the day of the year\" /precise \"Use the clock's " \
      "full precision\" /utc \"Give universal time\" return: [date! time! integer!]]") \
    X(SIGN_Q, "sign?", sign_q, \
      "[\"Returns sign of N as 1, 0, or -1 (to use as a multiplier)\" number [number! money! " \
      "time!] \"The value tested\" return: [integer!]]") \
    X(AS, "as", as, \
      "[\"Coerce a series into a compatible datatype without copying it\" type [datatype! " \
      "block! paren! any-path! any-string!] \"The datatype, or a value of it\" spec [block! " \
      "paren! any-path! any-string!] \"The series to coerce\"]") \
    X(CALL, "call", call, \
      "[\"Executes a shell command to run another process\" cmd [string! file!] \"The command " \
      "line\" /wait \"Wait for the process to end\" /show \"Show the process's window\" " \
      "/console \"Share the console's input and output\" /shell \"Run the command through the " \
      "shell\" /input \"Feed the process's standard input\" in [string! file! binary!] \"The " \
      "data, or a file holding it\" /output \"Collect the process's standard output\" out " \
      "[string! file! binary!] \"Where the output goes\" /error \"Collect the process's " \
      "standard error\" err [string! file! binary!] \"Where the errors go\" return: [integer!]]") \
    X(ZERO_Q, "zero?", zero_q, \
      "[\"Returns TRUE if the value is zero\" value [number! money! pair! time! char! tuple! " \
      "any-point!] \"The value tested\" return: [logic!]]") \
    X(SIZE_Q, "size?", size_q, \
      "[\"Returns the size of a file content\" file [file!] \"The file\" return: [integer! " \
      "none!]]") \
    X(BROWSE, "browse", browse, \
      "[\"Opens the URL in a web browser or the file in the associated application\" url [url! " \
      "file!] \"The URL or file to open\"]") \
    X(COMPRESS, "compress", compress, \
      "[\"Compresses data\" data [any-string! binary!] \"The data to compress\" method [word!] " \
      "\"The method: zlib, deflate or gzip\" return: [binary!]]") \
    X(DECOMPRESS, "decompress", decompress, \
      "[\"Decompresses data\" data [binary!] \"The compressed data\" method [word!] \"The " \
      "method: zlib, deflate or gzip\" /size \"Give the size of the result\" sz [integer!] " \
      "\"The size in bytes\" return: [binary!]]") \
    X(RECYCLE, "recycle", recycle, \
      "[\"Recycles unused memory and returns memory amount still in use\" /on \"Turn the " \
      "collector on\" /off \"Turn the collector off\" return: [integer! unset!]]") \
    X(TRANSCODE, "transcode", transcode, \
      "[\"Translates UTF-8 binary source to values. Returns one or several values in a block\" " \
      "src [binary! string!] \"UTF-8 bytes or a string\" /next \"Translate only the next value " \
      "and return the rest\" /one \"Translate only the next value\" /prescan \"Only find the " \
      "tokens' types\" /scan \"Only find the next token's type\" /part \"Limit the source to a " \
      "length or position\" length [integer! binary!] \"The length or position\" /into \"Append " \
      "the values to a given block\" dst [block!] \"The block receiving the values\" /trace " \
      "\"Report each lexer event to a callback\" callback [function! routine!] \"The function " \
      "receiving the events\" return: [block!]]") \
    X(APPLY, "apply", apply, \
      "[\"Apply a function to a reduced block of arguments\" func [word! path! any-function!] " \
      "\"The function, or what refers to it\" args [block!] \"The arguments (refinements as " \
      "logic values in /all mode)\" /all \"The block gives every argument and refinement in " \
      "spec order\" /safer \"Refinements set to false skip their arguments\"]")
// clang-format on
