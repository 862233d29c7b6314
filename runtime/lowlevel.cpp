#include "runtime/lowlevel.h"

#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <ucontext.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>

#include "platform/console_output.h"

// The C library's record of where the main thread's stack ended at start.
extern "C" void* __libc_stack_end;

namespace kiv::lowlevel {

SystemRecord system_record;

namespace detail {
CatchFrame* innermost = nullptr;
}  // namespace detail

namespace {

// ---- Fatal report -------------------------------------------------------------

const char* const MESSAGES_1_34[] = {
    "access violation",                   // 1
    "invalid alignment",                  // 2
    "breakpoint",                         // 3
    "single step",                        // 4
    "bounds exceeded",                    // 5
    "float denormal operan",              // 6
    "float divide by zero",               // 7
    "float inexact result",               // 8
    "float invalid operation",            // 9
    "float overflow",                     // 10
    "float stack check",                  // 11
    "float underflow",                    // 12
    "integer divide by zero",             // 13
    "integer overflow",                   // 14
    "privileged instruction",             // 15
    "invalid virtual address",            // 16
    "illegal instruction",                // 17
    "non-continuable exception",          // 18
    "stack error or overflow",            // 19
    "invalid disposition",                // 20
    "guard page",                         // 21
    "invalid handle",                     // 22
    "illegal operand",                    // 23
    "illegal addressing mode",            // 24
    "illegal trap",                       // 25
    "coprocessor error",                  // 26
    "non-existent physical address",      // 27
    "object specific hardware error",     // 28
    "hardware memory error consumed AR",  // 29
    "hardware memory error consumed AO",  // 30
    "privileged register",                // 31
    "segmentation fault",                 // 32
    "FPU error",                          // 33
    "Bus error",                          // 34
};

const char* const REPORT_TITLE = "Kiv App Error";

// The main executable's load base and the extent of its loaded segments, so
// that a fault address inside it can be shown as an offset (stable across
// runs, usable with a symbol lookup).
uintptr_t exe_base = 0, exe_low = 0, exe_high = 0;
bool exe_known = false;

int note_executable(dl_phdr_info* info, size_t, void*) {
    // The first object reported is the main program.
    uintptr_t low = UINTPTR_MAX, high = 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const auto& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD) continue;
        uintptr_t start = info->dlpi_addr + ph.p_vaddr;
        if (start < low) low = start;
        if (start + ph.p_memsz > high) high = start + ph.p_memsz;
    }
    exe_base = info->dlpi_addr;
    exe_low = low;
    exe_high = high;
    return 1;
}

void find_executable() {
    if (exe_known) return;
    dl_iterate_phdr(note_executable, nullptr);
    exe_known = true;
}

// Appends without the C library's formatting, so that signal handlers can use it.
struct Writer {
    char* out;
    size_t size;
    size_t len = 0;
    void put(char c) {
        if (len + 1 < size) out[len] = c;
        ++len;
    }
    void put(const char* s) {
        while (*s) put(*s++);
    }
    void put_int(int32_t n) {
        char digits[12];
        int k = 0;
        uint32_t u = n < 0 ? 0u - uint32_t(n) : uint32_t(n);
        do {
            digits[k++] = char('0' + u % 10);
            u /= 10;
        } while (u);
        if (n < 0) put('-');
        while (k) put(digits[--k]);
    }
    void put_hex8(uint32_t v) {
        for (int shift = 28; shift >= 0; shift -= 4) put("0123456789ABCDEF"[(v >> shift) & 15]);
    }
    size_t finish() {
        if (size) out[len < size ? len : size - 1] = 0;
        return len < size ? len : (size ? size - 1 : 0);
    }
};

void error_box_to_stderr(const char*, const char* text) {
    size_t n = std::strlen(text);
    while (n) {
        ssize_t w = ::write(2, text, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;
        }
        text += w;
        n -= size_t(w);
    }
    ssize_t r = ::write(2, "\n", 1);
    (void)r;
}

void (*quit_handlers[16])();
int quit_handler_count = 0;
bool quitting = false;

// ---- Faults ---------------------------------------------------------------------

