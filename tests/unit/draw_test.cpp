// The Draw dialect on a plain pixel buffer: golden images of each primitive
// and feature, exact pixels whose colour follows from the geometry, the
// argument rules and the dialect's errors.
//
// Golden images live in tests/data/draw/<name>.png. They were written by
// this code (KIV_DRAW_WRITE_GOLDEN=1 rewrites them) and checked by eye; a
// test compares every pixel with a small tolerance for antialiasing.
#include <cairo.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui/draw/draw_context.h"
#include "gui/draw/draw_device.h"
#include "gui/draw/draw_matrix.h"
#include "interp_support.h"
#include "platform/image.h"

namespace kiv::test {
namespace {

using namespace kiv::draw;

class DrawTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        const std::pair<const char*, const char*> colours[] = {
            {"red", "255.0.0"},       {"green", "0.255.0"},   {"blue", "0.0.255"},
            {"orange", "255.150.10"}, {"black", "0.0.0"},     {"white", "255.255.255"},
            {"yellow", "255.255.0"},  {"gray", "128.128.128"}, {"not-colour", "42"},
        };
        for (const auto& [name, value] : colours) set_global(name, load(value));
        // An 8x8 image of four coloured quarters, the top-left one half transparent.
        Cell* img = root_slot();
        auto bm = os_image::new_bitmap(8, 8);
        for (uint32_t y = 0; y < 8; ++y)
            for (uint32_t x = 0; x < 8; ++x)
                bm->pixels[y * 8 + x] = y < 4 ? (x < 4 ? 0x80FF0000u : 0xFF00FF00u) : (x < 4 ? 0xFF0000FFu : 0xFF000000u);
        os_image::init_image(img, std::move(bm));
        set_global("img", *img);
    }
    // The image is released by a collection once nothing holds it.
    void TearDown() override {
        set_global("img", none::cell());
        RuntimeTest::TearDown();
        collector::collect();
    }

    // Runs the commands on a white w x h buffer; returns the pixels.
    std::vector<uint32_t> render(const char* commands, int w = 100, int h = 100, bool catch_errors = false) {
        std::vector<uint32_t> px(size_t(w) * h, 0xFFFFFFFFu);
        cairo_surface_t* s = wrap_pixels(reinterpret_cast<uint8_t*>(px.data()), w, h, w * 4);
        Cell blk = code(commands);
        try {
            EXPECT_EQ(run_pass(s, blk, catch_errors, 0), UNWIND_NONE);
        } catch (...) {
            cairo_surface_destroy(s);
            throw;
        }
        cairo_surface_destroy(s);
        return px;
    }
};

std::string golden_path(const std::string& name) {
    return std::string(KIV_SOURCE_DIR) + "/tests/data/draw/" + name + ".png";
}

// Largest channel difference between the rendering and the golden image;
// -1 when the golden image is missing or of another size.
int compare_golden(const std::string& name, std::vector<uint32_t>& px, int w, int h) {
    cairo_surface_t* s = wrap_pixels(reinterpret_cast<uint8_t*>(px.data()), w, h, w * 4);
    const char* write = std::getenv("KIV_DRAW_WRITE_GOLDEN");
    if (write && write[0] == '1') cairo_surface_write_to_png(s, golden_path(name).c_str());
    cairo_surface_t* g = cairo_image_surface_create_from_png(golden_path(name).c_str());
    int worst = -1;
    if (cairo_surface_status(g) == CAIRO_STATUS_SUCCESS && cairo_image_surface_get_width(g) == w &&
        cairo_image_surface_get_height(g) == h) {
        worst = 0;
        const uint8_t* gd = cairo_image_surface_get_data(g);
        int gs = cairo_image_surface_get_stride(g);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint32_t a = px[size_t(y) * w + x], b;
                std::memcpy(&b, gd + size_t(y) * gs + x * 4, 4);
                for (int k = 0; k < 32; k += 8)
                    worst = std::max(worst, std::abs(int((a >> k) & 0xFF) - int((b >> k) & 0xFF)));
            }
    }
    if (worst != 0) cairo_surface_write_to_png(s, (std::string("draw-actual-") + name + ".png").c_str());
    cairo_surface_destroy(g);
    cairo_surface_destroy(s);
    return worst;
}

