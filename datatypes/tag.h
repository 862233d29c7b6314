// tag!, email! and ref!: strings that differ from string! only in how they
// are written ("<text>", the bare text, "@text") and, for email!, in path
// access (/user and /host split the text at its first "@").
#pragma once

namespace kiv::tag {
// Registers tag!, email! and ref! (in their places of the start-up order:
// the caller runs each one there).
void init_tag();
void init_email();
void init_ref();
}  // namespace kiv::tag
