// GIF through giflib: the first frame, drawn on the logical screen (pixels
// outside the frame and the transparent index are transparent black).
// Encoding writes one frame with an exact palette when the image has at
// most 255 colours (transparent pixels, A < 128, share one more entry), and
// a fixed 6x7x6 colour cube otherwise.
//
// giflib is opened on the first use of the codec (platform/late_library.h);
// its calls below go through the table.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/image.h"
#include "platform/late_library.h"

static_assert(GIFLIB_MAJOR == 5, "image_gif.cpp opens libgif.so.7");

#define KIV_GIF_FUNCTIONS(X) \
    X(DGifOpen)              \
    X(DGifCloseFile)         \
    X(DGifGetRecordType)     \
    X(DGifGetExtension)      \
    X(DGifGetExtensionNext)  \
    X(DGifGetImageDesc)      \
    X(DGifGetLine)           \
    X(GifMakeMapObject)      \
    X(GifFreeMapObject)      \
    X(EGifOpen)              \
    X(EGifSetGifVersion)     \
    X(EGifPutScreenDesc)     \
    X(EGifPutExtension)      \
    X(EGifPutImageDesc)      \
    X(EGifPutLine)           \
    X(EGifCloseFile)

namespace kiv::os_image {

namespace {

struct Table {
    KIV_GIF_FUNCTIONS(KIV_LATE_FIELD)
};
Table table;

}  // namespace

bool load_gif_library(std::string& why) {
    static platform::LateLibrary library("libgif.so.7", "the GIF codec needs giflib: ");
    return library.load(why, [](platform::LateLibrary& lib) { KIV_GIF_FUNCTIONS(KIV_LATE_RESOLVE) });
}

#define DGifOpen table.DGifOpen
#define DGifCloseFile table.DGifCloseFile
#define DGifGetRecordType table.DGifGetRecordType
#define DGifGetExtension table.DGifGetExtension
#define DGifGetExtensionNext table.DGifGetExtensionNext
#define DGifGetImageDesc table.DGifGetImageDesc
#define DGifGetLine table.DGifGetLine
#define GifMakeMapObject table.GifMakeMapObject
#define GifFreeMapObject table.GifFreeMapObject
#define EGifOpen table.EGifOpen
#define EGifSetGifVersion table.EGifSetGifVersion
#define EGifPutScreenDesc table.EGifPutScreenDesc
#define EGifPutExtension table.EGifPutExtension
#define EGifPutImageDesc table.EGifPutImageDesc
#define EGifPutLine table.EGifPutLine
#define EGifCloseFile table.EGifCloseFile

namespace {

struct Reader {
    const uint8_t* bytes;
    size_t length;
    size_t at;
};

int read_bytes(GifFileType* gif, GifByteType* out, int count) {
    Reader* r = static_cast<Reader*>(gif->UserData);
    size_t n = std::min<size_t>(size_t(std::max(count, 0)), r->length - r->at);
    std::memcpy(out, r->bytes + r->at, n);
    r->at += n;
    return int(n);
}

struct Closer {
    GifFileType* gif;
    ~Closer() {
        int err = 0;
        if (gif) DGifCloseFile(gif, &err);
    }
};

}  // namespace

std::unique_ptr<Bitmap> decode_gif(const uint8_t* bytes, size_t length) {
    std::string why;
    if (!load_gif_library(why)) return nullptr;
    Reader reader{bytes, length, 0};
    int err = 0;
    GifFileType* gif = DGifOpen(&reader, read_bytes, &err);
    if (!gif) return nullptr;
    Closer closer{gif};
    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return nullptr;
        if (type == TERMINATE_RECORD_TYPE) return nullptr;  // no frame at all
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return nullptr;
            while (ext) {
                // Graphics control: flags, delay (2), transparent index.
                if (code == GRAPHICS_EXT_FUNC_CODE && ext[0] >= 4) transparent = (ext[1] & 1) ? ext[4] : -1;
                if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return nullptr;
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif) == GIF_ERROR) return nullptr;
        const GifImageDesc& d = gif->Image;
        if (d.Width <= 0 || d.Height <= 0 || d.Left < 0 || d.Top < 0) return nullptr;
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        if (!map || !map->Colors) return nullptr;
        // The canvas is the logical screen when the frame lies within it.
        uint64_t cw = uint64_t(gif->SWidth), ch = uint64_t(gif->SHeight);
        uint64_t fx = uint64_t(d.Left), fy = uint64_t(d.Top), fw = uint64_t(d.Width), fh = uint64_t(d.Height);
        if (fx + fw > cw || fy + fh > ch || !fits(cw, ch)) {
            cw = fw;
            ch = fh;
            fx = fy = 0;
        }
        if (!fits(fw, fh) || !fits(cw, ch)) return nullptr;
        // Each LZW code takes at least one bit and gives at most 4096 pixels:
        // a frame that the rest of the input could not fill is refused before
        // its canvas is made.
        if (fw * fh > uint64_t(reader.length - reader.at) * 8 * 4096) return nullptr;
        auto bm = new_bitmap(cw, ch);
        if (!bm) return nullptr;
        std::vector<GifPixelType> line(static_cast<size_t>(fw));
        // Interlaced frames send rows in four passes.
        static const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
        std::vector<uint32_t> order;
        order.reserve(size_t(fh));
        if (d.Interlace) {
            for (int p = 0; p < 4; ++p)
                for (uint64_t y = uint64_t(starts[p]); y < fh; y += uint64_t(steps[p])) order.push_back(uint32_t(y));
        } else {
            for (uint64_t y = 0; y < fh; ++y) order.push_back(uint32_t(y));
        }
        for (uint32_t y : order) {
            if (DGifGetLine(gif, line.data(), int(fw)) == GIF_ERROR) return nullptr;
            uint32_t* row = bm->pixels.data() + size_t((fy + y) * cw + fx);
            for (uint64_t x = 0; x < fw; ++x) {
                int idx = line[size_t(x)];
                if (idx == transparent || idx >= map->ColorCount) {
                    row[x] = 0;
                    continue;
                }
                const GifColorType& c = map->Colors[idx];
                row[x] = 0xFF000000u | (uint32_t(c.Red) << 16) | (uint32_t(c.Green) << 8) | c.Blue;
            }
        }
        return bm;
    }
}