uint32_t at(const std::vector<uint32_t>& px, int x, int y, int w = 100) {
    return px[size_t(y) * w + x];
}

constexpr uint32_t WHITE = 0xFFFFFFFFu, BLACK = 0xFF000000u, RED = 0xFFFF0000u, BLUE = 0xFF0000FFu,
                   GREEN = 0xFF00FF00u;

// ---- Golden images --------------------------------------------------------------------------

struct Golden {
    const char* name;
    const char* commands;
};

const Golden GOLDENS[] = {
    {"box", "pen blue fill-pen orange box 10x10 60x40 box 90x90 50x50 line-width 3 box 20x60 80x90 10"},
    {"line", "line-width 4 pen red line 10x10 90x20 line-cap round line 10x40 90x40 line-join round "
             "pen blue line 10x90 50x60 90x90"},
    {"polyline-fill", "pen off fill-pen orange line 0x0 100x0 100x100"},
    {"triangle-polygon", "fill-pen green triangle 10x10 50x10 30x40 fill-pen 0.0.255.128 "
                         "polygon 50x50 90x60 80x95 55x80 40x70"},
    {"circle-ellipse", "fill-pen red circle 30x30 20 fill-pen blue circle 70x30 25 10 "
                       "fill-pen green ellipse 10x60 80x30"},
    {"arc", "line-width 2 arc 50x50 40x40 0 90 fill-pen orange arc 50x50 30x20 180 120 closed "
            "pen red arc 50x50 20x20 0 360"},
    {"curve", "line-width 2 curve 0x0 50x100 100x0 pen red curve 0x50 30x0 70x100 100x50"},
    {"spline", "line-width 2 spline 10x90 30x10 60x80 90x20 pen red spline 20x20 50x50 80x20 closed"},
    {"dash", "line-width 2 line-pattern 5 2 line 10x10 90x10 line-pattern line 10x20 90x20 "
             "line-pattern 1 3 line-cap round line 10x30 90x30"},
    {"linear", "pen off fill-pen linear orange green blue box 0x0 100x50 "
               "fill-pen linear red blue 10x0 60x0 repeat box 0x50 100x100"},
    {"radial", "pen off fill-pen radial orange blue box 0x0 100x50 "
               "fill-pen radial white black 50x75 20 40x70 reflect box 0x50 100x100"},
    {"diamond-offset", "pen off fill-pen diamond red yellow box 0x0 50x50 "
                       "fill-pen linear 0x0 0 100 45 orange blue box 50x0 100x50 "
                       "fill-pen radial 50x75 0 25 red 0.2 yellow blue box 0x50 100x100"},
    {"pattern", "fill-pen pattern 20x20 [pen off fill-pen orange box 0x0 10x10] box 0x0 100x50 "
                "fill-pen pattern 20x20 0x0 20x20 flip-x [pen off fill-pen blue triangle 0x0 20x0 0x20] "
                "box 0x50 100x100"},
    {"transform", "fill-pen blue rotate 30 50x50 [box 30x30 70x70] fill-pen red scale 50% 50% box 0x0 40x40 "
                  "fill-pen green translate 60x60 skew 20 [box 0x0 20x20]"},
    {"matrix", "fill-pen orange matrix [1 0 0.5 1 0 0] box 10x10 40x40 reset-matrix fill-pen blue "
               "translate 50x50 invert-matrix box 60x60 90x90"},
    {"brush-transform", "pen off fill-pen linear orange blue rotate 'fill-pen 90 box 0x0 100x100"},
    {"clip", "push [clip 0x0 50x50 fill-pen orange box 0x0 100x100] "
             "clip [move 100x0 line 100x100 0x100] [fill-pen blue box 0x0 100x100]"},
    {"clip-rotated", "rotate 45 50x50 clip 30x30 70x70 [fill-pen red box 0x0 100x100]"},
    {"shape", "fill-pen orange shape [move 10x10 'line 80x0 0x30 hline 10 close] "
              "pen red fill-pen off shape [move 10x60 curve 20x90 40x90 50x60 curv 80x30 90x60] "
              "pen blue shape [move 10x95 arc 90x95 40 30 0 sweep large qcurve 50x50 10x95]"},
    {"shadow", "shadow 5x5 4 0 0.0.0.128 fill-pen orange box 10x10 50x50 "
               "shadow 3x3 2 2 red shadow -3x3 0 0 blue fill-pen green circle 70x70 15"},
    {"anti-alias", "anti-alias off fill-pen blue circle 30x30 20 anti-alias on fill-pen red circle 70x70 20"},
    {"image", "image img 2x2 image img 20x2 60x30 image img 70x2 crop 2x2 4x4 image img 70x20 crop -2x-2 6x6 "
              "image img 10x50 45x55 40x95 5x90 image img 55x55 95x60 90x95"},
    {"bitmap-brush", "pen off fill-pen bitmap img box 0x0 50x50 fill-pen bitmap img 0x0 8x8 flip-xy box 50x0 100x50 "
                     "fill-pen bitmap img 2x2 6x6 clamp box 0x50 50x100 pen bitmap img flip-x line-width 6 "
                     "line 55x60 95x95"},
    {"push", "push [pen red line-width 5 fill-pen blue translate 10x10 box 0x0 30x30] box 50x50 90x90"},
};

