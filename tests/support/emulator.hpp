// What an emulator adds to a test's view of a process. Under qemu-user (the cross
// builds' tests) a process that dies of a signal gets one line of the emulator's own on
// standard error, after everything the process wrote: "qemu: uncaught target signal 6
// (Aborted) - core dumped". It is not the library's, so it is taken off before a test
// compares what the process reported.
#pragma once

#include <gmock/gmock.h>

#include <string>
#include <string_view>

namespace qmrt::test {

// The text without the lines an emulator adds for a process that died of a signal.
inline std::string without_emulator_lines(std::string_view text) {
    constexpr std::string_view emulator_line = "qemu: uncaught target signal ";
    std::string kept;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end == text.npos ? text.size() : end + 1);
        if (!line.starts_with(emulator_line)) kept += line;
        text.remove_prefix(line.size());
    }
    return kept;
}

// For death tests: standard error of the child, without the emulator's lines, matches
// `pattern` (anchored patterns see exactly the library's report).
inline testing::Matcher<const std::string &> Reported(const std::string &pattern) {
    return testing::ResultOf([](const std::string &err) { return without_emulator_lines(err); },
                             testing::ContainsRegex(pattern));
}

}  // namespace qmrt::test
