// The reference service, qmrt-service, as a child process on a free port of 127.0.0.1,
// for tests that need a real HTTPS service: its own tests, and the HTTP client's tests of
// a service that misbehaves (--fault).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

extern char **environ;

namespace qmrt::test {

// qmrt-service as a child process, its standard error in a file. Construction returns
// once the service printed the address it listens on.
class ServiceProcess {
public:
    // Where the build put the service (the tests that use it are built with its path).
    static constexpr const char *binary = QMRT_SERVICE_BINARY;

    explicit ServiceProcess(const std::filesystem::path &log,
                            std::vector<std::string> options = {"--port", "0"}) {
        std::vector<std::string> args{binary};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char *> argv;
        for (std::string &arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);

        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, out[1]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (spawned != 0) {
            close(out[0]);
            throw std::runtime_error("cannot start " + args[0]);
        }
        startup_line_ = read_line(out[0]);
        close(out[0]);
        std::smatch port;
        if (!std::regex_match(
                startup_line_, port,
                std::regex(R"(qmrt-service listening on https://127\.0\.0\.1:(\d+)/service)")))
            return;  // port_ stays 0; the test reports the line
        port_ = std::stoi(port[1]);
    }
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;
    ~ServiceProcess() {
        if (pid_ > 0) stop(SIGKILL);
    }

    int port() const { return port_; }
    const std::string &startup_line() const { return startup_line_; }
    std::string url(const std::string &path) const {
        return "https://127.0.0.1:" + std::to_string(port_) + path;
    }

    // Sends the signal and returns the wait status.
    int stop(int signal) {
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

private:
    // The first line of the child's output, waiting at most 30 s (sanitized builds start
    // slowly); empty if none came.
    static std::string read_line(int fd) {
        std::string line;
        char c;
        pollfd ready{fd, POLLIN, 0};
        while (poll(&ready, 1, 30000) == 1 && read(fd, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }

    pid_t pid_ = -1;
    int port_ = 0;
    std::string startup_line_;
};

}  // namespace qmrt::test