TEST_F(DrawTest, GoldenImages) {
    std::remove("draw-actual.txt");
    for (const Golden& g : GOLDENS) {
        std::vector<uint32_t> px = render(g.commands);
        EXPECT_LE(compare_golden(g.name, px, 100, 100), 2) << g.name << ": " << g.commands;
        EXPECT_GE(compare_golden(g.name, px, 100, 100), 0) << g.name;
    }
}

// ---- Pixels that follow from the geometry -----------------------------------------------------------

TEST_F(DrawTest, ExactPixels) {
    auto px = render("pen off fill-pen red box 10x10 50x50");
    EXPECT_EQ(at(px, 30, 30), RED);
    EXPECT_EQ(at(px, 10, 10), RED);
    EXPECT_EQ(at(px, 49, 49), RED);
    EXPECT_EQ(at(px, 50, 50), WHITE);
    EXPECT_EQ(at(px, 9, 30), WHITE);
    // A 2-pixel line on pixel boundaries: covered exactly, flat ends.
    px = render("pen blue line-width 2 line 10x20 90x20");
    EXPECT_EQ(at(px, 10, 19), BLUE);
    EXPECT_EQ(at(px, 89, 20), BLUE);
    EXPECT_EQ(at(px, 90, 20), WHITE);
    EXPECT_EQ(at(px, 50, 21), WHITE);
    px = render("pen blue line-width 2 line-cap square line 10x20 90x20");
    EXPECT_EQ(at(px, 90, 20), BLUE);
    // Transparency byte: 255 invisible, 128 about half.
    px = render("pen off fill-pen 255.0.0.255 box 0x0 100x100 fill-pen 0.0.255.128 box 0x0 50x50");
    EXPECT_EQ(at(px, 70, 70), WHITE);
    uint32_t half = at(px, 20, 20);
    EXPECT_NEAR(int((half >> 16) & 0xFF), 128, 1);
    EXPECT_EQ(half & 0xFF, 255u);
    // push restores a gradient changed inside.
    px = render("pen off fill-pen linear red blue push [fill-pen green] box 0x0 100x100");
    EXPECT_GT((at(px, 1, 50) >> 16) & 0xFF, 240u);
    EXPECT_EQ((at(px, 1, 50) >> 8) & 0xFF, 0u);
    EXPECT_GT(at(px, 98, 50) & 0xFF, 240u);
    // The fill is painted before the stroke.
    px = render("pen red line-width 4 fill-pen blue box 10x10 50x50");
    EXPECT_EQ(at(px, 10, 30), RED);
    EXPECT_EQ(at(px, 30, 30), BLUE);
}

