// A child process that runs lock operations on command, so tests can play several
// programs of the suite at once. Commands and replies travel over pipes; the child's
// standard output is captured, and a refusal (which ends the child) shows as a missing
// reply followed by the captured text and exit status.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

#include "locks/byte_map.hpp"
#include "qmrt/diag.h"
#include "qmrt/locks.h"

namespace qmrt::test {

struct Reply {
    int32_t result;
    int16_t usernum;
    int32_t basic, shm, verify;  // the descriptor cells after the call
    char calstr[96];             // the start of qm_calstr after a trace command
};

struct Ended {
    int status;  // exit status, or 128 + signal
    std::string out;
};

// The holder of `byte` of `file` (its process id), or 0 when nobody holds it.
inline pid_t holder_of(const char *file, off_t byte) {
    int fd = ::open(file, O_RDONLY);  // this process holds no locks, so closing is safe
    if (fd < 0) return -1;
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    query.l_start = byte;
    query.l_len = 1;
    int got = ::fcntl(fd, F_GETLK, &query);
    ::close(fd);
    return got != 0 ? -1 : query.l_type == F_UNLCK ? 0 : query.l_pid;
}

class Holder {
public:
    // `gate`: read end of a pipe that gated commands block on until its writers close.
    // `without_stdin`: the child runs with standard input closed.
    explicit Holder(int gate = -1, bool without_stdin = false) {
        std::signal(SIGPIPE, SIG_IGN);  // commands may go to a child that was refused
        int command[2], reply[2], out[2];
        if (::pipe(command) != 0 || ::pipe(reply) != 0 || ::pipe(out) != 0)
            throw std::runtime_error("pipe failed");
        std::fflush(nullptr);  // nothing buffered here may come out of the child too
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            // Drop every other pipe end, so that this child keeps no other holder's
            // pipes (or the gate) open.
            for (int fd = 3; fd < 1024; ++fd)
                if (fd != command[0] && fd != reply[1] && fd != gate) ::close(fd);
            if (without_stdin) ::close(STDIN_FILENO);
            serve(command[0], reply[1], gate);
        }
        ::close(command[0]);
        ::close(reply[1]);
        ::close(out[1]);
        command_ = command[1];
        reply_ = reply[0];
        out_ = out[0];
    }
    Holder(const Holder &) = delete;
    Holder &operator=(const Holder &) = delete;
    ~Holder() { finish(); }

    pid_t pid() const { return pid_; }

    // Runs DQ_LOCKING(code) with the given g_slotnum and g_wt; nothing when refused.
    std::optional<Reply> call(int32_t code, int16_t slot = 0, int16_t wt = 0) {
        start({code, slot, wt, false, 0, 0, false});
        return receive();
    }
    // The same call, made only once the gate opens; collect it with receive().
    void call_at_gate(int32_t code) { start({code, 0, 0, true, 0, 0, false}); }
    // Appends a line to "debug2" with write_debug2 instead of a lock call.
    std::optional<Reply> trace() {
        start({0, 0, 0, false, 0, 0, true});
        return receive();
    }
    // Takes bytes of ".VF_LOCK" directly, as an outside process would; true when taken.
    bool raw_verify_lock(off_t start_byte, off_t length) {
        start({0, 0, 0, false, start_byte, length, false});
        auto reply = receive();
        return reply && reply->result == 0;
    }

    std::optional<Reply> receive() {
        Reply reply{};
        if (!read_all(reply_, &reply, sizeof reply)) return std::nullopt;
        return reply;
    }

    // Lets the child end (if it still runs) and returns its output and exit status.
    Ended finish() {
        if (ended_) return *ended_;
        ::close(command_);  // end of commands: the child leaves its loop
        std::string out;
        char chunk[256];
        for (ssize_t got; (got = ::read(out_, chunk, sizeof chunk)) > 0;) out.append(chunk, got);
        ::close(out_);
        ::close(reply_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        ended_ = Ended{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), out};
        return *ended_;
    }

private:
    struct Command {
        int32_t code;
        int16_t slot, wt;
        bool gated;
        off_t raw_start, raw_length;  // raw_length > 0: a direct lock, no DQ_LOCKING
        bool trace;
    };

    static bool read_all(int fd, void *data, size_t size) {
        auto *bytes = static_cast<char *>(data);
        while (size > 0) {
            ssize_t got = ::read(fd, bytes, size);
            if (got <= 0) return false;
            bytes += got;
            size -= static_cast<size_t>(got);
        }
        return true;
    }

    void start(const Command &command) {
        if (::write(command_, &command, sizeof command) != static_cast<ssize_t>(sizeof command)) {
            // The child has already ended; the following receive() reports nothing.
        }
    }

    [[noreturn]] static void serve(int commands, int replies, int gate) {
        int raw_fd = -1;
        Command command{};
        while (read_all(commands, &command, sizeof command)) {
            if (command.gated) {
                char byte;
                while (::read(gate, &byte, 1) > 0) {
                }
            }
            Reply reply{};
            if (command.trace) {
                reply.result = write_debug2("trace\n");
                std::snprintf(reply.calstr, sizeof reply.calstr, "%.95s", qm_calstr);
            } else if (command.raw_length > 0) {
                if (raw_fd < 0) raw_fd = ::open(locks::verify_file, O_RDWR | O_CREAT, 0600);
                ::lseek(raw_fd, command.raw_start, SEEK_SET);
                reply.result = ::lockf(raw_fd, F_TLOCK, command.raw_length);
            } else {
                g_slotnum = command.slot;
                g_wt = command.wt;
                reply.result = DQ_LOCKING(command.code);
            }
            reply.usernum = g_usernum;
            reply.basic = BASIC_LOCK_descriptor;
            reply.shm = g_shmfd;
            reply.verify = VERIFY_LOCK_descriptor;
            if (::write(replies, &reply, sizeof reply) != static_cast<ssize_t>(sizeof reply)) break;
        }
        std::fflush(stdout);
        ::_exit(0);  // the test process's exit handlers are not this child's business
    }

    pid_t pid_ = -1;
    int command_ = -1, reply_ = -1, out_ = -1;
    std::optional<Ended> ended_;
};

}  // namespace qmrt::test
