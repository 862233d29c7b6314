// request-font, request-file and request-dir on the toolkit's choosers.
//
// Every language value is read (and every argument checked) before a
// dialog opens, and the result is made after it closed: nothing of the
// language runs while a dialog is open. Paths have no length limit.
#include "gui/controls/dialog_requests.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gui/controls/dialog_gtk.h"
#include "gui/window/accessors.h"
#include "gui/window/dialog_hooks.h"
#include "gui/window/view.h"
#include "library/library.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::gui::dialogs {

namespace {

// font! fields by position.
enum : uint32_t { FONT_NAME = 1, FONT_SIZE = 2, FONT_STYLE = 3 };

void need_toolkit() {
    view::start();
    std::string why;
    if (start_toolkit(why)) return;
    Cell* saved = stack::top;
    const Cell reason = *string::load_push(reinterpret_cast<const uint8_t*>(why.data()), uint32_t(why.size()),
                                           string::ENC_UTF8);
    stack::top = saved;
    fire({"access", "cannot-open"}, reason);
}

std::string title_of(const Cell* title, const char* fallback) {
    return title->type() == TYPE_STRING ? library::to_utf8(*title) : std::string(fallback);
}

// The full OS path of a file! or string! ("" for other values).
std::string os_path_of(const Cell* name) {
    if (name->type() != TYPE_FILE && name->type() != TYPE_STRING) return {};
    Cell* saved = stack::top;
    Cell* value = stack::push(*name);
    Cell* out = string::push_new(64);
    file::append_os_path(value, out, true);
    std::string path = library::to_utf8(*out);
    stack::top = saved;
    return path;
}

// Splits a path at its last "/": the folder ("/" for a name at the root)
// and the name after it.
void split_path(const std::string& path, std::string* folder, std::string* name) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder->clear();
        *name = path;
        return;
    }
    *folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    *name = path.substr(slash + 1);
}

// A file! of an OS path, on the data stack.
Cell* push_file(const std::string& path) {
    Cell* f = string::load_push(reinterpret_cast<const uint8_t*>(path.data()), uint32_t(path.size()),
                                string::ENC_SYSTEM);
    f->set_type(TYPE_FILE);
    return f;
}

struct Filter {
    std::string name;
    std::vector<std::string> patterns;
};

// The filter pairs (name, patterns separated by ";") of a block of strings
// and files; anything else in it raises invalid-arg. Without a block the
// default filters.
std::vector<Filter> filters_of(const Cell* filter) {
    std::vector<std::string> parts;
    if (filter->type() == TYPE_BLOCK) {
        const Cell blk = *filter;
        const uint32_t n = block::cells_length(&blk);
        for (uint32_t i = 0; i < n; ++i) {
            const Cell v = *block::cells_at(&blk, blk.w1 + i);
            if (v.type() != TYPE_STRING && v.type() != TYPE_FILE) fire({"script", "invalid-arg"}, v);
            parts.push_back(library::to_utf8(v));
        }
    } else {
        parts = {"All files", "*.*", "Kiv scripts", "*.kiv;*.kivs", "TAVRO scripts", "*.tavro", "Text files", "*.txt"};
    }
    std::vector<Filter> out;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        Filter f{parts[i], {}};
        size_t start = 0;
        const std::string& spec = parts[i + 1];
        while (start <= spec.size()) {
            size_t end = spec.find(';', start);
            if (end == std::string::npos) end = spec.size();
            std::string p = spec.substr(start, end - start);
            if (p == "*.*") p = "*";  // every name, with a dot or not
            if (!p.empty()) f.patterns.push_back(p);
            start = end + 1;
        }
        out.push_back(std::move(f));
    }
    return out;
}