TEST_F(DrawTest, StateChanges) {
    struct Case {
        const char* commands;
        int x, y;
        uint32_t expected;
    };
    const Case cases[] = {
        // line-width 0 remembers the pen; pen off stays off.
        {"pen red line-width 0 line-width 4 line 0x50 100x50", 50, 50, RED},
        {"pen off line-width 4 line 0x50 100x50", 50, 50, WHITE},
        {"pen red line-width 0 line 0x50 100x50", 50, 50, WHITE},
        // Scaling about a centre keeps it in place.
        {"pen off fill-pen red scale 2 2 10x10 box 10x10 20x20", 29, 29, RED},
        {"pen off fill-pen red scale 2 2 10x10 box 10x10 20x20", 31, 31, WHITE},
        {"pen off fill-pen red scale 50% 50% box 0x0 100x100", 49, 49, RED},
        {"pen off fill-pen red scale 50% 50% box 0x0 100x100", 51, 51, WHITE},
        // A nested block's clip ends with the block.
        {"pen off fill-pen red push [clip 0x0 50x50 box 0x0 100x100] fill-pen blue box 0x0 100x100", 75, 75, BLUE},
        {"pen off clip 0x0 50x50 xor fill-pen red box 0x0 100x100", 75, 75, WHITE},
        {"pen off clip 0x0 50x50 xor fill-pen red box 0x0 100x100", 25, 25, RED},
        // Transformations with a block hold only inside it.
        {"pen off fill-pen red rotate 90 50x50 [box 0x0 10x10] box 0x0 10x10", 5, 5, RED},
        {"pen off fill-pen red rotate 90 50x50 [box 0x0 10x10] box 0x0 10x10", 95, 5, RED},
        {"pen off fill-pen red translate 10x10 rotate 90 box 0x0 20x10", 5, 15, RED},
        // A solid brush ignores brush transformations.
        {"pen off fill-pen red rotate 'fill-pen 45 box 0x0 100x100", 5, 95, RED},
        // push restores colours changed inside.
        {"pen off fill-pen red push [fill-pen blue] box 0x0 100x100", 50, 50, RED},
        // Shadows: off removes them for later shapes.
        {"pen off fill-pen red shadow 20x20 shadow off box 0x0 50x50", 60, 60, WHITE},
        {"pen off fill-pen red shadow 20x20 0 0 blue box 0x0 50x50", 60, 60, BLUE},
        {"pen off fill-pen red shadow 20x20 0 10 blue box 0x0 50x50", 69, 69, BLUE},
        // A shape too large for a shadow bitmap is drawn without its shadow.
        {"pen off fill-pen red shadow 2x2 box -100000x-100000 100000x100000", 50, 50, RED},
        // An open arc is not filled; a closed one is a pie.
        {"pen off fill-pen red arc 50x50 40x40 0 90", 60, 60, WHITE},
        {"pen off fill-pen red arc 50x50 40x40 0 90 closed", 60, 60, RED},
        {"pen off fill-pen red arc 50x50 40x40 0 90 closed", 40, 60, WHITE},
        // A line of three points is filled as a closed figure.
        {"pen off fill-pen red line 0x0 100x0 100x100", 90, 10, RED},
        // Keywords ignore letter case.
        {"PEN off Fill-Pen red BOX 0x0 100x100", 50, 50, RED},
        // An unknown join or cap word gives the default.
        {"line-join foo line-cap bar pen off fill-pen red box 0x0 10x10", 5, 5, RED},
        // The matrix block multiplies the current matrix.
        {"pen off fill-pen red matrix [1 0 0 1 50 50] box 0x0 10x10", 55, 55, RED},
        {"pen off fill-pen red translate 50x50 reset-matrix box 0x0 10x10", 5, 5, RED},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.commands);
        auto px = render(k.commands);
        EXPECT_EQ(at(px, k.x, k.y), k.expected) << k.commands << " at " << k.x << "x" << k.y;
    }
}

