#include "runtime/memory.h"

#include <algorithm>
#include <cstring>

#include "runtime/error.h"
#include "runtime/lowlevel.h"

namespace kiv::memory {

Record record{};
bool retired_waiting = false;
bool collection_owed = false;
bool torture_on = true;
bool collection_enabled = false;
uint32_t collection_paused = 0;
void (*collect_hook)() = nullptr;
uint32_t collection_cycles = 0;
uint64_t layout_stamp = 0;

namespace {

using series_flag::BIG;
using series_flag::FIXED;
using series_flag::PLACEMENT;

// Largest data area of one buffer. Sizes and needs live in 32-bit fields, and
// the arena could not hold more anyway.
constexpr uint64_t MAX_DATA_SIZE = 0xFFFF0000u;

// Buffers of every fixed series in use.
std::vector<Off> fixed_list;
// System blocks of big and fixed buffers that an expansion replaced. The old
// buffer must stay readable until the caller has copied its content, which
// the invariant bounds by the next allocation; that allocation releases them.
std::vector<Off> retired_blocks;

template <class T>
T* at(Off o) {
    return arena::ptr<T>(o);
}

[[noreturn]] void no_memory() {
    fire({"internal", "no-memory"});
}
[[noreturn]] void wrong_mem() {
    fire({"internal", "wrong-mem"});
}

uint64_t round16(uint64_t n) {
    return (n + 15) & ~uint64_t(15);
}

// Validates a request and returns its data size (count x unit rounded to 16).
uint32_t data_size_for(uint32_t count, uint32_t unit, int32_t head_offset) {
    if (unit == 0 || unit > series_flag::UNIT_MASK) wrong_mem();
    uint64_t size = round16(uint64_t(count) * unit);
    if (size > MAX_DATA_SIZE) no_memory();
    if (head_offset < -1 || (head_offset >= 0 && uint64_t(head_offset) > size)) wrong_mem();
    return static_cast<uint32_t>(size);
}

void init_header(SeriesBuffer* b, uint32_t size, uint32_t flags, int32_t head_offset) {
    uint32_t offset;
    if (head_offset == -1) {
        flags |= series_flag::HEAD_CENTRED;
        offset = size / 2;
    } else {
        offset = static_cast<uint32_t>(head_offset);
    }
    b->flags = flags | series_flag::LIVE | series_flag::ALLOCATED;
    b->node = 0;
    b->size = size;
    b->head = b->tail = b->data_start() + offset;
}

void link(SeriesBuffer* b, Off node) {
    *at<Off>(node) = arena::off(b);
    b->node = node;
}

void release_retired() {
    for (Off block : retired_blocks) free_system_block(block);
    retired_blocks.clear();
    retired_waiting = false;
}

// Runs a collection when one is allowed; says whether it ran. A collection
// wanted while a pause is in force is owed to the next allocation that may
// run one.
bool run_collection() {
    if (!collect_hook) return false;
    if (!collection_allowed()) {
        if (collection_enabled) collection_owed = true;
        return false;
    }
    collection_owed = false;
    collect_hook();
    return true;
}

}  // namespace

uint64_t outside_bytes = 0;

void note_outside_bytes(uint64_t bytes) {
    outside_bytes += bytes;
    if (outside_bytes >= std::max(OUTSIDE_TRIGGER, record.total) && collection_enabled) collection_owed = true;
}

void collect_owed_slow() {
    if (collection_allowed()) run_collection();
}

namespace {

// Every buffer allocation passes here first.
inline void before_buffer_allocation() {
    if (!retired_blocks.empty()) release_retired();
#ifdef KIV_GC_TORTURE
    if (torture_on)
        run_collection();
    else if (collection_owed && collection_allowed())
        run_collection();
#else
    if (collection_owed && collection_allowed()) run_collection();
#endif
}

Off block_of_frame(Off frame) {
    return frame - SYSTEM_BLOCK_HEADER;
}
Off block_of_big(const BigBlock* bb) {
    return arena::off(bb) - SYSTEM_BLOCK_HEADER;
}
BigBlock* big_block_of(const SeriesBuffer* b) {
    return reinterpret_cast<BigBlock*>(reinterpret_cast<uintptr_t>(b) - sizeof(BigBlock));
}
Off block_of_fixed(const SeriesBuffer* b) {
    return arena::off(b) - SYSTEM_BLOCK_HEADER;
}

// The first frame in address order with room for `need` bytes (the bump must
// stay below the end).
SeriesFrame* find_series_frame(uint64_t need) {
    for (Off o = record.first_series_frame; o; o = at<SeriesFrame>(o)->next) {
        SeriesFrame* f = at<SeriesFrame>(o);
        if (uint64_t(f->first_free) + need < f->end) return f;
    }
    return nullptr;
}

// Bytes in use and free in the series frames.
struct FrameUse {
    uint64_t used = 0;
    uint64_t room = 0;
};
FrameUse frame_use() {
    FrameUse u;
    for (Off o = record.first_series_frame; o; o = at<SeriesFrame>(o)->next) {
        const SeriesFrame* g = at<SeriesFrame>(o);
        u.used += g->first_free - g->data_start();
        u.room += g->free_bytes();
    }
    return u;
}

// Live bytes of the series frames once start-up is over (note_base_heap):
// the library's own data, which every program keeps.
uint64_t base_live = 0;

// The free room the series frames keep after a collection, so that the
// next collection comes after that many new bytes: half the data the
// program itself keeps live (what lies beyond the start-up heap), and at
// least MIN_ROOM. The heap of an allocation-heavy program then stays near
// one and a half times its own live data above the start-up heap, and
// the bytes marked per new byte stay bounded (the start-up heap, which
// every collection also marks, is amortised over MIN_ROOM at least).
uint64_t wanted_room(uint64_t used) {
    const uint64_t own = used > base_live ? used - base_live : 0;
    return std::max<uint64_t>(MIN_ROOM, own / 2);
}

// take_from_frames when the current frame has no room: another frame, a
// collection, or a new frame.
[[gnu::noinline]] SeriesFrame* frame_with_room(uint32_t need) {
    SeriesFrame* f = find_series_frame(need);
    if (!f) {
        SeriesFrame* grown = nullptr;
        if (run_collection()) {
            // A frame left nearly full by the collection is passed over: a
            // later one may have room for many more allocations.
            f = find_series_frame(std::max<uint64_t>(need, REUSE_MIN_FREE - 1));
            // Short of the room the policy keeps (wanted_room): one frame
            // makes up the shortfall.
            const FrameUse u = frame_use();
            const uint64_t want = wanted_room(u.used) + need;
            if (u.room < want) {
                uint64_t lack = std::min<uint64_t>(want - u.room, uint64_t(64) << 20);
                lack = (lack + FRAME_GRAIN - 1) & ~uint64_t(FRAME_GRAIN - 1);
                grown = new_series_frame(uint32_t(lack));
            }
        }
        // A frame left nearly full by the collection is not reused: a fresh
        // one serves many more allocations before the next search.
        if (!f || f->free_bytes() < REUSE_MIN_FREE) {
            if (grown && grown->free_bytes() > need) {
                f = grown;
            } else {
                if (need >= record.next_frame_size) record.next_frame_size = record.big_threshold;
                f = new_series_frame();
            }
        }
    }
    record.current_series_frame = arena::off(f);
    return f;
}

// A buffer's place in a series frame (need below the big threshold).
[[gnu::always_inline]] inline SeriesBuffer* take_from_frames(uint32_t need) {
    SeriesFrame* f = record.current_series_frame ? at<SeriesFrame>(record.current_series_frame) : nullptr;
    if (!f || uint64_t(f->first_free) + need >= f->end) [[unlikely]]
        f = frame_with_room(need);
    Off b = f->first_free;
    f->first_free += need;
    return at<SeriesBuffer>(b);
}

SeriesBuffer* alloc_fixed_buffer(uint32_t count, uint32_t unit, int32_t head_offset) {
    uint32_t size = data_size_for(count, unit, head_offset);
    before_buffer_allocation();
    Off block = alloc_system_block(uint64_t(size) + BUFFER_OVERHEAD);
    auto* b = at<SeriesBuffer>(block + SYSTEM_BLOCK_HEADER);
    init_header(b, size, unit | FIXED, head_offset);
    fixed_list.push_back(arena::off(b));
    return b;
}

void unlink_big(BigBlock* bb) {
    Off target = arena::off(bb);
    Off* link_field = &record.big_list;
    while (*link_field && *link_field != target) link_field = &at<BigBlock>(*link_field)->next;
    if (!*link_field) wrong_mem();  // not a big block in use
    *link_field = bb->next;
    bb->next = 0;
}

// Takes an old buffer that an expansion replaced out of the lists that would
// otherwise keep it: frame garbage is left to the collector, big and fixed
// blocks are released at the next allocation.
void retire(SeriesBuffer* old) {
    if (old->flags & BIG) {
        BigBlock* bb = big_block_of(old);
        unlink_big(bb);
        retired_blocks.push_back(block_of_big(bb));
        retired_waiting = true;
    } else if (old->flags & FIXED) {
        auto it = std::find(fixed_list.begin(), fixed_list.end(), arena::off(old));
        if (it != fixed_list.end()) fixed_list.erase(it);
        retired_blocks.push_back(block_of_fixed(old));
        retired_waiting = true;
    }
}

// The node of a buffer that is the current buffer of its series.
Off owning_node(const SeriesBuffer* buf) {
    Off node = buf->node;
    if (node == 0 || node_content(node) != arena::off(buf)) wrong_mem();
    return node;
}

void unlink_node_frame(NodeFrame* f) {
    Off self = arena::off(f);
    if (f->prev)
        at<NodeFrame>(f->prev)->next = f->next;
    else
        record.first_node_frame = f->next;
    if (f->next)
        at<NodeFrame>(f->next)->prev = f->prev;
    else
        record.last_node_frame = f->prev;
    if (record.current_node_frame == self) record.current_node_frame = record.last_node_frame;
}

}  // namespace

// ---- System blocks ----

namespace {
// A system block, or 0 when the arena has no room for it.
Off try_system_block(uint64_t size) {
    if (size > arena::RESERVED_BYTES) return 0;
    uint64_t rounded = (size + SYSTEM_BLOCK_HEADER + arena::PAGE_SIZE - 1) & ~uint64_t(arena::PAGE_SIZE - 1);
    if (rounded > UINT32_MAX) return 0;
    Off block = arena::alloc_pages(rounded);
    if (!block) return 0;
    *at<uint32_t>(block) = static_cast<uint32_t>(rounded);
    record.total += rounded;
    return block;
}
}  // namespace

Off alloc_system_block(uint64_t size) {
    Off block = try_system_block(size);
    if (!block) no_memory();
    return block;
}

void free_system_block(Off block) {
    uint32_t rounded = *at<uint32_t>(block);
    if (!arena::free_pages(block, rounded)) no_memory();
    record.total -= rounded;
}

// ---- Start-up ----

void init() {
    ++layout_stamp;
    arena::init();
    free_all();
    record = Record{};
    base_live = 0;
    record.initial_frame_size = INITIAL_FRAME_SIZE;
    record.next_frame_size = INITIAL_FRAME_SIZE;
    record.big_threshold = BIG_THRESHOLD;
}

void init_frames() {
    if (!record.first_node_frame) record.current_node_frame = arena::off(new_node_frame(NODE_FRAME_SLOTS));
    if (!record.first_series_frame) record.current_series_frame = arena::off(new_series_frame());
}

// ---- Nodes ----

NodeFrame* new_node_frame(uint32_t slots) {
    if (slots == 0) wrong_mem();
    Off block = alloc_system_block(sizeof(NodeFrame) + uint64_t(slots) * sizeof(Off));
    Off self = block + SYSTEM_BLOCK_HEADER;
    auto* f = at<NodeFrame>(self);
    *f = NodeFrame{0, record.last_node_frame, slots, 0, 0, collection_cycles, 0, 0, 0};
    // Thread the free list through the slots in order; the last one points at itself.
    Off first = f->first_slot();
    Off* slot = at<Off>(first);
    for (uint32_t i = 0; i + 1 < slots; ++i) slot[i] = first + (i + 1) * sizeof(Off);
    slot[slots - 1] = first + (slots - 1) * sizeof(Off);
    f->free_head = first;
    if (record.last_node_frame) {
        at<NodeFrame>(record.last_node_frame)->next = self;
    } else {
        record.first_node_frame = self;
        record.current_node_frame = self;
    }
    record.last_node_frame = self;
    return f;
}

Off alloc_node() {
    NodeFrame* f = record.current_node_frame ? at<NodeFrame>(record.current_node_frame) : nullptr;
    if (!f || !f->free_head || f->pass_over) {
        f = nullptr;
        for (Off o = record.first_node_frame; o; o = at<NodeFrame>(o)->next) {
            NodeFrame* g = at<NodeFrame>(o);
            if (g->free_head && !g->pass_over) {
                f = g;
                break;
            }
        }
        if (!f) f = new_node_frame(NODE_FRAME_SLOTS);
        record.current_node_frame = arena::off(f);
    }
    Off slot = f->free_head;
    Off next = node_content(slot);
    f->free_head = next == slot ? 0 : next;
    *at<Off>(slot) = 0;
    f->used++;
    return slot;
}

NodeFrame* node_frame_of(Off node) {
    for (Off o = record.first_node_frame; o; o = at<NodeFrame>(o)->next) {
        NodeFrame* f = at<NodeFrame>(o);
        if (f->owns_slot(node)) return f;
    }
    return nullptr;
}

bool free_node(Off node) {
    return free_node_in(node_frame_of(node), node);
}

void release_node_frames() {
    Off current = 0;
    for (Off o = record.first_node_frame; o;) {
        NodeFrame* f = at<NodeFrame>(o);
        Off next = f->next;
        if (f->used == 0 || f->pass_over) {
            unlink_node_frame(f);
            free_system_block(block_of_frame(o));
        } else {
            if (!current && f->free_head) current = o;
            f->history = (f->history << 1) | (f->previous_used == f->used ? 1u : 0u);
            f->previous_used = f->used;
        }
        o = next;
    }
    record.current_node_frame = current ? current : record.last_node_frame;
}

// ---- Series frames ----

namespace {

void link_series_frame(SeriesFrame* f) {
    Off self = arena::off(f);
    f->first_free = f->data_start();
    f->end = self + f->size;
    // Insert at its place in address order.
    Off prev = 0, next = record.first_series_frame;
    while (next && next < self) {
        prev = next;
        next = at<SeriesFrame>(next)->next;
    }
    f->prev = prev;
    f->next = next;
    if (prev)
        at<SeriesFrame>(prev)->next = self;
    else
        record.first_series_frame = self;
    if (next)
        at<SeriesFrame>(next)->prev = self;
    else
        record.last_series_frame = self;
}

void unlink_series_frame(SeriesFrame* f) {
    Off self = arena::off(f);
    if (f->prev)
        at<SeriesFrame>(f->prev)->next = f->next;
    else
        record.first_series_frame = f->next;
    if (f->next)
        at<SeriesFrame>(f->next)->prev = f->prev;
    else
        record.last_series_frame = f->prev;
    f->prev = f->next = 0;
    if (record.current_series_frame == self) record.current_series_frame = record.first_series_frame;
}

// The ring of the moving collection: a space is open (in the list) or
// closed (out of it, inaccessible).
struct MovingSpace {
    SeriesFrame* frame = nullptr;
    uint32_t block_bytes = 0;  // the system block's rounded size
    uint64_t room = 0;         // its data bytes (the frame cannot be read while closed)
    bool open = false;
};
MovingSpace spaces[MOVING_SPACES];
uint32_t next_space = 0;

Off space_block(const MovingSpace& sp) {
    return block_of_frame(arena::off(sp.frame));
}

void free_closed_space(MovingSpace& sp) {
    arena::protect(space_block(sp), sp.block_bytes, true);
    free_system_block(space_block(sp));
    sp = MovingSpace{};
}

}  // namespace

SeriesFrame* new_series_frame(uint32_t data_size) {
    uint32_t s = data_size;
    if (!s) {
        s = record.next_frame_size;
        if (s < record.big_threshold) record.next_frame_size = s * 2;
    }
    Off block = alloc_system_block(uint64_t(s) + sizeof(SeriesFrame));
    auto* f = at<SeriesFrame>(block + SYSTEM_BLOCK_HEADER);
    f->size = s + sizeof(SeriesFrame);
    link_series_frame(f);
    return f;
}

void release_series_frame(SeriesFrame* f) {
    unlink_series_frame(f);
    free_system_block(block_of_frame(arena::off(f)));
}

uint32_t trim_series_frames() {
    uint32_t released = 0;
    FrameUse u = frame_use();
    const uint64_t want = wanted_room(u.used);
    for (Off o = record.last_series_frame; o && o != record.first_series_frame;) {
        SeriesFrame* f = at<SeriesFrame>(o);
        const Off prev = f->prev;
        const uint64_t data = f->end - f->data_start();
        if (f->first_free == f->data_start() && u.room >= want + data) {
            release_series_frame(f);
            u.room -= data;
            ++released;
        }
        o = prev;
    }
    return released;
}

void note_base_heap() {
    base_live = frame_use().used;
}

SeriesFrame* open_moving_space(uint64_t live) {
    MovingSpace& sp = spaces[next_space];
    next_space = (next_space + 1) % MOVING_SPACES;
    uint64_t room = live + record.big_threshold + INITIAL_FRAME_SIZE;
    if (sp.frame && !sp.open) {
        if (sp.room < room) {
            free_closed_space(sp);
        } else {
            arena::protect(space_block(sp), sp.block_bytes, true);
            link_series_frame(sp.frame);
            sp.open = true;
            return sp.frame;
        }
    }
    // Twice the room: untouched pages cost nothing, and the space need not
    // grow again soon. An open space (this slot's last frame is still in
    // use) is left to the list as an ordinary frame.
    uint64_t size = std::min<uint64_t>(room * 2, 0xF0000000u);
    sp.frame = new_series_frame(uint32_t(size));
    sp.block_bytes = *at<uint32_t>(space_block(sp));
    sp.room = size;
    sp.open = true;
    return sp.frame;
}

void retire_frame(SeriesFrame* f) {
    for (MovingSpace& sp : spaces) {
        if (sp.frame != f) continue;
        unlink_series_frame(f);
        arena::protect(space_block(sp), sp.block_bytes, false);
        sp.open = false;
        return;
    }
    release_series_frame(f);
}

void drop_moving_spaces() {
    for (MovingSpace& sp : spaces) {
        if (sp.frame && !sp.open) free_closed_space(sp);
        sp = MovingSpace{};  // an open one stays in the list as an ordinary frame
    }
}

// ---- Buffers ----

namespace {

// alloc_series_buffer once the allocation's collection point is passed.
[[gnu::always_inline]] inline SeriesBuffer* place_series_buffer(uint32_t size, uint32_t unit, int32_t head_offset) {
    uint64_t need = uint64_t(size) + BUFFER_OVERHEAD;
    SeriesBuffer* b;
    uint32_t placement = 0;
    if (need < record.big_threshold) {
        b = take_from_frames(static_cast<uint32_t>(need));
    } else {
        run_collection();
        b = alloc_big(static_cast<uint32_t>(need));
        placement = BIG;
    }
    init_header(b, size, unit | placement, head_offset);
    return b;
}

// Grows a frame buffer that is the last one taken from the current series
// frame by moving the frame's free pointer: no copy, and no old buffer left
// as garbage. The content moves down to the data start when the head is
// elsewhere, where a copying expansion would put it. False when the buffer is
// not last, the frame lacks room, or the new size belongs to a big series.
bool grow_in_place(SeriesBuffer* buf, uint64_t size) {
    if (buf->flags & (BIG | FIXED) || size + BUFFER_OVERHEAD >= record.big_threshold) return false;
    if (!record.current_series_frame) return false;
    SeriesFrame* f = at<SeriesFrame>(record.current_series_frame);
    if (uint64_t(buf->data_end()) + (BUFFER_OVERHEAD - sizeof(SeriesBuffer)) != f->first_free) return false;
    uint64_t extra = size - buf->size;
    if (uint64_t(f->first_free) + extra >= f->end) return false;
    f->first_free += uint32_t(extra);
    uint32_t length = buf->tail - buf->head;
    if (buf->head != buf->data_start()) {
        // The whole area from the head on, as a copy takes it (bytes past
        // the tail may be meaningful: a bitset's filled capacity).
        std::memmove(arena::ptr(buf->data_start()), buf->head_ptr(), buf->data_end() - buf->head);
        buf->head = buf->data_start();
    }
    buf->tail = buf->head + length;
    buf->size = uint32_t(size);
    return true;
}

// expand_series; with `in_place`, the buffer may grow where it is, and then
// *old_out is null.
SeriesBuffer* expand(SeriesBuffer* buf, uint64_t new_size, SeriesBuffer** old_out, bool in_place) {
    Off node = owning_node(buf);
    uint64_t n = new_size ? new_size : uint64_t(buf->size) * 2;
    if (n < 1) no_memory();
    n = std::max<uint64_t>(n, buf->tail - buf->head);  // never lose content
    uint32_t unit = buf->unit();
    uint64_t units = (n + unit - 1) / unit;
    if (units * unit > MAX_DATA_SIZE) no_memory();
    bool fixed = (buf->flags & FIXED) != 0;
    SeriesBuffer* nb;
    if (fixed) {
        nb = alloc_fixed_buffer(uint32_t(units), unit, 0);
    } else {
        uint32_t size = data_size_for(uint32_t(units), unit, 0);
        // The collection point comes first, so that in the torture build the
        // buffer has moved (and its old place is poisoned) before it grows.
        before_buffer_allocation();
        if (in_place && size > buffer_of(node)->size && grow_in_place(buffer_of(node), size)) {
            if (old_out) *old_out = nullptr;
            return buffer_of(node);
        }
        // This may collect and move `buf`: re-read it through the node after.
        nb = place_series_buffer(size, unit, 0);
    }
    SeriesBuffer* old = buffer_of(node);
    nb->flags = (old->flags & ~PLACEMENT) | (nb->flags & PLACEMENT);
    nb->tail = nb->head + (old->tail - old->head);
    link(nb, node);
    ++layout_stamp;
    old->node = 0;
    old->flags &= ~series_flag::LIVE;
    retire(old);
    if (old_out) *old_out = old;
    return nb;
}

}  // namespace

SeriesBuffer* alloc_series_buffer(uint32_t count, uint32_t unit, int32_t head_offset) {
    uint32_t size = data_size_for(count, unit, head_offset);
    before_buffer_allocation();
    return place_series_buffer(size, unit, head_offset);
}

namespace {

// alloc_node with its common case inline: a free slot of the current frame.
[[gnu::always_inline]] inline Off take_node() {
    Off slot = record.current_node_frame ? take_free_node(at<NodeFrame>(record.current_node_frame)) : 0;
    return slot ? slot : alloc_node();  // its content is written by link() at once
}

// A frame buffer of `size` data bytes (need below the big threshold), head at
// the data start, linked to a new node.
[[gnu::always_inline]] inline Off frame_series(uint32_t size, uint32_t unit) {
    before_buffer_allocation();
    SeriesBuffer* b = take_from_frames(size + BUFFER_OVERHEAD);
    init_frame_buffer(b, size, unit);
    link(b, take_node());
    return b->node;
}

}  // namespace

Off alloc_narrow_slow(uint32_t count) {
    uint32_t size = (count + 15u) & ~15u;
    if (count - 1u >= BIG_THRESHOLD / 2 || size + BUFFER_OVERHEAD >= record.big_threshold) [[unlikely]]
        return alloc_codepoints(count, 1);
    return frame_series(size, 1);
}

namespace {
[[gnu::noinline]] Off alloc_series_slow(uint32_t count, uint32_t unit, int32_t head_offset) {
    if (head_offset == 0 && unit - 1u < series_flag::UNIT_MASK) [[likely]] {
        // The usual request: checked as data_size_for does, then placed in a
        // frame on the short path when it is small enough.
        uint64_t size = round16(uint64_t(count) * unit);
        if (size + BUFFER_OVERHEAD < record.big_threshold) [[likely]]
            return frame_series(uint32_t(size), unit);
    }
    SeriesBuffer* b = alloc_series_buffer(count, unit, head_offset);
    Off node = alloc_node();  // never collects: the new buffer stays put
    link(b, node);
    return node;
}
}  // namespace

Off alloc_series(uint32_t count, uint32_t unit, int32_t head_offset) {
#ifndef KIV_GC_TORTURE
    // The usual request when the current frames have room: no collection
    // point is passed (nothing waits for release), so none is skipped.
    if (head_offset == 0 && unit - 1u < series_flag::UNIT_MASK) [[likely]] {
        uint64_t size = round16(uint64_t(count) * unit);
        if (size + BUFFER_OVERHEAD < record.big_threshold) [[likely]] {
            if (Off node = frame_series_quick(uint32_t(size), unit)) [[likely]]
                return node;
        }
    }
#endif
    return alloc_series_slow(count, unit, head_offset);
}

Off alloc_fixed_series(uint32_t count, uint32_t unit, int32_t head_offset) {
    SeriesBuffer* b = alloc_fixed_buffer(count, unit, head_offset);
    Off node = alloc_node();
    link(b, node);
    return node;
}

Off alloc_cells(uint32_t count) {
    return alloc_series(count, sizeof(Cell), 0);
}

Off alloc_unset_cells(uint32_t count) {
    Off node = alloc_cells(count);
    SeriesBuffer* b = buffer_of(node);
    Cell* c = arena::ptr<Cell>(b->data_start());
    for (uint32_t i = 0, n = b->size / sizeof(Cell); i < n; ++i) c[i] = Cell{TYPE_UNSET, 0, 0, 0};
    return node;
}

Off alloc_bytes(uint32_t count) {
    return alloc_series(count ? count : 16, 1, 0);
}

Off alloc_codepoints(uint32_t count, uint32_t unit) {
    if (count == 0 && unit != 0) count = 16 / unit;
    return alloc_series(count, unit, 0);
}

Off alloc_bytes_filled(uint32_t count, uint8_t byte) {
    Off node = alloc_bytes(count);
    SeriesBuffer* b = buffer_of(node);
    std::memset(arena::ptr(b->data_start()), byte, b->size);
    return node;
}

SeriesBuffer* expand_series(SeriesBuffer* buf, uint64_t new_size, SeriesBuffer** old_out) {
    return expand(buf, new_size, old_out, false);
}

SeriesBuffer* expand_series_copy(SeriesBuffer* buf, uint64_t new_size) {
    SeriesBuffer* old;
    SeriesBuffer* nb = expand(buf, new_size, &old, true);
    if (!old) return nb;  // grown in place, content already at the head
    uint32_t len = std::min(old->data_end() - old->head, nb->size);
    std::memcpy(nb->head_ptr(), old->head_ptr(), len);
    return nb;
}

SeriesBuffer* expand_series_fill(SeriesBuffer* buf, uint64_t new_size, uint8_t byte) {
    SeriesBuffer* old;
    // In place, the old data area (past the tail too) keeps its bytes; only
    // the new room is filled.
    uint32_t old_length = buf->data_end() - buf->head;
    SeriesBuffer* nb = expand(buf, new_size, &old, true);
    uint32_t len = old_length;
    if (old) {
        len = std::min(old->data_end() - old->head, nb->size);
        std::memcpy(nb->head_ptr(), old->head_ptr(), len);
    }
    fill_range(nb->head_ptr() + len, arena::ptr(nb->data_end()), byte);
    return nb;
}

Off copy_series(SeriesBuffer* buf) {
    Off node = owning_node(buf);
    uint32_t unit = buf->unit();
    uint32_t units = (buf->size + unit - 1) / unit;
    Off copy = alloc_series(units, unit, 0);  // may move `buf`
    SeriesBuffer* old = buffer_of(node);
    SeriesBuffer* nb = buffer_of(copy);
    nb->flags = (old->flags & ~(PLACEMENT | series_flag::SOLE)) | (nb->flags & PLACEMENT);
    // The whole area from the head on: bytes past the tail may be meaningful
    // (a bitset's filled capacity).
    std::memcpy(nb->head_ptr(), old->head_ptr(), old->data_end() - old->head);
    nb->tail = nb->head + (old->tail - old->head);
    return copy;
}

SeriesBuffer* alloc_big(uint32_t size) {
    SeriesBuffer* b = try_alloc_big(size);
    if (!b) no_memory();
    return b;
}

SeriesBuffer* try_alloc_big(uint32_t size) {
    Off block = try_system_block(uint64_t(size) + sizeof(BigBlock));
    if (!block) return nullptr;
    Off self = block + SYSTEM_BLOCK_HEADER;
    auto* bb = at<BigBlock>(self);
    *bb = BigBlock{0, 0, size};
    Off* link_field = &record.big_list;
    while (*link_field) link_field = &at<BigBlock>(*link_field)->next;
    *link_field = self;
    SeriesBuffer* b = bb->buffer();
    b->flags = BIG;
    b->node = 0;
    b->size = size >= BUFFER_OVERHEAD ? size - BUFFER_OVERHEAD : 0;
    b->head = b->tail = b->data_start();
    return b;
}

void free_big(SeriesBuffer* buf) {
    BigBlock* bb = big_block_of(buf);
    unlink_big(bb);
    free_system_block(block_of_big(bb));
}

void fill_range(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, static_cast<size_t>(end - start));
}

