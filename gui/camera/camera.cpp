#include "gui/camera/camera.h"
#include "gui/text/facets.h"

#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>

#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gui/camera/capture.h"
#include "gui/window/accessors.h"
#include "gui/window/camera_hooks.h"
#include "gui/window/classes.h"
#include "gui/window/paint.h"
#include "gui/window/windows.h"
#include "platform/console_output.h"
#include "platform/image.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::gui::camera {

using routine::arg;
using routine::result;

namespace {

constexpr double GRAB_TIMEOUT = 3.0;  // seconds a grab waits for a frame

struct Record {
    std::vector<Device> devices;
    std::unique_ptr<Stream> stream;
    std::unique_ptr<Frame> frame;
    int32_t selected = -1;  // 0-based index of the open device, -1 when none
    bool previewing = false;
    double aspect = 0;
    // The bitmap of the last image! the camera put into the face's `image`
    // (compared only, never read through).
    const os_image::Bitmap* shown = nullptr;
    uint32_t frames = 0;  // frames taken into the face's `image`
};

std::unordered_map<Hwnd, std::unique_ptr<Record>> records;

Record* record_of(Hwnd h) {
    auto it = records.find(h);
    return it == records.end() ? nullptr : it->second.get();
}

void sleep_seconds(double s) {
    timespec t{time_t(s), long((s - double(time_t(s))) * 1e9)};
    nanosleep(&t, nullptr);
}

// Stops the stream, joining its capture thread, and only then frees the
// frame it wrote into.
void release(Record* r) {
    if (r->stream) r->stream->stop();
    r->stream.reset();
    r->frame.reset();
    r->selected = -1;
    r->previewing = false;
}

// A block of the device names, pushed.
Cell* push_names(const std::vector<Device>& devices) {
    Cell* b = stack::push(none::cell());
    block::make_at(b, int32_t(devices.size()));
    for (const Device& d : devices) {
        Cell* saved = stack::top;
        Cell* s = string::load_push(reinterpret_cast<const uint8_t*>(d.name.data()), uint32_t(d.name.size()),
                                    string::ENC_UTF8);
        block::cells_append(b, s);
        stack::top = saved;
    }
    return b;
}

// The devices found now, or none printed as missing.
std::vector<Device> find_devices() {
    std::vector<Device> found = list_devices();
    if (found.empty()) console::print_cstring("No video capture hardware\n");
    return found;
}

// A facet of the window's face (nullptr when there is none). Valid until
// the next allocation.
Cell* facet(Hwnd h, text::Facet which) {
    const Cell face = window_face_cell(h);
    return face.type() == TYPE_OBJECT ? text::face_slot(&face, which) : nullptr;
}

// Opens device `index` and gets its frame ready (no streaming yet).
bool open_device(Hwnd h, Record* r, int32_t index) {
    if (index < 0 || index >= int32_t(r->devices.size()))
        fire({"access", "cannot-open"}, integer::cell(index + 1));
    release(r);
    std::string why;
    std::unique_ptr<Stream> s = Stream::open(r->devices[size_t(index)].path, why);
    if (!s) {
        console::print_cstring("This device cannot preview!\n");
        return false;
    }
    auto f = std::make_unique<Frame>();
    f->width = s->width();
    f->height = s->height();
    f->format = s->format();
    f->window = h;
    if (f->format == Format::YUYV) {
        f->pixels.assign(size_t(f->width) * f->height, 0xFF000000u);
    } else {
        f->bytes.resize(size_t(f->width) * f->height * 4);
    }
    r->stream = std::move(s);
    r->frame = std::move(f);
    r->selected = index;
    r->aspect = double(r->frame->width) / double(r->frame->height);
    return true;
}

bool run(Record* r, bool on) {
    if (!r->stream) return false;
    if (!on) {
        r->stream->stop();
        r->previewing = false;
        r->frame->state.store(IDLE, std::memory_order_seq_cst);
        return true;
    }
    r->frame->state.store(WANTED, std::memory_order_seq_cst);
    r->previewing = r->stream->start(r->frame.get());
    return r->previewing;
}

// The frame in the buffer as a bitmap (the GUI thread owns the buffer).
std::unique_ptr<os_image::Bitmap> frame_bitmap(const Frame& f) {
    if (f.format == Format::MJPEG) return os_image::decode_jpeg(f.bytes.data(), f.length);
    std::unique_ptr<os_image::Bitmap> b = os_image::new_bitmap(f.width, f.height);
    if (b) b->pixels = f.pixels;
    return b;
}

// The GUI thread is done with the buffer: the next frame is wanted while
// the preview runs.
void hand_back(Record* r) {
    r->frame->state.store(r->previewing ? WANTED : IDLE, std::memory_order_seq_cst);
}

// WM_FRAME_READY: the ready frame goes into the face's `image`.
void take_frame(Hwnd h) {
    Record* r = record_of(h);
    if (!r || !r->frame || r->frame->state.load(std::memory_order_acquire) != READY) return;
    std::unique_ptr<os_image::Bitmap> b = frame_bitmap(*r->frame);
    Cell* image = facet(h, text::FACET_IMAGE);
    const bool ours = image && image->type() == TYPE_IMAGE && os_image::bitmap(image) == r->shown && r->shown;
    if (b && image && (image->type() == TYPE_NONE || ours)) {
        if (ours && os_image::width(image) == b->width && os_image::height(image) == b->height) {
            uint32_t* px = os_image::pixels(image, true);
            std::copy(b->pixels.begin(), b->pixels.end(), px);
        } else {
            Cell* saved = stack::top;
            Cell* made = stack::push(none::cell());
            os_image::init_image(made, std::move(b));
            r->shown = os_image::bitmap(made);
            if (Cell* again = facet(h, text::FACET_IMAGE)) *again = *made;  // the face may have moved
            stack::top = saved;
        }
        ++r->frames;
        paint::invalidate(h);
    }
    hand_back(r);
}

// A synchronous grab: the next frame as a new image! in *out, none when
// none came within GRAB_TIMEOUT.
void grab(Hwnd h, Cell* out) {
    *out = none::cell();
    Record* r = record_of(h);
    if (!r || !r->frame) return;
    std::atomic<uint32_t>& state = r->frame->state;
    // A copy under way finishes first; then a frame is wanted anew.
    while (state.load(std::memory_order_acquire) == COPYING) sleep_seconds(0.001);
    state.store(WANTED, std::memory_order_seq_cst);
    // The limit is measured on the clock, not by counting sleeps, which
    // overrun on a busy machine.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(GRAB_TIMEOUT);
    while (state.load(std::memory_order_acquire) != READY && std::chrono::steady_clock::now() < deadline)
        sleep_seconds(0.01);
    uint32_t wanted = WANTED;
    if (!state.compare_exchange_strong(wanted, IDLE, std::memory_order_acq_rel)) {
        while (state.load(std::memory_order_acquire) == COPYING) sleep_seconds(0.001);
    }
    if (state.load(std::memory_order_acquire) == READY) {
        if (std::unique_ptr<os_image::Bitmap> b = frame_bitmap(*r->frame)) {
            Cell* saved = stack::top;
            Cell* made = stack::push(none::cell());
            os_image::init_image(made, std::move(b));
            *out = *made;
            stack::top = saved;
        }
    }
    hand_back(r);
}

// Window creation: the devices go into `data`; the `selected` one (when in
// range) is opened and previewed. Without devices the window keeps no record.
void init(Hwnd h) {
    auto r = std::make_unique<Record>();
    r->devices = find_devices();
    if (r->devices.empty()) return;
    {
        Cell* saved = stack::top;
        Cell* names = push_names(r->devices);
        if (Cell* data = facet(h, text::FACET_DATA)) *data = *names;
        stack::top = saved;
    }
    Record* kept = r.get();
    records[h] = std::move(r);
    const Cell* selected = facet(h, text::FACET_SELECTED);
    if (selected && selected->type() == TYPE_INTEGER) {
        const int32_t n = integer::get(selected);
        if (n >= 1 && n <= int32_t(kept->devices.size()) && open_device(h, kept, n - 1)) run(kept, true);
    }
}

void close(Hwnd h) {
    auto it = records.find(h);
    if (it == records.end()) return;
    release(it->second.get());
    records.erase(it);
}

// The update path's hook: `selected` none closes the device, n opens device
// n and starts its preview.
void select(Hwnd h, const Cell* selected) {
    Record* r = record_of(h);
    const bool number = selected && selected->type() == TYPE_INTEGER;
    if (!r) {
        if (number) fire({"access", "cannot-open"}, *selected);
        return;
    }
    if (!number) {
        release(r);
        return;
    }
    if (open_device(h, r, integer::get(selected) - 1)) run(r, true);
}

int32_t proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    switch (message) {
        case WM_NCCREATE:
            windows::set_slot(h, SLOT_FACE, lparam);
            return 1;
        case WM_CREATE:
            init(h);
            return 0;
        case WM_DESTROY:
            close(h);
            return 0;
        case WM_FRAME_READY:
            take_frame(h);
            return 0;
        default:
            return windows::default_proc(h, message, wparam, lparam);
    }
}

