// The memory manager: node frames, series frames, big series, fixed series.
//
// Who may hold a buffer address, and until when:
//   A SeriesBuffer* or any pointer into a data area is valid only until the
//   next call that may allocate a series buffer (alloc_series*, alloc_cells,
//   alloc_bytes..., expand_series*, copy_series and every series primitive
//   that grows a buffer), because allocation may run a collection that
//   compacts series frames, and because the old buffer of an expansion is
//   released or becomes garbage. Holding a node (Off) is always safe: re-read
//   the buffer through it (buffer_of). Taking a node (alloc_node) never
//   collects and never moves a buffer.
//   Functions here that take a SeriesBuffer* and allocate re-read it through
//   its node after the allocation, so the caller's pointer may go stale but
//   the operation stays correct; the caller must use what they return.
//
// Layout. All memory lives in the series arena (arena.h) as system blocks:
// (size + 4) bytes rounded up to pages, the rounded size in the first word,
// the block proper after it. Kinds of block:
//   node frame    header (36 bytes) + 10,000 slots of one Off each
//   series frame  header (20 bytes) + data; buffers are bump-allocated, each
//                 taking header + data + 4 bytes of slack (size + 24); the
//                 frames form a list in ascending address order
//   big series    header (12 bytes) + one buffer, for needs of 2 MB or more
//   fixed series  one buffer that never moves (root block, data stack, ...);
//                 every fixed buffer is listed in fixed_buffers()
//
// Node slots: a slot holds a buffer exactly when its content is non-null and
// lies outside its own frame's slot range. A free slot holds the offset of the
// next free slot of the frame, and the last free slot holds its own offset, so
// free slots always point inside the range. A slot just taken holds null until
// a buffer is linked to it.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/series.h"

namespace kiv::memory {

constexpr uint32_t NODE_FRAME_SLOTS = 10000;
constexpr uint32_t INITIAL_FRAME_SIZE = 1048576;  // 1 MB; every later frame is 2 MB
constexpr uint32_t BIG_THRESHOLD = 2097152;       // need (size + 24) at or above: big series
constexpr uint32_t REUSE_MIN_FREE = 0xCCCC;       // 52,428: a frame with fewer free bytes is not reused
constexpr uint32_t MIN_ROOM = 1048576;            // the least free room kept after a collection
constexpr uint32_t FRAME_GRAIN = 262144;          // a frame made up to the kept room: a multiple of this
constexpr uint32_t SYSTEM_BLOCK_HEADER = 4;       // the rounded-size word before every block

// Node frame header, followed by its slots (one Off each).
struct NodeFrame {
    Off next;
    Off prev;
    uint32_t capacity;       // number of slots
    Off free_head;           // first free slot, 0 when none is free
    uint32_t used;           // slots in use
    uint32_t created_at;     // collection_cycles when the frame was made
    uint32_t previous_used;  // used count seen at the last collection
    uint32_t history;        // one bit per collection, newest in bit 0: 1 = used count unchanged
    uint32_t pass_over;      // 1 once the node compactor emptied it: skipped, then released

    Off first_slot() const { return arena::off(this) + sizeof(NodeFrame); }
    Off slots_end() const { return first_slot() + capacity * 4; }
    bool owns_slot(Off slot) const { return slot >= first_slot() && slot < slots_end(); }
    // True when the slot holds a buffer (see the slot rule above).
    bool slot_holds_buffer(Off slot) const {
        Off content = node_content(slot);
        return content != 0 && !owns_slot(content);
    }
};
static_assert(sizeof(NodeFrame) == 36, "node frame header is 36 bytes");

// Series frame header, followed by its data.
struct SeriesFrame {
    Off next;
    Off prev;
    uint32_t size;   // the whole frame: header + data
    Off first_free;  // next free byte
    Off end;         // one past the data area

