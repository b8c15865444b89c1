// Cores of the diagnostics: the fatal and informational reports, the fatal assertion
// report, bounded formatting into the shared message buffers, and the one-write append
// to the trace file.
#pragma once

#include <cstdarg>
#include <source_location>
#include <string_view>

namespace qmrt::diag {

inline constexpr std::size_t message_size = 500;
inline constexpr const char *trace_file = "debug2";

// log_die: the formatted text and a newline on standard error, then an abort. A null
// format is the fatal assertion report "msg != NULL" naming log_die.
[[noreturn]] void die(const char *format, std::va_list args);

// The fatal report with the library's own format text.
[[noreturn]] void fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));

// log_info: the formatted text and a newline on standard error; returns the result of
// writing the newline. A null format is the fatal assertion report naming log_info.
int inform(const char *format, std::va_list args);

// Ends the process with "<function>: assertion failed: <condition> (<file>, line <n>)".
// `function` is the service that owns the check, which is not always the caller.
[[noreturn]] void assertion_failed(const char *function, const char *condition,
                                   std::source_location where = std::source_location::current());

// Checks an invariant of `function`; a broken one ends in the fatal assertion report.
inline void require(bool holds, const char *function, const char *condition,
                    std::source_location where = std::source_location::current()) {
    if (!holds) [[unlikely]]
        assertion_failed(function, condition, where);
}

// Formats into a shared 500-byte message buffer (qm_errstr or qm_calstr); a text that
// does not fit is cut, and the buffer always stays terminated.
void format_message(char (&buffer)[message_size], const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// Prints a message buffer on standard output as it stands, adding nothing.
void print_message(const char *buffer);

// Appends the text to the trace file in one write. A failed open or a write that cannot
// finish leaves its message in qm_calstr and on standard output; the text is then lost.
void append_trace(std::string_view text);

// Names a cell holding a lock file's descriptor (or -1, or 0 before it is opened): the
// trace refuses to open that file, since closing any descriptor of it would drop the
// process's record locks on it.
void keep_trace_off(const int &lock_cell) noexcept;

// Formats a trace line into qm_calstr and appends it.
void trace_line(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qmrt::diag
