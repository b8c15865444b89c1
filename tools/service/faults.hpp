// The ways the reference service can misbehave on purpose (--fault, --delay), so that the
// suite's engineers see what their programs do when the web service stalls, cuts its
// reply, resets the connection, trickles or answers with an odd status.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

namespace qmrt::service {

using Milliseconds = std::chrono::milliseconds;

struct Fault {
    enum class Kind { none, stall, cut, reset, slow, status };
    Kind kind = Kind::none;
    int status = 0;              // status=N: the normal reply with this status
    Milliseconds interval{100};  // slow: the pause between bytes
    Milliseconds delay{0};       // every reply waits this long first

    // "stall", "cut", "reset", "slow", "status=N" (N from 100 to 599); nothing otherwise.
    static std::optional<Fault> parse(const std::string &mode);
};

// Ended by stop(): waits that stalled or delayed replies make end early, so the service
// can stop while a client still waits for them.
class Stopping {
public:
    // Waits up to `time` (for ever when it is negative); false once stopping.
    bool wait(Milliseconds time);
    void stop();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopped_ = false;
};

// Sends `body` with `status` as the fault says: normally, after the delay, cut in half,
// reset half-way, a byte at a time, or not at all until the service stops.
void send_json(const httplib::Request &req, httplib::Response &res, int status, std::string body,
               const Fault &fault, Stopping &stopping);

}  // namespace qmrt::service
