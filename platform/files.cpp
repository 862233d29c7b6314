// POSIX file layer (see files.h).
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kiv::platform::files {

namespace {

constexpr size_t CHUNK = 65536;

// One read, retried when interrupted; -1 on error.
ssize_t read_some(int fd, uint8_t* p, size_t n) {
    for (;;) {
        ssize_t r = ::read(fd, p, n);
        if (r >= 0 || errno != EINTR) return r;
    }
}

bool write_all(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    // Closes now and reports whether the close succeeded (a write error may
    // show only here).
    bool close() {
        int f = fd;
        fd = -1;
        return ::close(f) == 0;
    }
};

// The file a path finally names: symbolic links are followed (a relative
// link from the folder that holds it), so that a write replaces the target
// and leaves the link in place. A dangling link gives the path it points
// to; a loop or a chain too long gives the path as it was.
std::string resolve_links(const char* path) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::string target(size_t(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
        if (n < 0 || size_t(n) >= target.size()) return path;
        target.resize(size_t(n));
        if (!target.empty() && target[0] != '/') {
            size_t slash = p.rfind('/');
            if (slash != std::string::npos) target = p.substr(0, slash + 1) + target;
        }
        p = target;
    }
    return path;
}

}  // namespace

bool read(const char* path, int64_t part, int64_t seek, const std::function<uint8_t*(size_t)>& room, size_t& got) {
    got = 0;
    Fd f(::open(path, O_RDONLY | O_CLOEXEC));
    if (f.fd < 0) return false;
    struct stat st;
    if (fstat(f.fd, &st) != 0 || S_ISDIR(st.st_mode)) return false;
    const bool sized = S_ISREG(st.st_mode) && st.st_size > 0;
    if (part == 0) {
        room(0);
        return true;
    }
    if (seek > 0) {
        if (sized) {
            if (seek >= st.st_size) {
                room(0);
                return true;
            }
            if (lseek(f.fd, off_t(seek), SEEK_SET) < 0) return false;
        } else {
            // No size to seek in: skip the bytes by reading them.
            std::vector<uint8_t> skip(CHUNK);
            int64_t left = seek;
            while (left > 0) {
                ssize_t r = read_some(f.fd, skip.data(), size_t(std::min<int64_t>(left, CHUNK)));
                if (r < 0) return false;
                if (r == 0) {
                    room(0);
                    return true;
                }
                left -= r;
            }
        }
    }
    const int64_t limit = part > 0 ? part : INT64_MAX;
    if (sized) {
        // Straight into the caller's memory, in one pass.
        const size_t want = size_t(std::min(limit, st.st_size - std::max<int64_t>(seek, 0)));
        uint8_t* p = room(want);
        while (got < want) {
            ssize_t r = read_some(f.fd, p + got, std::min(want - got, size_t(1) << 30));
            if (r < 0) return false;
            if (r == 0) break;
            got += size_t(r);
        }
        return true;
    }
    // No size: read until end of input (or the limit), once, never rewound.
    // The bytes gather in pieces of growing size, so that no piece is copied
    // before the end and the memory held stays close to the count read.
    std::vector<std::vector<uint8_t>> pieces;
    size_t have = 0;
    while (int64_t(have) < limit) {
        if (pieces.empty() || pieces.back().size() == pieces.back().capacity()) {
            size_t next = std::min<size_t>(std::max<size_t>(CHUNK, have / 4), size_t(64) << 20);
            pieces.emplace_back();
            pieces.back().reserve(size_t(std::min<int64_t>(limit - int64_t(have), int64_t(next))));
        }
        std::vector<uint8_t>& piece = pieces.back();
        size_t at = piece.size();
        size_t want = std::min<size_t>(piece.capacity() - at, size_t(limit - int64_t(have)));
        piece.resize(at + want);
        ssize_t r = read_some(f.fd, piece.data() + at, want);
        if (r < 0) return false;
        piece.resize(at + size_t(r > 0 ? r : 0));
        if (r == 0) break;
        have += size_t(r);
    }
    uint8_t* p = room(have);
    for (const std::vector<uint8_t>& piece : pieces) {
        if (piece.empty()) continue;
        std::memcpy(p, piece.data(), piece.size());
        p += piece.size();
    }
    got = have;
    return true;
}

bool read(const char* path, int64_t part, int64_t seek, std::vector<uint8_t>& out) {
    out.clear();
    size_t got = 0;
    bool ok = read(path, part, seek, [&](size_t n) {
        out.resize(n);
        return out.data();
    }, got);
    out.resize(ok ? got : 0);
    return ok;
}

namespace {

// Writes at the end (APPEND) or at `seek` (AT_OFFSET), creating a missing
// file. A write that fails part way (a full disk, a size limit) is cut back
// to the old size, so that no partial tail stays behind.
bool write_into(const char* path, const uint8_t* data, size_t count, WriteMode mode, int64_t seek) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == APPEND ? O_APPEND : 0);
    Fd f(::open(path, flags, 0666));
    if (f.fd < 0) return false;
    struct stat st;
    if (fstat(f.fd, &st) != 0 || S_ISDIR(st.st_mode)) return false;
    if (mode == AT_OFFSET && seek > 0 && lseek(f.fd, off_t(seek), SEEK_SET) < 0) return false;
    if (!write_all(f.fd, data, count)) {
        if (S_ISREG(st.st_mode)) {
            int saved = errno;
            struct stat now;
            if (fstat(f.fd, &now) == 0 && now.st_size > st.st_size)
                static_cast<void>(ftruncate(f.fd, st.st_size));
            errno = saved;
        }
        return false;
    }
    return f.close();
}