uintptr_t stack_low = 0;  // lowest address of the main thread's stack
constexpr uintptr_t STACK_SLACK = 64 * 1024;
constexpr uintptr_t GUARD_GAP = 1024 * 1024;
constexpr size_t ALT_STACK_SIZE = 64 * 1024;

bool looks_like_stack_overflow(uintptr_t fault, uintptr_t sp) {
    // A fault right next to the stack pointer is the guard area being hit by
    // a push, a call or a new frame.
    uintptr_t distance = fault > sp ? fault - sp : sp - fault;
    if (sp && distance < STACK_SLACK) return true;
    // Or an access just below the main thread's lowest stack address.
    return stack_low && fault + GUARD_GAP >= stack_low && fault < stack_low + STACK_SLACK;
}

[[noreturn]] void fatal_from_signal(int32_t n, uintptr_t pc) {
    char text[256];
    size_t len = format_report(text, sizeof text - 1, n, reinterpret_cast<const void*>(pc));
    text[len++] = '\n';
    size_t done = 0;
    while (done < len) {
        ssize_t w = ::write(2, text + done, len - done);
        if (w <= 0) {
            if (w < 0 && errno == EINTR) continue;
            break;
        }
        done += size_t(w);
    }
    // The tracked heap is not freed here: the fault may have hit inside the C
    // allocator, and the process ends at once anyway.
    _exit(n);
}

void on_fault(int signo, siginfo_t* info, void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
    uintptr_t pc = 0, sp = 0, fp = 0;
#if defined(__x86_64__)
    pc = uintptr_t(uc->uc_mcontext.gregs[REG_RIP]);
    sp = uintptr_t(uc->uc_mcontext.gregs[REG_RSP]);
    fp = uintptr_t(uc->uc_mcontext.gregs[REG_RBP]);
#elif defined(__aarch64__)
    pc = uintptr_t(uc->uc_mcontext.pc);
    sp = uintptr_t(uc->uc_mcontext.sp);
    fp = uintptr_t(uc->uc_mcontext.regs[29]);
#else
    (void)uc;
    pc = uintptr_t(info->si_addr);
#endif
    system_record.debug.frame = reinterpret_cast<const void*>(fp);
    system_record.debug.stack = reinterpret_cast<const void*>(sp);
    bool overflow =
        signo == SIGSEGV && info->si_code > 0 && looks_like_stack_overflow(uintptr_t(info->si_addr), sp);
    // si_code is only meaningful for faults the kernel raised; a signal sent by
    // a process (si_code <= 0) maps to the signal's catch-all number.
    int code = info->si_code > 0 ? info->si_code : 0;
    fatal_from_signal(fault_error_number(signo, code, overflow), pc);
}

void on_interrupt(int) {
    _exit(0);
}

}  // namespace

ErrorBox error_box = error_box_to_stderr;

// ---- Throw and catch -------------------------------------------------------------

void throw_value(uint32_t value) {
    system_record.thrown = value;
    for (auto* f = detail::innermost; f; f = f->outer) {
        if (f->level >= value) throw LowLevelThrow{value};
    }
    // Nothing would catch it: the outermost frame's rule applies here.
    top_level_catch();
}

void top_level_catch() {
    if (system_record.thrown == QUIT_REQUEST) quit(0);
    quit(ERR_NO_CATCH, caller_address());
}

// ---- Fatal end ----------------------------------------------------------------

const char* error_message(int32_t n) {
    if (n >= 1 && n <= 34) return MESSAGES_1_34[n - 1];
    switch (n) {
        case 94:
            return "out of memory";
        case 95:
            return "no CATCH for THROW";
        case 98:
            return "assertion failed";
        case 99:
            return "unknown error";
        case 100:
            return "no value matched in CASE";
        case 101:
            return "no value matched in SWITCH";
        default:
            return "unknown error code!";
    }
}

size_t format_report(char* out, size_t size, int32_t n, const void* address) {
    uintptr_t a = reinterpret_cast<uintptr_t>(address);
    if (exe_known && a >= exe_low && a < exe_high) a -= exe_base;
    Writer w{out, size};
    w.put("*** Runtime Error ");
    w.put_int(n);
    w.put(": ");
    w.put(error_message(n));
    w.put("\n*** at: ");
    w.put_hex8(uint32_t(a));
    w.put('h');
    return w.finish();
}

