#include "runtime/series.h"

#include <cstring>
#include <vector>

#include "runtime/error.h"
#include "runtime/memory.h"

namespace kiv::series {

namespace {

[[noreturn]] void out_of_range(uint64_t index) {
    Cell arg{TYPE_INTEGER, static_cast<uint32_t>(index), 0, 0};
    fire({"script", "out-of-range"}, arg);
}

// Address of 1-based entry `index` of `width` bytes, checked against the data area.
uint8_t* entry_at(const SeriesBuffer* b, uint32_t index, uint32_t width) {
    uint64_t start = uint64_t(b->head) + (uint64_t(index) - 1) * width;
    if (index == 0 || start + width > b->data_end()) out_of_range(index);
    return arena::ptr(static_cast<Off>(start));
}

// Doubles a buffer that is too small for one more entry (a zero-sized buffer
// grows to `width` bytes).
SeriesBuffer* ensure_room(SeriesBuffer* b, uint32_t width) {
    if (uint64_t(b->tail) + width <= b->data_end()) return b;
    return memory::expand_series_copy(b, b->size ? uint64_t(b->size) * 2 : width);
}

}  // namespace

Cell* alloc_tail_cell(SeriesBuffer* buf) {
    // A head-centred buffer may leave less than a cell between tail and end
    // without being exactly full, so test for room rather than equality.
    buf = ensure_room(buf, sizeof(Cell));
    Cell* c = buf->tail_cell();
    c->header = TYPE_UNSET;
    buf->tail += sizeof(Cell);
    return c;
}

Off reserve_tail(SeriesBuffer* buf, uint64_t bytes) {
    if (uint64_t(buf->tail) + bytes > buf->data_end()) {
        if (bytes > arena::RESERVED_BYTES) fire({"internal", "no-memory"});
        uint64_t size = buf->size < bytes ? 2 * bytes : 2 * uint64_t(buf->size);
        buf = memory::expand_series_copy(buf, size);
    }
    Off old_tail = buf->tail;
    buf->tail += static_cast<uint32_t>(bytes);
    return old_tail;
}

Off alloc_records(uint32_t count, uint32_t record_size) {
    return memory::alloc_series(count, record_size, 0);
}

SeriesBuffer* set_tail_at(Off node, uint32_t index) {
    SeriesBuffer* b = buffer_of(node);
    uint64_t tail = uint64_t(b->head) + ((uint64_t(index) - 1) << unit_shift(b->unit()));
    if (index == 0 || tail > b->data_end()) out_of_range(index);
    b->tail = static_cast<Off>(tail);
    return b;
}

Off copy_node(Off node) {
    return memory::copy_series(buffer_of(node));
}

Off copy_part(Off node, uint32_t offset, uint32_t count) {
    const SeriesBuffer* b = buffer_of(node);
    uint32_t unit = b->unit();
    if ((uint64_t(offset) + count) * unit > b->byte_count()) out_of_range(offset);
    Off copy = memory::alloc_series(count, unit, 0);  // may move the source
    b = buffer_of(node);
    SeriesBuffer* nb = buffer_of(copy);
    using namespace series_flag;
    nb->flags = (b->flags & ~(PLACEMENT | OWNED | SOLE)) | (nb->flags & PLACEMENT);
    uint32_t bytes = count * unit;
    std::memcpy(nb->head_ptr(), b->head_ptr() + uint64_t(offset) * unit, bytes);
    nb->tail = nb->head + bytes;
    return copy;
}

void append_byte(SeriesBuffer* buf, uint8_t byte) {
    *arena::ptr(reserve_tail(buf, 1)) = byte;
}

void append_bytes(SeriesBuffer* buf, const void* src, uint32_t length) {
    if (length == 0) return;
    if (uint64_t(buf->tail) + length > buf->data_end() && arena::contains(src)) {
        // The source lives in a series buffer that the expansion may move or
        // abandon: take the bytes out first.
        auto* s = static_cast<const uint8_t*>(src);
        std::vector<uint8_t> saved(s, s + length);
        std::memcpy(arena::ptr(reserve_tail(buf, length)), saved.data(), length);
        return;
    }
    std::memmove(arena::ptr(reserve_tail(buf, length)), src, length);
}

uint8_t byte_at(Off node, uint32_t index) {
    return *entry_at(buffer_of(node), index, 1);
}

void append_entry(SeriesBuffer* buf, uint32_t value) {
    std::memcpy(arena::ptr(reserve_tail(buf, sizeof value)), &value, sizeof value);
}
void append_entry(Off node, uint32_t value) {
    append_entry(buffer_of(node), value);
}

int32_t find_entry(const SeriesBuffer* buf, uint32_t value) {
    const uint8_t* head = buf->head_ptr();
    uint32_t bytes = buf->byte_count() & ~3u;
    for (uint32_t i = 0; i < bytes; i += 4) {
        uint32_t v;
        std::memcpy(&v, head + i, sizeof v);
        if (v == value) return static_cast<int32_t>(i);
    }
    return -1;
}
int32_t find_entry(Off node, uint32_t value) {
    return find_entry(buffer_of(node), value);
}

uint32_t get_int(Off node, uint32_t index) {
    uint32_t v;
    std::memcpy(&v, entry_at(buffer_of(node), index, 4), sizeof v);
    return v;
}

void set_int(Off node, uint32_t index, uint32_t value) {
    std::memcpy(entry_at(buffer_of(node), index, 4), &value, sizeof value);
}

void insert_int(SeriesBuffer* buf, uint32_t value, uint32_t index) {
    if (index == 0 || (uint64_t(index) - 1) * 4 > buf->byte_count()) out_of_range(index);
    buf = ensure_room(buf, 4);
    uint8_t* at = buf->head_ptr() + (index - 1) * 4;
    std::memmove(at + 4, at, buf->tail_ptr() - at);
    std::memcpy(at, &value, sizeof value);
    buf->tail += 4;
}

void remove_int(Off node, uint32_t value) {
    int32_t at = find_entry(node, value);
    if (at >= 0) remove_bytes(node, static_cast<uint32_t>(at), 4);
}

void remove_bytes(Off node, uint32_t offset, uint32_t n) {
    SeriesBuffer* b = buffer_of(node);
    uint32_t used = b->byte_count();
    if (uint64_t(offset) + n > used) out_of_range(offset);
    uint8_t* at = b->head_ptr() + offset;
    std::memmove(at, at + n, used - offset - n);
    b->tail -= n;
}

}  // namespace kiv::series

namespace kiv {

Cell* block_alloc_tail(const Cell* block) {
    Off node = block->w2;  // read first: `block` may itself live in a buffer that moves
    return series::alloc_tail_cell(buffer_of(node));
}

}  // namespace kiv
