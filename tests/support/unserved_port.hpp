// A port on 127.0.0.1 that nobody serves. It stays bound, so nobody else takes it, and it
// either refuses connections (never listening) or takes them silently (listening, never
// accepting: the kernel completes the connection, and then nothing is ever said on it).
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace qmrt::test {

class UnservedPort {
public:
    enum class Kind { refusing, silent };

    explicit UnservedPort(Kind kind = Kind::refusing)
        : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
            (kind == Kind::silent && ::listen(fd_, 8) != 0))
            throw std::runtime_error("cannot bind a port on 127.0.0.1");
        port_ = ntohs(address.sin_port);
    }
    UnservedPort(const UnservedPort &) = delete;
    UnservedPort &operator=(const UnservedPort &) = delete;
    ~UnservedPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    int port() const { return port_; }

private:
    int fd_;
    int port_ = 0;
};

}  // namespace qmrt::test
