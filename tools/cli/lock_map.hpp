// Who holds what in the working directory's lock files: the held ranges from the
// kernel's lock table (/proc/locks), named by the lock files' byte map.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmrt::cli {

// One held lock of the kernel's table. Waiting requests ("->" lines) are not held and
// are left out.
struct HeldRange {
    std::string kind;   // POSIX, FLOCK, OFDLCK, ...
    bool write = true;  // WRITE, or READ
    pid_t pid = 0;      // -1 for open-file-description locks, which have no owner process
    unsigned major = 0;
    unsigned minor = 0;
    unsigned long inode = 0;
    off_t first = 0;            // first byte held
    std::optional<off_t> last;  // last byte held; none: to the end of the file
};

// The held locks of a /proc/locks text; lines it cannot read are skipped.
std::vector<HeldRange> parse_lock_table(std::string_view table);

// What a holder of these bytes of ".LOCK" is doing, by the byte map. Ranges that the
// kernel merged (code 1's bytes 1-201, adjacent slot bytes of one process) are named
// part by part, joined with "; ".
std::string describe_basic_range(off_t first, std::optional<off_t> last);

// The same for ".VF_LOCK".
std::string describe_verify_range(off_t first, std::optional<off_t> last);

// "39", "1-201" or "30-end".
std::string bytes_text(off_t first, std::optional<off_t> last);

// One lock on one of the lock files, ready to print.
struct LockReport {
    std::string file;
    std::string bytes;
    std::string meaning;
    pid_t pid = 0;
    std::string command;
};

// The locks held on ".LOCK" and ".VF_LOCK" of the working directory, by file and first
// byte; only those of `pid` when it is given. Throws UsageError when the lock table
// cannot be read.
std::vector<LockReport> held_locks(std::optional<pid_t> pid = std::nullopt);

}  // namespace qmrt::cli
