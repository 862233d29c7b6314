// A test-only stand-in for video capture devices, preloaded into the
// process under test (LD_PRELOAD): open, ioctl, mmap, munmap, poll, select
// and close answer for /dev/video0 and /dev/video1 as a capture driver
// would, and pass everything else on to the C library.
//
//   /dev/video0 "Kiv Test Camera A": YUYV only, 64x48. The top half holds
//     four bars 16 pixels wide: white, red, green, blue; the bottom half is
//     grey, its level rising 16 steps each frame (Y = 16 + 16 * (n % 14)).
//   /dev/video1 "Kiv Test Camera B": MJPEG only, 40x30: the left half red,
//     the right half blue (encoded once with the JPEG library).
//
// Frames come at 30 per second while streaming, or KIV_FAKE_VIDEO_FPS per
// second. KIV_FAKE_VIDEO_DEVICES (0, 1 or 2; default 2) says how many of
// the two exist.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <vector>

// jpeglib.h needs FILE declared before it.
#include <jpeglib.h>

namespace {

struct Spec {
    const char* path;
    const char* card;
    uint32_t format;
    uint32_t width, height;
};
const Spec SPECS[] = {{"/dev/video0", "Kiv Test Camera A", V4L2_PIX_FMT_YUYV, 64, 48},
                      {"/dev/video1", "Kiv Test Camera B", V4L2_PIX_FMT_MJPEG, 40, 30}};
constexpr uint32_t BUFFERS_MAX = 8;
long period_ns() {
    static const long period = [] {
        const char* env = getenv("KIV_FAKE_VIDEO_FPS");
        const long fps = env ? atol(env) : 30;
        return fps > 0 && fps <= 100000 ? 1000000000L / fps : 33333333L;
    }();
    return period;
}

struct Buffer {
    void* at = nullptr;  // mapped by the caller
    uint32_t length = 0;
    bool queued = false;
    uint32_t used = 0;
};

struct Device {
    const Spec* spec;
    bool streaming = false;
    uint32_t count = 0;  // buffers requested
    Buffer buffers[BUFFERS_MAX];
    uint64_t sequence = 0;
    timespec next{};
};

std::mutex lock;
std::map<int, Device> devices;
std::vector<uint8_t> jpeg_frame;

template <typename F>
F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

uint32_t buffer_length(const Spec& s) {
    const uint32_t raw = s.format == V4L2_PIX_FMT_YUYV ? s.width * s.height * 2 : s.width * s.height * 4;
    return (raw + 4095) & ~4095u;
}

int64_t ns(const timespec& t) {
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int64_t now_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return ns(t);
}

const Spec* spec_of(const char* path) {
    if (!path) return nullptr;
    const char* env = getenv("KIV_FAKE_VIDEO_DEVICES");
    const int count = env ? atoi(env) : 2;
    for (int i = 0; i < count && i < 2; ++i)
        if (strcmp(path, SPECS[i].path) == 0) return &SPECS[i];
    return nullptr;
}

void make_jpeg(const Spec& s) {
    if (!jpeg_frame.empty()) return;
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = s.width;
    c.image_height = s.height;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(s.width * 3);
    for (uint32_t x = 0; x < s.width; ++x) {
        const bool left = x < s.width / 2;
        row[3 * x] = left ? 255 : 0;
        row[3 * x + 1] = 0;
        row[3 * x + 2] = left ? 0 : 255;
    }
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_frame.assign(out, out + size);
    free(out);
    jpeg_destroy_compress(&c);
}

// Fills buffer b with frame number n of the device.
void fill(Device& d, Buffer& b) {
    const Spec& s = *d.spec;
    uint8_t* p = static_cast<uint8_t*>(b.at);
    if (s.format == V4L2_PIX_FMT_MJPEG) {
        make_jpeg(s);
        b.used = uint32_t(jpeg_frame.size() < b.length ? jpeg_frame.size() : b.length);
        memcpy(p, jpeg_frame.data(), b.used);
        return;
    }
    // Y U V of white, red, green and blue (limited-range BT.601).
    static const uint8_t bars[4][3] = {{235, 128, 128}, {81, 90, 240}, {145, 54, 34}, {41, 240, 110}};
    const uint8_t grey = uint8_t(16 + 16 * (d.sequence % 14));
    for (uint32_t y = 0; y < s.height; ++y)
        for (uint32_t x = 0; x < s.width; x += 2) {
            uint8_t* q = p + (size_t(y) * s.width + x) * 2;
            if (y < s.height / 2) {
                const uint8_t* c = bars[x / 16 % 4];
                q[0] = c[0], q[1] = c[1], q[2] = c[0], q[3] = c[2];
            } else {
                q[0] = grey, q[1] = 128, q[2] = grey, q[3] = 128;
            }
        }
    b.used = s.width * s.height * 2;
}

// Whether a frame can be dequeued now (lock held).
bool frame_due(Device& d) {
    if (!d.streaming) return false;
    bool any = false;
    for (uint32_t i = 0; i < d.count; ++i) any |= d.buffers[i].queued;
    return any && now_ns() >= ns(d.next);
}

// Nanoseconds until the soonest frame of the devices among fds, -1 when none.
int64_t soonest(const std::vector<int>& fds) {
    int64_t best = -1;
    for (int fd : fds) {
        auto it = devices.find(fd);
        if (it == devices.end() || !it->second.streaming) continue;
        const int64_t wait = ns(it->second.next) - now_ns();
        const int64_t w = wait < 0 ? 0 : wait;
        if (best < 0 || w < best) best = w;
    }
    return best;
}

int answer(Device& d, unsigned long request, void* arg) {
    const Spec& s = *d.spec;
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* c = static_cast<v4l2_capability*>(arg);
            memset(c, 0, sizeof *c);
            snprintf(reinterpret_cast<char*>(c->driver), sizeof c->driver, "kivfake");
            snprintf(reinterpret_cast<char*>(c->card), sizeof c->card, "%s", s.card);
            c->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            c->capabilities = c->device_caps | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* f = static_cast<v4l2_fmtdesc*>(arg);
            if (f->index != 0 || f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) break;
            f->pixelformat = s.format;
            return 0;
        }
        case VIDIOC_G_FMT:
        case VIDIOC_S_FMT: {
            auto* f = static_cast<v4l2_format*>(arg);
            if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) break;
            if (d.count) {
                errno = EBUSY;
                return -1;
            }
            f->fmt.pix.width = s.width;
            f->fmt.pix.height = s.height;
            f->fmt.pix.pixelformat = s.format;
            f->fmt.pix.field = V4L2_FIELD_NONE;
            f->fmt.pix.bytesperline = s.format == V4L2_PIX_FMT_YUYV ? s.width * 2 : 0;
            f->fmt.pix.sizeimage = buffer_length(s);
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto* r = static_cast<v4l2_requestbuffers*>(arg);
            if (r->memory != V4L2_MEMORY_MMAP || d.streaming) break;
            d.count = r->count > BUFFERS_MAX ? BUFFERS_MAX : r->count;
            r->count = d.count;
            return 0;
        }
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF: {
            auto* b = static_cast<v4l2_buffer*>(arg);
            if (b->index >= d.count || b->memory != V4L2_MEMORY_MMAP) break;
            b->length = buffer_length(s);
            b->m.offset = b->index * b->length;
            if (request == VIDIOC_QBUF) {
                if (d.buffers[b->index].queued || !d.buffers[b->index].at) break;
                d.buffers[b->index].queued = true;
            }
            return 0;
        }
        case VIDIOC_DQBUF: {
            auto* b = static_cast<v4l2_buffer*>(arg);
            if (!frame_due(d)) {
                errno = EAGAIN;
                return -1;
            }
            for (uint32_t i = 0; i < d.count; ++i) {
                Buffer& q = d.buffers[i];
                if (!q.queued) continue;
                q.queued = false;
                fill(d, q);
                ++d.sequence;
                const int64_t next = ns(d.next) + period_ns();
                d.next = timespec{time_t(next / 1000000000), long(next % 1000000000)};
                b->index = i;
                b->bytesused = q.used;
                b->length = q.length;
                b->sequence = uint32_t(d.sequence);
                b->flags = V4L2_BUF_FLAG_MAPPED;
                return 0;
            }
            break;
        }
        case VIDIOC_STREAMON:
            if (d.count == 0) break;
            d.streaming = true;
            clock_gettime(CLOCK_MONOTONIC, &d.next);
            return 0;
        case VIDIOC_STREAMOFF:
            d.streaming = false;
            for (uint32_t i = 0; i < d.count; ++i) d.buffers[i].queued = false;
            return 0;
        default:
            errno = ENOTTY;
            return -1;
    }
    errno = EINVAL;
    return -1;
}

