// File and directory I/O on POSIX: whole and partial reads, writes that
// replace a file only once its new content is complete (or in place where a
// new file would be wrong), directory listings,
// deletion, renaming without replacing, directory creation and the
// modification time.
//
// Paths are NUL-terminated bytes as the system takes them (a name need not
// be UTF-8; unicode::to_system_bytes makes them from text). Results are plain success flags: the
// datatype layer turns them into the language's errors. Sizes and offsets
// are 64-bit throughout.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kiv::platform::files {

// Reads from `seek` (negative: from the start) at most `part` bytes
// (negative: all) into `out`. Works on files that report no size (pipes,
// FIFOs, /proc files, terminals): they are read once until end of input and
// never rewound; a seek on them skips that many bytes. A seek at or past the
// end gives no bytes. False when the file cannot be opened or read.
bool read(const char* path, int64_t part, int64_t seek, std::vector<uint8_t>& out);
// The same into memory the caller gives: `room(n)` is called once, when the
// count is known, and must answer space for n bytes; `got` receives the
// count read (at most n: a file that shrinks meanwhile gives less).
bool read(const char* path, int64_t part, int64_t seek, const std::function<uint8_t*(size_t)>& room, size_t& got);

enum WriteMode { REPLACE, APPEND, AT_OFFSET };
// REPLACE writes a temporary file in the same folder and renames it over the
// target only once every byte is written; the new file takes the old one's
// owner, group, extended attributes (access lists) and permission bits, and
// a failure leaves the old content untouched. A file is written in place
// instead when that is the sound way: it has more than one link (all its
// names must see the new content), it is no regular file, its owner, group
// or attributes cannot be given to a new file, or the folder cannot take a
// temporary file (a folder we may not write to); it is then grown first, so
// that a full disk fails before old bytes change. A file this process may
// not write is never replaced. A symbolic link is followed: the file it
// names is written, the link stays. APPEND writes at the end, AT_OFFSET at
// `seek` (both create a missing file); a write of theirs that fails part
// way is cut back to the old size. False on failure.
bool write(const char* path, const uint8_t* data, size_t count, WriteMode mode, int64_t seek);
inline bool write(const char* path, const std::vector<uint8_t>& data, WriteMode mode, int64_t seek) {
    return write(path, data.data(), data.size(), mode, seek);
}

// The names in a folder, sorted, without "." and "..", folders ending in "/".
bool list_dir(const char* path, std::vector<std::string>& names);

// rmdir when `dir`, else unlink.
bool remove(const char* path, bool dir);
// Renames; an existing target is never replaced (both are left as they
// were). EXISTS tells that case from the other failures.
enum RenameResult { RENAMED, EXISTS, FAILED };
RenameResult rename(const char* from, const char* to);

struct Info {
    bool is_dir = false;
    int64_t size = 0;
    int64_t mtime_seconds = 0;  // UTC seconds since 1970
    int32_t mtime_nanoseconds = 0;
};
// stat (links followed); false when there is no such entry.
bool info(const char* path, Info& out);

}  // namespace kiv::platform::files