// Pairs of blocks that must draw the same pixels (up to antialiasing).
TEST_F(DrawTest, EquivalentDrawings) {
    const std::pair<const char*, const char*> pairs[] = {
        {"box 50x50 10x10", "box 10x10 50x50"},
        {"box 0x0 100x50 0", "box 0x0 100x50"},
        {"curve 0x0 50x100 100x0", "curve 0x0 (33.333333, 66.666667) (66.666667, 66.666667) 100x0"},
        {"fill-pen red circle 50x50 20 10", "fill-pen red ellipse 30x40 40x20"},
        {"fill-pen red arc 50x50 40x20 0 360", "fill-pen red ellipse 10x30 80x40"},
        {"spline 0x0 50x50", "line 0x0 50x50"},
        {"fill-pen red clip 0x0 50x50 box 0x0 100x100", "fill-pen red clip 0x0 50x50 xor box 0x0 100x100"},
        {"image img 0x0 100x0 100x100", "image img 0x0 100x0 100x100 0x100"},
        {"image img 10x10", "image img 10x10 18x18"},
        {"transform 45 2 2 10x10 box 0x0 10x10", "rotate 45 scale 2 2 translate 10x10 box 0x0 10x10"},
        {"pen off fill-pen red scale 50% 50% box 0x0 100x100", "pen off fill-pen red box 0x0 50x50"},
        {"pen off fill-pen linear red blue box 20x0 70x50", "pen off fill-pen linear red blue 20x0 70x0 box 20x0 70x50"},
        {"pen off fill-pen radial red blue box 0x0 100x50", "pen off fill-pen radial red blue 50x25 25 box 0x0 100x50"},
        {"line-width 3 shape [line 10x10 100x10]", "line-width 3 line 0x0 10x10 100x10"},
        {"line-width 3 shape [move 10x10 'line 90x0 0x50]", "line-width 3 line 10x10 100x10 100x60"},
        {"line-width 3 shape [hline 50 'vline 20]", "line-width 3 line 0x0 50x0 50x20"},
        {"shape [move 0x0 curve 10x10 20x10 30x0 40x10]", "shape [move 0x0 curve 10x10 20x10 30x0]"},
        {"shape [move 0x0 curve 0x50 50x50 50x0 curv 100x-50 100x0]",
         "shape [move 0x0 curve 0x50 50x50 50x0 curve 50x-50 100x-50 100x0]"},
        {"shape [move 10x10 qcurve 50x90 90x10 qcurv 170x10]",
         "shape [move 10x10 qcurve 50x90 90x10 qcurve 130x-70 170x10]"},
        {"fill-pen red shape [move 0x0 line 100x0 100x100 close]", "fill-pen red triangle 0x0 100x0 100x100"},
        {"pen red line-width 0 line-width 2 box 10x10 50x50", "pen red line-width 2 box 10x10 50x50"},
        {"shadow 5x5 shadow off box 10x10 50x50", "box 10x10 50x50"},
        {"rotate 'pen 45 line-width 3 line 0x0 90x90", "line-width 3 line 0x0 90x90"},
        // Geometry far beyond Cairo's fixed-point range is cut, not distorted.
        {"line-width 3 line (-1e6, -1e6) (1e6, 1e6)", "line-width 3 line -10x-10 110x110"},
        {"line-width 3 line -1000000000x50 1000000000x50", "line-width 3 line -10x50 110x50"},
        {"pen off fill-pen red polygon -1000000x-1000000 1000000x-1000000 0x1000000",
         "pen off fill-pen red box 0x0 100x100"},
        {"pen off fill-pen red circle 50x50 1000000", "pen off fill-pen red box 0x0 100x100"},
        {"pen off fill-pen red translate 100000x0 box -100000x0 -99950x50", "pen off fill-pen red box 0x0 50x50"},
    };
    for (const auto& [a, b] : pairs) {
        auto pa = render(a), pb = render(b);
        int worst = 0;
        for (size_t i = 0; i < pa.size(); ++i)
            for (int k = 0; k < 32; k += 8)
                worst = std::max(worst, std::abs(int((pa[i] >> k) & 0xFF) - int((pb[i] >> k) & 0xFF)));
        EXPECT_LE(worst, 8) << a << " | " << b;
    }
}

