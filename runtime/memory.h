// The memory manager: node frames, series frames, big series, fixed series.
//
// Who may hold a buffer address, and until when: a SeriesBuffer* or any
// pointer into a data area is valid only until the next call that may
// allocate a series buffer (alloc_series*, expand_series*, copy_series and
// everything built on them), because allocation may run a collection that
// compacts series frames. Holding a node (Off) is always safe; re-read the
// buffer through it. Fixed and big buffers never move, but code should not
// rely on which kind it holds. Taking a node never collects.
//
// Series frames are bump-allocated: a buffer takes header + data + 4 bytes of
// slack (size + 24). Requests of 2 MB or more (size + 24 >= 2,097,152) become
// big series with a system block of their own. System blocks come from the
// series arena, page-rounded, with the rounded size in their first word.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/series.h"

namespace kiv::memory {

constexpr uint32_t NODE_FRAME_SLOTS = 10000;
constexpr uint32_t INITIAL_FRAME_SIZE = 1048576;
constexpr uint32_t BIG_THRESHOLD = 2097152;
constexpr uint32_t REUSE_MIN_FREE = 0xCCCC;  // a frame with fewer free bytes is not reused

// Node frame header, followed by its slots (one Off each).
struct NodeFrame {
    Off next;
    Off prev;
    uint32_t capacity;
    Off free_head;
    uint32_t used;
    uint32_t created_at;      // collector cycle count at creation
    uint32_t previous_used;   // used count seen at the last collection
    uint32_t history;         // bit per collection, newest in bit 0: 1 = used count unchanged
    uint32_t pass_over;       // set once the node compactor emptied it
    Off first_slot() const { return arena::off(this) + sizeof(NodeFrame); }
    Off slots_end() const { return first_slot() + capacity * 4; }
};

// Series frame header, followed by its data.
struct SeriesFrame {
    Off next;
    Off prev;
    uint32_t size;   // whole block
    Off first_free;  // next free byte
    Off end;
    Off data_start() const { return arena::off(this) + sizeof(SeriesFrame); }
};
static_assert(sizeof(SeriesFrame) == 20, "series frame header is 20 bytes");

// Big-series block header, followed by the SeriesBuffer.
struct BigBlock {
    Off next;
    Off link2;
    uint32_t size;  // buffer header + data + slack, as requested
};

struct Record {
    uint64_t total;  // bytes obtained from the system (page-rounded)
    Off first_node_frame, last_node_frame, current_node_frame;
    Off first_series_frame, current_series_frame, last_series_frame;
    uint32_t initial_frame_size;
    uint32_t next_frame_size;
    uint32_t big_threshold;
    Off big_list;
};
extern Record record;

// Set by the collector: when false, allocation never collects.
extern bool collection_enabled;
// The collector's entry, installed by the collector when it exists.
extern void (*collect_hook)();

void init();
Off new_node_frame(uint32_t slots);
Off alloc_node();
void free_node(Off node);
Off new_series_frame();
SeriesBuffer* alloc_series_buffer(uint32_t count, uint32_t unit, int32_t head_offset);
Off alloc_series(uint32_t count, uint32_t unit, int32_t head_offset);
Off alloc_fixed_series(uint32_t count, uint32_t unit, int32_t head_offset);
Off alloc_cells(uint32_t count);
Off alloc_unset_cells(uint32_t count);
Off alloc_bytes(uint32_t count);
Off alloc_codepoints(uint32_t count, uint32_t unit);
Off alloc_bytes_filled(uint32_t count, uint8_t byte);
SeriesBuffer* expand_series(SeriesBuffer* buf, uint32_t new_size);
SeriesBuffer* expand_series_copy(SeriesBuffer* buf, uint32_t new_size);
SeriesBuffer* expand_series_fill(SeriesBuffer* buf, uint32_t new_size, uint8_t byte);
Off copy_series(SeriesBuffer* buf);
SeriesBuffer* alloc_big(uint32_t size);
void free_big(SeriesBuffer* buf);
void fill_range(uint8_t* start, uint8_t* end, uint8_t byte);
void free_all();

// System blocks: (size + 4) rounded up to pages, rounded size in the first word.
Off alloc_system_block(uint64_t size);
void free_system_block(Off block);

// Statistics. Mode 1: bytes in use. Mode 2: fills `out` (see memory.cpp)
// and returns the grand total. Results above INT32_MAX are given as doubles.
struct FrameFigures {
    uint64_t free, used, total;
};
struct Stats {
    uint64_t in_use;
    std::vector<FrameFigures> node_frames;   // in slots
    std::vector<FrameFigures> series_frames; // in bytes
    std::vector<uint64_t> big_blocks;
    uint64_t grand_total;
    uint64_t tracked_heap;
};
Stats collect_stats(int mode);

// The fixed buffers handed out so far (the collector unmarks them all).
const std::vector<Off>& fixed_buffers();

}  // namespace kiv::memory
