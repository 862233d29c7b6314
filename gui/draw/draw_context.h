// The Draw dialect: the drawing context and the routines of its commands.
//
// One pass (`run_pass`) interprets one block of commands on one Cairo image
// surface. The pass owns a Cairo context and a `State` (pens, fills, line
// style, matrix, clip count, shadow switch); `push`, `clip` with a block,
// the transformations with a block and `pattern` brushes save the State
// together with Cairo's own state (matrix, clip) and restore both when the
// nested block ends, so nothing set inside leaks out. Brushes hold Cairo
// patterns by reference: a copied State shares them, each copy releases its
// own reference.
//
// The walk reads the command block through its node at every step (cells
// are copied out, never held by address): nothing here runs Kiv code except
// the change handler of an object whose word a set-word sets, and that may
// move series buffers. The pixels drawn into belong to the caller and are
// not in the series arena.
//
// Errors: a bad value is `draw-invalid` at its position, a block met again
// inside itself `draw-infinite` (raise_error). Under system/view/silent? the
// pass ends quietly; with `catch?` the error is reported and the pass ends;
// otherwise it is raised as a language error. Either way the commands drawn
// before it stay drawn.
//
// Exits: a break, continue, return, exit or throw out of a change handler
// that a set-word ran ends the pass too. Its unwind code is returned up
// through every level of the walk (which undoes its saved states on the way)
// to the routine that started the pass, which returns it to the interpreter.
// What was drawn before it stays drawn.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <vector>

#include "gui/draw/draw_matrix.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace kiv::draw {

// What a pen or a fill is.
enum BrushType : int {
    BRUSH_OFF = 0,
    BRUSH_SOLID = 1,
    BRUSH_GRADIENT = 2,       // geometry in drawing coordinates
    BRUSH_UNIT_GRADIENT = 3,  // unit geometry, fitted to each shape
    BRUSH_IMAGE = 4,          // pattern or bitmap, moved to each shape
};

enum GradientKind : int { GRADIENT_NONE = 0, GRADIENT_LINEAR, GRADIENT_RADIAL, GRADIENT_DIAMOND };

struct Brush {
    int type = BRUSH_SOLID;
    uint32_t colour = 0;  // 0xAABBGGRR, top byte transparency
    int kind = GRADIENT_NONE;
    cairo_pattern_t* pattern = nullptr;  // gradient or image pattern (one reference)
    Matrix transform;                    // brush space to drawing space
    Matrix base;                         // pattern space to brush space (image brushes)

    Brush() = default;
    Brush(const Brush& o);
    Brush& operator=(const Brush& o);
    ~Brush();
    void set_pattern(cairo_pattern_t* p);  // takes the reference
};

struct Shadow {
    float ox = 0, oy = 0, blur = 0, spread = 0;
    uint32_t colour = 0;
    bool inset = false;
};

// Everything a saved drawing state restores.
struct State {
    Brush pen;
    Brush fill{};
    uint32_t font_colour = 0;
    bool font_has_colour = false;  // the font's own colour: pens no longer change font_colour
    int line_join = 0;  // 0 miter, 1 bevel, 2 round, 3 miter-or-bevel
    int line_cap = 0;   // 0 flat, 1 square, 2 round
    std::vector<double> dashes;
    int saved_pen_type = BRUSH_SOLID;
    float line_width = 1.0f;
    int clip_count = 0;
    bool shadow_on = false;
    bool antialias = true;
    Matrix matrix;
};

// A position in a command block: the block value (its index is where the
// walk started) and the absolute index of the next value.
struct Walk {
    Cell blk;
    uint32_t pos;
    uint32_t tail;
    Cell at(uint32_t i) const;
    bool more() const { return pos < tail; }
    Cell peek() const;  // none! at the tail
};

// One segment of a path being built: a Cairo path operation and its points
// in drawing coordinates.
struct PathSeg {
    int type;  // cairo_path_data_type_t
    double p[6];
};

struct Context {
    cairo_t* cr = nullptr;
    std::vector<PathSeg> path;    // the path being built, in drawing coordinates
    std::vector<PathSeg> device;  // the same in device pixels (prepare_path)
    bool device_in_range = true;  // every device point within Cairo's range
    cairo_surface_t* target = nullptr;
    int width = 0, height = 0;  // of the target, in pixels
    State st;
    std::vector<Shadow> shadows;  // the first record, then the chained ones
    bool catch_errors = false;
    Off target_image = 0;  // the record of the image drawn into, or 0
    void* text_format = nullptr;  // the text layer's format of the last `font` (the pass owns it)

