// Core of the exclusion locks.
#pragma once

#include <cstdint>

namespace qmrt::locks {

// DQ_LOCKING: takes, tests or joins the locks of `code` on the lock files of the working
// directory, opening them on first use; a conflict is refused with its message and the
// end of the process.
std::int32_t run(std::int32_t code);

}  // namespace qmrt::locks
