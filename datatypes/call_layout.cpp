// Building call layouts (typed specifications) from the argument lists of
// function values (call_layout.h).
#include "datatypes/call_layout.h"

#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/fixed_words.h"
#include "datatypes/symbol.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::interpreter::spec {

namespace {

// The typeset holds type t at bit 0x80 >> (t % 8) of byte t / 8; the mask at
// bit t % 32 of word t / 32: each of the first eight bytes, bits reversed.
void fill_accept(SpecEntry& e) {
    uint8_t bytes[12];
    std::memcpy(bytes, e.ts, sizeof bytes);
    e.accept[0] = e.accept[1] = 0;
    for (uint32_t k = 0; k < 8; ++k) {
        uint32_t b = bytes[k];
        b = ((b & 0xF0u) >> 4) | ((b & 0x0Fu) << 4);
        b = ((b & 0xCCu) >> 2) | ((b & 0x33u) << 2);
        b = ((b & 0xAAu) >> 1) | ((b & 0x55u) << 1);
        e.accept[k >> 2] |= b << ((k & 3) * 8);
    }
}

// The typeset of a type block (default when empty).
void typeset_of(const Cell* types, uint32_t out[3]) {
    Cell t = *types;
    if (block::cells_length(&t) == 0) {
        Cell d = typeset::default_set();
        out[0] = d.w1, out[1] = d.w2, out[2] = d.w3;
        return;
    }
    const Cell c = typeset::from_block(&t);
    out[0] = c.w1, out[1] = c.w2, out[2] = c.w3;
}

}  // namespace

// The layout of a callable source value, as bytes (nothing linked).
std::vector<uint8_t> layout_bytes(const Cell& fn) {
    Cell spec{TYPE_BLOCK, 0, fn.w2, 0};
    uint32_t ret = fixed::canonical(fixed::SYM_RETURN);
    uint32_t local = fixed::canonical(fixed::REF_LOCAL);
    // The entries in the order written, which is their final order: the
    // fixed arguments come before the first refinement, and an argument
    // after a refinement belongs to the last one written.
    std::vector<SpecEntry> all;
    SpecHeader h{};
    bool in_local = false;
    uint32_t n = series::count(spec.w2);
    all.reserve(n);
    Cell default_ts = typeset::default_set();
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = *block::cells_at(&spec, i);
        switch (v.type()) {
            case TYPE_WORD:
            case TYPE_GET_WORD:
            case TYPE_LIT_WORD: {
                bool typed = i + 1 < n && block::cells_at(&spec, i + 1)->type() == TYPE_BLOCK;
                if (in_local) {
                    ++h.locals;
                    if (typed) ++i;
                    break;
                }
                SpecEntry e{};
                e.kind_mode = K_ARG | (v.type() == TYPE_GET_WORD   ? MODE_LITERAL
                                       : v.type() == TYPE_LIT_WORD ? MODE_QUOTED
                                                                   : MODE_EVAL);
                e.symbol = v.w2;
                e.canonical = symbol::resolve(v.w2);
                if (typed) {
                    Cell types = *block::cells_at(&spec, ++i);
                    typeset_of(&types, e.ts);
                } else {
                    e.ts[0] = default_ts.w1, e.ts[1] = default_ts.w2, e.ts[2] = default_ts.w3;
                }
                if (h.refinements == 0) ++h.fixed;
                all.push_back(e);
                break;
            }
            case TYPE_SET_WORD: {
                if (symbol::resolve(v.w2) != ret) fire({"script", "bad-func-def"}, v);
                in_local = false;
                if (i + 1 < n && block::cells_at(&spec, i + 1)->type() == TYPE_BLOCK) {
                    Cell types = *block::cells_at(&spec, ++i);
                    if (block::cells_length(&types) > 0) {
                        Cell first = *block::cells_at(&types, types.w1);
                        if (first.type() == TYPE_WORD && first.w1) {
                            const Cell* val = context::get_word(&first);
                            if (val->type() == TYPE_DATATYPE) h.return_type = val->w1;
                        }
                    }
                }
                break;
            }
            case TYPE_REFINEMENT: {
                if (symbol::resolve(v.w2) == local) {
                    in_local = true;
                    h.locals = 1;
                    break;
                }
                in_local = false;
                SpecEntry e{};
                e.kind_mode = K_REF;
                e.symbol = v.w2;
                e.canonical = symbol::resolve(v.w2);
                all.push_back(e);
                ++h.refinements;
                break;
            }
            default:
                break;  // doc strings, the attribute block
        }
    }
    // Argument cells: a function's frame holds each refinement's flag
    // before its arguments (fpos); a native's holds every refinement's
    // arguments after the fixed ones (npos).
    uint32_t fpos = 0, npos = h.fixed;
    uint32_t ref_at = 0;  // the entry of the current refinement
    int32_t ordinal = -1;
    for (uint32_t i = 0; i < all.size(); ++i) {
        SpecEntry& e = all[i];
        if ((e.kind_mode & 0xFF) == K_REF) {
            e.ordinal = uint32_t(++ordinal);
            e.fpos = fpos++;
            e.npos = npos;
            ref_at = i;
            continue;
        }
        fill_accept(e);
        if (ordinal < 0) {
            e.fpos = e.npos = fpos++;
            continue;
        }
        e.fpos = fpos++;
        e.npos = npos++;
        e.ordinal = uint32_t(ordinal);
        ++all[ref_at].nargs;
        ++h.ref_args;
    }
    h.frame_cells = fpos + h.locals;
    h.entries = uint32_t(all.size());
    // Refinement entries in ordinal order, for lookups by number: their
    // entry indexes, appended after the entries.
    h.ref_table = h.entries;  // the table starts where the entries end (in entry-size units below)

    std::vector<uint8_t> bytes(sizeof(SpecHeader) + all.size() * sizeof(SpecEntry) +
                               h.refinements * sizeof(uint32_t));
    uint8_t* p = bytes.data();
    std::memcpy(p, &h, sizeof h);
    if (!all.empty()) std::memcpy(p + sizeof h, all.data(), all.size() * sizeof(SpecEntry));
    uint8_t* table = p + sizeof h + all.size() * sizeof(SpecEntry);
    for (uint32_t i = 0; i < all.size(); ++i)
        if ((all[i].kind_mode & 0xFF) == K_REF) {
            std::memcpy(table, &i, sizeof i);
            table += sizeof i;
        }
    return bytes;
}

