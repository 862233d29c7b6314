// Process entry and the runtime's start-up order.
#pragma once

namespace kiv {

// Brings up every part of the runtime in its fixed order.
void runtime_boot();

// The program's entry: prepares the process, boots the runtime, runs the
// console, and ends through the fatal-exit path with code 0.
int entry(int argc, char** argv);

}  // namespace kiv
