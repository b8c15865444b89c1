// Where a check is written, for the fatal assertion report: std::source_location, or, with
// a standard library whose <source_location> the compiler cannot use (libstdc++ 12 under
// clang before 15 lacks the builtin it needs), the same from the compiler's builtins.
#pragma once

#include <version>

#if defined(__cpp_lib_source_location)
#include <source_location>
#endif

namespace qmrt {

#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
class SourceLocation {
public:
    static constexpr SourceLocation current(const char *file = __builtin_FILE(),
                                            unsigned line = __builtin_LINE()) noexcept {
        SourceLocation where;
        where.file_ = file;
        where.line_ = line;
        return where;
    }
    constexpr const char *file_name() const noexcept { return file_; }
    constexpr unsigned line() const noexcept { return line_; }

private:
    const char *file_ = "";
    unsigned line_ = 0;
};
#endif

}  // namespace qmrt