TEST_F(DrawTest, SetWordTakesTheRestOfTheBlock) {
    render("a: box 0x0 10x10 [b: pen red]");
    EXPECT_EQ(mold_text(global_value("a")), "[box 0x0 10x10 [b: pen red]]");
    EXPECT_EQ(mold_text(global_value("b")), "[pen red]");
}

// ---- Errors ---------------------------------------------------------------------------------------

TEST_F(DrawTest, ErrorsNameTheOffendingPosition) {
    struct Case {
        const char* commands;
        const char* id;
        const char* at;  // the error's argument, molded
    };
    const Case cases[] = {
        {"line 10x10", "draw-invalid", "[10x10]"},
        {"box 0x0 foo", "draw-invalid", "[foo]"},
        {"box 0x0", "draw-invalid", "[]"},
        {"foo 1 2", "draw-invalid", "[foo 1 2]"},
        {"box 0x0 10x10 5 42", "draw-invalid", "[42]"},
        {"pen not-colour box 0x0 1x1", "draw-invalid", "[not-colour box 0x0 1x1]"},
        {"pen linear red", "draw-invalid", "[]"},
        {"pen linear red not-colour", "draw-invalid", "[not-colour]"},
        {"pen linear 0x0 0 100 orange", "draw-invalid", "[orange]"},
        {"pen linear 0x0 0 1.5 orange blue", "draw-invalid", "[1.5 orange blue]"},
        {"pen radial red blue 10x10", "draw-invalid", "[]"},
        {"fill-pen bitmap 42", "draw-invalid", "[42]"},
        {"fill-pen pattern 10x10 box", "draw-invalid", "[box]"},
        {"triangle 0x0 1x1", "draw-invalid", "[]"},
        {"polygon 0x0 1x1 pen red", "draw-invalid", "[pen red]"},
        {"matrix [1 0 0 1 10]", "draw-invalid", "[matrix [1 0 0 1 10]]"},
        {"matrix 'pen [1 0 0 1 10 x]", "draw-invalid", "['pen [1 0 0 1 10 x]]"},
        {"rotate 'foo 10", "draw-invalid", "['foo 10]"},
        {"shadow 5x5 inset", "draw-invalid", "[inset]"},
        {"shadow foo", "draw-invalid", "[foo]"},
        {"shape [foo]", "draw-invalid", "[foo]"},
        {"shape [move 0x0 curve 1x1 2x2]", "draw-invalid", "[1x1 2x2]"},
        {"shape [qcurv]", "draw-invalid", "[qcurv]"},
        {"image 42", "draw-invalid", "[42]"},
        {"pen red box 0x0 10x10 \"text\"", "draw-invalid", "[\"text\"]"},
        {"font foo", "draw-invalid", "[foo]"},
        {"text 0x0 12", "draw-invalid", "[12]"},
    };
    // A gradient holds at most 256 stops: the 257th colour is refused.
    std::string many = "pen linear";
    for (int i = 0; i < 257; ++i) many += " red";
    try {
        render(many.c_str());
        ADD_FAILURE() << "no error for 257 stops";
    } catch (const RaisedError& e) {
        EXPECT_EQ(e.id, "draw-invalid");
        EXPECT_EQ(mold_text(e.args[0]), "[red]");
    }
    EXPECT_NO_THROW(render(many.substr(0, many.size() - 4).c_str()));
    for (const Case& k : cases) {
        try {
            render(k.commands);
            ADD_FAILURE() << "no error: " << k.commands;
        } catch (const RaisedError& e) {
            EXPECT_EQ(e.id, k.id) << k.commands;
            EXPECT_EQ(mold_text(e.args[0]), k.at) << k.commands;
        }
    }
}

