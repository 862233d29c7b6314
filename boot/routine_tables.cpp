// The composition root's list of routine tables: every table of every
// layer, in the boot image's order. It lives here because only boot/ may see
// all the layers; the library reaches the list through all_tables().
#include "console/gui_console.h"
#include "console/terminal_cli.h"
#include "gui/camera/camera.h"
#include "gui/draw/draw_image.h"
#include "gui/window/platform.h"
#include "library/clipboard.h"
#include "library/codecs.h"
#include "library/csv.h"
#include "library/json.h"
#include "library/loading.h"
#include "library/routine_table.h"
#include "library/routines.h"
#include "library/series_kernels.h"

namespace kiv::routine {

namespace {

// Every table, in the boot image's order.
const Table* const TABLES[] = {
    &library::routines::LIBRARY_TABLE,
    &library::routines::SYSTEM_TABLE,
    &library::clipboard::TABLE,
    &library::codecs::TABLE,
    &draw::TABLE,
    &gui::PLATFORM_TABLE,
    &gui::GUI_TABLE,
    &cli::TABLE,
    &library::series_kernels::TABLE,
    &library::loading::TABLE,
    &library::json::TABLE,
    &library::csv::TABLE,
    &gui::camera::TABLE,
    &gui_console::TABLE,
};

}  // namespace

const Table* const* all_tables() {
    return TABLES;
}

uint32_t table_count() {
    return sizeof TABLES / sizeof TABLES[0];
}

}  // namespace kiv::routine
