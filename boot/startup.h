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
// the console, and ends through lowlevel::quit with 0.
[[noreturn]] void entry(int argc, char** argv);

}  // namespace kiv