bool is_folder(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_file(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// ---- request-file ---------------------------------------------------------------------------------

Cell request_file(const Cell* title, const Cell* name, const Cell* filter, bool save, bool multi) {
    const std::vector<Filter> filters = filters_of(filter);
    const std::string caption = title_of(title, save ? "Save As" : "Open");
    const std::string path = os_path_of(name);
    std::string folder, file;
    if (!path.empty()) split_path(path, &folder, &file);
    need_toolkit();
    GtkWidget* d = gtk.gtk_file_chooser_dialog_new(
        caption.c_str(), nullptr, save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
        GTK_RESPONSE_CANCEL, save ? "_Save" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    auto* chooser = reinterpret_cast<GtkFileChooser*>(d);
    for (const Filter& f : filters) {
        GtkFileFilter* ff = gtk.gtk_file_filter_new();
        gtk.gtk_file_filter_set_name(ff, f.name.c_str());
        for (const std::string& p : f.patterns) gtk.gtk_file_filter_add_pattern(ff, p.c_str());
        gtk.gtk_file_chooser_add_filter(chooser, ff);
    }
    if (multi && !save) gtk.gtk_file_chooser_set_select_multiple(chooser, TRUE);
    if (is_folder(folder)) gtk.gtk_file_chooser_set_current_folder(chooser, folder.c_str());
    if (!file.empty()) {
        if (save)
            gtk.gtk_file_chooser_set_current_name(chooser, file.c_str());
        else if (is_file(path))
            gtk.gtk_file_chooser_set_filename(chooser, path.c_str());
    }
    std::vector<std::string> chosen;
    if (run_modal(d)) {
        GSList* names = gtk.gtk_file_chooser_get_filenames(chooser);
        for (GSList* n = names; n; n = n->next) chosen.emplace_back(static_cast<const char*>(n->data));
        gtk.g_slist_free_full(names, gtk.g_free);
    }
    gtk.gtk_widget_destroy(d);
    if (chosen.empty()) return none::cell();
    Cell* saved = stack::top;
    Cell out;
    if (multi) {
        Cell* blk = stack::push(none::cell());
        block::make_at(blk, int32_t(chosen.size()));
        for (const std::string& c : chosen) {
            Cell* f = push_file(c);
            block::cells_append(blk, f);
            stack::top = f;
        }
        out = *blk;
    } else {
        out = *push_file(chosen.front());
    }
    stack::top = saved;
    return out;
}

// ---- request-dir ----------------------------------------------------------------------------------

std::string kept_folder;  // the folder chosen last, for /keep

Cell request_dir(const Cell* title, const Cell* dir, const Cell*, bool keep, bool) {
    const std::string caption = title_of(title, "Select Folder");
    std::string start = keep && !kept_folder.empty() ? kept_folder : os_path_of(dir);
    while (start.size() > 1 && start.back() == '/') start.pop_back();
    need_toolkit();
    GtkWidget* d = gtk.gtk_file_chooser_dialog_new(caption.c_str(), nullptr, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER,
                                                   "_Cancel", GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT,
                                                   nullptr);
    auto* chooser = reinterpret_cast<GtkFileChooser*>(d);
    if (is_folder(start)) gtk.gtk_file_chooser_set_current_folder(chooser, start.c_str());
    std::string chosen;
    if (run_modal(d)) {
        if (char* f = gtk.gtk_file_chooser_get_filename(chooser)) {
            chosen = f;
            gtk.g_free(f);
        }
    }
    gtk.gtk_widget_destroy(d);
    if (chosen.empty()) return none::cell();
    if (keep) kept_folder = chosen;
    if (chosen.back() != '/') chosen += '/';
    Cell* saved = stack::top;
    const Cell out = *push_file(chosen);
    stack::top = saved;
    return out;
}

// ---- request-font ---------------------------------------------------------------------------------

bool same_word(const Cell& v, const Cell& w) {
    return (v.type() == TYPE_WORD || v.type() == TYPE_LIT_WORD) && symbol::resolve(v.w2) == symbol::resolve(w.w2);
}

// Whether a font's style (a word or a block of words) holds the word.
bool has_style(const Cell& style, const Cell& w) {
    if (style.type() != TYPE_BLOCK) return same_word(style, w);
    const uint32_t n = block::cells_length(&style);
    for (uint32_t i = 0; i < n; ++i)
        if (same_word(*block::cells_at(&style, style.w1 + i), w)) return true;
    return false;
}

gboolean monospaced_only(const PangoFontFamily* family, const PangoFontFace*, gpointer) {
    return gtk.pango_font_family_is_monospace(const_cast<PangoFontFamily*>(family));
}

Cell request_font(const Cell* font, const Cell* selected, bool mono) {
    const Cell bold = word::load("bold"), italic = word::load("italic");
    // The dialog opens at the selected font when there is one, else at the
    // given font's values, else at Courier New, 11 points.
    std::string family = "Courier New";
    double points = 11;
    bool is_bold = false, is_italic = false;
    const Cell from = selected->type() == TYPE_OBJECT ? *selected : *font;
    if (from.type() == TYPE_OBJECT) {
        const Cell* n = face_value_slot(&from, FONT_NAME);
        if (n && n->type() == TYPE_STRING) family = library::to_utf8(*n);
        const Cell* s = face_value_slot(&from, FONT_SIZE);
        if (s && s->type() == TYPE_INTEGER && integer::get(s) > 0) points = integer::get(s);
        if (s && s->type() == TYPE_FLOAT && s->get_f64() > 0) points = s->get_f64();
        const Cell* st = face_value_slot(&from, FONT_STYLE);
        if (st) {
            const Cell style = *st;
            is_bold = has_style(style, bold);
            is_italic = has_style(style, italic);
        }
    }
    need_toolkit();
    GtkWidget* d = gtk.gtk_font_chooser_dialog_new(mono ? "Select Font (fixed pitch)" : "Select Font", nullptr);
    auto* chooser = reinterpret_cast<GtkFontChooser*>(d);
    PangoFontDescription* start = gtk.pango_font_description_new();
    gtk.pango_font_description_set_family(start, family.c_str());
    gtk.pango_font_description_set_size(start, gint(points * PANGO_SCALE));
    gtk.pango_font_description_set_weight(start, is_bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    gtk.pango_font_description_set_style(start, is_italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    gtk.gtk_font_chooser_set_font_desc(chooser, start);
    gtk.pango_font_description_free(start);
    if (mono) gtk.gtk_font_chooser_set_filter_func(chooser, monospaced_only, nullptr, nullptr);
    // Enter takes the font shown, as in the file dialogs.
    gtk.gtk_dialog_set_default_response(reinterpret_cast<GtkDialog*>(d), GTK_RESPONSE_OK);
    PangoFontDescription* chosen = run_modal(d) ? gtk.gtk_font_chooser_get_font_desc(chooser) : nullptr;
    gtk.gtk_widget_destroy(d);
    if (!chosen) return none::cell();
    const char* fam = gtk.pango_font_description_get_family(chosen);
    const std::string name = fam ? fam : "";
    const int size = (gtk.pango_font_description_get_size(chosen) + PANGO_SCALE / 2) / PANGO_SCALE;
    const bool got_bold = gtk.pango_font_description_get_weight(chosen) >= PANGO_WEIGHT_BOLD;
    const bool got_italic = gtk.pango_font_description_get_style(chosen) != PANGO_STYLE_NORMAL;
    gtk.pango_font_description_free(chosen);
    // The font's facets are set in place: it is new, no face uses it yet.
    Cell* saved = stack::top;
    Cell* f = stack::push(*font);
    Cell* text = string::load_push(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()),
                                   string::ENC_UTF8);
    Cell* style = stack::push(none::cell());
    if (got_bold && got_italic) {
        block::make_at(style, 2);
        block::cells_append(style, &bold);
        block::cells_append(style, &italic);
    } else if (got_bold || got_italic) {
        *style = got_bold ? bold : italic;
    }
    if (Cell* slot = face_value_slot(f, FONT_NAME)) *slot = *text;
    if (Cell* slot = face_value_slot(f, FONT_SIZE)) *slot = integer::cell(size);
    if (got_bold || got_italic)
        if (Cell* slot = face_value_slot(f, FONT_STYLE)) *slot = *style;
    const Cell out = *f;
    stack::top = saved;
    return out;
}

}  // namespace

void install() {
    dialog_hooks::request_font = request_font;
    dialog_hooks::request_file = request_file;
    dialog_hooks::request_dir = request_dir;
}

}  // namespace kiv::gui::dialogs