Off build_layout(const Cell* fn_in) {
    const Cell fn = *fn_in;
    const std::vector<uint8_t> bytes = layout_bytes(fn);
    Off node = memory::alloc_bytes(uint32_t(bytes.size()));
    SeriesBuffer* b = buffer_of(node);
    std::memcpy(b->head_ptr(), bytes.data(), bytes.size());
    b->tail = b->head + uint32_t(bytes.size());
    // Link it to the function value (re-read the series: the allocation may
    // have moved it).
    *(buffer_of(fn.w3)->head_cell() + 1) = Cell{TYPE_BINARY, 0, node, 0};
    return node;
}
Off build_typed_spec(const Cell* fn) {
    const Cell f = *fn;
    const Off node = build_layout(&f);
    if ((f.type() == TYPE_NATIVE || f.type() == TYPE_ACTION) &&
        !builtin_layout_fits(f.type(), f.w1, buffer_of(node)->head_ptr())) {
        Cell spec{TYPE_BLOCK, 0, f.w2, 0};
        fire({"script", "bad-func-def"}, spec);
    }
    return node;
}

namespace {
bool builtins_closed = false;
// Set when the entries' own layouts came from the boot image.
bool own_from_image = false;

// The entries' own layouts, by kind and number: plain copies (a layout
// refers to no node), so they outlive any collection or restart. Only the
// shape is compared (the symbols of the entries are not).
struct Own {
    SpecHeader header{};
    std::vector<SpecEntry> entries;
    bool known = false;
};
std::vector<Own> own[2];

void record_own(Own& o, const uint8_t* head) {
    const SpecHeader* h = reinterpret_cast<const SpecHeader*>(head);
    o.header = *h;
    o.entries.assign(entry_in(head, 0), entry_in(head, 0) + h->entries);
    o.known = true;
}
}  // namespace

bool builtin_layouts_closed() {
    return builtins_closed;
}