namespace {

int write_bytes(GifFileType* gif, const GifByteType* data, int count) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + count);
    return count;
}

}  // namespace

bool encode_gif(const Bitmap& bm, std::vector<uint8_t>& out) {
    std::string why;
    if (!load_gif_library(why)) return false;
    if (bm.width > 65535 || bm.height > 65535) return false;
    uint64_t n = bm.count();
    std::vector<GifPixelType> indexes(static_cast<size_t>(n));
    std::vector<GifColorType> colours;
    bool has_transparent = false;
    for (uint32_t p : bm.pixels)
        if ((p >> 24) < 128) has_transparent = true;
    // Exact palette when the colours fit.
    std::unordered_map<uint32_t, int> seen;
    bool exact = true;
    size_t limit = has_transparent ? 255 : 256;
    for (uint32_t p : bm.pixels) {
        if ((p >> 24) < 128) continue;
        uint32_t rgb = p & 0xFFFFFFu;
        if (seen.emplace(rgb, int(seen.size())).second && seen.size() > limit) {
            exact = false;
            break;
        }
    }
    int transparent = -1;
    if (exact) {
        colours.resize(seen.size());
        for (auto& [rgb, i] : seen)
            colours[size_t(i)] = GifColorType{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
    } else {
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 7; ++g)
                for (int b = 0; b < 6; ++b)
                    colours.push_back(GifColorType{uint8_t(r * 51), uint8_t(g * 255 / 6), uint8_t(b * 51)});
    }
    if (has_transparent) {
        transparent = int(colours.size());
        colours.push_back(GifColorType{0, 0, 0});
    }
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t p = bm.pixels[size_t(i)];
        if ((p >> 24) < 128) {
            indexes[size_t(i)] = GifPixelType(transparent);
        } else if (exact) {
            indexes[size_t(i)] = GifPixelType(seen[p & 0xFFFFFFu]);
        } else {
            uint32_t r = ((p >> 16) & 255) + 25, g = ((p >> 8) & 255), b = (p & 255) + 25;
            indexes[size_t(i)] = GifPixelType((r / 51) * 42 + ((g * 6 + 127) / 255) * 6 + b / 51);
        }
    }
    int size = 2;
    while (size < int(colours.size())) size *= 2;
    colours.resize(size_t(size), GifColorType{0, 0, 0});
    ColorMapObject* map = GifMakeMapObject(size, colours.data());
    if (!map) return false;
    int err = 0;
    GifFileType* gif = EGifOpen(&out, write_bytes, &err);
    if (!gif) {
        GifFreeMapObject(map);
        return false;
    }
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, int(bm.width), int(bm.height), 8, 0, map) != GIF_ERROR;
    if (ok && transparent >= 0) {
        GifByteType gce[4] = {1, 0, 0, GifByteType(transparent)};
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce) != GIF_ERROR;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, int(bm.width), int(bm.height), false, nullptr) != GIF_ERROR;
    for (uint32_t y = 0; ok && y < bm.height; ++y)
        ok = EGifPutLine(gif, indexes.data() + size_t(y) * bm.width, int(bm.width)) != GIF_ERROR;
    if (EGifCloseFile(gif, &err) == GIF_ERROR) ok = false;
    GifFreeMapObject(map);
    return ok;
}

}  // namespace kiv::os_image