void at_quit(void (*fn)()) {
    for (int i = 0; i < quit_handler_count; ++i) {
        if (quit_handlers[i] == fn) return;
    }
    if (quit_handler_count < 16) quit_handlers[quit_handler_count++] = fn;
}

void quit(int32_t n, const void* address) {
    if (quitting) _exit(n);  // a fault while quitting: end at once
    quitting = true;
    if (n != 0) {
        find_executable();
        char text[256];
        format_report(text, sizeof text, n, address);
        error_box(REPORT_TITLE, text);
    }
    end_process(n);
}

void end_process(int32_t code) {
    // The parent sees only the low eight bits of a status: a non-zero one
    // whose low bits are all zero (256) would read as success, so it ends
    // with 255.
    if (code != 0 && (code & 0xFF) == 0) code = 255;
    static bool ending = false;
    if (ending) _exit(code);
    ending = true;
    for (int i = quit_handler_count; i-- > 0;) quit_handlers[i]();
    free_all_tracked();
    std::exit(code);
}

// ---- Faults ---------------------------------------------------------------------

int32_t fault_error_number(int signo, int code, bool stack_overflow) {
    switch (signo) {
        case SIGSEGV:
            if (stack_overflow) return ERR_STACK_OVERFLOW;
            if (code == SEGV_ACCERR) return 1;
            if (code == SEGV_MAPERR) return 16;
            return 32;
        case SIGBUS:
            switch (code) {
                case BUS_ADRALN:
                    return 2;
                case BUS_ADRERR:
                    return 27;
                case BUS_OBJERR:
                    return 28;
                case BUS_MCEERR_AR:
                    return 29;
                case BUS_MCEERR_AO:
                    return 30;
                default:
                    return 34;
            }
        case SIGTRAP:
            return code == TRAP_TRACE ? 4 : 3;
        case SIGFPE:
            switch (code) {
                case FPE_FLTSUB:
                    return 5;
                case FPE_FLTDIV:
                    return 7;
                case FPE_FLTRES:
                    return 8;
                case FPE_FLTINV:
                    return 9;
                case FPE_FLTOVF:
                    return 10;
                case FPE_FLTUND:
                    return 12;
                case FPE_INTDIV:
                    return 13;
                case FPE_INTOVF:
                    return 14;
                default:
                    return 33;
            }
        case SIGILL:
            switch (code) {
                case ILL_PRVOPC:
                    return 15;
                case ILL_ILLOPC:
                    return 17;
                case ILL_BADSTK:
                    return ERR_STACK_OVERFLOW;
                case ILL_ILLOPN:
                    return 23;
                case ILL_ILLADR:
                    return 24;
                case ILL_ILLTRP:
                    return 25;
                case ILL_COPROC:
                    return 26;
                case ILL_PRVREG:
                    return 31;
                default:
                    return 17;
            }
        default:
            return 99;
    }
}

