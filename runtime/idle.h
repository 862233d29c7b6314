// A turn of the GUI's message loop for code below the window layer.
//
// `wait` sleeps in the evaluator, which may not see the window layer; after
// sleeping it gives the message loop one turn without waiting, so that event
// handlers run inside a wait. The start-up installs the window layer's turn
// here; until then (and in programs without the window layer) it is null and
// nothing runs.
#pragma once

namespace kiv::idle {

using Turn = void (*)();
inline Turn message_turn = nullptr;

// One turn of the message loop, when one is installed.
inline void run_message_turn() {
    if (message_turn) message_turn();
}

}  // namespace kiv::idle
