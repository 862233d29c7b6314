// The clipboard's bitmap reader over blocks placed in the store directly
// (the language only ever writes top-down bitmaps with a PNG beside them).
#include <gtest/gtest.h>

#include <cstring>

#include "boot/startup.h"
#include "library/clipboard.h"
#include "platform/clipboard.h"
#include "platform/image.h"
#include "runtime/stack.h"

using namespace kiv;

namespace {

void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

// A 124-byte header with the given height sign and masks, then the rows.
std::vector<uint8_t> dib(int32_t w, int32_t h, uint32_t red_mask, const std::vector<uint32_t>& rows) {
    std::vector<uint8_t> d;
    put32(d, 124);
    put32(d, uint32_t(w));
    put32(d, uint32_t(h));
    put32(d, 1 | 32u << 16);
    put32(d, 3);
    put32(d, uint32_t(uint64_t(w) * uint64_t(h < 0 ? -int64_t(h) : h) * 4));
    for (int i = 0; i < 4; ++i) put32(d, 0);
    put32(d, red_mask);
    put32(d, 0x0000FF00);
    put32(d, red_mask == 0x00FF0000 ? 0x000000FF : 0x00FF0000);
    put32(d, 0xFF000000);
    while (d.size() < 124) put32(d, 0);
    for (uint32_t p : rows) put32(d, p);
    return d;
}

class Clipboard : public ::testing::Test {
  protected:
    void SetUp() override { boot(BootLevel::language); }
    void TearDown() override { os_image::release_all(); }
    std::vector<uint32_t> pixels_of(const Cell* img) {
        const uint32_t* p = os_image::pixels(img, false);
        return std::vector<uint32_t>(p, p + os_image::pixel_count(img));
    }
};

TEST_F(Clipboard, BottomUpBitmapIsTurnedUpright) {
    Cell* saved = stack::top;
    // Rows stored bottom row first: (3, 4) then (1, 2).
    Cell* up = library::clipboard::push_dib_image(dib(2, 2, 0x00FF0000, {3, 4, 1, 2}));
    ASSERT_EQ(up->type(), TYPE_IMAGE);
    EXPECT_EQ(pixels_of(up), (std::vector<uint32_t>{1, 2, 3, 4}));
    Cell* down = library::clipboard::push_dib_image(dib(2, -2, 0x00FF0000, {1, 2, 3, 4}));
    EXPECT_EQ(pixels_of(down), (std::vector<uint32_t>{1, 2, 3, 4}));
    stack::top = saved;
}

TEST_F(Clipboard, SizeIsCheckedAgainstTheHeader) {
    Cell* saved = stack::top;
    auto d = dib(2, 2, 0x00FF0000, {1, 2, 3, 4});
    for (size_t cut = 0; cut < d.size(); ++cut) {
        std::vector<uint8_t> part(d.begin(), d.begin() + cut);
        EXPECT_EQ(library::clipboard::push_dib_image(part)->type(), TYPE_NONE) << cut;
    }
    // A header claiming a huge size does not allocate.
    auto huge = dib(60000, 60000, 0x00FF0000, {1});
    EXPECT_EQ(library::clipboard::push_dib_image(huge)->type(), TYPE_NONE);
    stack::top = saved;
}

TEST_F(Clipboard, OtherMasksGoThroughTheBitmapReaderOpaque) {
    Cell* saved = stack::top;
    // Red and blue swapped: the channels follow the masks, alpha is ignored.
    Cell* img = library::clipboard::push_dib_image(dib(1, -1, 0x000000FF, {0x00112233u}));
    ASSERT_EQ(img->type(), TYPE_IMAGE);
    EXPECT_EQ(pixels_of(img), (std::vector<uint32_t>{0xFF332211u}));
    stack::top = saved;
}

TEST_F(Clipboard, StoreCanBeReplaced) {
    struct Busy final : platform::clipboard::Store {
        bool open() override { return false; }
        void close() override {}
        bool empty() override { return false; }
        bool put(const std::string&, std::vector<uint8_t>) override { return false; }
        bool get(const std::string&, std::vector<uint8_t>&) override { return false; }
    } busy;
    platform::clipboard::set_store(&busy);
    EXPECT_FALSE(platform::clipboard::store().open());
    platform::clipboard::set_store(nullptr);
    EXPECT_TRUE(platform::clipboard::store().open());
}

}  // namespace
