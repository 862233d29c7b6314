// The routine of do-file's header search (see loading.h).
#include "library/loading.h"

#include "datatypes/none.h"
#include "library/library.h"
#include "runtime/error.h"
#include "runtime/series.h"

namespace kiv::library::loading {

using routine::arg;
using routine::result;

namespace {

// The script text from its header on (the same binary at the header's
// position), or none when it has no header.
template <class A>
Unwind find_header(A a) {
    Cell text = arg<"text">(a);
    const SeriesBuffer* b = buffer_of(text.w2);
    uint32_t len = b->byte_count(), at = text.w1 < len ? text.w1 : len;
    int64_t found = library::find_header(b->head_ptr() + at, len - at);
    if (found < 0) {
        result(a) = none::cell();
    } else {
        text.w1 = at + uint32_t(found);
        result(a) = text;
    }
    return UNWIND_NONE;
}

const routine::Row ROWS[] = {
    KIV_ROUTINE("find-header", "[text [binary!]]", find_header),
};

}  // namespace

const routine::Table TABLE = routine::table("loading", ROWS, false);

}  // namespace kiv::library::loading