    // Shape sub-dialect path state.
    bool shape_fill_figures = false;
    double cur_x = 0, cur_y = 0;
    bool last_was_curve = false;
    double last_cx = 0, last_cy = 0;
};

// Draw's `font` and `text` commands, carried out by the text layer
// (gui/text), which registers them; without it both are internal not-here.
struct TextCommands {
    // `font`: the font! object the word gave; sets text_format and the font colour.
    void (*set_font)(Context& c, const Cell& font);
    // `text` at (x, y): a string! or a face object.
    void (*text)(Context& c, double x, double y, const Cell& value);
    // The end of a pass that set text_format: releases it.
    void (*end_pass)(Context& c);
};
extern const TextCommands* text_commands;

// Raised (as a C++ exception, on the error path only) to end a pass after a
// silent or caught error; run_pass takes it.
struct Abandon {};

// ---- The pass -------------------------------------------------------------------------------
// Interprets the block on the surface. An empty block does nothing at all.
// `target_image` names the image record drawn into (0 for none).
[[nodiscard]] Unwind run_pass(cairo_surface_t* surface, const Cell& commands, bool catch_errors, Off target_image);
// Cairo's status at the end of the last pass (0: success); a pass never
// leaves Cairo in an error state, the tests and the fuzz target check it.
extern int last_pass_status;

// ---- The interpreter (draw_context.cpp) ------------------------------------------------------
// The walks below answer the unwind code of a change handler's exit.
Unwind parse_draw(Context& c, const Cell& commands, bool catch_errors);
[[noreturn]] void raise_error(Context& c, const Walk& w, uint32_t pos);
// The argument errors of the sub-dialects: draw-invalid at the position.
[[noreturn]] void invalid_at(Context& c, const Walk& w, uint32_t pos);
// A command this build cannot carry out (text): internal not-here with the
// command's word, raised the way the dialect raises its errors.
[[noreturn]] void not_supported(Context& c, const Walk& w, uint32_t pos);
// draw-infinite for a block met again inside itself.
[[noreturn]] void infinite(Context& c, const Cell& block);
void state_push(Context& c, State& saved);
void state_pop(Context& c, State& saved);
void apply_matrix(Context& c);

// Argument readers: false when the value at the position is not of the kind.
bool is_point(const Cell& v);
bool is_number(const Cell& v);
void point_of(const Cell& v, double* x, double* y);
double number_of(const Cell& v);
// A colour tuple, or a word whose value is one.
bool colour_of(const Cell& v, uint32_t* colour);
// The value of a word (none! when it has none or is not bound).
Cell word_value(const Cell& w);
// The keyword code of a word (KW_NONE when not a keyword).
int keyword(const Cell& v);

// ---- Brushes (draw_brushes.cpp) ----------------------------------------------------------------
// Reads the arguments of `pen` or `fill-pen` from w.pos on and installs the brush.
Unwind parse_pen(Context& c, Walk& w, bool is_fill);
void parse_line_pattern(Context& c, Walk& w);
// Sets Cairo's source to the brush fitted to the bounds (l, t, r, b).
bool use_brush(Context& c, const Brush& b, double l, double t, double r, double bo);
void set_stroke_style(Context& c);
// Whether Cairo can render the pattern under `full` (device pixels to
// pattern space) in its 16.16 fixed-point pixel pipeline; drawing that it
// cannot render is left out rather than let Cairo fail the whole pass.
bool renderable(cairo_pattern_t* p, const cairo_matrix_t& full);
// renderable() for the current source of the context under its matrix.
bool source_renderable(cairo_t* cr);

// ---- Primitives (draw_commands.cpp) -----------------------------------------------------------
// Fills (with the fill) and strokes (with the pen) Cairo's current path.
// `fit` gives the bounds brushes fit to: the shape's rectangle, or null for
// the path's stroke extents.
void paint_path(Context& c, const double* fit, bool fill_allowed = true);
Unwind run_command(Context& c, Walk& w, int kw, uint32_t kw_pos);
void path_arc(Context& c, double cx, double cy, double rx, double ry, double phi, double a, double e, bool move);
// Building the path of a shape in drawing coordinates.
void path_clear(Context& c);
void path_move(Context& c, double x, double y);
void path_line(Context& c, double x, double y);
void path_curve(Context& c, double x1, double y1, double x2, double y2, double x3, double y3);
void path_close(Context& c);
// Maps the path to device pixels (and empties it); false, with no path,
// when a coordinate is not a number (draw_path.cpp).
bool prepare_path(Context& c);
// Makes the prepared path Cairo's current path, for filling or for
// stroking (a path beyond Cairo's range is cut differently for each).
enum EmitMode { EMIT_FILL, EMIT_STROKE };
void emit_device(Context& c, EmitMode mode);

