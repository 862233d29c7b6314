// libFuzzer target over the camera's frame hand-over (gui/camera/capture.h:
// Frame::offer), which reads what a capture device filled in: YUYV rows of
// any length, or MJPEG bytes of any length.
//
// Input: byte 0 picks the format (even: YUYV, odd: MJPEG), bytes 1-2 the
// width and height (1..64), byte 3 the extra row padding; the rest is the
// device's buffer. Checks: the frame is ready afterwards, every YUYV pixel
// is opaque, the MJPEG length never exceeds the frame's room, and nothing is
// read outside the buffer (the sanitizer build).
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "gui/camera/capture.h"
#include "gui/window/queue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kiv::gui::camera;
    if (size < 4) return 0;
    Frame f;
    f.format = data[0] % 2 ? Format::MJPEG : Format::YUYV;
    f.width = 1 + data[1] % 64;
    f.height = 1 + data[2] % 64;
    const uint32_t stride = f.width * 2 + data[3] % 16;
    if (f.format == Format::YUYV)
        f.pixels.assign(size_t(f.width) * f.height, 0);
    else
        f.bytes.resize(size_t(f.width) * f.height * 4);
    // The device's buffer on the heap of its exact size.
    std::vector<uint8_t> buffer(data + 4, data + size);
    f.offer(buffer.data(), buffer.size(), stride);
    if (f.state.load() != READY) abort();
    if (f.format == Format::YUYV) {
        const size_t pairs = f.width / 2;
        for (size_t i = 0; i < f.pixels.size(); ++i) {
            const size_t row = i / f.width, column = i % f.width;
            const bool filled = row * stride + pairs * 4 <= buffer.size();
            // Pixels of rows the buffer holds are opaque; rows it did not
            // reach, and the last column of an odd width, stay as they were.
            if (filled && column < pairs * 2 && (f.pixels[i] >> 24) != 0xFF) abort();
            if ((!filled || column >= pairs * 2) && f.pixels[i] != 0) abort();
        }
    } else if (f.length > f.bytes.size() || f.length > buffer.size()) {
        abort();
    }
    // Offered again without being wanted, the frame stays as it is.
    const std::vector<uint32_t> before = f.pixels;
    f.offer(buffer.data(), buffer.size(), stride);
    if (f.pixels != before) abort();
    kiv::gui::queue::clear();
    return 0;
}
