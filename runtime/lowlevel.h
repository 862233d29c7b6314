// The low-level runtime: everything below the language's own error handling.
//
// - A machine-level throw with catch levels. A throw of value v leaves frames
//   until one whose catch level, taken as unsigned, is at least v. It is rare
//   (a quit request, a failed page allocation, a throw nobody catches), so it
//   rides on one private C++ exception type that only catch_level() frames
//   catch. Language errors never use it: they go through `fire`.
// - The tracked heap: blocks from the C allocator that live until freed or
//   until quit() frees them all. Every block carries a header {previous, next,
//   requested size} and the blocks form one doubly linked list in allocation
//   order. Statistics count 16 bytes of header per block, as the record layout
//   has it; in memory the header is 32 bytes so that the caller's bytes keep
//   the C allocator's 16-byte alignment.
// - quit(): the one way the process ends. A non-zero number is reported as
//   "*** Runtime Error %d: %s\n*** at: %08Xh" through the error box (standard
//   error unless the GUI installs a dialog), the tracked heap is freed, and
//   the process exits with the number (-2 shows up as 254).
// - Processor faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP) are turned into
//   runtime-error numbers and reported through quit(); SIGINT ends quietly.
// - Typed diagnostic printing on the console output layer.
//
// Only the main thread uses the tracked heap and the throw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace kiv::lowlevel {

// ---- Thrown values and catch levels ---------------------------------------

constexpr uint32_t QUIT_REQUEST = 0x0BADCAFE;        // top level: quit with 0
constexpr uint32_t VM_FREE_FAILED = 0x7FFFFFF6;      // page release failed
constexpr uint32_t VM_ALLOC_FAILED = 0x7FFFFFF7;     // page allocation failed
constexpr uint32_t MEMORY_CATCH_LEVEL = 0x7FFFFFF8;  // memory manager's frames
constexpr uint32_t TOP_CATCH_LEVEL = 0xFFFFFFFF;     // the entry's outermost frame

// Runtime-error numbers used by the runtime itself.
constexpr int32_t ERR_OUT_OF_MEMORY = 94;
constexpr int32_t ERR_NO_CATCH = 95;
constexpr int32_t ERR_ASSERTION = 98;
constexpr int32_t ERR_STACK_OVERFLOW = 19;

struct DebugRecord {
    const void* frame = nullptr;  // frame address recorded with the last fatal error
    const void* stack = nullptr;  // stack position recorded with it
};

// The process-wide system record.
struct SystemRecord {
    int argc = 0;
    char** argv = nullptr;  // NUL-terminated UTF-8 strings, ends with null (tracked heap)
    uint32_t thrown = 0;    // value of the throw in progress
    DebugRecord debug;
};
extern SystemRecord system_record;

// The exception object of a low-level throw. Only catch_level() catches it.
struct LowLevelThrow {
    uint32_t value;
};

namespace detail {
// The active catch frames, innermost first, linked through the machine stack.
struct CatchFrame {
    uint32_t level;
    CatchFrame* outer;
    explicit CatchFrame(uint32_t l);
    ~CatchFrame();
    CatchFrame(const CatchFrame&) = delete;
    CatchFrame& operator=(const CatchFrame&) = delete;
};
extern CatchFrame* innermost;
inline CatchFrame::CatchFrame(uint32_t l) : level(l), outer(innermost) {
    innermost = this;
}
inline CatchFrame::~CatchFrame() {
    innermost = outer;
}
}  // namespace detail

// Throws `value`: unwinds to the nearest catch_level frame whose level is at
// least the value. With no such frame the top-level rule applies directly.
[[noreturn]] void throw_value(uint32_t value);

// Runs body() inside a catch frame of `level`. Returns true when body ended
// normally, false when a throw was caught here; the caught value is then in
// system_record.thrown. Throws with a value above `level` pass on outward.
template <class Body>
bool catch_level(uint32_t level, Body&& body) {
    try {
        detail::CatchFrame frame(level);
        body();
    } catch (const LowLevelThrow& t) {
        if (level < t.value) throw;
        system_record.thrown = t.value;
        return false;
    }
    return true;
}

// As above, with a handler that runs inside the frame when a throw is caught.
template <class Body, class Handler>
bool catch_level(uint32_t level, Body&& body, Handler&& handler) {
    if (catch_level(level, static_cast<Body&&>(body))) return true;
    handler();
    return false;
}

// The handler of the outermost frame: a quit request ends quietly with 0,
// any other value is runtime error 95.
[[noreturn]] void top_level_catch();

// ---- Fatal end ----------------------------------------------------------------

// Ends the process: reports runtime error `n` at `address` unless n is 0,
// runs the at-quit handlers, frees the tracked heap and exits with n.
[[noreturn]] void quit(int32_t n, const void* address = nullptr);

