// posix_spawn and poll-driven pipes (see process.h).
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

extern char** environ;

namespace kiv::platform::process {

namespace {

// The descriptors of one run; every one still open is closed at the end.
struct Fds {
    int fd[8];
    Fds() {
        for (int& f : fd) f = -1;
    }
    ~Fds() {
        for (int f : fd)
            if (f >= 0) ::close(f);
    }
    void close(int i) {
        if (fd[i] >= 0) ::close(fd[i]);
        fd[i] = -1;
    }
};
// Slots: the child's ends (0 in, 1 out, 2 err), this side's pipe ends
// (3 in, 4 out, 5 err), the null device (6).
enum { CHILD_IN, CHILD_OUT, CHILD_ERR, OUR_IN, OUR_OUT, OUR_ERR, NUL };

// Splits a command line into the program name and its arguments as a child
// started from a command line reads them. Words are separated by spaces and
// tabs. The program name ends at the first space or tab outside double
// quotes; its quotes are dropped and backslashes are kept as they are. In
// the arguments, double quotes group words and are dropped; 2n backslashes
// followed by a double quote give n backslashes and the quote groups, 2n + 1
// give n backslashes and a literal quote; backslashes before anything else
// stay; inside quotes a doubled double quote gives one literal quote.
std::vector<std::string> split_words(const std::string& s) {
    std::vector<std::string> words;
    size_t i = 0, n = s.size();
    auto blank = [&](size_t k) { return k < n && (s[k] == ' ' || s[k] == '\t'); };
    while (blank(i)) ++i;
    if (i == n) return words;
    std::string word;
    bool quoted = false;
    for (; i < n && (quoted || !blank(i)); ++i) {
        if (s[i] == '"')
            quoted = !quoted;
        else
            word += s[i];
    }
    words.push_back(word);
    for (;;) {
        while (blank(i)) ++i;
        if (i >= n) break;
        word.clear();
        quoted = false;
        while (i < n) {
            size_t slashes = 0;
            while (i < n && s[i] == '\\') ++slashes, ++i;
            if (i < n && s[i] == '"') {
                word.append(slashes / 2, '\\');
                if (slashes % 2) {
                    word += '"';
                } else if (quoted && i + 1 < n && s[i + 1] == '"') {
                    word += '"';
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
                continue;
            }
            word.append(slashes, '\\');
            if (i >= n || (!quoted && blank(i))) break;
            word += s[i++];
        }
        words.push_back(word);
    }
    return words;
}

// Starts `program` (a path) with the words as its arguments.
int spawn(pid_t& pid, const std::string& program, const std::vector<std::string>& words, const Fds& fds) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    for (int i = 0; i < 3; ++i) posix_spawn_file_actions_adddup2(&actions, fds.fd[i], i);
    // This process ignores SIGPIPE and SIGXFSZ; the child gets the defaults
    // back.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc;
}

// The file a program name stands for. A name with a slash is the path
// itself; else the first folder of PATH (an empty entry is the current
// folder; without PATH, /bin and /usr/bin) that holds an executable file of
// that name. Folders that cannot be searched are passed over, as are files
// that cannot be executed. ENOENT when no folder has the program, EACCES when
// only files that cannot be executed were found.
int find_program(const std::string& name, std::string& path) {
    if (name.find('/') != std::string::npos) {
        path = name;
        return 0;
    }
    const char* list = getenv("PATH");
    std::string folders = list ? list : "/bin:/usr/bin";
    int failure = ENOENT;
    size_t at = 0;
    for (;;) {
        size_t end = folders.find(':', at);
        std::string folder = folders.substr(at, end == std::string::npos ? std::string::npos : end - at);
        path = (folder.empty() ? std::string(".") : folder) + "/" + name;
        struct stat st;
        if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
            if (faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0) return 0;
            failure = EACCES;
        }
        if (end == std::string::npos) break;
        at = end + 1;
    }
    path.clear();
    return failure;
}

bool make_pipe(Fds& fds, int child, int ours, bool child_reads) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return false;
    fds.fd[child] = child_reads ? p[0] : p[1];
    fds.fd[ours] = child_reads ? p[1] : p[0];
    return fcntl(fds.fd[ours], F_SETFL, O_NONBLOCK) == 0;
}

