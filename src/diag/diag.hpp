// Cores of the diagnostics: the fatal and informational reports, the fatal assertion
// report, bounded formatting into the shared message buffers, and the one-write append
// to the trace file.
#pragma once

#include <cstdarg>
#include <string_view>

#include "common/source_location.hpp"

namespace qmrt::diag {

inline constexpr std::size_t message_size = 500;
inline constexpr const char *trace_file = "debug2";

// log_die's core: the fatal report itself.
[[noreturn]] void die(const char *format, std::va_list args);

// The fatal report with the library's own format text.
[[noreturn]] void fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));

// log_info's core; its null format is a check of the reports themselves.
int inform(const char *format, std::va_list args);

// Ends the process with "<function>: assertion failed: <condition> (<file>, line <n>)".
// `function` is the service that owns the check, which is not always the caller.
[[noreturn]] void assertion_failed(const char *function, const char *condition,
                                   SourceLocation where = SourceLocation::current());

// A check that a core found broken, handed back to the face that decides what follows:
// the service that owns the check (not always the one running it), its condition text,
// and where it is written. Empty while every check holds.
struct BrokenCheck {
    const char *function = nullptr;
    const char *condition = nullptr;
    SourceLocation where = {};

    explicit operator bool() const noexcept { return condition != nullptr; }
};

// The check `condition` of `function`: empty when it holds, broken where it is written
// otherwise.
inline BrokenCheck check(bool holds, const char *function, const char *condition,
                         SourceLocation where = SourceLocation::current()) noexcept {
    if (holds) [[likely]]
        return {};
    return {function, condition, where};
}

// The fatal assertion report of a broken check; an empty one returns.
inline void report(const BrokenCheck &broken) {
    if (broken) [[unlikely]]
        assertion_failed(broken.function, broken.condition, broken.where);
}

// A check of a face's own, or of the reports themselves: broken, it ends in the fatal
// assertion report.
inline void require(bool holds, const char *function, const char *condition,
                    SourceLocation where = SourceLocation::current()) {
    report(check(holds, function, condition, where));
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