// The main thread's stack as the C library's thread attributes give it: it
// ends at the page after the C library's recorded stack end; its size is the
// stack limit less what lies above that page in the mapping holding it (page
// aligned), at most the room down to the mapping before. The mappings are
// read with plain reads and parsed by hand (the library's own way parses
// each line with a formatted scan, most of start-up's cost for this).
bool main_thread_stack(uintptr_t* low, size_t* size) {
    struct rlimit rl;
    if (getrlimit(RLIMIT_STACK, &rl) != 0) return false;
    const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t at = reinterpret_cast<uintptr_t>(__libc_stack_end);
    const uintptr_t stack_end = (at & -page) + page;
    // Each line starts "from-to " in hexadecimal; the rest is skipped.
    enum { FROM, TO, REST } state = FROM;
    uintptr_t from = 0, to = 0, last_to = 0;
    bool found = false;
    char buf[4096];
    for (;;) {
        ssize_t got = read(fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        for (ssize_t i = 0; i < got && !found; ++i) {
            const char ch = buf[i];
            if (ch == '\n') {
                state = FROM;
                from = to = 0;
                continue;
            }
            if (state == REST) {
                const void* nl = std::memchr(buf + i, '\n', size_t(got - i));
                if (!nl) break;
                i = static_cast<const char*>(nl) - buf - 1;
                continue;
            }
            int digit = ch >= '0' && ch <= '9' ? ch - '0' : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : -1;
            if (digit >= 0) {
                uintptr_t& n = state == FROM ? from : to;
                n = n << 4 | uintptr_t(digit);
            } else if (state == FROM && ch == '-') {
                state = TO;
            } else {
                if (state == TO && ch == ' ') {
                    if (from <= at && at < to) found = true;
                    else last_to = to;
                }
                state = REST;
            }
        }
        if (found) break;
    }
    close(fd);
    if (!found) return false;
    size_t n = size_t(rl.rlim_cur - (to - stack_end)) & -page;
    if (n > stack_end - last_to) n = stack_end - last_to;
    *low = stack_end - n;
    *size = n;
    return true;
}

bool thread_stack(uintptr_t* low, size_t* size) {
    struct Bounds {
        bool asked = false, known = false;
        uintptr_t low = 0;
        size_t size = 0;
    };
    thread_local Bounds bounds;
    if (!bounds.asked) {
        bounds.asked = true;
        pthread_attr_t attr;
        if (getpid() == gettid()) {
            bounds.known = main_thread_stack(&bounds.low, &bounds.size);
        } else if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            void* addr = nullptr;
            size_t n = 0;
            if (pthread_attr_getstack(&attr, &addr, &n) == 0) {
                bounds.known = true;
                bounds.low = reinterpret_cast<uintptr_t>(addr);
                bounds.size = n;
            }
            pthread_attr_destroy(&attr);
        }
    }
    *low = bounds.low;
    *size = bounds.size;
    return bounds.known;
}

void install_fault_handlers() {
    find_executable();

    size_t stack_size = 0;
    thread_stack(&stack_low, &stack_size);

    static void* alt_stack = nullptr;
    if (!alt_stack) {
        void* p = mmap(nullptr, ALT_STACK_SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            alt_stack = p;
            stack_t ss{};
            ss.ss_sp = p;
            ss.ss_size = ALT_STACK_SIZE;
            sigaltstack(&ss, nullptr);
        }
    }

    struct sigaction sa {};
    sa.sa_sigaction = on_fault;
    sigemptyset(&sa.sa_mask);
    // A fault inside the handler falls back to the default action.
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP}) sigaction(s, &sa, nullptr);

    struct sigaction si {};
    si.sa_handler = on_interrupt;
    sigemptyset(&si.sa_mask);
    sigaction(SIGINT, &si, nullptr);
}

// ---- Tracked heap -----------------------------------------------------------

namespace {

struct alignas(16) BlockHeader {
    BlockHeader* prev;
    BlockHeader* next;
    size_t size;  // requested size
};
static_assert(sizeof(BlockHeader) == 32);

constexpr uint64_t COUNTED_HEADER = 16;

BlockHeader* first_block = nullptr;
BlockHeader* last_block = nullptr;
uint64_t tracked_bytes = 0;
uint32_t tracked_count = 0;

void* data_of(BlockHeader* h) {
    return reinterpret_cast<uint8_t*>(h) + sizeof(BlockHeader);
}

// The header of a tracked block, or null when `p` is not one. Recent blocks
// are freed most often, so the walk starts at the newest.
BlockHeader* find_block(void* p) {
    if (!p) return nullptr;
    for (BlockHeader* h = last_block; h; h = h->prev) {
        if (data_of(h) == p) return h;
    }
    return nullptr;
}

void* allocate_at(size_t size, const void* at) {
    if (size > MAX_TRACKED_REQUEST) quit(ERR_OUT_OF_MEMORY, at);
    auto* h = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
    if (!h) quit(ERR_OUT_OF_MEMORY, at);
    h->prev = last_block;
    h->next = nullptr;
    h->size = size;
    if (last_block) {
        last_block->next = h;
    } else {
        first_block = h;
    }
    last_block = h;
    tracked_bytes += size + COUNTED_HEADER;
    ++tracked_count;
    return data_of(h);
}

void unlink_and_free(BlockHeader* h) {
    (h->prev ? h->prev->next : first_block) = h->next;
    (h->next ? h->next->prev : last_block) = h->prev;
    tracked_bytes -= h->size + COUNTED_HEADER;
    --tracked_count;
    std::free(h);
}

}  // namespace

