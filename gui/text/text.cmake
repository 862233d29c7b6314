# Text on Pango: fonts, layouts, rich text and Draw's text command call the
# system's Pango (with its Cairo glue) found through pkg-config. Only the
# headers at build time: gui/text/pango_api.cpp loads the libraries when
# text is first laid out, so that start-up does not pay for them.
pkg_check_modules(KIV_PANGO REQUIRED IMPORTED_TARGET pangocairo)
target_include_directories(kivcore PUBLIC ${KIV_PANGO_INCLUDE_DIRS})