    Off data_start() const { return arena::off(this) + sizeof(SeriesFrame); }
    uint32_t free_bytes() const { return end - first_free; }
};
static_assert(sizeof(SeriesFrame) == 20, "series frame header is 20 bytes");

// Big-series block header, followed by the SeriesBuffer.
struct BigBlock {
    Off next;
    Off link2;      // always null
    uint32_t size;  // buffer header + data + slack (the need it was made for)

    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};
static_assert(sizeof(BigBlock) == 12, "big block header is 12 bytes");

struct Record {
    uint64_t total;  // bytes obtained from the system (page-rounded system blocks)
    Off first_node_frame, last_node_frame, current_node_frame;
    Off first_series_frame, current_series_frame, last_series_frame;
    uint32_t initial_frame_size;
    uint32_t next_frame_size;
    uint32_t big_threshold;
    Off big_list;  // first BigBlock, linked through next in creation order
};
extern Record record;
// True while blocks an expansion replaced wait for their release (at the
// next buffer allocation).
extern bool retired_waiting;
// True when the allocator wanted a collection that could not run (a pause
// was in force, see CollectionPause) or when memory outside the frames grew
// enough to call for one (big series, external resources): the next buffer
// allocation that may collect runs it. Without this, memory taken while
// paused (decoders, conversions and file reads pause around their one
// allocation) would make new frames that no collection ever looks at.
extern bool collection_owed;
// Memory taken outside the arena for values that only a collection frees
// (the pixels of images, other external resources): the owner reports its
// size here, and once OUTSIDE_TRIGGER bytes (or as many as the arena holds,
// when that is more) were reported since the last collection, a collection
// is owed. Dropped images are then reclaimed while their footprint is
// still bounded, however little series memory they use.
constexpr uint64_t OUTSIDE_TRIGGER = uint64_t(64) << 20;
extern uint64_t outside_bytes;  // reported since the last collection
void note_outside_bytes(uint64_t bytes);
// Runs an owed collection when one may run. The evaluator calls it after
// each native and action, where no native code holds a buffer address: a
// loop whose every allocation is paused still gets its collections.
void collect_owed_slow();
inline void collect_owed() {
    if (collection_owed) [[unlikely]]
        collect_owed_slow();
}

// When false, allocation never collects. `recycle/on` and `recycle/off` set it.
extern bool collection_enabled;
// Depth of CollectionPause scopes in force. While non-zero nothing collects,
// not even an explicit `recycle`, whatever the switch above says.
extern uint32_t collection_paused;
inline bool collection_allowed() {
    return collection_enabled && collection_paused == 0;
}

// Suspends collection for the scope, on every way out (errors included). Use
// it while a raw pointer into a buffer must stay valid across an allocation,
// or while series made in several steps are not yet linked to anything the
// collector reaches. Code run inside (Kiv code included) cannot switch
// collection back on: `recycle/on` only changes the switch, which takes
// effect once the last pause ends.
class CollectionPause {
  public:
    CollectionPause() { ++collection_paused; }
    ~CollectionPause() { --collection_paused; }
    CollectionPause(const CollectionPause&) = delete;
    CollectionPause& operator=(const CollectionPause&) = delete;
};

// In a KIV_GC_TORTURE build: whether allocation collects every time. Start-up
// turns it off while it decodes and runs the library, unless the
// environment sets KIV_TORTURE_BOOT (boot/startup.cpp); no effect otherwise.
extern bool torture_on;

// The collector's entry, installed by the collector. Allocation calls it
// before making a new series frame or big block when collection is enabled
// (and, in a KIV_GC_TORTURE build, before every buffer allocation).
extern void (*collect_hook)();
// Completed collections; the collector advances it. Stamps new node frames.
extern uint32_t collection_cycles;
// Advances whenever a live buffer may have moved or a node may have come to
// name another buffer: at each collection, each growth that moved a buffer
// and each new run. A buffer's place noted at one stamp holds while the
// stamp is unchanged. 64 bits, so it never comes round again.
extern uint64_t layout_stamp;

// Sets the record to its initial values. Anything still held from an earlier
// run (frames, big and fixed series) is returned to the system first.
void init();
// The first node frame and the first series frame, made once the datatypes
// are registered. Allocation also makes them on demand.
void init_frames();

// ---- Nodes ----
NodeFrame* new_node_frame(uint32_t slots);
Off alloc_node();
// The node frame whose slot range holds `node`, or nullptr.
NodeFrame* node_frame_of(Off node);
// Returns a node to its frame's free list. A node that is not a slot in use
// (already free, or not a slot at all) is left alone and false is returned.
bool free_node(Off node);
inline bool free_node_in(NodeFrame* frame, Off node) {
    if (!frame || !frame->owns_slot(node) || (node - frame->first_slot()) % sizeof(Off) != 0) return false;
    if (frame->owns_slot(node_content(node))) return false;  // already free
    *arena::ptr<Off>(node) = frame->free_head ? frame->free_head : node;
    frame->free_head = node;
    frame->used--;
    return true;
}
// After a collection: releases frames with no used slot or passed over, picks
// the current frame and updates every frame's usage history.
void release_node_frames();

// ---- Buffers ----
// A new series frame of the next frame size, or of `data_size` bytes of data
// when given (the frame-size progression is then left as it is).
SeriesFrame* new_series_frame(uint32_t data_size = 0);
// Unlinks a series frame and returns it to the system (the collector releases
// frames that compaction emptied).
void release_series_frame(SeriesFrame* frame);
// After a compacting collection (live data slid to the first frames):
// releases empty frames, the last first, while the free room left stays at
// least what the growth policy keeps (frame_with_room in memory.cpp), so
// that no frame is released only to be made again at the next allocation.
uint32_t trim_series_frames();  // the number released
// Takes the live data of the series frames now as the start-up heap, which
// the growth policy does not count as the program's own.
void note_base_heap();

// The moving collection's frames (collector::set_moving). Evacuation goes to
// a frame taken in turn from a ring of MOVING_SPACES frames, each kept out of
// the list and inaccessible (its pages and content kept, so reuse costs no
// page faults) while it is not the one in use. A pointer that outlived the
// collection it was taken before therefore faults, unless MOVING_SPACES
// collections passed and it points into the space in use again.
constexpr uint32_t MOVING_SPACES = 4;
// The next space, linked into the list, empty and accessible, with room for
// `live` bytes and any buffer a frame may take after them.
SeriesFrame* open_moving_space(uint64_t live);
// After an evacuation: a space leaves the list and becomes inaccessible;
// any other frame is released (its pages fault as well, held back for a
// while by the arena's quarantine).
void retire_frame(SeriesFrame* frame);
// Releases the spaces out of use (when the moving collection stops).
void drop_moving_spaces();
// A buffer of count x unit bytes (rounded up to 16) with no node yet. Head
// offset -1 centres the head (both ends can grow). The buffer is garbage to a
// collection until linked to a node, so link it before the next allocation.
SeriesBuffer* alloc_series_buffer(uint32_t count, uint32_t unit, int32_t head_offset);
Off alloc_series(uint32_t count, uint32_t unit, int32_t head_offset);
Off alloc_fixed_series(uint32_t count, uint32_t unit, int32_t head_offset);
Off alloc_cells(uint32_t count);
Off alloc_unset_cells(uint32_t count);
Off alloc_bytes(uint32_t count);                      // count 0 gives 16 bytes
Off alloc_codepoints(uint32_t count, uint32_t unit);  // count 0 gives 16 bytes' worth
Off alloc_bytes_filled(uint32_t count, uint8_t byte);
// alloc_codepoints(count, 1) for count >= 1 on a shorter path: a 1-byte text
// buffer of count rounded up to 16, head at the data start, linked to a node.
// Inline when the current series frame and node frame have room and nothing
// waits for release (no collection could run then); else out of line. The
// collect-at-every-allocation build always goes out of line.
Off alloc_narrow_slow(uint32_t count);
// A free node slot of the node frame, taken (its content is written next);
// 0 when the frame has none or is being emptied.
[[gnu::always_inline]] inline Off take_free_node(NodeFrame* nf) {
    Off slot = nf->free_head;
    if (!slot || nf->pass_over) [[unlikely]]
        return 0;
    Off next = node_content(slot);
    nf->free_head = next == slot ? 0 : next;
    nf->used++;
    return slot;
}
// A new frame buffer of `size` data bytes and `unit`, live and empty, its
// head at the data start.
[[gnu::always_inline]] inline void init_frame_buffer(SeriesBuffer* b, uint32_t size, uint32_t unit) {
    b->flags = unit | series_flag::LIVE | series_flag::ALLOCATED;
    b->size = size;
    b->head = b->tail = b->data_start();
}
// A frame buffer of `size` data bytes (a multiple of 16, size + overhead
// below the big threshold) and `unit`, head at the data start, linked to a
// new node: the node, or 0 (nothing done) when the current frames lack room
// or blocks wait for release, where the out-of-line path must run. Never
// collects.
[[gnu::always_inline]] inline Off frame_series_quick(uint32_t size, uint32_t unit) {
    uint32_t need = size + BUFFER_OVERHEAD;
    if (retired_waiting || collection_owed || !record.current_series_frame || !record.current_node_frame) [[unlikely]]
        return 0;
    SeriesFrame* f = arena::ptr<SeriesFrame>(record.current_series_frame);
    if (uint64_t(f->first_free) + need >= f->end) [[unlikely]]
        return 0;
    Off node = take_free_node(arena::ptr<NodeFrame>(record.current_node_frame));
    if (!node) [[unlikely]]
        return 0;
    auto* b = arena::ptr<SeriesBuffer>(f->first_free);
    f->first_free += need;
    init_frame_buffer(b, size, unit);
    b->node = node;
    *arena::ptr<Off>(node) = arena::off(b);
    return node;
}
[[gnu::always_inline]] inline Off alloc_narrow(uint32_t count) {
#ifndef KIV_GC_TORTURE
    uint32_t size = (count + 15u) & ~15u;
    if (count - 1u < 4096u && size + BUFFER_OVERHEAD < record.big_threshold) [[likely]] {
        if (Off node = frame_series_quick(size, 1)) [[likely]]
            return node;
    }
#endif
    return alloc_narrow_slow(count);
}
// alloc_cells(count) for 1 to 256 cells on the same kind of shorter path:
// inline when the current frames have room and nothing waits for release,
// else the ordinary call. The collect-at-every-allocation build always
// takes the call.
inline Off alloc_cells_small(uint32_t count) {
#ifndef KIV_GC_TORTURE
    uint32_t size = count * 16u;
    if (count - 1u < 256u && size + BUFFER_OVERHEAD < record.big_threshold) [[likely]] {
        if (Off node = frame_series_quick(size, 16)) [[likely]]
            return node;
    }
#endif
    return alloc_cells(count);
}

// Expansion keeps the series' identity: the node is rewritten to a new buffer
// of new_size bytes (twice the current size when 0, and never less than the
// content), the new head is the data start, the tail keeps the content's
// length. The old buffer loses its node and live flag. expand_series does not
// copy; pass old_out to reach the old buffer (valid until the next allocation).
SeriesBuffer* expand_series(SeriesBuffer* buf, uint64_t new_size, SeriesBuffer** old_out = nullptr);
// Expansion, then the old data area from the head on is copied to the new head.
// A frame buffer that is the last one taken from the current frame grows in
// place instead (same buffer, content moved down to the data start): no copy
// and no garbage. Use the buffer returned either way.
SeriesBuffer* expand_series_copy(SeriesBuffer* buf, uint64_t new_size);
// Expansion with copy (in place when it can, as above), then the rest of the
// new data area is set to `byte`.
SeriesBuffer* expand_series_fill(SeriesBuffer* buf, uint64_t new_size, uint8_t byte);
// A new series of the same size, unit and flags; the data area from the head
// on is copied to the new data start.
Off copy_series(SeriesBuffer* buf);

SeriesBuffer* alloc_big(uint32_t size);
// alloc_big, or null when the arena has no room (raises nothing).
SeriesBuffer* try_alloc_big(uint32_t size);
void free_big(SeriesBuffer* buf);
void fill_range(uint8_t* start, uint8_t* end, uint8_t byte);
// Returns every frame, big block and fixed block to the system.
void free_all();

// System blocks: (size + 4) rounded up to pages, rounded size in the first
// word. Failure raises internal no-memory.
Off alloc_system_block(uint64_t size);
void free_system_block(Off block);

// ---- Statistics ----
struct FrameFigures {
    uint64_t free, used, total;
};
struct Stats {
    uint64_t in_use = 0;  // mode 1: 4 per used node + used frame bytes + big block sizes
    // Mode 2 only:
    std::vector<FrameFigures> node_frames;    // in slots
    std::vector<FrameFigures> series_frames;  // in bytes
    std::vector<uint64_t> big_blocks;         // size of each big block
    uint64_t fixed = 0;                       // header + data + slack of every fixed buffer
    uint64_t grand_total = 0;                 // frames, big blocks, fixed buffers and tracked heap
    uint64_t tracked_heap = 0;                // tracked-heap blocks, each with its 16-byte header
};
Stats collect_stats(int mode);

// Every fixed buffer in use (buffer offsets). The collector marks fixed
// buffers but does not sweep them, so it unmarks all of these afterwards.
const std::vector<Off>& fixed_buffers();

}  // namespace kiv::memory
