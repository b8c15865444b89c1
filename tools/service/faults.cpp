#include "faults.hpp"

#include <fcntl.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <memory>
#include <thread>

namespace qmrt::service {

std::optional<Fault> Fault::parse(const std::string &mode) {
    Fault fault;
    if (mode == "stall")
        fault.kind = Kind::stall;
    else if (mode == "cut")
        fault.kind = Kind::cut;
    else if (mode == "reset")
        fault.kind = Kind::reset;
    else if (mode == "slow")
        fault.kind = Kind::slow;
    else if (mode.starts_with("status=")) {
        const char *first = mode.data() + 7, *last = mode.data() + mode.size();
        auto [end, error] = std::from_chars(first, last, fault.status);
        if (error != std::errc() || end != last || first == last || fault.status < 100 ||
            fault.status > 599)
            return std::nullopt;
        fault.kind = Kind::status;
    } else {
        return std::nullopt;
    }
    return fault;
}

bool Stopping::wait(Milliseconds time) {
    std::unique_lock lock(mutex_);
    if (time < Milliseconds::zero())
        changed_.wait(lock, [this] { return stopped_; });
    else
        changed_.wait_for(lock, time, [this] { return stopped_; });
    return !stopped_;
}

void Stopping::stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

namespace {

constexpr const char *json_type = "application/json";

// Before the reset, the part sent has this long to reach the client, so that it arrives
// before the reset rather than being thrown away with it.
constexpr Milliseconds reset_pause{300};

// The connection ends with a reset, not a close: the socket goes at once with a zero
// linger time, before the library can shut it down (which would send a FIN first). Its
// descriptor is taken over by /dev/null, which the library's own closing then closes,
// and its TLS connection is told to send no close_notify.
void reset_connection(const httplib::Request &req) {
    if (req.ssl == nullptr) return;
    // The library hands the request's TLS connection out as const; this only changes how
    // its own closing goes.
    SSL_set_quiet_shutdown(const_cast<SSL *>(req.ssl), 1);
    const int socket = SSL_get_fd(req.ssl);
    const linger abrupt{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
    const int placeholder = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (placeholder < 0) return;
    dup2(placeholder, socket);
    close(placeholder);
}

}  // namespace

void send_json(const httplib::Request &req, httplib::Response &res, int status, std::string body,
               const Fault &fault, Stopping &stopping) {
    res.status = fault.kind == Fault::Kind::status ? fault.status : status;
    if (fault.delay > Milliseconds::zero() && !stopping.wait(fault.delay)) return;
    const auto shared = std::make_shared<const std::string>(std::move(body));
    const std::size_t half = shared->size() / 2;
    switch (fault.kind) {
        case Fault::Kind::none:
        case Fault::Kind::status:
            res.set_content(*shared, json_type);
            return;
        case Fault::Kind::stall:
            // Nothing is ever said: when the service stops, the connection goes unanswered.
            stopping.wait(Milliseconds(-1));
            reset_connection(req);
            return;
        case Fault::Kind::cut:
        case Fault::Kind::reset:
            // Content-Length announces the whole reply; failing the provider drops the
            // connection after the first half.
            res.set_content_provider(
                shared->size(), json_type,
                [shared, half, &req, &stopping, reset = fault.kind == Fault::Kind::reset](
                    std::size_t offset, std::size_t, httplib::DataSink &sink) {
                    if (offset < half) return sink.write(shared->data(), half);
                    if (reset) {
                        stopping.wait(reset_pause);
                        reset_connection(req);
                    }
                    return false;
                });
            return;
        case Fault::Kind::slow:
            res.set_content_provider(shared->size(), json_type,
                                     [shared, &stopping, interval = fault.interval](
                                         std::size_t offset, std::size_t, httplib::DataSink &sink) {
                                         if (offset > 0 && !stopping.wait(interval)) return false;
                                         return sink.write(shared->data() + offset, 1);
                                     });
            return;
    }
}

}  // namespace qmrt::service