int fake_open(const char* path) {
    const Spec* s = spec_of(path);
    if (!s) return -2;
    const int fd = eventfd(0, EFD_CLOEXEC);
    if (fd < 0) return -1;
    std::lock_guard<std::mutex> hold(lock);
    Device d;
    d.spec = s;
    devices[fd] = d;
    return fd;
}

// A fake device's descriptor, or the C library's `name` for any other path.
int open_as(const char* name, const char* path, int flags, mode_t mode) {
    const int fd = fake_open(path);
    if (fd != -2) return fd;
    return real<int (*)(const char*, int, ...)>(name)(path, flags, mode);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(ap, int)) : 0;
    va_end(ap);
    return open_as("open", path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(ap, int)) : 0;
    va_end(ap);
    return open_as("open64", path, flags, mode);
}

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    {
        std::lock_guard<std::mutex> hold(lock);
        auto it = devices.find(fd);
        if (it != devices.end()) return answer(it->second, request, arg);
    }
    return real<int (*)(int, unsigned long, void*)>("ioctl")(fd, request, arg);
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
    {
        std::lock_guard<std::mutex> hold(lock);
        auto it = devices.find(fd);
        if (it != devices.end()) {
            Device& d = it->second;
            const uint32_t each = buffer_length(*d.spec);
            const uint64_t index = uint64_t(offset) / each;
            if (index >= d.count || uint64_t(offset) % each || length != each || d.buffers[index].at) {
                errno = EINVAL;
                return MAP_FAILED;
            }
            void* at = real<void* (*)(void*, size_t, int, int, int, off_t)>("mmap")(
                nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (at == MAP_FAILED) return at;
            d.buffers[index].at = at;
            d.buffers[index].length = each;
            return at;
        }
    }
    return real<void* (*)(void*, size_t, int, int, int, off_t)>("mmap")(addr, length, prot, flags, fd,
                                                                        offset);
}

