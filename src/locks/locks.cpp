// Exclusion locks: byte-range locks on the lock files of the working directory that keep
// conflicting programs of the suite apart, refusing the late-comer and ending it.
#include "locks/locks.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "diag/diag.hpp"
#include "locks/byte_map.hpp"
#include "qmrt/diag.h"
#include "qmrt/locks.h"

namespace qmrt::locks {
namespace {

// A descriptor moved above the standard streams: a lock file opened as descriptor 0 would
// read as not yet opened, and one opened as 1 or 2 would receive the program's output.
// The process holds no lock on a file it is only now opening, so closing the low
// descriptor drops nothing.
int above_standard_streams(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    const int moved = ::fcntl(fd, F_DUPFD, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

// Opens a lock file, creating it empty when missing. A failure is silent and leaves -1,
// which later requests on it treat as a lock held elsewhere.
int open_lock_file(const char *name) {
    int fd = ::open(name, O_RDWR);
    if (fd < 0) fd = errno == ENOENT ? ::creat(name, 0600) : ::open(name, O_RDWR);
    return above_standard_streams(fd);
}

// Opens a lock file into its cell, which the trace is then told to keep off.
void open_into(int32_t &cell, const char *name) {
    cell = open_lock_file(name);
    diag::keep_trace_off(cell);
}

// One request: position, then lock, test or unlock `length` bytes from there. Only the
// non-waiting commands are used, so a conflict is known at once.
bool request(int fd, off_t offset, int command, off_t length) {
    ::lseek(fd, offset, SEEK_SET);
    return ::lockf(fd, command, length) == 0;
}

// A refusal with a fixed text: the text and a newline on standard output, then the end
// of the process (exit flushes the output and runs the program's exit handlers).
[[noreturn]] void refuse(const char *text, int status) {
    std::printf("%s\n", text);
    std::exit(status);
}

// A refusal whose text goes through qm_errstr and is printed from there as it stands.
[[noreturn]] void refuse_through_errstr(const char *text, int status) {
    diag::format_message(qm_errstr, "%s", text);
    diag::print_message(qm_errstr);
    std::exit(status);
}

int32_t pelmarin_lock(int fd) {
    if (!request(fd, pelmarin_byte, F_TLOCK, 1))
        refuse("\nPelmarin sedang dijalankan di terminal lain", 0);
    return 0;
}

int32_t pair_lock(int fd) {
    if (!request(fd, pair_byte, F_TLOCK, 1))
        refuse("\ntovrasel/kinsoret sedang dijalankan di terminal lain", 0);
    // The byte-1 lock just taken goes with the process when this refuses.
    if (!request(fd, run_range_start, F_TLOCK, run_range_length))
        refuse_through_errstr("Program run sedang jalan, harap dimatikan dulu\n", -1);
    return 0;
}

int32_t slot_lock(int fd) {
    if (!request(fd, pair_byte, F_TEST, 1))
        refuse_through_errstr("\ntovrasel/kinsoret sedang jalan, tidak boleh bersamaan\n", 0);
    const int slot = g_slotnum;
    if (slot < 0) return 0;
    for (int index = 0; index < slot_width; ++index) {
        if (request(fd, slot_byte(slot, index), F_TLOCK, 1)) {
            g_usernum = g_slotnum;
            return 0;
        }
    }
    return -2;  // the slot is full; the program decides what follows
}

int32_t verify_join(int fd) {
    for (off_t byte = verify_first_byte;; ++byte) {
        if (request(fd, byte, F_TLOCK, 1)) return 1;
        // Only a byte held by another process moves the scan on; any other failure
        // (such as a file that could not be opened) would fail on every byte, so the
        // scan stops and the call takes no lock.
        if (errno != EACCES && errno != EAGAIN) return 0;
    }
}

int32_t verify_test(int fd) {
    if (!request(fd, verify_first_byte, F_TLOCK, verify_test_length)) return 1;
    // This also releases the caller's own bytes in the range, such as one from code 5.
    if (!request(fd, verify_first_byte, F_ULOCK, verify_test_length))
        refuse("\nProblem with unlocking slot 6", 0);
    return 0;
}

}  // namespace

int32_t run(int32_t code) {
    if (code == 5 || code == 6) {
        if (VERIFY_LOCK_descriptor == 0) open_into(VERIFY_LOCK_descriptor, verify_file);
        if (g_wt != 0) return 0;
        return code == 5 ? verify_join(VERIFY_LOCK_descriptor)
                         : verify_test(VERIFY_LOCK_descriptor);
    }
    if (BASIC_LOCK_descriptor == 0) open_into(BASIC_LOCK_descriptor, basic_file);
    if (g_shmfd == -1) open_into(g_shmfd, shm_file);
    if (g_wt != 0 && code != 2) return 0;
    switch (code) {
        case 0:
            return pelmarin_lock(BASIC_LOCK_descriptor);
        case 1:
            return pair_lock(BASIC_LOCK_descriptor);
        case 2:
            return slot_lock(BASIC_LOCK_descriptor);
        default:
            return 0;
    }
}

}  // namespace qmrt::locks
