// Natives that convert text between encodings: percent-encoding (dehex,
// enhex), the base-N codecs (enbase, debase) and the OS form of file names
// (to-local-file). Each reads its arguments by the native entry contract and
// hands them to the datatype that does the work.
#include "datatypes/binary.h"
#include "datatypes/file.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "evaluator/natives.h"
#include "runtime/base_codecs.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::natives {

namespace {

// The /base argument (default 64); a base other than 2, 16, 58 or 64 raises
// script invalid-arg with it.
template <uint32_t N>
uint32_t base_argument(const int32_t* refs) {
    const Cell* arg = Refs<N>{refs}.template arg<"base">();
    if (!arg) return 64;
    int32_t base = int32_t(arg->w2);
    if (arg->type() != TYPE_INTEGER || !base_codecs::known_base(base)) fire("script", "invalid-arg", *arg);
    return uint32_t(base);
}

// Leaves `result` in the result slot and the data top just above it.
uint32_t finish(const Cell* result) {
    Cell* base = stack::arg_base;
    *base = result ? *result : none::cell();
    stack::top = base + 1;
    return 0;
}

}  // namespace

// dehex value
uint32_t dehex(const int32_t*) {
    return finish(url::push_decoded(stack::arg_base));
}

// enhex value: a string! keeps letters, digits and - . _ ~; the other text
// types also keep the characters a URL may hold.
uint32_t enhex(const int32_t*) {
    Cell* v = stack::arg_base;
    auto table = v->type() == TYPE_STRING ? percent_coding::STRICT : percent_coding::GENERAL;
    return finish(url::push_encoded(v, table));
}

// enbase value /base base-value
uint32_t enbase(const int32_t* refs) {
    uint32_t base = base_argument<N_ENBASE>(refs);
    return finish(binary::push_encoded(stack::arg_base, base));
}

// debase value /base base-value
uint32_t debase(const int32_t* refs) {
    uint32_t base = base_argument<N_DEBASE>(refs);
    return finish(binary::push_decoded(stack::arg_base, base));
}

// to-local-file path /full
uint32_t to_local_file(const int32_t* refs) {
    Cell* out = string::push_new(16);
    file::append_os_path(stack::arg_base, out, Refs<N_TO_LOCAL_FILE>{refs}.has<"full">());
    return finish(out);
}

}  // namespace kiv::natives
