// The module manifest: the one list of the Kiv source files of the library,
// the GUI engine and the console.
//
// Each row is X(FILE, GROUP, AFTER): the file (relative to the source
// root), the group it belongs to, and the C++ step that runs right after it
// (nullptr: none; the steps fill what Kiv code cannot reach, see
// library/library.cpp). Within a group the modules run in row order.
//
//   BASE     runs at start-up, before the script;
//   ENGINE   the GUI engine: runs the first time `load-gui` needs it;
//   CONSOLE  runs when the console starts reading lines;
//   FORMATS  JSON, CSV and the download cache: runs the first time one of
//            their functions is called (its stand-in in the base group's
//            library/load-save.kiv calls `load-formats`, then the real one);
//   GCONSOLE the graphical console (gui-console-ctx and its terminal): runs
//            the first time `load-gui-console` is called, after the GUI
//            engine and the console groups;
//   PREPROCESSOR  the preprocessor: runs the first time `load-preprocessor`
//            is called (by do/expand, by a script whose header Needs it,
//            by the base group's `expand-directives`, which its module
//            then replaces).
//
// The boot image tool (boot/make_image.cpp) packs exactly these files and
// refuses a .kiv file of a module folder that is not listed here, and a
// listed one that is missing. The modules of BASE are decoded with the
// image at start-up; each later group is a boot image of its own inside it,
// decoded and run once, on its first need (library::need_group).
//
// Modules before the operators use no infix at their top level (function
// bodies may: they run later).
#pragma once

#include <cstdint>

// clang-format off
#define KIV_MODULES(X) \
    X("library/base.kiv",      BASE,    routines::bind_all)  /* none, true and false; then the routines */ \
    X("library/constants.kiv", BASE,    define_constants)    /* yes, no, tab, pi ...; then null-handle */ \
    X("library/typesets.kiv",  BASE,    nullptr)             /* number!, series! and the other typesets */ \
    X("library/colors.kiv",    BASE,    nullptr)             /* the named colours */ \
    X("library/functions.kiv", BASE,    nullptr)             /* the boot library and general functions */ \
    X("library/files.kiv",     BASE,    nullptr)             /* paths and the command line */ \
    X("library/system.kiv",    BASE,    fill_system)         /* the system object; then what only start-up fills */ \
    X("library/codecs.kiv",    BASE,    nullptr)             /* the image and serialization codecs */ \
    X("library/operators.kiv", BASE,    nullptr)             /* + - * / ... as op! values */ \
    X("library/schemes.kiv",   BASE,    nullptr)             /* register-scheme and the URL grammar */ \
    X("library/folders.kiv",   BASE,    nullptr)             /* make-dir */ \
    X("library/load-save.kiv", BASE,    nullptr)             /* load, save, do-file, suffix?, scan */ \
    X("library/measures.kiv",  BASE,    install_memory_report) /* radian trigonometry, date zones, dt, clock; then stats/show */ \
    X("library/reactivity.kiv", BASE,   nullptr)             /* reactors, react, relate and the propagation queue */ \
    X("gui/engine/draw.kiv",   BASE,    nullptr)             /* draw and the platform routine draw-image */ \
    X("gui/engine/entry.kiv",  BASE,    nullptr)             /* view, which runs the GUI engine first */ \
    X("library/startup.kiv",   BASE,    nullptr)             /* the version tuple, the settings directory, the arguments */ \
    X("console/commands.kiv",  BASE,    nullptr)             /* the shell words (halt, q), also used by scripts */ \
    X("console/engine.kiv",    CONSOLE, nullptr)             /* system/console: the read-eval-print loop */ \
    X("console/complete.kiv",  CONSOLE, nullptr)             /* kiv-complete-ctx: completion of the input */ \
    X("console/highlight.kiv", CONSOLE, nullptr)             /* highlight: style ranges from the lexer's trace */ \
    X("console/help.kiv",      CONSOLE, nullptr)             /* help, ?, help-string, source, what, about */ \
    X("console/tools.kiv",     CONSOLE, nullptr)             /* system/tools: trace and profile */ \
    X("gui/engine/view.kiv",   ENGINE,  nullptr)             /* system/view: screens, platform, awake */ \
    X("gui/engine/fonts.kiv",  ENGINE,  nullptr)             /* font!, para! and the text routines of system/view/platform */ \
    X("gui/engine/rich-text.kiv", ENGINE, nullptr)           /* the rich-text dialect, line-height?, line-count? */ \
    X("gui/engine/faces.kiv",  ENGINE,  check_faces)         /* face!, scroller! and their change handlers; then the facet table's check */ \
    X("gui/engine/show.kiv",   ENGINE,  nullptr)             /* show, view, unview, do-events, do-safe */ \
    X("gui/engine/utils.kiv",  ENGINE,  nullptr)             /* face?, hex-to-rgb, set-flag, metrics? ... */ \
    X("gui/engine/handlers.kiv", ENGINE, nullptr)            /* insert-event-func and the default event functions */ \
    X("gui/engine/face-utils.kiv", ENGINE, nullptr)          /* make-face, foreach-face, the focus search, alert */ \
    X("gui/engine/vid.kiv",    ENGINE,  nullptr)             /* system/view/VID: styles, GUI rules, layout */ \
    X("console/terminal.kiv",  GCONSOLE, nullptr)            /* gui-console-ctx and its terminal: buffer, input, selection, painting */ \
    X("library/preprocessor.kiv", PREPROCESSOR, nullptr)     /* preprocessor, expand-directives */ \
    X("library/json.kiv",      FORMATS, nullptr)             /* load-json, to-json, the JSON codec */ \
    X("library/csv.kiv",       FORMATS, nullptr)             /* load-csv, to-csv, the CSV codec */ \
    X("library/thru.kiv",      FORMATS, nullptr)             /* the download cache: read-thru, load-thru ... */ \
    X("console/gui-console.kiv", GCONSOLE, nullptr)          /* the console window: faces, menus, settings, print hooks, launch */
// clang-format on

namespace kiv::library {

enum class Group : uint8_t { BASE, ENGINE, CONSOLE, PREPROCESSOR, FORMATS, GCONSOLE, COUNT };

// The group's word in the boot image and in messages.
constexpr const char* group_name(Group g) {
    return g == Group::BASE      ? "base"
           : g == Group::ENGINE  ? "engine"
           : g == Group::CONSOLE ? "console"
           : g == Group::FORMATS ? "formats"
           : g == Group::GCONSOLE ? "gui-console"
                                 : "preprocessor";
}

}  // namespace kiv::library