void free_all() {
    release_retired();
    drop_moving_spaces();
    for (Off o = record.first_node_frame; o;) {
        Off next = at<NodeFrame>(o)->next;
        free_system_block(block_of_frame(o));
        o = next;
    }
    for (Off o = record.first_series_frame; o;) {
        Off next = at<SeriesFrame>(o)->next;
        free_system_block(block_of_frame(o));
        o = next;
    }
    for (Off o = record.big_list; o;) {
        Off next = at<BigBlock>(o)->next;
        free_system_block(block_of_big(at<BigBlock>(o)));
        o = next;
    }
    for (Off b : fixed_list) free_system_block(block_of_fixed(at<SeriesBuffer>(b)));
    fixed_list.clear();
    record.first_node_frame = record.last_node_frame = record.current_node_frame = 0;
    record.first_series_frame = record.current_series_frame = record.last_series_frame = 0;
    record.big_list = 0;
}

// ---- Statistics ----

Stats collect_stats(int mode) {
    CollectionPause pause;
    Stats s;
    bool detail = mode == 2;
    uint64_t grand = 0;
    for (Off o = record.first_node_frame; o; o = at<NodeFrame>(o)->next) {
        const NodeFrame* f = at<NodeFrame>(o);
        s.in_use += uint64_t(f->used) * sizeof(Off);
        if (detail) s.node_frames.push_back({f->capacity - f->used, f->used, f->capacity});
        grand += uint64_t(f->capacity) * sizeof(Off) + sizeof(NodeFrame);
    }
    for (Off o = record.first_series_frame; o; o = at<SeriesFrame>(o)->next) {
        const SeriesFrame* f = at<SeriesFrame>(o);
        uint64_t used = f->first_free - f->data_start();
        s.in_use += used;
        if (detail) s.series_frames.push_back({f->end - f->first_free, used, f->end - f->data_start()});
        grand += f->size;
    }
    for (Off o = record.big_list; o; o = at<BigBlock>(o)->next) {
        const BigBlock* bb = at<BigBlock>(o);
        s.in_use += bb->size;
        if (detail) s.big_blocks.push_back(bb->size);
        grand += uint64_t(bb->size) + sizeof(BigBlock);
    }
    for (Off b : fixed_list) s.fixed += uint64_t(at<SeriesBuffer>(b)->size) + BUFFER_OVERHEAD;
    s.tracked_heap = lowlevel::tracked_heap_bytes();  // requested sizes + 16 per block
    if (detail) s.grand_total = grand + s.fixed + s.tracked_heap;
    return s;
}

const std::vector<Off>& fixed_buffers() {
    return fixed_list;
}

}  // namespace kiv::memory
