// image/transform: the destination quad from one to four points, mirroring,
// cropping, and the errors for quads that cannot be warped.
#include <gtest/gtest.h>

#include "boot/startup.h"
#include "datatypes/image.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "platform/image.h"
#include "runtime/error.h"
#include "runtime/stack.h"

using namespace kiv;

namespace {

class Transform : public ::testing::Test {
  protected:
    void SetUp() override {
        boot(BootLevel::language);
        saved = stack::top;
        // A 4x2 image whose pixel n is n (opaque).
        src = image::push_new(4, 2);
        uint32_t* px = os_image::pixels(src, true);
        for (uint32_t i = 0; i < 8; ++i) px[i] = 0xFF000000u | i;
    }
    void TearDown() override {
        stack::top = saved;
        os_image::release_all();
    }
    // Transforms with the given points (pushed as consecutive cells).
    Cell run(std::initializer_list<Cell> points, const Cell* crop_offset = nullptr, const Cell* crop_size = nullptr) {
        Cell* first = stack::top;
        for (const Cell& p : points) stack::push(p);
        Cell* last = stack::top - 1;
        Cell r = *image::transform(src, crop_offset, crop_size, first, last, box);
        return r;
    }
    std::vector<uint32_t> pixels(const Cell& img) {
        const uint32_t* p = os_image::pixels(&img, false);
        std::vector<uint32_t> v(p, p + os_image::pixel_count(&img));
        for (uint32_t& x : v) x &= 0xFFFFFFu;
        return v;
    }
    Cell* saved = nullptr;
    Cell* src = nullptr;
    int32_t box[4] = {};
};

TEST_F(Transform, OnePointPlacesTheImageAtItsSize) {
    Cell r = run({pair::make(10, 20)});
    ASSERT_EQ(r.type(), TYPE_IMAGE);
    EXPECT_EQ(pixels(r), (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ((std::vector<int32_t>(box, box + 4)), (std::vector<int32_t>{10, 20, 4, 2}));
}

TEST_F(Transform, TwoPointsScale) {
    Cell r = run({pair::make(0, 0), point::make2(8, 2)});
    ASSERT_EQ(r.type(), TYPE_IMAGE);
    EXPECT_EQ(os_image::width(&r), 8u);
    EXPECT_EQ(pixels(r), (std::vector<uint32_t>{0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7}));
}

TEST_F(Transform, ThreeAndFourPointsMakeTheSameQuad) {
    Cell three = run({pair::make(0, 0), pair::make(4, 0), pair::make(0, 2)});
    Cell four = run({pair::make(0, 0), pair::make(4, 0), pair::make(0, 2), pair::make(4, 2)});
    EXPECT_EQ(pixels(three), (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(pixels(four), pixels(three));
}

TEST_F(Transform, MirroredQuadsNegateTheBox) {
    Cell r = run({pair::make(4, 0), pair::make(0, 2)});  // right to left
    ASSERT_EQ(r.type(), TYPE_IMAGE);
    EXPECT_EQ(box[2], -4);
    EXPECT_EQ(box[3], 2);
    Cell up = run({pair::make(0, 2), pair::make(4, 0)});  // bottom to top
    EXPECT_EQ(box[3], -2);
    EXPECT_EQ(up.type(), TYPE_IMAGE);
}

TEST_F(Transform, CropWarpsThePart) {
    Cell off = pair::make(1, 1), size = pair::make(2, 5);  // cut to 2x1
    Cell r = run({pair::make(0, 0)}, &off, &size);
    ASSERT_EQ(r.type(), TYPE_IMAGE);
    EXPECT_EQ(pixels(r), (std::vector<uint32_t>{5, 6}));
    Cell outside = pair::make(INT32_MIN, 0), big = pair::make(INT32_MAX, 1);
    EXPECT_EQ(run({pair::make(0, 0)}, &outside, &big).type(), TYPE_NONE);
}

TEST_F(Transform, MoreThanFourPointsGiveNone) {
    Cell r = run({pair::make(0, 0), pair::make(1, 0), pair::make(1, 1), pair::make(0, 1), pair::make(2, 2)});
    EXPECT_EQ(r.type(), TYPE_NONE);
}

TEST_F(Transform, DegenerateAndFarQuadsRaiseErrors) {
    for (auto pts : {std::vector<Cell>{pair::make(3, 3), pair::make(3, 3), pair::make(3, 3)},
                     std::vector<Cell>{point::make2(0, 0), point::make2(1e30f, 0), point::make2(0, 1e30f)}}) {
        Cell* mark = stack::top;
        bool raised = false;
        try {
            Cell* first = stack::top;
            for (const Cell& p : pts) stack::push(p);
            image::transform(src, nullptr, nullptr, first, stack::top - 1, box);
        } catch (const RaisedError& e) {
            raised = true;
            EXPECT_EQ(e.category, "script");
            EXPECT_EQ(e.id, "invalid-arg");
        }
        stack::top = mark;
        EXPECT_TRUE(raised);
    }
}

}  // namespace
