// The place of a camera preview in its window: as large as fits with the
// video's aspect ratio, centred; portrait videos too.
#include <gtest/gtest.h>

#include "gui/camera/camera.h"

namespace {

struct Case {
    double aspect;
    int32_t width, height;
    int32_t x, y, w, h;
};

const Case CASES[] = {
    {4.0 / 3, 160, 120, 0, 0, 160, 120},   // exact fit
    {4.0 / 3, 200, 120, 20, 0, 160, 120},  // wider area: full height, centred across
    {4.0 / 3, 160, 200, 0, 40, 160, 120},  // taller area: full width, centred down
    {16.0 / 9, 101, 101, 0, 22, 101, 57},  // rounded to whole pixels
    {0.5, 100, 100, 25, 0, 50, 100},       // portrait video
    {0.5, 40, 100, 0, 10, 40, 80},         // portrait in a narrow area
    {0.0, 80, 60, 0, 0, 80, 60},           // no ratio known yet: the whole area
    {4.0 / 3, 0, 60, 0, 0, 0, 60},         // an empty area stays empty
};

TEST(CameraFit, PlacesThePreviewInsideTheArea) {
    for (const Case& c : CASES) {
        const kiv::gui::camera::Placement p = kiv::gui::camera::fit(c.aspect, c.width, c.height);
        EXPECT_EQ(p.x, c.x) << c.aspect << " in " << c.width << "x" << c.height;
        EXPECT_EQ(p.y, c.y) << c.aspect << " in " << c.width << "x" << c.height;
        EXPECT_EQ(p.width, c.w) << c.aspect << " in " << c.width << "x" << c.height;
        EXPECT_EQ(p.height, c.h) << c.aspect << " in " << c.width << "x" << c.height;
        EXPECT_LE(p.x + p.width, c.width);
        EXPECT_LE(p.y + p.height, c.height);
    }
}

}  // namespace
