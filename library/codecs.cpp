// The codec routines (see codecs.h).
#include "library/codecs.h"

#include <cstring>
#include <string>
#include <vector>

#include "boot/serialize.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/image.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "library/routines.h"
#include "platform/files.h"
#include "platform/image.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::library::codecs {

namespace {

// encode: the image in the codec's format as a binary!, or written to the
// file that `where` names (the file is the result then).
template <int32_t Format>
Unwind encode_image(Cell* a) {
    Cell* saved = stack::top;
    Cell bytes = *image::encode(&a[0], Format);
    if (a[1].type() == TYPE_FILE && bytes.type() == TYPE_BINARY) {
        stack::push(bytes);
        SeriesBuffer* b = buffer_of(bytes.w2);
        std::vector<uint8_t> data(b->head_ptr(), b->head_ptr() + b->byte_count());
        std::string path = file::os_path(&a[1]);
        if (!platform::files::write(path.c_str(), data, platform::files::REPLACE, 0))
            fire({"access", "cannot-open"}, a[1]);
        stack::top = saved;
        return UNWIND_NONE;  // a[0] is replaced by the file below
    }
    stack::top = saved;
    a[0] = bytes;
    return UNWIND_NONE;
}

template <int32_t Format>
Unwind encode_image_entry(Cell* a) {
    Cell where = a[1];
    if (Unwind code = encode_image<Format>(a)) return code;
    if (where.type() == TYPE_FILE) a[0] = where;
    return UNWIND_NONE;
}

// decode: an image! from a binary!, a file! or a url! (read as binary).
Unwind decode_image(Cell* a) {
    Cell* saved = stack::top;
    Cell data = a[0];
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
    a[0] = result;
    return UNWIND_NONE;
}

// encode*: the value serialized, compact or fixed-width.
Unwind kivbin_encode(Cell* a) {
    Cell* saved = stack::top;
    Cell* out = stack::push(none::cell());
    Cell value = a[0];
    bool compact = a[1].type() == TYPE_LOGIC && logic::get(&a[1]);
    if (compact)
        kivbin::encode_cp(&value, out, false);
    else
        kivbin::encode(&value, out, false);
    a[0] = *out;
    stack::top = saved;
    return UNWIND_NONE;
}

Unwind kivbin_decode(Cell* a) {
    Cell* saved = stack::top;
    Cell payload = a[0];
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
    a[0] = n == 1 ? buffer_of(target->w2)->head_cell()[0] : *target;
    stack::top = saved;
    return UNWIND_NONE;
}

struct Entry {
    const char* key;
    const char* which;
    const char* spec;
    routine::Fn fn;
};

constexpr const char* IMAGE_ENCODE_SPEC = "[img [image!] where [any-type!]]";
constexpr const char* IMAGE_DECODE_SPEC = "[data [any-type!]]";

const Entry ENTRIES[] = {
    {"png", "encode", IMAGE_ENCODE_SPEC, encode_image_entry<os_image::FORMAT_PNG>},
    {"jpeg", "encode", IMAGE_ENCODE_SPEC, encode_image_entry<os_image::FORMAT_JPEG>},
    {"bmp", "encode", IMAGE_ENCODE_SPEC, encode_image_entry<os_image::FORMAT_BMP>},
    {"gif", "encode", IMAGE_ENCODE_SPEC, encode_image_entry<os_image::FORMAT_GIF>},
    {"tiff", "encode", IMAGE_ENCODE_SPEC, encode_image_entry<os_image::FORMAT_TIFF>},
    {"png", "decode", IMAGE_DECODE_SPEC, decode_image},
    {"jpeg", "decode", IMAGE_DECODE_SPEC, decode_image},
    {"bmp", "decode", IMAGE_DECODE_SPEC, decode_image},
    {"gif", "decode", IMAGE_DECODE_SPEC, decode_image},
    {"tiff", "decode", IMAGE_DECODE_SPEC, decode_image},
    {"kivbin", "encode*", "[data [any-type!] compact? [logic!]]", kivbin_encode},
    {"kivbin", "decode", "[payload [any-type!]]", kivbin_decode},
};

std::string word_text(const Cell* w) { return std::string(symbol::name_view(w->w2)); }

Unwind codec_routine(Cell* a) {
    std::string key = word_text(&a[0]), which = word_text(&a[1]);
    for (const Entry& e : ENTRIES)
        if (key == e.key && which == e.which) {
            Cell* saved = stack::top;
            Cell r = *routines::push_routine((key + "/" + which).c_str(), e.spec, e.fn);
            stack::top = saved;
            a[0] = r;
            return UNWIND_NONE;
        }
    a[0] = none::cell();
    return UNWIND_NONE;
}

}  // namespace

void bind() {
    Cell* saved = stack::top;
    Cell* value = routines::push_routine(
        "codec-routine", "[\"Internal Use Only\" key [word!] which [word!]]", codec_routine);
    Cell w = word::load("codec-routine");
    (void)context::set_word(&w, value);  // global: no change hook
    stack::top = saved;
}

}  // namespace kiv::library::codecs