int munmap(void* addr, size_t length) {
    {
        std::lock_guard<std::mutex> hold(lock);
        for (auto& [fd, d] : devices)
            for (Buffer& b : d.buffers)
                if (b.at == addr) b.at = nullptr;
    }
    return real<int (*)(void*, size_t)>("munmap")(addr, length);
}

int poll(pollfd* fds, nfds_t n, int timeout) {
    auto through = real<int (*)(pollfd*, nfds_t, int)>("poll");
    std::vector<int> fake;
    {
        std::lock_guard<std::mutex> hold(lock);
        for (nfds_t i = 0; i < n; ++i)
            if (devices.count(fds[i].fd)) fake.push_back(fds[i].fd);
    }
    if (fake.empty()) return through(fds, n, timeout);
    // The real descriptors are polled in slices up to the next frame; the
    // fake ones are ready when a frame is due.
    const int64_t end = timeout < 0 ? -1 : now_ns() + int64_t(timeout) * 1000000;
    std::vector<pollfd> others;
    for (;;) {
        int ready = 0;
        int64_t wait;
        {
            std::lock_guard<std::mutex> hold(lock);
            for (nfds_t i = 0; i < n; ++i) {
                auto it = devices.find(fds[i].fd);
                if (it == devices.end()) continue;
                fds[i].revents = (fds[i].events & POLLIN) && frame_due(it->second) ? POLLIN : 0;
                ready += fds[i].revents != 0;
            }
            wait = soonest(fake);
        }
        others.clear();
        for (nfds_t i = 0; i < n; ++i)
            if (!std::count(fake.begin(), fake.end(), fds[i].fd)) others.push_back(fds[i]);
        const int64_t left = end < 0 ? -1 : end - now_ns();
        int slice = ready ? 0 : -1;
        if (!ready) {
            int64_t w = wait < 0 ? left : (left < 0 || wait < left ? wait : left);
            slice = w < 0 ? -1 : int(w / 1000000);  // below 1 ms: look again at once
        }
        const int got = through(others.data(), others.size(), slice);
        if (got < 0) return got;
        for (const pollfd& o : others)
            for (nfds_t i = 0; i < n; ++i)
                if (fds[i].fd == o.fd) fds[i].revents = o.revents;
        if (ready + got > 0) return ready + got;
        if (end >= 0 && now_ns() >= end) return 0;
    }
}

int select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, timeval* timeout) {
    // As poll: the fake devices are readable when a frame is due.
    std::vector<pollfd> asked;
    for (int fd = 0; fd < nfds; ++fd) {
        short ev = 0;
        if (readfds && FD_ISSET(fd, readfds)) ev |= POLLIN;
        if (writefds && FD_ISSET(fd, writefds)) ev |= POLLOUT;
        if (exceptfds && FD_ISSET(fd, exceptfds)) ev |= POLLPRI;
        if (ev) asked.push_back({fd, ev, 0});
    }
    const int ms = timeout ? int(timeout->tv_sec * 1000 + timeout->tv_usec / 1000) : -1;
    const int got = poll(asked.data(), asked.size(), ms);
    if (got < 0) return got;
    if (readfds) FD_ZERO(readfds);
    if (writefds) FD_ZERO(writefds);
    if (exceptfds) FD_ZERO(exceptfds);
    int count = 0;
    for (const pollfd& p : asked) {
        if (readfds && (p.revents & (POLLIN | POLLHUP | POLLERR))) FD_SET(p.fd, readfds), ++count;
        if (writefds && (p.revents & POLLOUT)) FD_SET(p.fd, writefds), ++count;
        if (exceptfds && (p.revents & POLLPRI)) FD_SET(p.fd, exceptfds), ++count;
    }
    return count;
}

int close(int fd) {
    {
        std::lock_guard<std::mutex> hold(lock);
        devices.erase(fd);
    }
    return real<int (*)(int)>("close")(fd);
}

}  // extern "C"