bool take_own_layouts(const uint8_t* data, uint32_t size) {
    auto read32 = [data](uint32_t at) {
        uint32_t v;
        std::memcpy(&v, data + at, 4);
        return v;
    };
    std::vector<Own> taken[2];
    for (uint32_t at = 0; at < size;) {
        if (size - at < 9) return false;
        const uint32_t kind = data[at];
        const uint32_t number = read32(at + 1);
        const uint32_t length = read32(at + 5);
        at += 9;
        if (kind > 1 || number == 0 || number > 0xFFFF || length > size - at || length < sizeof(SpecHeader))
            return false;
        // The header and entries are copied out: the bytes need not be aligned.
        std::vector<uint8_t> bytes(data + at, data + at + length);
        const SpecHeader* h = reinterpret_cast<const SpecHeader*>(bytes.data());
        if (h->entries > (length - sizeof(SpecHeader)) / sizeof(SpecEntry)) return false;
        // A layout start-up made already must be the same.
        const uint32_t type = kind ? TYPE_ACTION : TYPE_NATIVE;
        if (number < own[kind].size() && own[kind][number].known && !builtin_layout_fits(type, number, bytes.data()))
            return false;
        if (number >= taken[kind].size()) taken[kind].resize(number + 1);
        record_own(taken[kind][number], bytes.data());
        at += length;
    }
    own[0] = std::move(taken[0]);
    own[1] = std::move(taken[1]);
    own_from_image = true;
    return true;
}

void close_builtin_layouts() {
    if (own_from_image) {
        builtins_closed = true;
        return;
    }
    const Off g = context::global();
    // By index: a layout's allocation may move the values buffer.
    for (uint32_t i = 0; i < series::count(context::cell(g)->w2); ++i) {
        const Cell v = *(buffer_of(context::cell(g)->w2)->head_cell() + i);
        if (v.type() != TYPE_NATIVE && v.type() != TYPE_ACTION) continue;
        // A layout made already is the one its calls use.
        if (const Off spec = built_typed_spec(&v))
            (void)builtin_layout_fits(v.type(), v.w1, buffer_of(spec)->head_ptr());
        else
            (void)builtin_layout_fits(v.type(), v.w1, layout_bytes(v).data());
    }
    builtins_closed = true;
}

bool builtin_layout_fits(uint32_t type, uint32_t number, const uint8_t* head) {
    std::vector<Own>& table = own[type == TYPE_ACTION ? 1 : 0];
    if (number >= table.size()) {
        if (builtins_closed) return false;
        table.resize(number + 1);
    }
    const SpecHeader* h = reinterpret_cast<const SpecHeader*>(head);
    Own& o = table[number];
    if (!o.known) {
        if (builtins_closed) return false;
        record_own(o, head);
        return true;
    }
    if (h->fixed != o.header.fixed || h->refinements != o.header.refinements || h->entries != o.header.entries)
        return false;
    for (uint32_t i = 0; i < h->entries; ++i) {
        const SpecEntry& e = *entry_in(head, i);
        const SpecEntry& r = o.entries[i];
        if (e.kind_mode != r.kind_mode || e.nargs != r.nargs) return false;
        if (e.accept[0] != r.accept[0] || e.accept[1] != r.accept[1]) return false;
    }
    return true;
}

namespace {
// The refinement entries of a typed specification, read in place (nothing
// here allocates): the header, the entries and the ordinal table follow
// one another in one buffer.
struct RefTable {
    const uint8_t* head;
    uint32_t count;
    const SpecEntry& entry(uint32_t ordinal) const { return *entry_in(head, ref_index_in(head, ordinal)); }
};
RefTable ref_table(Off node) {
    const uint8_t* head = buffer_of(node)->head_ptr();
    return {head, reinterpret_cast<const SpecHeader*>(head)->refinements};
}
int32_t find_in(const RefTable& t, uint32_t canonical) {
    for (uint32_t r = 0; r < t.count; ++r)
        if (t.entry(r).canonical == canonical) return int32_t(r);
    return -1;
}
}  // namespace

int32_t find_ref(Off node, uint32_t canonical) {
    return find_in(ref_table(node), canonical);
}

int32_t find_ref_word(Off node, uint32_t symbol) {
    const RefTable t = ref_table(node);
    for (uint32_t r = 0; r < t.count; ++r) {
        // Spelt as the entry: its id is the word's case-insensitive id, and
        // the first entry with that id is the answer.
        const SpecEntry& e = t.entry(r);
        if (e.symbol == symbol) return find_in(t, e.canonical);
    }
    return find_in(t, symbol::resolve(symbol));
}

}  // namespace kiv::interpreter::spec