// ---- Routines ------------------------------------------------------------------------------------

Hwnd window_arg(const Cell& c) {
    return c.type() == TYPE_HANDLE ? handle::get(&c) : 0;
}

template <class A>
Unwind devices(A a) {
    const std::vector<Device> found = find_devices();
    Cell* saved = stack::top;
    result(a) = found.empty() ? none::cell() : *push_names(found);
    stack::top = saved;
    return UNWIND_NONE;
}

template <class A>
Unwind select_routine(A a) {
    const Cell selected = arg<"selected">(a);
    select(window_arg(arg<"id">(a)), &selected);
    result(a) = none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind run_routine(A a) {
    Record* r = record_of(window_arg(arg<"id">(a)));
    result(a) = logic::cell(r && run(r, arg<"on?">(a).w1 != 0));
    return UNWIND_NONE;
}

template <class A>
Unwind grab_routine(A a) {
    Cell out;
    grab(window_arg(arg<"id">(a)), &out);
    result(a) = out;
    return UNWIND_NONE;
}

// info id: [selected width height previewing? frames] of the open device
// (selected 0 and size 0 when none is open), none without a record.
template <class A>
Unwind info(A a) {
    const Record* r = record_of(window_arg(arg<"id">(a)));
    if (!r) {
        result(a) = none::cell();
        return UNWIND_NONE;
    }
    Cell v[5] = {integer::cell(r->selected + 1), integer::cell(r->frame ? int32_t(r->frame->width) : 0),
                 integer::cell(r->frame ? int32_t(r->frame->height) : 0), logic::cell(r->previewing),
                 integer::cell(int32_t(r->frames))};
    Cell* saved = stack::top;
    Cell* b = stack::push(none::cell());
    block::make_at(b, 5);
    for (const Cell& c : v) block::cells_append(b, &c);
    result(a) = *b;
    stack::top = saved;
    return UNWIND_NONE;
}

const routine::Row ROWS[] = {
    KIV_ROUTINE("devices", "[return: [block! none!]]", devices),
    KIV_ROUTINE("select", "[id [handle!] selected [integer! none!]]", select_routine),
    KIV_ROUTINE("run", "[id [handle!] on? [logic!] return: [logic!]]", run_routine),
    KIV_ROUTINE("grab", "[id [handle!] return: [image! none!]]", grab_routine),
    KIV_ROUTINE("info", "[id [handle!] return: [block! none!]]", info),
};

}  // namespace

