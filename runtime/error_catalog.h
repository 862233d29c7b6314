// The error catalog: every language error the runtime and the library raise.
//
// Ten categories in a fixed order; each has a code (its position x 100), a
// type text ("Script Error") and its ids in a fixed order. The numeric code of
// an error is its category's code plus the id's position (script no-value is
// 300, script expect-arg 305), so the order of categories and ids below is an
// interface: inserting an id renumbers every id after it.
//
// Each id carries a message template of one of three shapes, mirroring the
// `system/catalog/errors` data built from this table:
//   STRING  a single string, shown as it is;
//   BLOCK   strings and argument words (:arg1 get-words; a few internal
//           templates use the plain words arg1/arg2), shown with one space
//           between values;
//   WORD    the plain word arg1: the message is the error's first argument
//           (user message).
//
// The table is constant data: usable from the first instruction, no locking,
// no allocation. Name look-ups ignore ASCII case (catalog words are ASCII).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kiv::error_catalog {

enum Category : uint8_t {
    CAT_THROW = 0,
    CAT_NOTE = 1,
    CAT_SYNTAX = 2,
    CAT_SCRIPT = 3,
    CAT_MATH = 4,
    CAT_ACCESS = 5,
    CAT_RESERVED1 = 6,
    CAT_RESERVED2 = 7,
    CAT_USER = 8,
    CAT_INTERNAL = 9,
};
constexpr int CATEGORY_COUNT = 10;

// One value of a template: literal text, or a reference to argument 1..3.
struct Piece {
    const char* text = nullptr;  // literal text (UTF-8); null for an argument
    uint8_t arg = 0;             // 1..3 for an argument reference, 0 for text
    bool get_word = false;       // argument written as :argN (else the plain word argN)

    constexpr Piece() = default;
    constexpr Piece(const char* t) : text(t) {}  // NOLINT: literal text reads naturally in the table
    constexpr Piece(uint8_t n, bool get) : arg(n), get_word(get) {}
    constexpr bool is_arg() const { return arg != 0; }
};

enum class Shape : uint8_t { STRING, BLOCK, WORD };

// The longest template has six values (script expect-arg, bad-path-type).
constexpr int MAX_PIECES = 6;

struct Template {
    Shape shape = Shape::STRING;
    uint8_t count = 0;
    Piece pieces[MAX_PIECES] = {};

    constexpr Template() = default;
    constexpr Template(Shape s, std::initializer_list<Piece> list) : shape(s) {
        for (const Piece& p : list) pieces[count++] = p;
    }
};

struct IdEntry {
    const char* name;
    Template tmpl;

    constexpr IdEntry(const char* n, Shape s, std::initializer_list<Piece> list) : name(n), tmpl(s, list) {}
};

struct CategoryEntry {
    const char* name;       // category word
    const char* type_text;  // the `type` field, e.g. "Script Error"
    int32_t code;           // position x 100
    uint8_t id_count;
    const IdEntry* ids;     // id_count entries, position order (null when none)
};

// ---- Table access -----------------------------------------------------------

// Category by position 0..9 (no check: the caller keeps the index in range).
const CategoryEntry& category(int index);
// Every category in order.
const CategoryEntry* categories();
// Total number of ids over all categories.
int id_total();

// ---- Look-ups (-1 / null / false when absent) --------------------------------

int category_index(std::string_view name);
int id_index(int category, std::string_view name);
// Numeric code of category/id, or -1.
int32_t code_of(std::string_view category, std::string_view id);

struct Location {
    int category;
    int id;
};
// Category and id position of a numeric code: category = code / 100, id
// position = code mod 100; false when the code is negative, the category is
// past the last one or the position is past the category's last id.
bool locate(int32_t code, Location* out);

const Template* template_of(int category, int id);
const Template* template_of(std::string_view category, std::string_view id);
const Template* template_of(int32_t code);
const char* id_name(int category, int id);

// ---- Forming the message ------------------------------------------------------

// Appends the message of a template to `out`, with args[0..2] as the texts
// already formed (syntax errors) or molded (the others) from arg1..arg3 by
// the caller. BLOCK: the values with one space between them; STRING: the
// text; WORD: the text given for the named argument.
void append_message(std::string& out, const Template& t, const std::string_view args[3]);
std::string form_message(const Template& t, const std::string_view args[3]);

// ---- The catalog as language source -----------------------------------------------

// Source text of the `system/catalog/errors` object body: one set-word per
// category in order, each `make object! [code: .. type: ".." id: template ...]`.
// Templates are written as the catalog data holds them: a string, a block of
// strings and :argN / argN words, or the lit-word 'arg1 (user message), so
// that evaluating the body yields the word itself.
std::string catalog_source();

}  // namespace kiv::error_catalog
