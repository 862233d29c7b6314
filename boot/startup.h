// Process entry and the runtime's start-up order.
#pragma once

namespace kiv {

// Start-up in levels, in one fixed order: each level is a prefix of the
// next, so that kiv, the unit tests, the fuzz targets and the benchmarks
// bring up the same runtime, as far as each needs.
//   values    memory, datatypes, stacks, symbols, the fixed words, the
//             external tables, the collector (switched off);
//   language  error values, natives, lexer, interpreter, and the words of
//             the built-ins bound in the global context.
// The library's modules run on top of `language` (the entry does that).
enum class BootLevel { none, values, language };
// Brings the runtime up to `level`; what is up already stays (runs each
// step once per process).
void boot(BootLevel level);

// The program's entry: prepares the process (fault handlers, arguments),
// boots the runtime inside the outermost catch frame, runs the library and
// the console, and ends through lowlevel::quit with 0 (or the console's status).
[[noreturn]] void entry(int argc, char** argv);

// Exit status of a start-up that cannot bring the library up.
constexpr int STARTUP_FAILURE_STATUS = 1;

// Ends a start-up that cannot go on because what it loads is unusable (a
// boot image with a bad magic, "Error: Not a Kivbin file!", or corrupt
// compressed data, "Error: Kivbin compressed data corrupted!"): writes the
// message and a line feed to standard error and ends the process with
// STARTUP_FAILURE_STATUS, so that a caller never takes a broken executable
// for a successful run. A language error raised while the library loads
// ends the process too, with the report of an uncaught error and -2 (254).
[[noreturn]] void startup_failure(const char* message);

}  // namespace kiv
