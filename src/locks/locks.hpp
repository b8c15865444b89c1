// Core of the exclusion locks.
#pragma once

#include <cstdint>

namespace qmrt::locks {

// A conflicting program's refusal: its text for standard output and the exit status that
// ends the process. A text that goes through qm_errstr is printed from there as it
// stands; any other is followed by a newline.
struct Refusal {
    const char *text;
    bool through_errstr;
    int status;
};

// What a lock operation came to: its result, or a refusal.
struct Outcome {
    std::int32_t result;
    const Refusal *refusal = nullptr;
};

// DQ_LOCKING: takes, tests or joins the locks of `code` on the lock files of the working
// directory, opening them on first use.
Outcome run(std::int32_t code);

// Prints the refusal and ends the process with its status (exit flushes the output and
// runs the program's exit handlers).
[[noreturn]] void refuse(const Refusal &refusal);

}  // namespace qmrt::locks