const routine::Table TABLE = routine::table("camera", ROWS, false);

Placement fit(double aspect, int32_t width, int32_t height) {
    if (!(aspect > 0) || !std::isfinite(aspect) || width <= 0 || height <= 0) return {0, 0, width, height};
    // Full width when the video is relatively wider than the area, else full
    // height; the other side keeps the ratio and the rest is split evenly.
    if (double(height) * aspect >= double(width)) {
        const double h = double(width) / aspect;
        return {0, int32_t(std::lround((height - h) / 2)), width, int32_t(std::lround(h))};
    }
    const double w = double(height) * aspect;
    return {int32_t(std::lround((width - w) / 2)), 0, int32_t(std::lround(w)), height};
}

void install() {
    static bool done = false;
    if (done) return;
    done = true;
    // At exit the capture threads end before the queue they post to goes.
    std::atexit([] {
        for (auto& [h, r] : records) release(r.get());
    });
    classes::register_class("KivCamera", proc,
                            classes::CS_HREDRAW | classes::CS_VREDRAW | classes::CS_DBLCLKS, EXTRA_BYTES);
    const Cell type = word::load("camera");
    classes::register_widget("KivCamera", "", symbol::resolve(type.w2), 0, 0, 0, nullptr, nullptr);
    camera_hooks::select = select;
    camera_hooks::grab = grab;
    camera_hooks::fit = fit;
}

}  // namespace kiv::gui::camera
