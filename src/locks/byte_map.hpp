// The lock files and which bytes of them each operation takes or tests. Shared by the
// lock operations and by anything that reports who holds what (for instance from
// /proc/locks), so both read one map.
#pragma once

#include <sys/types.h>

namespace qmrt::locks {

inline constexpr const char *basic_file = ".LOCK";
inline constexpr const char *shm_file = ".LOCK_SHM";  // opened for the caller, never locked
inline constexpr const char *verify_file = ".VF_LOCK";

// ".LOCK"
inline constexpr off_t pelmarin_byte = 0;       // code 0: one Pelmarin at a time
inline constexpr off_t pair_byte = 1;           // code 1 takes it, code 2 tests it
inline constexpr off_t run_range_start = 2;     // code 1 takes 2..201 in one request,
inline constexpr off_t run_range_length = 200;  // so any slot byte up to 201 refuses it
inline constexpr off_t slot_base = 30;          // code 2: bytes 30 + 3s + i, i = 0..2
inline constexpr off_t slot_stride = 3;
inline constexpr int slot_width = 3;  // up to three programs share one slot

constexpr off_t slot_byte(int slot, int index) {
    return slot_base + slot_stride * slot + index;
}

// ".VF_LOCK": code 5 takes the lowest free byte from 0 up; code 6 tests 0..199.
inline constexpr off_t verify_first_byte = 0;
inline constexpr off_t verify_test_length = 200;

static_assert(slot_byte(57, 0) == run_range_start + run_range_length - 1,
              "slot 57's first byte is the last byte of code 1's range");
static_assert(slot_byte(58, 0) > run_range_start + run_range_length - 1);

}  // namespace qmrt::locks
