// Child processes for `call`: posix_spawn with the three standard streams
// connected to byte buffers (through pipes serviced together with poll, so
// that a child writing much while reading much never deadlocks), to files,
// or to the null device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::platform::process {

// One standard stream of the child. NONE: the null device. BYTES: input
// sent from `bytes`, or output captured into it. FILE: `path` opened for
// reading (input) or for appending (output and error).
struct Stream {
    enum Kind { NONE, BYTES, FILE } kind = NONE;
    std::string path;
    std::vector<uint8_t> bytes;
};

enum Failure {
    OK,
    START,        // the program could not be started (result -1)
    INPUT_FILE,   // the input file could not be opened (result -1)
    OUTPUT_FILE,  // the output file could not be opened
    ERROR_FILE,   // the error file could not be opened
    PIPE,         // a pipe failed while it was serviced
};

struct Result {
    Failure failure = OK;
    int64_t value = -1;  // the exit code (128 + signal when killed), or the pid
};

// Runs `command`: through "/bin/sh -c" with `shell`, else split into words
// (blanks separate them, double quotes group them), the first looked up on
// PATH and started directly; a program that cannot be found (also behind a
// PATH folder that cannot be searched) gives exit code 127 and no process,
// never a shell. A command of blanks only runs nothing (0). Waits when
// `wait` is set or any stream is redirected, and then answers the exit
// code; else the process id, and the child is reaped in the background when
// it ends (no zombie stays). A stream left as NONE goes to the null device,
// or with `console` is the parent's own (the terminal). The child gets
// SIGPIPE back at its default. Text crosses as UTF-8 bytes, unchanged.
Result run(const std::string& command, bool shell, bool wait, bool console, Stream& in, Stream& out,
           Stream& err);

}  // namespace kiv::platform::process