// Replaces the content of the file itself (its inode): every hard link sees
// the new content, and owner, group, mode and extended attributes stay. A
// regular file is first grown to its new size, so that a full disk or a
// size limit fails before any old byte is overwritten; then the bytes go
// from the start and the file is cut to their count. Other files (devices,
// pipes) are just written.
bool write_in_place(const char* path, const uint8_t* data, size_t count) {
    Fd f(::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    if (f.fd < 0) return false;
    struct stat st;
    if (fstat(f.fd, &st) != 0 || S_ISDIR(st.st_mode)) return false;
    if (!S_ISREG(st.st_mode)) return write_all(f.fd, data, count) && f.close();
    if (off_t(count) > st.st_size) {
        int rc = posix_fallocate(f.fd, 0, off_t(count));
        if (rc != 0 && rc != EOPNOTSUPP && rc != EINVAL) {
            static_cast<void>(ftruncate(f.fd, st.st_size));
            errno = rc;
            return false;
        }
    }
    bool ok = write_all(f.fd, data, count);
    if (ok && off_t(count) < st.st_size) ok = ftruncate(f.fd, off_t(count)) == 0;
    if (!ok) {
        // Never leave the file longer than either content.
        int saved = errno;
        struct stat now;
        off_t keep = std::max(st.st_size, off_t(count));
        if (fstat(f.fd, &now) == 0 && now.st_size > keep) static_cast<void>(ftruncate(f.fd, keep));
        errno = saved;
        return false;
    }
    return f.close();
}

// Gives the file open as `fd` the extended attributes of the file at
// `from` (its access control lists among them). False when one of them
// cannot be read or given.
bool copy_attributes(const char* from, int fd) {
    ssize_t n = listxattr(from, nullptr, 0);
    if (n <= 0) return n == 0 || errno == ENOTSUP;
    std::vector<char> names(static_cast<size_t>(n));
    n = listxattr(from, names.data(), names.size());
    if (n < 0) return false;
    std::vector<char> value, now;
    for (size_t at = 0; at < size_t(n); at += std::strlen(names.data() + at) + 1) {
        const char* name = names.data() + at;
        ssize_t length = getxattr(from, name, nullptr, 0);
        if (length < 0) return false;
        value.resize(size_t(length));
        length = getxattr(from, name, value.data(), value.size());
        if (length < 0) return false;
        value.resize(size_t(length));
        // One the new file was given already (a security label) is left be.
        ssize_t had = fgetxattr(fd, name, nullptr, 0);
        if (had == length) {
            now.resize(size_t(had));
            if (fgetxattr(fd, name, now.data(), now.size()) == had && now == value) continue;
        }
        if (fsetxattr(fd, name, value.data(), value.size(), 0) != 0) return false;
    }
    return true;
}

// The folder part of a path with its slash ("" for a bare name).
std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

bool write(const char* path, const uint8_t* data, size_t count, WriteMode mode, int64_t seek) {
    if (mode != REPLACE) return write_into(path, data, count, mode, seek);
    // A symbolic link is followed: the file it names is replaced.
    const std::string target = resolve_links(path);
    path = target.c_str();
    struct stat st;
    bool exists = ::stat(path, &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return false;
    // A file we may not write is not replaced behind its back either. (A
    // program that runs can still be replaced: that is done by renaming.)
    if (exists && faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0 && errno != ETXTBSY) return false;
    // Written in place: a file that is not a regular one (renaming over a
    // device or a pipe would be wrong), and one with more than one link (a
    // new file would leave the other names on the old content).
    if (exists && (!S_ISREG(st.st_mode) || st.st_nlink > 1)) return write_in_place(path, data, count);
    // Else the new content goes to a temporary file in the same folder that
    // is renamed over the name once every byte is written: a failure or a
    // crash leaves the old content whole. Its name is short, so that it fits
    // beside a name of any legal length.
    std::string temp = folder_of(target) + ".kiv.XXXXXX";
    Fd f(mkostemp(temp.data(), O_CLOEXEC));
    if (f.fd < 0) {
        // No temporary file possible in this folder (a folder we may not
        // write to, a path too long): the file itself is written.
        if (errno == EACCES || errno == EPERM || errno == EROFS || errno == ENAMETOOLONG)
            return write_in_place(path, data, count);
        return false;
    }
    mode_t perms;
    if (exists) {
        // The new file takes the old one's owner and group first (a change
        // of owner clears the set-id bits and file capabilities), then its
        // extended attributes, then its mode. A file whose owner, group or
        // attributes this process cannot give is written in place.
        struct stat made;
        if (fstat(f.fd, &made) != 0 ||
            ((made.st_uid != st.st_uid || made.st_gid != st.st_gid) && fchown(f.fd, st.st_uid, st.st_gid) != 0) ||
            !copy_attributes(path, f.fd)) {
            f.close();
            ::unlink(temp.c_str());
            return write_in_place(path, data, count);
        }
        perms = st.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        perms = 0666 & ~mask;
    }
    bool ok = fchmod(f.fd, perms) == 0 && write_all(f.fd, data, count) && fdatasync(f.fd) == 0;
    ok = f.close() && ok;
    if (ok) ok = ::rename(temp.c_str(), path) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

bool list_dir(const char* path, std::vector<std::string>& names) {
    names.clear();
    DIR* d = opendir(path);
    if (!d) return false;
    int dfd = dirfd(d);
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        bool dir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st;
            dir = fstatat(dfd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (dir) name += '/';
        names.push_back(std::move(name));
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return true;
}

bool remove(const char* path, bool dir) {
    return (dir ? ::rmdir(path) : ::unlink(path)) == 0;
}

RenameResult rename(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return RENAMED;
    if (errno == EEXIST || errno == ENOTEMPTY) return EXISTS;
    if (errno != EINVAL && errno != ENOSYS) return FAILED;
    // The file system cannot refuse a replacement itself: a hard link fails
    // on an existing target; folders are checked first.
    struct stat st;
    if (::lstat(to, &st) == 0) return EXISTS;
    if (::lstat(from, &st) != 0) return FAILED;
    if (S_ISDIR(st.st_mode)) return ::rename(from, to) == 0 ? RENAMED : FAILED;
    if (::link(from, to) != 0) return errno == EEXIST ? EXISTS : FAILED;
    return ::unlink(from) == 0 ? RENAMED : FAILED;
}

bool info(const char* path, Info& out) {
    struct stat st;
    if (::stat(path, &st) != 0) return false;
    out.is_dir = S_ISDIR(st.st_mode);
    out.size = int64_t(st.st_size);
    out.mtime_seconds = int64_t(st.st_mtim.tv_sec);
    out.mtime_nanoseconds = int32_t(st.st_mtim.tv_nsec);
    return true;
}

}  // namespace kiv::platform::files
