# Draw on Cairo: the render device and the Draw dialect call the system's
# Cairo library (found through pkg-config). Only the headers at build time:
# gui/draw/draw_cairo.cpp loads the library when Draw first makes a
# surface, so that start-up does not pay for it.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KIV_CAIRO REQUIRED IMPORTED_TARGET cairo)
target_include_directories(kivcore PUBLIC ${KIV_CAIRO_INCLUDE_DIRS})
