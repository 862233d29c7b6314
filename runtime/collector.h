// The collector: stop-the-world mark, sweep and compact over the memory
// manager's frames (runtime/memory.h).
//
// Invariant the rest of the runtime relies on: a series survives a collection
// exactly when a root reaches it. The roots are the root block, the symbol
// index, the ownership table, the data stack (bottom to top), the call
// frames (binding, function context and saved values of each), the global
// context, the GUI slot table, and whatever the registered mark callbacks
// mark: the upper layers register theirs (the literal table, the block
// module's spare cell, the datatype-name words, the lexer's runs). The machine stack is NOT scanned: native code keeps the values it
// needs across an allocation on the data stack (or registers a callback),
// and re-reads every buffer through its node afterwards, because a
// collection moves live buffers down inside their frames and into the frame
// before. A collection runs at a series allocation once collection is
// enabled (memory::collection_enabled), or when `recycle` asks.
//
// The mark is series_flag::MARKED on a buffer; it is clear on every buffer
// outside a collection. Marking is iterative (a work list of cell series), so
// deeply nested data does not deepen the machine stack. Each buffer's cells
// are scanned at most once per collection.
//
// A collection allocates no series and never nests. Mark callbacks and
// external-resource release routines run inside it and must not allocate
// series or raise errors.
//
// Node compaction (emptying sparsely used node frames by moving their slots
// and rewriting every reference reached by the marker) is built in but off
// by default: it rewrites only the references the marker reaches, so it is
// sound only when no C++ code holds a node across an allocation.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::collector {

// Node frames qualify for node compaction after HISTORY_DEPTH + 1
// collections without a change of their used count.
constexpr uint32_t HISTORY_DEPTH = 5;
// Room for mark callbacks.
constexpr uint32_t MAX_MARKERS = 100;
// Moving live buffers into the previous series frame is allowed only while
// that frame has at least this many free bytes.
constexpr uint32_t MIN_ROOM_FOR_MOVE = 52429;
// Node compaction: a frame qualifies with fewer used slots than this ...
constexpr uint32_t NODE_COMPACT_MAX_USED = 5000;
// ... while more free slots than this remain in the other frames.
constexpr uint32_t NODE_COMPACT_MIN_FREE = 10000;

// Resets the counters, connects the hash tables and installs the entry that
// allocation calls (memory::collect_hook). Collection stays as enabled or
// disabled as it was (start-up switches it on once its words are interned).
void init();

// One full collection, whatever the enabled switch says. Does nothing when
// called from inside a collection.
void collect();
// The allocator's entry: a collection when enabled.
void collect_if_enabled();
// True while a collection runs.
bool collecting();

// The enabled switch (`recycle/on`, `recycle/off`).
void recycle_on();
void recycle_off();
bool enabled();

// Moving collection switch; returns the previous setting. When on, every
// collection moves every live buffer of the series frames and every live big
// series to fresh memory and returns the old pages to the system, kept out
// of use for a while (arena::set_quarantine): a native that holds a raw
// pointer into a buffer across an allocation then faults at once instead of
// reading stale bytes. On by default in a KIV_GC_TORTURE build (which
// collects at every allocation), off otherwise; the environment variable
// KIV_GC_MOVING=1 or =0, read by init, overrides the default (any build).
// Fixed series never move.
bool set_moving(bool on);
bool moving();

// Node compaction switch; returns the previous setting.
bool set_node_compaction(bool on);
bool node_compaction();

// Collections completed, and collections in which node compaction emptied
// at least one frame.
uint32_t cycle_count();
uint32_t node_compaction_count();

// ---- Mark callbacks -------------------------------------------------------------
// Called in registration order after the built-in roots, inside every
// collection. A callback marks with the functions below.
using Marker = void (*)();
// Appends a callback; registering one twice calls it twice. Raises internal
// limit-hit when all MAX_MARKERS entries are in use.
void register_marker(Marker marker);
// Removes one registration of the callback (the entry becomes empty);
// unregistering one that is not registered changes nothing.
void unregister_marker(Marker marker);

// ---- Marking (for mark callbacks and the hash tables) ---------------------------
// Each takes the location holding the node, so that a node moved by node
// compaction is rewritten there. Null nodes are skipped.

// Marks the node's buffer; true when it was not marked before.
bool mark_node(Off* ref);
// Marks the node and, when newly marked, every cell from its head to its tail.
void mark_series(Off* ref);
// mark_series on word 2 of a block-like cell.
void mark_block(Cell* block);
// Marks a context node: its word table, its values (unless they live on the
// data stack) and its self cell.
void mark_context(Off* ref);
// Marks what every cell of [first, end) refers to, by datatype.
void mark_cells(Cell* first, Cell* end);
// Clears the mark of a node's buffer.
void unmark(Off node);
// True when the node's buffer is marked.
bool is_marked(Off node);
// Marks the fixed buffer whose data holds the arena address, with its cells
// (a fixed buffer has no node of its own). 0 or an address outside every
// fixed buffer marks nothing.
void mark_fixed_buffer_holding(Off address);
// Rewrites the node at *ref when node compaction moved it, without marking.
void follow(Off* ref);

// image! values: called with the image cell once its node is marked (the
// image layer marks its own resources). Null until the image layer installs it.
using ImageMarker = void (*)(Cell* image);
extern ImageMarker image_marker;

// ---- Deferred node freeing ------------------------------------------------------------
// Queues a node to be returned to its frame after the sweep (null ignored).
void defer_free(Off node);
// Returns every queued node to its frame, frame by frame in address order.
void flush_deferred();

// ---- Statistics of the last collection (tests and diagnostics) ---------------------
struct Figures {
    uint32_t moved_buffers;    // buffers moved by series-frame compaction
    uint32_t freed_nodes;      // nodes returned to their frames
    uint32_t freed_big;        // big series returned to the system
    uint32_t released_frames;  // series frames returned to the system
    uint32_t relocated_nodes;  // nodes moved by node compaction
};
const Figures& last_figures();

// ---- The work of the `recycle` and `stats` natives ------------------------------------
// Each leaves its result at the argument base. Arguments: the refinements used.
void native_stats(bool show, bool info);
void native_recycle(bool on, bool off);
// The memory report of `stats/info`: a new block of six values in `out`:
// node frames, series frames and big series (blocks of figures), the grand
// total, the tracked heap, and the arena's size (the most series memory can
// take).
void memory_report(Cell* out);
// The bytes in use as integer! (float! above 2147483647) in `out`.
void bytes_in_use(Cell* out);
// Runs the library's `show-memory-stats` on the report block (a data-stack
// cell). Installed by the interpreter; until then `stats/show` raises
// internal not-done.
using ShowMemoryStats = void (*)(const Cell* report);
extern ShowMemoryStats show_memory_stats;

}  // namespace kiv::collector