// ---- Wide strokes (draw_wide_stroke.cpp) -----------------------------------------------------------
// Strokes the device path with the pen (Cairo's source already set) in runs
// when the pen is wide and the path dense; false, with nothing drawn, when
// the path is better stroked by Cairo in one piece.
bool stroke_in_runs(Context& c);

// ---- Shape sub-dialect (draw_shape.cpp) -----------------------------------------------------------
// Walks a shape block, building Cairo's current path; for a shape (not a
// clip) paints it at the end.
Unwind parse_shape(Context& c, const Cell& block, bool for_clip);

// ---- Images (draw_image.cpp) -----------------------------------------------------------------------
// A new premultiplied surface holding the image's pixels, or null when the
// value is not an image with pixels.
cairo_surface_t* image_surface(Context& c, const Cell& image);

// Keywords of the dialect and its sub-dialects: one row each, the code and
// the word.
// clang-format off
#define KIV_DRAW_KEYWORDS(X) \
    X(KW_PEN, "pen") \
    X(KW_FILL_PEN, "fill-pen") \
    X(KW_BOX, "box") \
    X(KW_LINE, "line") \
    X(KW_LINE_WIDTH, "line-width") \
    X(KW_LINE_JOIN, "line-join") \
    X(KW_LINE_CAP, "line-cap") \
    X(KW_LINE_PATTERN, "line-pattern") \
    X(KW_TRIANGLE, "triangle") \
    X(KW_POLYGON, "polygon") \
    X(KW_CIRCLE, "circle") \
    X(KW_ELLIPSE, "ellipse") \
    X(KW_ANTI_ALIAS, "anti-alias") \
    X(KW_FONT, "font") \
    X(KW_TEXT, "text") \
    X(KW_ARC, "arc") \
    X(KW_CURVE, "curve") \
    X(KW_SPLINE, "spline") \
    X(KW_IMAGE, "image") \
    X(KW_SHADOW, "shadow") \
    X(KW_CLIP, "clip") \
    X(KW_SHAPE, "shape") \
    X(KW_ROTATE, "rotate") \
    X(KW_SCALE, "scale") \
    X(KW_TRANSLATE, "translate") \
    X(KW_SKEW, "skew") \
    X(KW_TRANSFORM, "transform") \
    X(KW_PUSH, "push") \
    X(KW_MATRIX, "matrix") \
    X(KW_RESET_MATRIX, "reset-matrix") \
    X(KW_INVERT_MATRIX, "invert-matrix") \
    /* argument words */ \
    X(KW_OFF, "off") \
    X(KW_LINEAR, "linear") \
    X(KW_RADIAL, "radial") \
    X(KW_DIAMOND, "diamond") \
    X(KW_PAD, "pad") \
    X(KW_REPEAT, "repeat") \
    X(KW_REFLECT, "reflect") \
    X(KW_PATTERN, "pattern") \
    X(KW_BITMAP, "bitmap") \
    X(KW_TILE, "tile") \
    X(KW_FLIP_X, "flip-x") \
    X(KW_FLIP_Y, "flip-y") \
    X(KW_FLIP_XY, "flip-xy") \
    X(KW_CLAMP, "clamp") \
    X(KW_MITER, "miter") \
    X(KW_BEVEL, "bevel") \
    X(KW_ROUND, "round") \
    X(KW_MITER_BEVEL, "miter-bevel") \
    X(KW_FLAT, "flat") \
    X(KW_SQUARE, "square") \
    X(KW_CLOSED, "closed") \
    X(KW_BORDER, "border") \
    X(KW_CROP, "crop") \
    X(KW_INSET, "inset") \
    X(KW_REPLACE, "replace") \
    X(KW_INTERSECT, "intersect") \
    X(KW_UNION, "union") \
    X(KW_XOR, "xor") \
    X(KW_EXCLUDE, "exclude") \
    /* shape commands */ \
    X(KW_MOVE, "move") \
    X(KW_HLINE, "hline") \
    X(KW_VLINE, "vline") \
    X(KW_CURV, "curv") \
    X(KW_QCURVE, "qcurve") \
    X(KW_QCURV, "qcurv") \
    X(KW_CLOSE, "close") \
    X(KW_SWEEP, "sweep") \
    X(KW_LARGE, "large") \
    /* end */
// clang-format on
enum Keyword : int {
    KW_NONE = 0,
#define KIV_DRAW_KEYWORD_ENUM(id, name) id,
    KIV_DRAW_KEYWORDS(KIV_DRAW_KEYWORD_ENUM)
#undef KIV_DRAW_KEYWORD_ENUM
    KW_COUNT
};

}  // namespace kiv::draw
