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
#include "runtime/stack.h"
#include "runtime/base_codecs.h"
#include "runtime/error.h"

namespace kiv::natives {

namespace {

// The /base argument (default 64); a base other than 2, 16, 58 or 64 raises
// script invalid-arg with it.
uint32_t base_argument(const int32_t* refs) {
    if (refs[0] < 0) return 64;
    const Cell* arg = stack::arg_base + refs[0];
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
uint32_t dehex(bool check, const int32_t*) {
    if (check) check_args(N_DEHEX, 1);
    return finish(url::push_decoded(stack::arg_base));
}

// enhex value: a string! keeps letters, digits and - . _ ~; the other text
// types also keep the characters a URL may hold.
uint32_t enhex(bool check, const int32_t*) {
    if (check) check_args(N_ENHEX, 1);
    Cell* v = stack::arg_base;
    auto table = v->type() == TYPE_STRING ? percent_coding::STRICT : percent_coding::GENERAL;
    return finish(url::push_encoded(v, table));
}

// enbase value /base base-value
uint32_t enbase(bool check, const int32_t* refs) {
    if (check) check_args(N_ENBASE, 1);
    uint32_t base = base_argument(refs);
    return finish(binary::push_encoded(stack::arg_base, base));
}

// debase value /base base-value
uint32_t debase(bool check, const int32_t* refs) {
    if (check) check_args(N_DEBASE, 1);
    uint32_t base = base_argument(refs);
    return finish(binary::push_decoded(stack::arg_base, base));
}

// to-local-file path /full
uint32_t to_local_file(bool check, const int32_t* refs) {
    if (check) check_args(N_TO_LOCAL_FILE, 1);
    Cell* out = string::push_new(16);
    file::append_os_path(stack::arg_base, out, refs[0] >= 0);
    return finish(out);
}

}  // namespace kiv::natives
