// A port on 127.0.0.1 that refuses connections: bound, so nobody else takes it, but
// never listening.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace qmrt::test {

class ClosedPort {
public:
    ClosedPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            throw std::runtime_error("cannot bind a port on 127.0.0.1");
        port_ = ntohs(address.sin_port);
    }
    ClosedPort(const ClosedPort &) = delete;
    ClosedPort &operator=(const ClosedPort &) = delete;
    ~ClosedPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    int port() const { return port_; }

private:
    int fd_;
    int port_ = 0;
};

}  // namespace qmrt::test