// Writes the input and reads output and error together until all three are
// done. A child that stops reading its input (EPIPE) simply ends the input.
bool service(Fds& fds, Stream& in, Stream& out, Stream& err) {
    size_t sent = 0;
    if (fds.fd[OUR_IN] >= 0 && in.bytes.empty()) fds.close(OUR_IN);
    uint8_t chunk[65536];
    for (;;) {
        pollfd p[3];
        int n = 0, which[3];
        for (int slot : {OUR_IN, OUR_OUT, OUR_ERR}) {
            if (fds.fd[slot] < 0) continue;
            p[n] = pollfd{fds.fd[slot], short(slot == OUR_IN ? POLLOUT : POLLIN), 0};
            which[n++] = slot;
        }
        if (n == 0) return true;
        if (poll(p, nfds_t(n), -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (int k = 0; k < n; ++k) {
            if (!p[k].revents) continue;
            int slot = which[k];
            if (slot == OUR_IN) {
                ssize_t w = ::write(fds.fd[slot], in.bytes.data() + sent, in.bytes.size() - sent);
                if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                if (w < 0 && errno != EPIPE) return false;
                if (w > 0) sent += size_t(w);
                if (w < 0 || sent == in.bytes.size()) fds.close(slot);
                continue;
            }
            ssize_t r = ::read(fds.fd[slot], chunk, sizeof chunk);
            if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (r < 0) return false;
            if (r == 0) {
                fds.close(slot);
                continue;
            }
            std::vector<uint8_t>& to = slot == OUR_OUT ? out.bytes : err.bytes;
            to.insert(to.end(), chunk, chunk + r);
        }
    }
}

int64_t wait_for(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// A child nobody waits for is waited for by a detached thread of its own,
// so that it never stays behind as a zombie once it ends.
void reap_later(pid_t pid) {
    try {
        std::thread([pid] {
            int status;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the child is reaped when the process ends.
    }
}

}  // namespace

Result run(const std::string& command, bool shell, bool wait, bool console, Stream& in, Stream& out,
           Stream& err) {
    Result result;
    Fds fds;
    fds.fd[NUL] = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    // Input.
    if (in.kind == Stream::FILE) {
        fds.fd[CHILD_IN] = ::open(in.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fds.fd[CHILD_IN] < 0) {
            result.failure = INPUT_FILE;
            return result;
        }
    } else if (in.kind == Stream::BYTES) {
        if (!make_pipe(fds, CHILD_IN, OUR_IN, true)) {
            result.failure = START;
            return result;
        }
    }
    // Output and error.
    for (int i : {1, 2}) {
        Stream& s = i == 1 ? out : err;
        if (s.kind == Stream::FILE) {
            fds.fd[i] = ::open(s.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
            if (fds.fd[i] < 0) {
                result.failure = i == 1 ? OUTPUT_FILE : ERROR_FILE;
                return result;
            }
        } else if (s.kind == Stream::BYTES) {
            if (!make_pipe(fds, i, i + 3, false)) {
                result.failure = START;
                return result;
            }
        }
    }
    // A stream left alone goes to the null device, or with `console` stays
    // the parent's own (the terminal).
    bool inherited[3] = {false, false, false};
    for (int i = 0; i < 3; ++i) {
        if (fds.fd[i] >= 0) continue;
        inherited[i] = console;
        fds.fd[i] = console ? i : fds.fd[NUL];
    }
    if (fds.fd[NUL] < 0) {
        result.failure = START;
        return result;
    }
    // Only /shell reaches the shell. Without it the command's first word
    // is the program: a program that is not there is exit code 127, as the
    // shell would give, and the line is never handed to a shell instead
    // (that would run whatever the rest of it says).
    pid_t pid = 0;
    std::vector<std::string> words =
        shell ? std::vector<std::string>{"/bin/sh", "-c", command} : split_words(command);
    if (words.empty()) {
        result.value = 0;  // blanks only: nothing to run
        return result;
    }
    std::string program;
    int rc = find_program(words[0], program);
    if (rc == 0) rc = spawn(pid, program, words, fds);
    if (rc == ENOENT) {
        result.value = 127;
        return result;
    }
    if (rc != 0) {
        result.failure = START;
        return result;
    }
    // Only the child keeps its ends: end of input and output depend on it.
    // The parent's own standard streams stay open here.
    for (int i : {CHILD_IN, CHILD_OUT, CHILD_ERR}) {
        if (!inherited[i] && fds.fd[i] != fds.fd[NUL]) fds.close(i);
        fds.fd[i] = -1;
    }
    fds.close(NUL);
    bool redirected = in.kind != Stream::NONE || out.kind != Stream::NONE || err.kind != Stream::NONE;
    bool serviced = service(fds, in, out, err);
    if (!wait && !redirected) {
        reap_later(pid);
        result.value = pid;
        return result;
    }
    result.value = wait_for(pid);
    if (!serviced) result.failure = PIPE;
    return result;
}

}  // namespace kiv::platform::process
