// Runs a program (the qmrt tool, a test's own program) as a child process with its
// standard streams on pipes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emulator.hpp"

extern char **environ;

namespace qmrt::test {

class Pipe {
public:
    Pipe() {
        if (::pipe2(fds_, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    }
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;
    ~Pipe() {
        close_read();
        close_write();
    }
    int read_end() const { return fds_[0]; }
    int write_end() const { return fds_[1]; }
    void close_read() { close_fd(fds_[0]); }
    void close_write() { close_fd(fds_[1]); }

private:
    static void close_fd(int &fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int fds_[2] = {-1, -1};
};

struct Finished {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// A running child. Destroying it while it runs kills and reaps it, so a failing test
// never leaves a holder of locks behind.
class Child {
public:
    Child(const std::string &program, const std::vector<std::string> &args) {
        std::vector<std::string> argv_text{program};
        argv_text.insert(argv_text.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (std::string &arg : argv_text) argv.push_back(arg.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in_.read_end(), STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out_.write_end(), STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err_.write_end(), STDERR_FILENO);
        int failed = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0) throw std::runtime_error("cannot start " + program);
        in_.close_read();
        out_.close_write();
        err_.close_write();
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int ignored;
            ::waitpid(pid_, &ignored, 0);
        }
    }

    pid_t pid() const { return pid_; }

    // Writes the text to the child's standard input and closes it.
    void send(std::string_view text) {
        // A child that exits without reading must not kill the test with SIGPIPE.
        ::signal(SIGPIPE, SIG_IGN);
        while (!text.empty()) {
            ssize_t put = ::write(in_.write_end(), text.data(), text.size());
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) break;
            text.remove_prefix(static_cast<std::size_t>(put));
        }
        in_.close_write();
    }

    // Reads standard output up to and including the first line that contains `marker`;
    // empty when the output ends first.
    std::string read_until(std::string_view marker) {
        std::string seen;
        char byte;
        while (::read(out_.read_end(), &byte, 1) == 1) {
            seen += byte;
            if (byte == '\n' && seen.find(marker) != std::string::npos) return seen;
        }
        return {};
    }

    // Collects both output streams to their end, then reaps the child. Standard error is
    // what the tool wrote, without an emulator's lines for a child of its that died.
    Finished finish() {
        in_.close_write();
        Finished result;
        pollfd fds[2] = {{out_.read_end(), POLLIN, 0}, {err_.read_end(), POLLIN, 0}};
        std::string *sinks[2] = {&result.out, &result.err};
        int open = 2;
        while (open > 0) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || fds[i].revents == 0) continue;
                char chunk[4096];
                ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
                if (got > 0) {
                    sinks[i]->append(chunk, static_cast<std::size_t>(got));
                } else {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
        result.err = without_emulator_lines(result.err);
        int raw = 0;
        ::waitpid(std::exchange(pid_, -1), &raw, 0);
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return result;
    }

private:
    Pipe in_, out_, err_;
    pid_t pid_ = -1;
};

// Runs the program to its end with `input` on standard input.
inline Finished run(const std::string &program, const std::vector<std::string> &args,
                    std::string_view input = {}) {
    Child child(program, args);
    child.send(input);
    return child.finish();
}

}  // namespace qmrt::test
