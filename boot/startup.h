// Process entry and the runtime's start-up order.
#pragma once

namespace kiv {

// Brings up every part of the runtime in its fixed order.
void runtime_boot();

// Brings up the value layer alone (memory, datatypes, stacks, symbols,
// words, the collector), without platform, lexer or interpreter: for unit
// tests and benchmarks of the runtime core. Runs once per process.
void boot_value_core();

// The program's entry: prepares the process (fault handlers, arguments),
// boots the runtime inside the outermost catch frame, runs the library and
// the console, and ends through ks::quit with 0.
[[noreturn]] void entry(int argc, char** argv);

}  // namespace kiv
