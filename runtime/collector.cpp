#include "runtime/collector.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/externals.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv::collector {

ImageMarker image_marker = nullptr;
ShowMemoryStats show_memory_stats = nullptr;

namespace {

using memory::NodeFrame;
using memory::SeriesFrame;
using series_flag::MARKED;

bool collecting_now = false;
bool node_compaction_on = false;
#ifdef KIV_GC_TORTURE
bool moving_on = true;
#else
bool moving_on = false;
#endif
// Address space a moving collection keeps out of use after releasing it.
constexpr uint64_t MOVING_QUARANTINE = uint64_t(256) << 20;
uint32_t history_depth = HISTORY_DEPTH;
uint32_t node_compactions = 0;

Marker markers[MAX_MARKERS];
uint32_t marker_count = 0;

// Old node -> new node; exists only during a collection that compacted node
// frames.
hashtable::RelocationMap* relocation = nullptr;

constexpr size_t DEFERRED_ROOM = 20000;
std::vector<Off> deferred;
// Nodes of cell series marked but not yet scanned.
std::vector<Off> work;
// Node frames sorted by address (rebuilt for each flush).
std::vector<NodeFrame*> node_frames;

Figures figures{};

template <class T>
inline T* at(Off o) {
    return arena::ptr<T>(o);
}

inline SeriesBuffer* header_before(const void* data) {
    return reinterpret_cast<SeriesBuffer*>(reinterpret_cast<uintptr_t>(data) - sizeof(SeriesBuffer));
}

// ---- Marking ---------------------------------------------------------------------

inline void push_work(Off node) {
    work.push_back(node);
}

void scan_cells(Cell* c, Cell* end);

// Scans the cells of every series marked so far, until none is left.
void drain() {
    while (!work.empty()) {
        Off node = work.back();
        work.pop_back();
        SeriesBuffer* b = buffer_of(node);
        if (b->unit() != sizeof(Cell)) continue;
        scan_cells(b->head_cell(), b->tail_cell());
    }
}

inline bool is_function_type(uint32_t t) {
    return t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

void scan_cells(Cell* c, Cell* end) {
    for (; c < end; ++c) {
        switch (c->type()) {
            case TYPE_BLOCK:
            case TYPE_PAREN:
            case TYPE_PATH:
            case TYPE_LIT_PATH:
            case TYPE_SET_PATH:
            case TYPE_GET_PATH:
                mark_series(&c->w2);
                break;
            case TYPE_STRING:
            case TYPE_FILE:
            case TYPE_URL:
            case TYPE_TAG:
            case TYPE_EMAIL:
            case TYPE_REF:
                mark_node(&c->w2);
                mark_node(&c->w3);  // the conversion cache, when there is one
                break;
            case TYPE_SYMBOL:
                mark_node(&c->w3);
                mark_node(&c->w2);
                break;
            case TYPE_CONTEXT:
                hashtable::mark(&c->w1);
                if (!(c->header & header::STACK_VALUES)) mark_series(&c->w2);
                break;
            case TYPE_WORD:
            case TYPE_SET_WORD:
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
            case TYPE_REFINEMENT:
                // A word bound to `self` holds the context too: marking the
                // context marks its cells, the self cell included.
                mark_context(&c->w1);
                break;
            case TYPE_NATIVE:
            case TYPE_ACTION:
                mark_series(&c->w2);
                mark_series(&c->w3);
                break;
            case TYPE_OP:
                mark_series(&c->w2);
                mark_series(&c->w3);
                if (is_function_type((c->header & header::OP_TYPE_MASK) >> header::OP_TYPE_SHIFT))
                    mark_context(&c->w1);
                break;
            case TYPE_FUNCTION:
            case TYPE_ROUTINE:
                mark_context(&c->w1);
                mark_series(&c->w2);
                mark_series(&c->w3);
                break;
            case TYPE_BITSET:
            case TYPE_VECTOR:
            case TYPE_BINARY:
                mark_node(&c->w2);
                break;
            case TYPE_OBJECT:
            case TYPE_ERROR:
            case TYPE_PORT:
                mark_context(&c->w1);
                mark_node(&c->w3);  // the on-set data
                break;
            case TYPE_HASH:
            case TYPE_MAP:
                mark_series(&c->w2);
                hashtable::mark(&c->w3);
                break;
            case TYPE_HANDLE:
                if (int32_t(c->w3) >= 0) externals::mark(c->w3);
                break;
            case TYPE_IMAGE:
                if (mark_node(&c->w2) && image_marker) image_marker(c);
                break;
            case TYPE_EVENT:
                if (c->w3 & 0x10000u) mark_series(&c->w2);
                break;
            default:
                break;
        }
    }
}

inline bool on_data_stack(Off o) {
    return stack::bottom && o >= arena::off(stack::bottom) && o < arena::off(stack::limit);
}

// Marks a fixed buffer given by its data start (it has no other marker).
inline void mark_fixed_data(const void* data) {
    header_before(data)->flags |= MARKED;
}

void mark_call_frames() {
    for (stack::Frame* f = stack::frames_bottom; f && f < stack::frames_top; ++f) {
        mark_context(&f->binding);
        mark_context(&f->function_context);
        // A stack context's saved values are an address on the data stack,
        // a heap context's a node; an evaluation frame holds the node of the
        // block it runs there.
        if (f->saved_values && !on_data_stack(f->saved_values)) mark_series(&f->saved_values);
    }
}

void mark_roots() {
    if (root::block.type() == TYPE_BLOCK) mark_block(&root::block);
    hashtable::mark(&root::symbol_index);
    if (stack::bottom) {
        mark_fixed_data(stack::bottom);
        mark_fixed_data(stack::frames_bottom);
        scan_cells(stack::bottom, stack::top);
        mark_call_frames();
    }
    mark_context(&root::global_context);
    if (slots::block.type() == TYPE_BLOCK) mark_block(&slots::block);
    drain();
    for (uint32_t i = 0; i < marker_count; ++i) {
        if (!markers[i]) continue;
        markers[i]();
        drain();
    }
    // Ownership entries last: each keeps its owner alive only while its
    // series is reachable from the rest.
    if (ownership::table) {
        ownership::mark_table();
        drain();
        while (ownership::mark_entries()) drain();
    }
}

// ---- Node compaction --------------------------------------------------------------

Off take_slot(NodeFrame* f) {
    Off slot = f->free_head;
    Off next = node_content(slot);
    f->free_head = next == slot ? 0 : next;
    f->used++;
    return slot;
}

bool usable(const NodeFrame* f, const NodeFrame* except) {
    return f != except && f->free_head && !f->pass_over;
}

void compact_node_frames() {
    NodeFrame* current = nullptr;
    uint64_t free_total = 0;
    for (Off o = memory::record.first_node_frame; o; o = at<NodeFrame>(o)->next) {
        NodeFrame* f = at<NodeFrame>(o);
        if (!f->free_head || f->pass_over) continue;
        if (!current) current = f;
        free_total += f->capacity - f->used;
    }
    const uint32_t mask = (1u << (history_depth + 1)) - 1;
    bool emptied = false;
    bool out_of_room = false;
    for (Off o = memory::record.last_node_frame; o && !out_of_room;) {
        NodeFrame* f = at<NodeFrame>(o);
        Off prev = f->prev;
        o = prev;
        if ((f->history & mask) != mask || f->used >= NODE_COMPACT_MAX_USED ||
            free_total <= NODE_COMPACT_MIN_FREE || f == current || f->pass_over)
            continue;
        if (!relocation) relocation = hashtable::relocation_create(20000);
        for (Off slot = f->first_slot(); slot < f->slots_end(); slot += sizeof(Off)) {
            if (!f->slot_holds_buffer(slot)) continue;
            if (!current || !usable(current, f)) {
                current = nullptr;
                for (Off g = memory::record.first_node_frame; g; g = at<NodeFrame>(g)->next)
                    if (usable(at<NodeFrame>(g), f)) {
                        current = at<NodeFrame>(g);
                        break;
                    }
                if (!current) {
                    out_of_room = true;  // the frame keeps its other nodes
                    break;
                }
            }
            Off content = node_content(slot);
            Off fresh = take_slot(current);
            *at<Off>(fresh) = content;
            at<SeriesBuffer>(content)->node = fresh;
            hashtable::relocation_put(relocation, slot, fresh);
            memory::free_node_in(f, slot);
            figures.relocated_nodes++;
        }
        if (out_of_room) break;
        if (f->used) continue;  // a node taken but not linked yet stays where it is
        f->pass_over = 1;
        free_total -= std::min<uint64_t>(free_total, f->capacity);
        emptied = true;
    }
    if (emptied) ++node_compactions;
}

uint32_t relocated_identity(uint32_t identity) {
    return hashtable::relocation_get(relocation, identity);
}

// ---- Series-frame compaction ----------------------------------------------------------

// Moves a run of live buffers from src to dst (dst below src) and fixes
// each moved buffer's node slot, head and tail.
void move_run(Off src, uint32_t length, Off dst) {
    std::memmove(at<uint8_t>(dst), at<uint8_t>(src), length);
    uint32_t distance = src - dst;
    for (Off p = dst; p < dst + length;) {
        SeriesBuffer* b = at<SeriesBuffer>(p);
        b->head -= distance;
        b->tail -= distance;
        if (b->node) *at<Off>(b->node) = p;
        figures.moved_buffers++;
        p += b->size + BUFFER_OVERHEAD;
    }
}

// A dead buffer's node is freed when it still names this buffer (the old
// buffer of an expansion has no node).
inline void bury(SeriesBuffer* b) {
    if (b->node && node_content(b->node) == arena::off(b)) {
        if (deferred.size() >= DEFERRED_ROOM) flush_deferred();
        deferred.push_back(b->node);
    }
}

// Slides the live buffers of F down, moving runs into the free tail of the
// previous frame P while P has room for them.
void compact_frame(SeriesFrame* f, SeriesFrame* p) {
    uint32_t room = p ? p->end - p->first_free : 0;
    if (room < MIN_ROOM_FOR_MOVE) room = 0;
    Off dest = f->data_start();
    Off pos = f->data_start();
    const Off end = f->first_free;
    while (pos < end) {
        SeriesBuffer* b = at<SeriesBuffer>(pos);
        if (!(b->flags & MARKED)) {
            bury(b);
            pos += b->size + BUFFER_OVERHEAD;
            continue;
        }
        // Gather a run of live buffers, clearing their marks. Bound for P, the
        // run stops before the buffer that would overflow the room; when the
        // first buffer alone does not fit, the run slides inside F instead.
        bool to_prev = room != 0;
        const Off run = pos;
        uint32_t length = 0;
        while (pos < end) {
            SeriesBuffer* r = at<SeriesBuffer>(pos);
            if (!(r->flags & MARKED)) break;
            uint32_t l = r->size + BUFFER_OVERHEAD;
            if (to_prev && uint64_t(length) + l > room) {
                if (length) break;
                to_prev = false;
            }
            r->flags &= ~MARKED;
            length += l;
            pos += l;
        }
        Off target;
        if (to_prev) {
            target = p->first_free;
            p->first_free += length;
            room -= length;
            if (room < MIN_ROOM_FOR_MOVE) room = 0;
        } else {
            target = dest;
            dest += length;
        }
        if (target != run) move_run(run, length, target);
    }
    f->first_free = dest;
}

void compact_series_frames() {
    SeriesFrame* prev = nullptr;
    for (Off o = memory::record.first_series_frame; o;) {
        SeriesFrame* f = at<SeriesFrame>(o);
        Off next = f->next;
        compact_frame(f, prev);
        prev = f;
        o = next;
    }
    figures.released_frames += memory::trim_series_frames();
    // Allocation resumes in the first frame; it moves on when that is full.
    memory::record.current_series_frame = memory::record.first_series_frame;
}

// Copies a live buffer (header, data and slack) to `to` and points its node,
// head and tail there.
void relocate(SeriesBuffer* b, SeriesBuffer* to) {
    std::memcpy(to, b, b->size + BUFFER_OVERHEAD);
    uint32_t distance_up = arena::off(to) - arena::off(b);  // modulo 2^32
    to->head += distance_up;
    to->tail += distance_up;
    if (to->node) *at<Off>(to->node) = arena::off(to);
    figures.moved_buffers++;
}

// The moving collection: every live buffer of the series frames goes to a
// frame of its own (memory::open_moving_space) and every other frame is
// retired: made inaccessible, so that a pointer taken before the collection
// faults when it is used after it.
void evacuate_series_frames() {
    std::vector<SeriesFrame*> old;
    uint64_t used = 0;  // bounds the live bytes without a walk of every buffer
    for (Off o = memory::record.first_series_frame; o; o = at<SeriesFrame>(o)->next) {
        SeriesFrame* f = at<SeriesFrame>(o);
        old.push_back(f);
        used += f->first_free - f->data_start();
    }
    SeriesFrame* to = memory::open_moving_space(used);
    for (SeriesFrame* f : old) {
        const Off end = f->first_free;
        for (Off pos = f->data_start(); pos < end;) {
            SeriesBuffer* b = at<SeriesBuffer>(pos);
            if (!(b->flags & MARKED)) {
                bury(b);
                pos += b->size + BUFFER_OVERHEAD;
                continue;
            }
            // A run of live buffers is copied at once, then each header is
            // fixed in its new place.
            const Off run = pos;
            while (pos < end && (at<SeriesBuffer>(pos)->flags & MARKED))
                pos += at<SeriesBuffer>(pos)->size + BUFFER_OVERHEAD;
            const Off dst = to->first_free;
            const uint32_t length = pos - run;
            std::memcpy(at<uint8_t>(dst), at<uint8_t>(run), length);
            to->first_free += length;
            const uint32_t distance_up = dst - run;  // modulo 2^32
            for (Off p = dst; p < dst + length;) {
                SeriesBuffer* m = at<SeriesBuffer>(p);
                m->flags &= ~MARKED;
                m->head += distance_up;
                m->tail += distance_up;
                if (m->node) *at<Off>(m->node) = p;
                figures.moved_buffers++;
                p += m->size + BUFFER_OVERHEAD;
            }
        }
    }
    for (SeriesFrame* f : old) {
        memory::retire_frame(f);
        figures.released_frames++;
    }
    memory::record.current_series_frame = arena::off(to);
}

void sweep_big() {
    // The list is read first: a moving collection appends the new blocks.
    std::vector<memory::BigBlock*> blocks;
    for (Off o = memory::record.big_list; o; o = at<memory::BigBlock>(o)->next)
        blocks.push_back(at<memory::BigBlock>(o));
    for (memory::BigBlock* bb : blocks) {
        SeriesBuffer* b = bb->buffer();
        if (b->flags & MARKED) {
            b->flags &= ~MARKED;
            if (moving_on) {
                // A block the arena cannot hold twice stays where it is: a
                // collection must not raise.
                if (SeriesBuffer* to = memory::try_alloc_big(bb->size)) {
                    relocate(b, to);
                    memory::free_big(b);
                }
            }
        } else {
            bury(b);
            memory::free_big(b);
            figures.freed_big++;
        }
    }
}

void unmark_fixed_buffers() {
    for (Off b : memory::fixed_buffers()) at<SeriesBuffer>(b)->flags &= ~MARKED;
}

// Keeps the collecting flag and the enabled switch right even when a mark
// callback breaks the rules and raises.
struct CollectingScope {
    CollectingScope() {
        collecting_now = true;
        std::atomic_thread_fence(std::memory_order_seq_cst);
        ++memory::collection_paused;  // nothing inside may start another
    }
    ~CollectingScope() {
        --memory::collection_paused;
        work.clear();
        if (relocation) {
            hashtable::relocation_destroy(relocation);
            relocation = nullptr;
        }
        collecting_now = false;
        std::atomic_thread_fence(std::memory_order_seq_cst);
    }
    CollectingScope(const CollectingScope&) = delete;
    CollectingScope& operator=(const CollectingScope&) = delete;
};

// ---- Results of stats and recycle ---------------------------------------------------------

Cell number_cell(uint64_t n) {
    if (n <= 2147483647u) return Cell{TYPE_INTEGER, 0, uint32_t(n), 0};
    Cell c{TYPE_FLOAT, 0, 0, 0};
    c.set_f64(double(n));
    return c;
}

// Appends a value with the new-line flag to the block (a cell that stays put).
void append_line(const Cell* blk, Cell value) {
    value.header |= header::NEW_LINE;
    *block_alloc_tail(blk) = value;
}

// Appends a new block with room for n cells to the parent; returns a copy of
// its cell (the parent keeps it reachable).
Cell append_block(const Cell* parent, int32_t n, bool new_line) {
    // The cell first (as none), so that the new buffer is reachable from the
    // moment it exists; then re-read the cell through the parent's node.
    Off pnode = parent->w2;
    *block_alloc_tail(parent) = Cell{TYPE_NONE, 0, 0, 0};
    Off node = memory::alloc_cells(uint32_t(n < 1 ? 1 : n));
    Cell* c = buffer_of(pnode)->tail_cell() - 1;
    *c = Cell{TYPE_BLOCK, 0, node, 0};
    if (new_line) c->header |= header::NEW_LINE;
    return *c;
}

void append_figures(const Cell* parent, const std::vector<memory::FrameFigures>& list) {
    Cell outer = append_block(parent, int32_t(list.size()), false);
    for (const memory::FrameFigures& f : list) {
        Cell inner = append_block(&outer, 3, true);
        *block_alloc_tail(&inner) = number_cell(f.free);
        *block_alloc_tail(&inner) = number_cell(f.used);
        *block_alloc_tail(&inner) = number_cell(f.total);
    }
}

}  // namespace

// ---- Marking (public) -------------------------------------------------------------------

bool mark_node(Off* ref) {
    Off n = *ref;
    if (!n) return false;
    if (relocation) {
        if (Off moved = hashtable::relocation_get(relocation, n)) *ref = n = moved;
    }
    Off content = node_content(n);
    if (!content) return false;  // a node taken but not linked yet
    SeriesBuffer* b = at<SeriesBuffer>(content);
    if (b->flags & MARKED) return false;
    b->flags |= MARKED;
    return true;
}

void mark_series(Off* ref) {
    if (mark_node(ref)) push_work(*ref);
}

void mark_block(Cell* block) {
    mark_series(&block->w2);
}

void mark_context(Off* ref) {
    // The context buffer holds the context cell and the self cell: scanning
    // them marks the word table, the values (unless on the data stack) and
    // the value that owns the context.
    if (mark_node(ref)) push_work(*ref);
}

void mark_cells(Cell* first, Cell* end) {
    scan_cells(first, end);
}

void unmark(Off node) {
    if (node && node_content(node)) buffer_of(node)->flags &= ~MARKED;
}

bool is_marked(Off node) {
    return node && node_content(node) && (buffer_of(node)->flags & MARKED);
}

void follow(Off* ref) {
    if (relocation && *ref) {
        if (Off moved = hashtable::relocation_get(relocation, *ref)) *ref = moved;
    }
}

// ---- Deferred frees ----------------------------------------------------------------------

void defer_free(Off node) {
    if (!node) return;
    if (deferred.size() >= DEFERRED_ROOM) flush_deferred();
    deferred.push_back(node);
}

void flush_deferred() {
    if (deferred.empty()) return;
    node_frames.clear();
    for (Off o = memory::record.first_node_frame; o; o = at<NodeFrame>(o)->next)
        node_frames.push_back(at<NodeFrame>(o));
    std::sort(node_frames.begin(), node_frames.end());
    // Each node's frame by a binary search over the few frames, rather than
    // sorting the (many) deferred nodes: the frame is the first one whose
    // slots end above the node; free_node_in checks that it owns the node.
    // Nodes dead together mostly share a frame: the last one found is tried
    // before the search.
    NodeFrame* last = nullptr;
    for (Off node : deferred) {
        if (!last || !last->owns_slot(node)) {
            auto it = std::upper_bound(node_frames.begin(), node_frames.end(), node,
                                       [](Off n, const NodeFrame* f) { return n < f->slots_end(); });
            if (it == node_frames.end()) continue;
            last = *it;
        }
        if (memory::free_node_in(last, node)) figures.freed_nodes++;
    }
    deferred.clear();
}

// ---- Collection ---------------------------------------------------------------------------

void init() {
    memory::collection_cycles = 0;
    node_compactions = 0;
    history_depth = HISTORY_DEPTH;
    deferred.reserve(DEFERRED_ROOM);
    work.reserve(1024);
    hashtable::CollectorLink link;
    link.compaction_count = [] { return node_compactions; };
    link.collecting = [] { return collecting_now; };
    link.set_node_compaction = set_node_compaction;
    link.mark_node = mark_node;
    link.mark_cells = mark_cells;
    hashtable::connect_collector(link);
    memory::collect_hook = collect;
    // KIV_GC_MOVING=0 or 1 in the environment overrides the build's default.
    if (const char* e = std::getenv("KIV_GC_MOVING")) moving_on = e[0] == '1';
    arena::set_quarantine(moving_on ? MOVING_QUARANTINE : 0);
}

void collect() {
    if (collecting_now) return;
    CollectingScope scope;
    memory::collection_owed = false;
    memory::outside_bytes = 0;
    ++memory::layout_stamp;  // first: whatever the collection moves
    figures = Figures{};
    if (node_compaction_on) compact_node_frames();
    mark_roots();
    if (relocation) cycles::relocate(relocated_identity);
    externals::sweep();
    ownership::purge();
    if (moving_on) {
        evacuate_series_frames();
    } else {
        compact_series_frames();
    }
    sweep_big();
    flush_deferred();
    memory::release_node_frames();
    unmark_fixed_buffers();
    ++memory::collection_cycles;
}

void collect_if_enabled() {
    if (memory::collection_allowed()) collect();
}

bool collecting() {
    return collecting_now;
}

void recycle_on() {
    memory::collection_enabled = true;
}
void recycle_off() {
    memory::collection_enabled = false;
}
bool enabled() {
    return memory::collection_enabled;
}

bool set_node_compaction(bool on) {
    bool old = node_compaction_on;
    node_compaction_on = on;
    return old;
}
bool node_compaction() {
    return node_compaction_on;
}

bool set_moving(bool on) {
    bool old = moving_on;
    moving_on = on;
    if (!on) memory::drop_moving_spaces();
    arena::set_quarantine(on ? MOVING_QUARANTINE : 0);
    return old;
}
bool moving() {
    return moving_on;
}

uint32_t cycle_count() {
    return memory::collection_cycles;
}
uint32_t node_compaction_count() {
    return node_compactions;
}

const Figures& last_figures() {
    return figures;
}

void mark_fixed_buffer_holding(Off address) {
    if (!address) return;
    for (Off b : memory::fixed_buffers()) {
        SeriesBuffer* fb = at<SeriesBuffer>(b);
        if (address < fb->data_start() || address >= fb->data_end()) continue;
        if (fb->flags & MARKED) return;
        fb->flags |= MARKED;
        if (fb->unit() == sizeof(Cell)) scan_cells(fb->head_cell(), fb->tail_cell());
        return;
    }
}

void register_marker(Marker marker) {
    if (marker_count >= MAX_MARKERS) {
        // Reuse an entry that was unregistered.
        for (uint32_t i = 0; i < marker_count; ++i)
            if (!markers[i]) {
                markers[i] = marker;
                return;
            }
        fire({"internal", "limit-hit"}, Cell{TYPE_INTEGER, 0, MAX_MARKERS, 0});
    }
    markers[marker_count++] = marker;
}

void unregister_marker(Marker marker) {
    for (uint32_t i = 0; i < marker_count; ++i)
        if (markers[i] == marker) {
            markers[i] = nullptr;
            return;
        }
}

// ---- stats and recycle ----------------------------------------------------------------------

void memory_report(Cell* out) {
    memory::Stats s = memory::collect_stats(2);
    *out = Cell{TYPE_BLOCK, 0, memory::alloc_cells(6), 0};
    append_figures(out, s.node_frames);
    append_figures(out, s.series_frames);
    Cell big = append_block(out, int32_t(s.big_blocks.size()), false);
    for (uint64_t size : s.big_blocks) append_line(&big, number_cell(size));
    *block_alloc_tail(out) = number_cell(s.grand_total);
    *block_alloc_tail(out) = number_cell(s.tracked_heap);
    // The most series memory can take: the arena's reservation, less than
    // 4 GiB under an address-space limit.
    *block_alloc_tail(out) = number_cell(arena::reserved_bytes);
}

void bytes_in_use(Cell* out) {
    *out = number_cell(memory::collect_stats(1).in_use);
}

void native_stats(bool show, bool info) {
    Cell* result = stack::arg_base;
    if (show) {
        Cell* saved_top = stack::top;
        Cell* report = stack::push_slot();
        *report = Cell{TYPE_NONE, 0, 0, 0};
        memory_report(report);
        if (!show_memory_stats) fire({"internal", "not-done"});
        show_memory_stats(report);
        stack::top = saved_top;
        *result = Cell{TYPE_UNSET, 0, 0, 0};
    } else if (info) {
        // Built in a pushed slot: the result slot may lie above the data top,
        // where the collections made while building would not see the block.
        Cell* saved_top = stack::top;
        Cell* report = stack::push_slot();
        *report = Cell{TYPE_NONE, 0, 0, 0};
        memory_report(report);
        *result = *report;
        stack::top = saved_top;
    } else {
        bytes_in_use(result);
    }
}

void native_recycle(bool on, bool off) {
    Cell* result = stack::arg_base;
    if (on) {
        recycle_on();
        *result = Cell{TYPE_UNSET, 0, 0, 0};
    } else if (off) {
        recycle_off();
        *result = Cell{TYPE_UNSET, 0, 0, 0};
    } else {
        // Code that holds buffer addresses while it runs Kiv code (a pause
        // is in force) is not collected under.
        if (!memory::collection_paused) collect();
        bytes_in_use(result);
    }
}

}  // namespace kiv::collector
