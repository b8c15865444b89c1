// Fatal and informational reports, the trace file and the shared message buffers.
#include "diag/diag.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "common/unique_fd.hpp"
#include "qmrt/diag.h"

namespace qmrt::diag {

static_assert(sizeof qm_errstr == message_size && sizeof qm_calstr == message_size);

namespace {

int print_line(const char *format, std::va_list args) {
    std::vfprintf(stderr, format, args);
    return std::fputc('\n', stderr);
}

}  // namespace

void die(const char *format, std::va_list args) {
    if (format == nullptr) assertion_failed("log_die", "msg != NULL");
    print_line(format, args);
    std::abort();
}

void fatal(const char *format, ...) {
    va_list args;
    va_start(args, format);
    die(format, args);
}

int inform(const char *format, std::va_list args) {
    require(format != nullptr, "log_info", "msg != NULL");
    return print_line(format, args);
}

void assertion_failed(const char *function, const char *condition, SourceLocation where) {
    // Files are named from the project's root. A build that also maps the root to "."
    // (Debian's packages do, and the compiler may take that map first) names them "./src/...".
    const char *file = where.file_name();
    if (file[0] == '.' && file[1] == '/') file += 2;
    fatal("%s: assertion failed: %s (%s, line %u)", function, condition, file,
          static_cast<unsigned>(where.line()));
}

void format_message(char (&buffer)[message_size], const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, message_size, format, args);
    va_end(args);
}

void print_message(const char *buffer) {
    std::printf("%s", buffer);
}

namespace {

// The lock cells the trace must keep clear of (".LOCK", ".LOCK_SHM", ".VF_LOCK"), named by
// the lock service as it opens them. A lock file's descriptor is never a standard
// stream's, so those never count.
constexpr std::size_t max_lock_cells = 3;
const int *lock_cells[max_lock_cells] = {};

bool is_lock_file(const struct stat &file) {
    for (const int *cell : lock_cells) {
        struct stat lock {};
        if (cell != nullptr && *cell > STDERR_FILENO && ::fstat(*cell, &lock) == 0 &&
            lock.st_dev == file.st_dev && lock.st_ino == file.st_ino)
            return true;
    }
    return false;
}

void report_trace_failure(const char *format, int error) {
    format_message(qm_calstr, format, trace_file, error);
    print_message(qm_calstr);
}

// A write to a FIFO or socket whose reader has gone raises SIGPIPE, which would end the
// program for the sake of a trace line: while it runs the signal is held, and one it
// raised is taken back, so the write fails with EPIPE instead.
class PipeSignalHeld {
public:
    PipeSignalHeld() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    PipeSignalHeld(const PipeSignalHeld &) = delete;
    PipeSignalHeld &operator=(const PipeSignalHeld &) = delete;
    ~PipeSignalHeld() {
        if (!was_pending_) {
            const timespec now{};
            while (sigtimedwait(&pipe_, nullptr, &now) == -1 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }

private:
    sigset_t pipe_{}, previous_{};
    bool was_pending_ = false;
};

// The trace file opened for appending, or an invalid descriptor with errno set. A FIFO
// without a reader fails at once (ENXIO) instead of waiting for one. A file the process
// holds record locks on is refused (EBUSY): closing a descriptor of it would drop them.
UniqueFd open_trace(struct stat &file) {
    if (lock_cells[0] != nullptr && ::stat(trace_file, &file) == 0 && is_lock_file(file)) {
        errno = EBUSY;
        return UniqueFd();
    }
    // Created with 0666 less the umask, as fopen(name, "a+") creates it.
    UniqueFd fd(::open(trace_file,
                       O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (!fd || ::fstat(fd.get(), &file) != 0) return UniqueFd();
    if (is_lock_file(file)) {
        // It became a lock file after the check above. Closing this descriptor would drop
        // the locks, so it is kept open for the life of the process instead.
        static_cast<void>(fd.release());
        errno = EBUSY;
        return UniqueFd();
    }
    // A reader is there: from here on a FIFO's writes wait for it to take the text.
    if (!S_ISREG(file.st_mode)) {
        const int flags = ::fcntl(fd.get(), F_GETFL);
        if (flags == -1 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) == -1) return UniqueFd();
    }
    return fd;
}

// Writes the whole text; false with errno set when a write fails (a full disk, an I/O
// error, a reader gone). The loop only finishes a write that a signal cut short.
bool write_whole(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = EIO;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

void keep_trace_off(const int &lock_cell) noexcept {
    for (const int *&cell : lock_cells) {
        if (cell == &lock_cell) return;
        if (cell == nullptr) {
            cell = &lock_cell;
            return;
        }
    }
}

void append_trace(std::string_view text) {
    struct stat file {};
    UniqueFd fd = open_trace(file);
    if (!fd) {
        report_trace_failure("Gagal membuka file \"%s\", system error = %d\n", errno);
        return;
    }
    // One write per text keeps texts of concurrent processes whole.
    int error = 0;
    {
        std::optional<PipeSignalHeld> held;
        if (S_ISFIFO(file.st_mode) || S_ISSOCK(file.st_mode)) held.emplace();
        if (!write_whole(fd.get(), text)) error = errno;
    }
    if (error != 0) report_trace_failure("Gagal menulis file \"%s\", system error = %d\n", error);
}

void trace_line(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(qm_calstr, message_size, format, args);
    va_end(args);
    append_trace(qm_calstr);
}

}  // namespace qmrt::diag
