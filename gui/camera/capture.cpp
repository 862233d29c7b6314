#include "gui/camera/capture.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "gui/window/queue.h"

namespace kiv::gui::camera {

namespace {

constexpr uint32_t BUFFER_COUNT = 4;

// ioctl, again when a signal interrupted it.
int control(int fd, unsigned long request, void* arg) {
    int r;
    do r = ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r;
}

uint32_t capabilities(const v4l2_capability& cap) {
    return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

uint8_t clamp(int32_t v) {
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// One BGRA pixel from limited-range BT.601 Y'CbCr.
uint32_t bgra(int32_t y, int32_t d, int32_t e) {
    const int32_t c = 298 * (y - 16) + 128;
    return 0xFF000000u | uint32_t(clamp((c + 409 * e) >> 8)) << 16 |
           uint32_t(clamp((c - 100 * d - 208 * e) >> 8)) << 8 | uint32_t(clamp((c + 516 * d) >> 8));
}

}  // namespace

std::vector<Device> list_devices() {
    std::vector<Device> found;
    for (int n = 0; n < 64 && found.size() < MAX_DEVICES; ++n) {
        const std::string path = "/dev/video" + std::to_string(n);
        const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        v4l2_capability cap{};
        if (control(fd, VIDIOC_QUERYCAP, &cap) == 0) {
            const uint32_t caps = capabilities(cap);
            if ((caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING)) {
                const char* card = reinterpret_cast<const char*>(cap.card);
                found.push_back({path, std::string(card, strnlen(card, sizeof cap.card))});
            }
        }
        ::close(fd);
    }
    return found;
}

// ---- Frame hand-over -----------------------------------------------------------------------

void Frame::offer(const uint8_t* data, size_t size, uint32_t stride) {
    uint32_t wanted = WANTED;
    if (!state.compare_exchange_strong(wanted, COPYING, std::memory_order_acq_rel)) return;
    if (format == Format::YUYV) {
        // Two pixels per four bytes (Y0 U Y1 V); a short frame fills what
        // it has, a long one is cut to the frame's size.
        const uint32_t pairs = width / 2;
        for (uint32_t row = 0; row < height; ++row) {
            const size_t at = size_t(row) * stride;
            if (at + size_t(pairs) * 4 > size) break;
            const uint8_t* p = data + at;
            uint32_t* out = pixels.data() + size_t(row) * width;
            for (uint32_t i = 0; i < pairs; ++i, p += 4) {
                const int32_t d = p[1] - 128, e = p[3] - 128;
                out[2 * i] = bgra(p[0], d, e);
                out[2 * i + 1] = bgra(p[2], d, e);
            }
        }
    } else {
        length = std::min(size, bytes.size());
        if (length) memcpy(bytes.data(), data, length);
    }
    state.store(READY, std::memory_order_seq_cst);
    queue::post_from_thread(window, WM_FRAME_READY, 0, 0);
}

// ---- Streams ---------------------------------------------------------------------------------

std::unique_ptr<Stream> Stream::open(const std::string& path, std::string& why) {
    std::unique_ptr<Stream> s(new Stream());
    s->fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (s->fd_ < 0) {
        why = "cannot open " + path;
        return nullptr;
    }
    v4l2_capability cap{};
    if (control(s->fd_, VIDIOC_QUERYCAP, &cap) < 0 || !(capabilities(cap) & V4L2_CAP_STREAMING)) {
        why = "not a streaming capture device";
        return nullptr;
    }
    // YUYV when the device offers it, else MJPEG.
    uint32_t chosen = 0;
    v4l2_fmtdesc d{};
    d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (; control(s->fd_, VIDIOC_ENUM_FMT, &d) == 0; ++d.index) {
        if (d.pixelformat == V4L2_PIX_FMT_YUYV) chosen = d.pixelformat;
        if (d.pixelformat == V4L2_PIX_FMT_MJPEG && !chosen) chosen = d.pixelformat;
    }
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (!chosen || control(s->fd_, VIDIOC_G_FMT, &f) < 0) {
        why = "no YUYV or MJPEG format";
        return nullptr;
    }
    f.fmt.pix.pixelformat = chosen;
    f.fmt.pix.field = V4L2_FIELD_NONE;
    if (control(s->fd_, VIDIOC_S_FMT, &f) < 0 || f.fmt.pix.pixelformat != chosen || f.fmt.pix.width == 0 ||
        f.fmt.pix.height == 0 || f.fmt.pix.width > 16384 || f.fmt.pix.height > 16384) {
        why = "the device refuses the format";
        return nullptr;
    }
    s->format_ = chosen == V4L2_PIX_FMT_YUYV ? Format::YUYV : Format::MJPEG;
    s->width_ = f.fmt.pix.width;
    s->height_ = f.fmt.pix.height;
    s->stride_ = std::max(f.fmt.pix.bytesperline, s->width_ * 2);
    v4l2_requestbuffers req{};
    req.count = BUFFER_COUNT;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (control(s->fd_, VIDIOC_REQBUFS, &req) < 0 || req.count == 0) {
        why = "no capture buffers";
        return nullptr;
    }
    for (uint32_t i = 0; i < req.count; ++i) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.index = i;
        if (control(s->fd_, VIDIOC_QUERYBUF, &b) < 0) {
            why = "no capture buffers";
            return nullptr;
        }
        void* at = mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, s->fd_, b.m.offset);
        if (at == MAP_FAILED) {
            why = "cannot map the capture buffers";
            return nullptr;
        }
        s->buffers_.push_back({at, b.length});
    }
    s->wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s->wake_ < 0) {
        why = "no event descriptor";
        return nullptr;
    }
    return s;
}

Stream::~Stream() {
    stop();
    for (const Buffer& b : buffers_) munmap(b.start, b.size);
    if (wake_ >= 0) ::close(wake_);
    if (fd_ >= 0) ::close(fd_);
}

bool Stream::start(Frame* frame) {
    if (running()) return true;
    for (uint32_t i = 0; i < buffers_.size(); ++i) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.index = i;
        if (control(fd_, VIDIOC_QBUF, &b) < 0) return false;
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (control(fd_, VIDIOC_STREAMON, &type) < 0) return false;
    uint64_t drain;
    while (read(wake_, &drain, sizeof drain) > 0) {
    }
    frame_ = frame;
    queue::thread_poster(true);
    thread_ = std::thread([this] { run(); });
    return true;
}

void Stream::stop() {
    if (!running()) return;
    const uint64_t one = 1;
    (void)!write(wake_, &one, sizeof one);
    thread_.join();
    queue::thread_poster(false);
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    control(fd_, VIDIOC_STREAMOFF, &type);  // also takes every buffer back from the driver
    frame_ = nullptr;
}

// The capture thread: waits for a filled buffer (or the wake-up), hands it
// to the frame and gives it back to the driver.
void Stream::run() {
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
        const int n = poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
        if (!(fds[0].revents & POLLIN)) continue;
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        if (control(fd_, VIDIOC_DQBUF, &b) < 0) {
            if (errno == EAGAIN) continue;
            return;
        }
        if (b.index < buffers_.size() && !(b.flags & V4L2_BUF_FLAG_ERROR)) {
            const size_t used = std::min<size_t>(b.bytesused, buffers_[b.index].size);
            frame_->offer(static_cast<const uint8_t*>(buffers_[b.index].start), used, stride_);
        }
        if (control(fd_, VIDIOC_QBUF, &b) < 0) return;
    }
}

}  // namespace kiv::gui::camera
