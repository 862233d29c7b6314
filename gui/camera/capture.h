// Video capture on V4L2: the device list and one capture stream per device.
//
// Threads. Everything here is called on the GUI thread except Frame::offer,
// which runs on a stream's capture thread. The capture thread touches only
// the device, its mapped buffers and its Frame; it never reaches a cell,
// the collector or the runtime, and posts one window message per frame.
//
// The frame hand-over is one state word (Frame::state):
//   IDLE 0     no frame wanted;
//   WANTED 1   the GUI thread wants a frame;
//   COPYING 3  the capture thread is filling the frame buffer;
//   READY 2    a frame is in the buffer.
// The capture thread only moves WANTED to COPYING (compare-and-exchange)
// and COPYING to READY; the GUI thread moves WANTED or READY to IDLE or
// WANTED. So the buffer belongs to the capture thread exactly while the
// state is COPYING and to the GUI thread otherwise.
//
// Lifetime: a Frame outlives the stream that fills it. Stream::stop()
// wakes the capture thread and joins it before it returns, so a Frame (or
// the Stream) is freed only after no thread can write into it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gui/window/messages.h"

namespace kiv::gui::camera {

struct Device {
    std::string path;  // /dev/videoN
    std::string name;  // the driver's card name
};

// Room for this many devices, in the order of their node numbers.
constexpr uint32_t MAX_DEVICES = 8;

// The capture devices found now (nodes /dev/video0 .. /dev/video63 that
// capture video and stream).
std::vector<Device> list_devices();

enum FrameState : uint32_t { IDLE = 0, WANTED = 1, READY = 2, COPYING = 3 };

enum class Format { YUYV, MJPEG };

struct Frame {
    std::atomic<uint32_t> state{WANTED};
    uint32_t width = 0, height = 0;
    Format format = Format::YUYV;
    Hwnd window = 0;  // notified with WM_USER + 1 for each frame
    // YUYV: the frame converted to straight BGRA, width * height words, top
    // row first. MJPEG: the compressed bytes, `length` of them.
    std::vector<uint32_t> pixels;
    std::vector<uint8_t> bytes;
    size_t length = 0;

    // On the capture thread: takes a frame from the device's buffer when one
    // is wanted. `stride` is the distance between YUYV rows in bytes.
    void offer(const uint8_t* data, size_t size, uint32_t stride);
};

// WM_USER + 1: a frame is ready.
constexpr uint32_t WM_FRAME_READY = 0x0401;

class Stream {
  public:
    ~Stream();
    // Opens the device and sets it up for mmap capture (YUYV, or MJPEG when
    // the device offers no YUYV). nullptr with the reason in `why`.
    static std::unique_ptr<Stream> open(const std::string& path, std::string& why);

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    Format format() const { return format_; }

    // Streams into `frame` on a capture thread of its own; false when the
    // device refuses. Idempotent.
    bool start(Frame* frame);
    // Stops streaming and joins the capture thread. Idempotent.
    void stop();
    bool running() const { return thread_.joinable(); }

  private:
    Stream() = default;
    void run();

    int fd_ = -1;
    int wake_ = -1;  // eventfd: tells the capture thread to end
    uint32_t width_ = 0, height_ = 0, stride_ = 0;
    Format format_ = Format::YUYV;
    struct Buffer {
        void* start;
        size_t size;
    };
    std::vector<Buffer> buffers_;
    Frame* frame_ = nullptr;
    std::thread thread_;
};

}  // namespace kiv::gui::camera
