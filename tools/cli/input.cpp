#include "input.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "status.hpp"

namespace qmrt::cli {
namespace {

class Fd {
public:
    explicit Fd(int fd, bool owned) : fd_(fd), owned_(owned) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() {
        if (owned_ && fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
    bool owned_;
};

}  // namespace

std::string shown_name(std::string_view path) {
    return path == "-" ? std::string("standard input") : std::string(path);
}

std::string read_text(std::string_view path) {
    const bool is_stdin = path == "-";
    Fd fd(is_stdin ? STDIN_FILENO : ::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC),
          !is_stdin);
    if (fd.get() < 0)
        throw UsageError("cannot open " + shown_name(path) + ": " + std::strerror(errno));

    std::string text;
    char chunk[65536];
    for (;;) {
        ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0)
            throw UsageError("cannot read " + shown_name(path) + ": " + std::strerror(errno));
        if (got == 0) break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    if (auto zero = text.find('\0'); zero != std::string::npos)
        throw UsageError(shown_name(path) + " holds a zero byte at offset " + std::to_string(zero) +
                         "; a JSON text cannot contain one");
    return text;
}

}  // namespace qmrt::cli
