// Fatal and informational reports, the trace file and the shared message buffers.
#include "diag/diag.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

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

void assertion_failed(const char *function, const char *condition, std::source_location where) {
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

void print_message(const char *buffer) { std::printf("%s", buffer); }

void append_trace(std::string_view text) {
    // The same opening as fopen(name, "a+"): created with 0666 less the umask.
    UniqueFd fd(::open(trace_file, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (!fd) {
        format_message(qm_calstr, "Gagal membuka file \"%s\", system error = %d\n", trace_file,
                       errno);
        print_message(qm_calstr);
        return;
    }
    // One write per text keeps texts of concurrent processes whole; the loop only
    // finishes a write that a signal or a full disk cut short.
    while (!text.empty()) {
        ssize_t written = ::write(fd.get(), text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

void trace_line(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(qm_calstr, message_size, format, args);
    va_end(args);
    append_trace(qm_calstr);
}

}  // namespace qmrt::diag
