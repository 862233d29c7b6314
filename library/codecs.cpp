// The codec routines (see codecs.h).
#include "library/codecs.h"

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/image.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "library/routine_table.h"
#include "library/routines.h"
#include "library/serialize.h"
#include "platform/files.h"
#include "platform/image.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::library::codecs {

using routine::arg;
using routine::result;

namespace {

// encode: the image in the codec's format as a binary!, or written to the
// file that `where` names (the file is the result then).
template <int32_t Format, class A>
Unwind encode_image(A a) {
    Cell* saved = stack::top;
    Cell bytes = *image::encode(&arg<"img">(a), Format);
    if (arg<"where">(a).type() == TYPE_FILE && bytes.type() == TYPE_BINARY) {
        stack::push(bytes);
        SeriesBuffer* b = buffer_of(bytes.w2);
        std::vector<uint8_t> data(b->head_ptr(), b->head_ptr() + b->byte_count());
        std::string path = file::os_path(&arg<"where">(a));
        if (!platform::files::write(path.c_str(), data, platform::files::REPLACE, 0))
            fire({"access", "cannot-open"}, arg<"where">(a));
        stack::top = saved;
        return UNWIND_NONE;  // the result is replaced by the file below
    }
    stack::top = saved;
    result(a) = bytes;
    return UNWIND_NONE;
}

template <int32_t Format, class A>
Unwind encode_image_entry(A a) {
    Cell where = arg<"where">(a);
    if (Unwind code = encode_image<Format>(a)) return code;
    if (where.type() == TYPE_FILE) result(a) = where;
    return UNWIND_NONE;
}

// decode: an image! from a binary!, a file! or a url! (read as binary).
template <class A>
Unwind decode_image(A a) {
    Cell* saved = stack::top;
    Cell data = arg<"data">(a);
    Cell result;
    if (data.type() == TYPE_BINARY) {
        result = *image::load_binary(&data);
        if (result.type() != TYPE_IMAGE) fire({"access", "bad-media"});
    } else if (data.type() == TYPE_FILE) {
        result = *image::load_file(&data);
    } else if (data.type() == TYPE_URL) {
        // The URL's read may run a port's actor: its exit passes up.
        Outcome read = actions::read(stack::push(data), nullptr, nullptr, true, false, false, nullptr);
        if (read.code) return read.code;
        Cell bin = *read.cell;
        if (bin.type() != TYPE_BINARY) fire({"access", "bad-media"});
        result = *image::load_binary(stack::push(bin));
        if (result.type() != TYPE_IMAGE) fire({"access", "bad-media"});
    } else {
        fire({"script", "invalid-arg"}, data);
    }
    stack::top = saved;
    routine::result(a) = result;
    return UNWIND_NONE;
}

// encode*: the value serialized, compact or fixed-width.
template <class A>
Unwind kivbin_encode(A a) {
    Cell* saved = stack::top;
    Cell* out = stack::push(none::cell());
    Cell value = arg<"data">(a);
    bool compact = arg<"compact?">(a).type() == TYPE_LOGIC && logic::get(&arg<"compact?">(a));
    if (compact)
        kivbin::encode_cp(&value, out, false);
    else
        kivbin::encode(&value, out, false);
    result(a) = *out;
    stack::top = saved;
    return UNWIND_NONE;
}

template <class A>
Unwind kivbin_decode(A a) {
    Cell* saved = stack::top;
    Cell payload = arg<"payload">(a);
    Cell* bin = stack::push(payload);
    if (payload.type() == TYPE_FILE || payload.type() == TYPE_URL) {
        // A url!'s read may run a port's actor: its exit passes up.
        Outcome read = actions::read(bin, nullptr, nullptr, true, false, false, nullptr);
        if (read.code) return read.code;
        *bin = *read.cell;
    } else if (payload.type() != TYPE_BINARY) {
        fire({"script", "invalid-data"}, payload);
    }
    if (bin->type() != TYPE_BINARY) fire({"script", "invalid-data"}, payload);
    SeriesBuffer* b = buffer_of(bin->w2);
    uint32_t len = b->byte_count(), at = std::min(bin->w1, len);
    if (len - at <= 10) fire({"script", "invalid-data"}, payload);
    Cell* target = stack::push(Cell{TYPE_BLOCK, 0, memory::alloc_cells(4), 0});
    b = buffer_of(bin->w2);
    kivbin::decode(b->head_ptr() + at, len - at, target, kivbin::LOAD);
    uint32_t n = series::count(target->w2);
    result(a) = n == 1 ? buffer_of(target->w2)->head_cell()[0] : *target;
    stack::top = saved;
    return UNWIND_NONE;
}

#define KIV_IMAGE_ENCODE_SPEC "[img [image!] where [any-type!]]"
#define KIV_IMAGE_DECODE_SPEC "[data [any-type!]]"

// The codecs' routines, `KEY-encode` and `KEY-decode` (`kivbin-encode*` for
// the serialization codec, whose encode is Kiv code around it).
const routine::Row ROWS[] = {
    KIV_ROUTINE("png-encode", KIV_IMAGE_ENCODE_SPEC, encode_image_entry<os_image::FORMAT_PNG>),
    KIV_ROUTINE("jpeg-encode", KIV_IMAGE_ENCODE_SPEC, encode_image_entry<os_image::FORMAT_JPEG>),
    KIV_ROUTINE("bmp-encode", KIV_IMAGE_ENCODE_SPEC, encode_image_entry<os_image::FORMAT_BMP>),
    KIV_ROUTINE("gif-encode", KIV_IMAGE_ENCODE_SPEC, encode_image_entry<os_image::FORMAT_GIF>),
    KIV_ROUTINE("tiff-encode", KIV_IMAGE_ENCODE_SPEC, encode_image_entry<os_image::FORMAT_TIFF>),
    KIV_ROUTINE("png-decode", KIV_IMAGE_DECODE_SPEC, decode_image),
    KIV_ROUTINE("jpeg-decode", KIV_IMAGE_DECODE_SPEC, decode_image),
    KIV_ROUTINE("bmp-decode", KIV_IMAGE_DECODE_SPEC, decode_image),
    KIV_ROUTINE("gif-decode", KIV_IMAGE_DECODE_SPEC, decode_image),
    KIV_ROUTINE("tiff-decode", KIV_IMAGE_DECODE_SPEC, decode_image),
    KIV_ROUTINE("kivbin-encode*", "[data [any-type!] compact? [logic!]]", kivbin_encode),
    KIV_ROUTINE("kivbin-decode", "[payload [any-type!]]", kivbin_decode),
};

#undef KIV_IMAGE_ENCODE_SPEC
#undef KIV_IMAGE_DECODE_SPEC

}  // namespace

const routine::Table TABLE = routine::table("codecs", ROWS, false);

}  // namespace kiv::library::codecs
