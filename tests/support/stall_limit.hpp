// The HTTP client's stall time-out set short for one test, so that a service that stalls
// is given up within a second or two; the build's setting comes back afterwards.
#pragma once

#include "http/http.hpp"

namespace qmrt::test {

class StallLimit {
public:
    explicit StallLimit(long seconds) : previous_(http::stall_timeout()) {
        http::set_stall_timeout(seconds);
    }
    StallLimit(const StallLimit &) = delete;
    StallLimit &operator=(const StallLimit &) = delete;
    ~StallLimit() { http::set_stall_timeout(previous_); }

private:
    long previous_;
};

}  // namespace qmrt::test
