// Fatal and informational reports, the trace file and the shared message buffers.
#include "diag/diag.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "common/export.hpp"
#include "common/unique_fd.hpp"
#include "qmrt/diag.h"

QMRT_VISIBLE char qm_errstr[500];
QMRT_VISIBLE char qm_calstr[500];

namespace qmrt::diag {

static_assert(sizeof qm_errstr == message_size && sizeof qm_calstr == message_size);

void assertion_failed(const char *function, const char *condition, std::source_location where) {
    log_die("%s: assertion failed: %s (%s, line %u)", function, condition, where.file_name(),
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

QMRT_EXPORT void log_die(const char *format, ...) {
    if (format == nullptr) qmrt::diag::assertion_failed("log_die", "msg != NULL");
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::abort();
}

QMRT_EXPORT int log_info(const char *format, ...) {
    qmrt::diag::require(format != nullptr, "log_info", "msg != NULL");
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    return std::fputc('\n', stderr);
}

QMRT_EXPORT int write_debug2(const char *text) {
    // A null text is nothing to append; it must not crash the caller.
    if (text != nullptr) qmrt::diag::append_trace(text);
    return 0;
}
