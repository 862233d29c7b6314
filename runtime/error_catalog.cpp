#include "runtime/error_catalog.h"

#include "runtime/error_catalog_table.h"

namespace kiv::error_catalog {

namespace {

using namespace table;

// Every id's template is well formed: BLOCK and STRING values are non-empty,
// STRING is one text, WORD is one plain argument word.
constexpr bool well_formed(const IdEntry* ids, int n) {
    for (int i = 0; i < n; ++i) {
        const Template& t = ids[i].tmpl;
        if (t.count == 0) return false;
        for (int k = 0; k < t.count; ++k) {
            const Piece& p = t.pieces[k];
            if (p.is_arg() ? (p.arg > 3 || p.text) : !p.text) return false;
        }
        if (t.shape == Shape::STRING && (t.count != 1 || t.pieces[0].is_arg())) return false;
        if (t.shape == Shape::WORD && (t.count != 1 || !t.pieces[0].is_arg() || t.pieces[0].get_word)) return false;
    }
    return true;
}
static_assert(well_formed(THROW_IDS, 5) && well_formed(NOTE_IDS, 1) && well_formed(SYNTAX_IDS, 7) &&
              well_formed(SCRIPT_IDS, 94) && well_formed(MATH_IDS, 3) && well_formed(ACCESS_IDS, 15) &&
              well_formed(USER_IDS, 1) && well_formed(INTERNAL_IDS, 14));

// ASCII case-insensitive equality of a catalog word (lower case) and a name.
bool same_word(const char* word, std::string_view name) {
    size_t i = 0;
    for (; i < name.size(); ++i) {
        char w = word[i];
        if (w == 0) return false;
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
        if (c != w) return false;
    }
    return word[i] == 0;
}

void append_source_string(std::string& out, const char* text) {
    out += '"';
    for (const char* p = text; *p; ++p) {
        if (*p == '"' || *p == '^') out += '^';
        out += *p;
    }
    out += '"';
}

}  // namespace

const CategoryEntry& category(int index) { return CATEGORIES[index]; }
const CategoryEntry* categories() { return CATEGORIES; }

int id_total() {
    int n = 0;
    for (const CategoryEntry& c : CATEGORIES) n += c.id_count;
    return n;
}

int category_index(std::string_view name) {
    for (int i = 0; i < CATEGORY_COUNT; ++i) {
        if (same_word(CATEGORIES[i].name, name)) return i;
    }
    return -1;
}

int id_index(int cat, std::string_view name) {
    if (cat < 0 || cat >= CATEGORY_COUNT) return -1;
    const CategoryEntry& c = CATEGORIES[cat];
    for (int i = 0; i < c.id_count; ++i) {
        if (same_word(c.ids[i].name, name)) return i;
    }
    return -1;
}

int32_t code_of(std::string_view cat, std::string_view id) {
    int c = category_index(cat);
    int i = id_index(c, id);
    return i < 0 ? -1 : CATEGORIES[c].code + i;
}

bool locate(int32_t code, Location* out) {
    if (code < 0) return false;
    int cat = code / 100;
    if (cat >= CATEGORY_COUNT) return false;
    int id = code % 100;
    if (id >= CATEGORIES[cat].id_count) return false;
    *out = Location{cat, id};
    return true;
}

const Template* template_of(int cat, int id) {
    if (cat < 0 || cat >= CATEGORY_COUNT || id < 0 || id >= CATEGORIES[cat].id_count) return nullptr;
    return &CATEGORIES[cat].ids[id].tmpl;
}

const Template* template_of(std::string_view cat, std::string_view id) {
    int c = category_index(cat);
    return template_of(c, id_index(c, id));
}

const Template* template_of(int32_t code) {
    Location at;
    return locate(code, &at) ? template_of(at.category, at.id) : nullptr;
}

const char* id_name(int cat, int id) {
    if (cat < 0 || cat >= CATEGORY_COUNT || id < 0 || id >= CATEGORIES[cat].id_count) return nullptr;
    return CATEGORIES[cat].ids[id].name;
}

void append_message(std::string& out, const Template& t, const std::string_view args[3]) {
    for (int k = 0; k < t.count; ++k) {
        const Piece& p = t.pieces[k];
        if (p.is_arg()) {
            out += args[p.arg - 1];
        } else {
            out += p.text;
        }
        if (k + 1 < t.count) out += ' ';
    }
}

std::string form_message(const Template& t, const std::string_view args[3]) {
    std::string out;
    append_message(out, t, args);
    return out;
}

std::string catalog_source() {
    std::string out;
    out.reserve(8192);
    for (const CategoryEntry& c : CATEGORIES) {
        out += c.name;
        out += ": make object! [\n    code: ";
        out += std::to_string(c.code);
        out += "\n    type: ";
        append_source_string(out, c.type_text);
        for (int i = 0; i < c.id_count; ++i) {
            const IdEntry& e = c.ids[i];
            out += "\n    ";
            out += e.name;
            out += ": ";
            const Template& t = e.tmpl;
            if (t.shape == Shape::STRING) {
                append_source_string(out, t.pieces[0].text);
                continue;
            }
            if (t.shape == Shape::WORD) {
                out += "'arg";
                out += static_cast<char>('0' + t.pieces[0].arg);
                continue;
            }
            out += '[';
            for (int k = 0; k < t.count; ++k) {
                const Piece& p = t.pieces[k];
                if (k) out += ' ';
                if (p.is_arg()) {
                    out += p.get_word ? ":arg" : "arg";
                    out += static_cast<char>('0' + p.arg);
                } else {
                    append_source_string(out, p.text);
                }
            }
            out += ']';
        }
        out += "\n]\n";
    }
    return out;
}

}  // namespace kiv::error_catalog