// Ends the process with `code` and no report: runs the at-quit handlers,
// frees the tracked heap and exits (quit() ends through here).
[[noreturn]] void end_process(int32_t code);

// The message of a runtime-error number ("unknown error code!" outside the table).
const char* error_message(int32_t n);

// Formats the fatal report into `out` (NUL-terminated, truncated to `size`);
// returns its length. The address is shown as an offset into the executable
// when it lies there, else as its low 32 bits.
size_t format_report(char* out, size_t size, int32_t n, const void* address);

// Shows a fatal report. The default writes the text and a line feed to
// standard error (the title is not printed there); the GUI may install a
// dialog. Not used from signal handlers, which always write to standard error.
using ErrorBox = void (*)(const char* title, const char* text);
extern ErrorBox error_box;

// Registers a function that quit() runs before it frees the tracked heap
// (output flushing, releasing tracked blocks held in globals). At most 16.
void at_quit(void (*fn)());

// ---- Faults ---------------------------------------------------------------------

// Maps a fault signal and its si_code to a runtime-error number. A SIGSEGV
// flagged as a stack overflow gives 19. Signals other than the five fault
// signals give 99.
int32_t fault_error_number(int signo, int si_code, bool stack_overflow);

// Installs the fault handlers on an alternate signal stack and SIGINT's quiet
// exit; records the main thread's stack bounds for overflow detection.
void install_fault_handlers();

// The calling thread's stack: its lowest address and size. Asked of the
// system once per thread (for the main thread, from /proc/self/maps) and
// remembered. False when the system does not tell.
bool thread_stack(uintptr_t* low, size_t* size);
// What thread_stack gives for the main thread: the bounds the C library's
// thread attributes give it, read from /proc/self/maps without stdio.
bool main_thread_stack(uintptr_t* low, size_t* size);

// ---- Tracked heap -----------------------------------------------------------

// Requests above this many bytes are refused as out of memory without asking
// the C allocator (no real request comes near it; it keeps size arithmetic safe).
constexpr size_t MAX_TRACKED_REQUEST = size_t(1) << 39;

void* allocate(size_t size);
void* allocate_zeroed(size_t size);
// null: allocate; size 0: free and return null; else resize in place in the list.
void* reallocate(void* p, size_t size);
// Frees a tracked block; an address that is not one is left alone.
void free(void* p);
void free_all_tracked();

// Statistics: sum of requested sizes plus 16 per block, and the block count.
uint64_t tracked_heap_bytes();
uint32_t tracked_heap_count();

// ---- Small helpers ------------------------------------------------------------

// The return address of the function this is inlined into (the "at" address
// of runtime errors). Also stores that function's frame and stack position in
// the debug record.
[[gnu::always_inline]] inline const void* caller_address() {
    void* sp;
#if defined(__x86_64__)
    asm volatile("mov %%rsp, %0" : "=r"(sp));
#elif defined(__aarch64__)
    asm volatile("mov %0, sp" : "=r"(sp));
#else
    sp = __builtin_frame_address(0);
#endif
    system_record.debug.frame = __builtin_frame_address(0);
    system_record.debug.stack = sp;
    return __builtin_extract_return_addr(__builtin_return_address(0));
}

constexpr uint64_t align_up(uint64_t n, uint64_t alignment) {
    return (n + alignment - 1) & ~(alignment - 1);
}

bool c_strings_equal(const char* a, const char* b);

// Degrees to radians with the range reduction of the trigonometric natives:
// mode 0 for tangent, 2 for sine, any other value for cosine.
double degrees_to_radians(double degrees, int mode);

// ---- Typed diagnostic printing -------------------------------------------

struct PrintItem {
    enum Kind : uint32_t { LOGIC = 1, INTEGER = 2, BYTE = 3, FLOAT32 = 4, FLOAT64 = 5, TEXT = 6, HEX = 7 };
    Kind kind;
    uint64_t bits = 0;
    const char* text = nullptr;

    PrintItem(bool b) : kind(LOGIC), bits(b) {}
    PrintItem(int32_t i) : kind(INTEGER), bits(uint32_t(i)) {}
    PrintItem(float f);
    PrintItem(double d);
    PrintItem(const char* s) : kind(TEXT), text(s) {}
    PrintItem(Kind k, uint64_t b) : kind(k), bits(b) {}
};
inline PrintItem hex(uint32_t v) {
    return PrintItem(PrintItem::HEX, v);
}
inline PrintItem byte(uint8_t c) {
    return PrintItem(PrintItem::BYTE, c);
}

// Writes the items one after another with no separator; print_line adds a
// line feed. Output is flushed at the end of each call.
void print(std::initializer_list<PrintItem> items);
void print_line(std::initializer_list<PrintItem> items);

// Repeats the first `unit` bytes at the address `count` times in all,
// copying a doubling prefix each time.
void fill_repeat(void* address, uint32_t unit, uint32_t count);

}  // namespace kiv::lowlevel
