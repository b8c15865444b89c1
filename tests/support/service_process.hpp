// The reference service, qmrt-service, as a child process on a free port of 127.0.0.1,
// for tests that need a real HTTPS service: its own tests, and the HTTP client's tests of
// a service that misbehaves (--fault).
#pragma once

#include <signal.h>

#include <regex>
#include <string>
#include <vector>

#include "subprocess.hpp"

namespace qmrt::test {

class ServiceProcess {
public:
    // Where the build put the service (the tests that use it are built with its path).
    static constexpr const char *binary = QMRT_SERVICE_BINARY;

    // Returns once the service printed the address it listens on, or ended without.
    explicit ServiceProcess(std::vector<std::string> options = {"--port", "0"})
        : child_(binary, options) {
        startup_line_ = child_.read_until("qmrt-service listening on");
        if (!startup_line_.empty() && startup_line_.back() == '\n') startup_line_.pop_back();
        std::smatch port;
        if (std::regex_match(
                startup_line_, port,
                std::regex(R"(qmrt-service listening on https://127\.0\.0\.1:(\d+)/service)")))
            port_ = std::stoi(port[1]);
    }

    int port() const { return port_; }  // 0 when the service did not start
    const std::string &startup_line() const { return startup_line_; }
    std::string url(const std::string &path) const {
        return "https://127.0.0.1:" + std::to_string(port_) + path;
    }

    // Sends the signal and collects the end: the exit status (or 128 + signal) and the
    // service's log, its standard error.
    Finished stop(int signal) {
        ::kill(child_.pid(), signal);
        return child_.finish();
    }

private:
    Child child_;  // killed and reaped with the object if it still runs
    int port_ = 0;
    std::string startup_line_;
};

}  // namespace qmrt::test
