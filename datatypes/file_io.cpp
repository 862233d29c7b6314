// The file! actions that touch the file system: read (read/info describes
// the entry), write, delete, query and rename, over the POSIX layer in platform/files. Text is UTF-8 with LF
// line ends on this system; reading folds CR LF and a lone CR to LF.
#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/fixed_words.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/lexer_values.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/system_object.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "platform/files.h"
#include "runtime/arena.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::file {

std::string os_path(const Cell* file) {
    std::string path = unicode::to_system_bytes(file);
    if (path.empty() || path.find('\0') != std::string::npos) fire({"access", "cannot-open"}, *file);
    return path;
}

namespace {

namespace files = platform::files;

// The result cell of the actions that answer a plain value (the generic
// entry copies it into the return slot at once).
Cell* answer(Cell v) {
    static Cell result;
    result = v;
    return &result;
}

bool ends_with(const std::string& s, const char* tail) {
    size_t n = std::char_traits<char>::length(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// A name that stands for a folder: it ends with a slash (or backslash), or
// is "." or "..", or ends with a slash and "." or "..".
bool dir_name(const std::string& s) {
    if (s.empty()) return false;
    if (s.back() == '/' || s.back() == '\\') return true;
    if (s == "." || s == "..") return true;
    for (const char* t : {"/.", "\\.", "/..", "\\.."})
        if (ends_with(s, t)) return true;
    return false;
}

// A refinement's number as a whole count; -1 when the refinement is absent.
int64_t count_of(Cell* arg) {
    if (!arg) return -1;
    if (arg->type() == TYPE_INTEGER) return integer::get(arg);
    double d = arg->get_f64();
    if (!(d > -9.2e18 && d < 9.2e18)) return d > 0 ? INT64_MAX : -1;
    return int64_t(d);
}

// The most bytes a read may give: series hold at most 2^31 - 1 bytes, and a
// read must fit in the series arena while its bytes are also held outside
// it (an arena reduced by an address-space limit took half of what the
// limit left, the other half is for everything else): half the arena.
uint64_t most_bytes() {
    return std::min<uint64_t>(INT32_MAX, arena::reserved_bytes / 2);
}

// A longer read is refused rather than cut.
void check_length(size_t n) {
    if (n > most_bytes()) fire({"script", "too-long"});
}

// The count to ask the file layer for: the part asked (all when none), but
// never more than one byte past the most a read may give, so that an endless
// source (a device, a pipe that never closes) stops there and is refused
// instead of growing until memory runs out.
int64_t bounded_part(Cell* part) {
    int64_t n = count_of(part);
    const uint64_t most = most_bytes();
    return n < 0 || uint64_t(n) > most ? int64_t(most + 1) : n;
}

// Folder listing: a new block of file! values, folders ending in "/". The
// caller's value is left as it was.
Cell* read_dir(Cell* file, std::string path) {
    if (path.back() == '.') path += '/';
    std::vector<std::string> names;
    if (!files::list_dir(path.c_str(), names)) fire({"access", "cannot-open"}, *file);
    Cell* blk = block::push_only(int32_t(std::min<size_t>(names.size(), INT32_MAX)));
    for (const std::string& n : names) {
        Cell* f = string::load_in(reinterpret_cast<const uint8_t*>(n.data()), uint32_t(n.size()), blk,
                                  string::ENC_SYSTEM);
        f->set_type(TYPE_FILE);
    }
    return blk;
}

// Each LF ends a line (a CR right before it is dropped); bytes after the last
// LF form a last line; text ending in LF gives no extra empty line.
Cell* lines_to_block(const std::vector<uint8_t>& bytes) {
    Cell* blk = block::push_only(16);
    size_t start = 0, n = bytes.size();
    for (size_t i = 0; i <= n; ++i) {
        if (i < n && bytes[i] != '\n') continue;
        if (i == n && start == n) break;
        size_t end = i;
        if (i < n && end > start && bytes[end - 1] == '\r') --end;
        string::load_in(bytes.data() + start, uint32_t(end - start), blk, string::ENC_UTF8);
        start = i + 1;
    }
    return blk;
}

Cell* push_info(Cell* file, const std::string& path);

Outcome read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    if (as) fire({"internal", "not-done"});
    std::string path = os_path(source);
    if (info) return push_info(source, path);
    if (dir_name(path)) return read_dir(source, path);
    if (binary) {
        // Straight into the new binary!: nothing allocates while it is filled.
        Cell* out = stack::push(none::cell());
        size_t got = 0;
        bool ok = files::read(path.c_str(), bounded_part(part), count_of(seek), [&](size_t n) {
            check_length(n);
            uint8_t* at = nullptr;
            Cell bin = *binary::push_room(uint32_t(n), at);
            *out = bin;
            stack::top = out + 1;
            return at;
        }, got);
        if (!ok) fire({"access", "cannot-open"}, *source);
        binary::cut(out, uint32_t(got));
        return out;
    }
    std::vector<uint8_t> bytes;
    size_t got = 0;
    bool ok = files::read(path.c_str(), bounded_part(part), count_of(seek), [&](size_t n) {
        check_length(n);  // before the copy: an endless source stops here
        bytes.resize(n);
        return bytes.data();
    }, got);
    if (!ok) fire({"access", "cannot-open"}, *source);
    bytes.resize(got);
    return push_read_value(bytes, binary, lines);
}

// The bytes a value writes: a string-like value as UTF-8 (at most `part`
// characters), a binary! as its bytes from the index (cut to `part`), any
// other value formed.
void append_bytes(Cell* value, int64_t part, std::vector<uint8_t>& out) {
    int32_t limit = part < 0 ? -1 : int32_t(std::min<int64_t>(part, INT32_MAX));
    if (value->type() == TYPE_BINARY) {
        binary::gather(value, limit, false, false, out);
        return;
    }
    stack::TopMark mark;
    Cell* text = is_any_string(value->type()) ? value : string::push_formed(*value);
    int32_t length = limit;
    const uint8_t* p = unicode::to_utf8(text, &length);
    out.insert(out.end(), p, p + length);
}

Outcome write(Cell* destination, Cell* data, bool /*binary*/, bool lines, bool /*info*/, bool append,
              Cell* part, Cell* seek, Cell* allow, Cell* as) {
    if (allow || as) fire({"internal", "not-done"});
    if (part && part->type() != TYPE_INTEGER)
        fire({"script", "invalid-refine-arg"}, word::load("part"), *part);
    const int64_t limit = part ? integer::get(part) : -1;
    if (part && limit < 0) return answer(unset::cell());
    std::string path = os_path(destination);
    std::vector<uint8_t> bytes;
    const bool direct = !lines && !part && data->type() == TYPE_BINARY;
    if (lines && data->type() == TYPE_BLOCK) {
        Cell blk = *data;
        uint32_t n = block::cells_length(&blk);
        for (uint32_t i = 0; i < n; ++i) {
            Cell item = *block::cells_at(&blk, blk.w1 + i);
            append_bytes(&item, -1, bytes);
            bytes.push_back('\n');
        }
    } else if (!direct) {
        append_bytes(data, limit, bytes);
        if (lines) bytes.push_back('\n');
    }
    const int64_t at = count_of(seek);
    files::WriteMode mode = append ? files::APPEND : seek ? files::AT_OFFSET : files::REPLACE;
    bool ok;
    if (direct) {
        // A whole binary! is written from its own buffer: nothing allocates
        // in the series memory while the bytes are written.
        uint32_t count = 0;
        const uint8_t* p = binary::bytes_at(data, count);
        ok = files::write(path.c_str(), p, count, mode, at);
    } else {
        ok = files::write(path.c_str(), bytes, mode, at);
    }
    if (!ok) fire({"access", "cannot-open"}, *destination);
    return answer(unset::cell());
}

Outcome delete_(Cell* file) {
    std::string path = os_path(file);
    return answer(logic::cell(files::remove(path.c_str(), dir_name(path))));
}

// The last-write time as a UTC date! with its time (milliseconds kept).
bool date_of(const files::Info& info, Cell& date) {
    struct tm t;
    time_t secs = time_t(info.mtime_seconds);
    if (!gmtime_r(&secs, &t)) return false;
    double time = t.tm_hour * 3600.0 + t.tm_min * 60.0 + t.tm_sec + (info.mtime_nanoseconds / 1000000) / 1000.0;
    date = Cell{TYPE_DATE, 0, 0, 0};
    lexer::values::make_date(&date, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, time, 0, 0, true);
    return true;
}

// The date of last change; none when there is no such entry, or when a name
// ending in "/" is not a folder.
Outcome query(Cell* file) {
    std::string path = os_path(file);
    files::Info info;
    Cell date;
    if (!files::info(path.c_str(), info) || (path.back() == '/' && !info.is_dir) || !date_of(info, date))
        return answer(none::cell());
    return answer(date);
}

// read/info: the entry described by a copy of system/standard/file-info:
// name (the file!), size in bytes (float! from 2 GiB on, so no size is cut),
// date of last change, type ('file or 'dir). A missing entry is access
// cannot-open.
Cell* push_info(Cell* file, const std::string& path) {
    files::Info info;
    Cell date;
    if (!files::info(path.c_str(), info) || (path.back() == '/' && !info.is_dir) || !date_of(info, date))
        fire({"access", "cannot-open"}, *file);
    Cell* name = stack::push(*file);
    Cell* proto = system_object::field({"standard", "file-info"});
    if (!proto || proto->type() != TYPE_OBJECT) fire({"access", "cannot-open"}, *file);
    Cell p = *proto;
    Cell* result = stack::push(none::cell());
    object::copy_into(&p, result, false, false);
    auto set = [&](const char* field, const Cell& v) {
        Cell w = word::load(field);
        int32_t at = object::find_word(result, &w);
        if (at >= 0) *context::values_at(object::context_of(result), uint32_t(at)) = v;
    };
    set("name", *name);
    set("size", info.size <= INT32_MAX ? integer::cell(int32_t(info.size)) : float_::cell(double(info.size)));
    set("date", date);
    set("type", word::load(info.is_dir ? "dir" : "file"));
    *name = *result;
    stack::top = name + 1;
    return name;
}

// True when renamed. An existing target is never replaced: false, both
// files left as they were, as for any other failure (the caller decides
// whether to raise).
Outcome rename(Cell* from, Cell* to) {
    std::string a = os_path(from), b = os_path(to);
    return answer(logic::cell(files::rename(a.c_str(), b.c_str()) == files::RENAMED));
}

}  // namespace

Cell* push_read_value(const std::vector<uint8_t>& bytes, bool binary, bool lines) {
    check_length(bytes.size());
    if (binary) return binary::push_bytes(bytes.data(), uint32_t(bytes.size()));
    if (lines) return lines_to_block(bytes);
    Cell* out = stack::push_slot();
    *out = Cell{TYPE_NONE, 0, 0, 0};
    Off node = unicode::load_utf8(bytes.data(), uint32_t(bytes.size()), 0, nullptr, true);
    *out = Cell{TYPE_STRING, 0, node, 0};
    return out;
}

void register_io(datatype::Registration& r) {
    r.set<ACT_READ>(read);
    r.set<ACT_WRITE>(write);
    r.set<ACT_DELETE>(delete_);
    r.set<ACT_QUERY>(query);
    r.set<ACT_RENAME>(rename);
}

}  // namespace kiv::file