TEST_F(DrawTest, SelfContainingBlockIsInfinite) {
    Cell b = code("pen red");
    block::cells_append(&b, &b);
    std::vector<uint32_t> px(100, WHITE);
    cairo_surface_t* s = wrap_pixels(reinterpret_cast<uint8_t*>(px.data()), 10, 10, 40);
    RaisedError e = expect_error([&] { (void)run_pass(s, b, false, 0); }, "script", "draw-infinite");
    cairo_surface_destroy(s);
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(DrawTest, ErrorsKeepWhatWasDrawn) {
    std::vector<uint32_t> px;
    EXPECT_THROW(
        {
            px.assign(100 * 100, WHITE);
            cairo_surface_t* s = wrap_pixels(reinterpret_cast<uint8_t*>(px.data()), 100, 100, 400);
            struct Free {
                cairo_surface_t* s;
                ~Free() { cairo_surface_destroy(s); }
            } f{s};
            (void)run_pass(s, code("pen off fill-pen red box 0x0 50x50 box 1"), false, 0);
        },
        RaisedError);
    EXPECT_EQ(at(px, 25, 25), RED);
    // With catch? the error is reported, not raised, and drawing ends.
    auto px2 = render("pen off fill-pen red box 0x0 50x50 box 1 fill-pen blue box 0x0 100x100", 100, 100, true);
    EXPECT_EQ(at(px2, 25, 25), RED);
    EXPECT_EQ(at(px2, 75, 75), WHITE);
    // An error inside a pattern's block is raised whatever catch? says.
    EXPECT_THROW(render("fill-pen pattern 10x10 [box 1] box 0x0 10x10", 100, 100, true), RaisedError);
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(DrawTest, EmptyBlockDrawsNothing) {
    auto px = render("");
    for (uint32_t p : px) ASSERT_EQ(p, WHITE);
    px = render("[]");
    for (uint32_t p : px) ASSERT_EQ(p, WHITE);
}

// ---- Bad input never crashes -----------------------------------------------------------------------

TEST_F(DrawTest, HugeAndDegenerateInput) {
    const char* cases[] = {
        "box -2147483648x-2147483648 2147483647x2147483647",
        "fill-pen red box -2147483648x-2147483648 2147483647x2147483647",
        "circle 50x50 1.0e300 fill-pen red circle 50x50 0 line-width 1e30 box 0x0 10x10",
        "line-width 1.#NaN box 0x0 10x10 line-width 1.#INF line 0x0 10x10",
        "scale 0 0 box 0x0 10x10 reset-matrix scale 1e-30 1e-30 circle 10x10 10",
        "matrix [1.#NaN 0 0 1 0 0] box 0x0 10x10 reset-matrix fill-pen red box 0x0 10x10",
        "polygon 1x1 1x1 1x1 triangle 0x0 0x0 0x0 spline 1x1 1x1 closed curve 0x0 0x0 0x0",
        "arc 50x50 0x0 0 1e30 arc 50x50 10x0 1.#NaN 90 closed arc 50x50 -10x-10 -720 -400",
        "fill-pen linear red blue 0x0 0x0 box 0x0 10x10 fill-pen radial red blue 0x0 -5 box 0x0 10x10",
        "fill-pen linear red blue box 10x10 10x10 fill-pen radial red blue box 0x0 0x100",
        "fill-pen pattern 0x0 [box 0x0 10x10] box 0x0 10x10 fill-pen pattern 100000x100000 [] box 0x0 1x1",
        "fill-pen pattern 10x10 20x20 5x5 [] box 0x0 10x10",
        "shadow 1000000x1000000 2000000000 2000000000 box 0x0 10x10",
        "shadow 5x5 10 -1000 box 0x0 10x10 circle 10x10 0",
        "clip 0x0 0x0 box 0x0 10x10 clip [] box 0x0 1x1",
        "rotate 1.#INF box 0x0 10x10 skew 90 box 0x0 1x1",
        "line-pattern 0 0 line 0x0 10x10 line-pattern -5 -5 line 0x0 10x10",
        "shape [arc 0x0 0 0 0 arc 10x10 1.#NaN 1 0 'qcurv 1x1 close close move (1e30, 1e30)]",
        "translate (1e38, 1e38) box 0x0 10x10 invert-matrix box 0x0 1x1",
        "fill-pen linear red blue spline 0x100 (1e30, -1e30) 10x10 -5x30",
        "fill-pen pattern 10x10 [box 0x0 5x5] box (-1e30, -1e30) (1e30, 1e30)",
        "fill-pen radial red blue 0x0 1e30 box 0x0 10x10 fill-pen linear red blue 0x0 (1e20, 0.0) box 0x0 9x9",
        "shadow 2x2 10 box -100000x-100000 100000x100000",
        "scale 50% 50% 2147483647x-2147483648 circle 0x0 0.5 5",
        "scale 50% 50% 2147483647x-2147483648 image img",
        "scale 50% 50% 2147483647x-2147483648 image img crop -5x30 (1.#NaN, 3.0)",
    };
    // Each case runs in a nested block; a box drawn after it shows that the
    // pass can still draw.
    for (const char* k : cases) {
        std::string commands = std::string("push [") + k + "] pen off fill-pen red box 0x0 100x100";
        try {
            auto px = render(commands.c_str());
            EXPECT_EQ(at(px, 50, 50), RED) << k;
            EXPECT_EQ(last_pass_status, 0) << k;
        } catch (const RaisedError& e) {
            ADD_FAILURE() << k << ": " << e.id;
        }
    }
}

// ---- Matrices -------------------------------------------------------------------------------------

TEST(DrawMatrix, Operations) {
    double x, y;
    Matrix::identity().apply(3, 4, &x, &y);
    EXPECT_EQ(x, 3);
    EXPECT_EQ(y, 4);
    // Two translations commute in either order.
    Matrix t = Matrix::translation(5, 6);
    Matrix a = multiply(t, Matrix::translation(1, 2), false), b = multiply(t, Matrix::translation(1, 2), true);
    EXPECT_EQ(a.dx, b.dx);
    EXPECT_EQ(a.dy, 8);
    // Order true: the new transformation acts first on coordinates.
    Matrix m = rotate(Matrix::translation(10, 10), 90, 0, 0, true);
    m.apply(1, 0, &x, &y);
    EXPECT_NEAR(x, 10, 1e-5);
    EXPECT_NEAR(y, 11, 1e-5);
    // Scaling about a centre keeps it in place.
    scale(Matrix{}, 2, 3, 10, 20, true).apply(10, 20, &x, &y);
    EXPECT_NEAR(x, 10, 1e-5);
    EXPECT_NEAR(y, 20, 1e-5);
    // Inversion; a matrix without an inverse stays as it was.
    Matrix r = invert(rotate(Matrix::translation(3, 4), 30, 1, 1, true));
    multiply(rotate(Matrix::translation(3, 4), 30, 1, 1, true), r, false).apply(7, 8, &x, &y);
    EXPECT_NEAR(x, 7, 1e-4);
    EXPECT_NEAR(y, 8, 1e-4);
    Matrix singular{1, 2, 2, 4, 5, 6};
    Matrix s = invert(singular);
    EXPECT_EQ(s.m12, 2);
    EXPECT_EQ(s.dx, 5);
    EXPECT_TRUE(Matrix{}.axis_aligned());
    EXPECT_TRUE((Matrix{0, 1, -1, 0, 0, 0}.axis_aligned()));
    EXPECT_FALSE(Matrix::rotation(30, 0, 0).axis_aligned());
}

TEST(DrawDevice, ColourConversion) {
    Rgba c = to_rgba(0xFF000000u);  // 0.0.0.255
    EXPECT_EQ(c.a, 0.0);
    c = to_rgba(0x00FFFFFFu);
    EXPECT_EQ(c.r, 1.0);
    EXPECT_EQ(c.a, 1.0);
    EXPECT_EQ(to_pixel(0x000000FFu), 0xFFFF0000u);
    EXPECT_EQ(to_pixel(0xFF0000FFu), 0u);
}

}  // namespace
}  // namespace kiv::test