void* allocate(size_t size) {
    return allocate_at(size, caller_address());
}

void* allocate_zeroed(size_t size) {
    void* p = allocate_at(size, caller_address());
    std::memset(p, 0, size);
    return p;
}

void* reallocate(void* p, size_t size) {
    const void* at = caller_address();
    if (!p) return allocate_at(size, at);
    BlockHeader* h = find_block(p);
    // Resizing something that is not a tracked block would corrupt the C heap.
    if (!h) quit(ERR_ASSERTION, at);
    if (size == 0) {
        unlink_and_free(h);
        return nullptr;
    }
    if (size > MAX_TRACKED_REQUEST) quit(ERR_OUT_OF_MEMORY, at);
    size_t old = h->size;
    auto* n = static_cast<BlockHeader*>(std::realloc(h, sizeof(BlockHeader) + size));
    if (!n) quit(ERR_OUT_OF_MEMORY, at);
    n->size = size;
    (n->prev ? n->prev->next : first_block) = n;
    (n->next ? n->next->prev : last_block) = n;
    tracked_bytes = tracked_bytes - old + size;
    return data_of(n);
}

void free(void* p) {
    if (BlockHeader* h = find_block(p)) unlink_and_free(h);
}

void free_all_tracked() {
    BlockHeader* h = first_block;
    while (h) {
        BlockHeader* next = h->next;
        std::free(h);
        h = next;
    }
    first_block = last_block = nullptr;
    tracked_bytes = 0;
    tracked_count = 0;
}

uint64_t tracked_heap_bytes() {
    return tracked_bytes;
}
uint32_t tracked_heap_count() {
    return tracked_count;
}

// ---- Small helpers ------------------------------------------------------------

bool c_strings_equal(const char* a, const char* b) {
    return std::strcmp(a, b) == 0;
}

double degrees_to_radians(double degrees, int mode) {
    double b = std::fmod(degrees, 360.0);
    if (b > 180.0 || b < -180.0) b += b < 0 ? 360.0 : -360.0;
    if (b > 90.0 || b < -90.0) {
        if (mode == 0) {
            b += b < 0 ? 180.0 : -180.0;
        } else if (mode == 2) {
            b = (b >= 0 ? 180.0 : -180.0) - b;
        }
    }
    return b * std::numbers::pi / 180.0;
}

// ---- Typed diagnostic printing -------------------------------------------

PrintItem::PrintItem(float f) : kind(FLOAT32), bits(std::bit_cast<uint32_t>(f)) {}
PrintItem::PrintItem(double d) : kind(FLOAT64), bits(std::bit_cast<uint64_t>(d)) {}

void print(std::initializer_list<PrintItem> items) {
    for (const PrintItem& it : items) {
        switch (it.kind) {
            case PrintItem::LOGIC:
                console::print_cstring(it.bits ? "true" : "false");
                break;
            case PrintItem::INTEGER:
                console::print_int(int32_t(uint32_t(it.bits)));
                break;
            case PrintItem::BYTE:
                console::print_char(uint8_t(it.bits));
                break;
            case PrintItem::FLOAT32:
                console::print_float32(std::bit_cast<float>(uint32_t(it.bits)));
                break;
            case PrintItem::FLOAT64:
                console::print_float(std::bit_cast<double>(it.bits));
                break;
            case PrintItem::TEXT:
                if (it.text) console::print_cstring(it.text);
                break;
            default:
                console::print_hex(uint32_t(it.bits));
                break;
        }
    }
}

void print_line(std::initializer_list<PrintItem> items) {
    print(items);
    console::print_cstring("\n");
}

void fill_repeat(void* address, uint32_t unit, uint32_t count) {
    if (unit == 0 || count <= 1) return;
    uint8_t* p = static_cast<uint8_t*>(address);
    uint64_t total = uint64_t(unit) * count;
    uint64_t done = unit;
    while (done < total) {
        uint64_t n = done < total - done ? done : total - done;
        std::memcpy(p + done, p, size_t(n));
        done += n;
    }
}

}  // namespace kiv::lowlevel
