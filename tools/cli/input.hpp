// Reading the text operands of the subcommands: a file, or standard input for "-".
#pragma once

#include <string>
#include <string_view>

namespace qmrt::cli {

// The whole content of `path` ("-": standard input) as a text for the library. The
// library reads texts up to their first zero byte, so a zero byte inside is refused
// rather than silently cutting the document. Throws UsageError when it cannot be read.
std::string read_text(std::string_view path);

// How messages name a text operand: its path, or "standard input" for "-".
std::string shown_name(std::string_view path);

}  // namespace qmrt::cli
