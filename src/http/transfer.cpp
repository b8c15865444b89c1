// Performing a transfer: one that stalls fails instead of waiting for ever.
#include <chrono>

#include "http/curl_handles.hpp"
#include "http/http.hpp"

namespace qmrt::http {
namespace {

using Clock = std::chrono::steady_clock;

// Watches the bytes a transfer moves, both ways: libcurl reports them at least about once
// a second, and a transfer that moved none for the whole stall time-out is stopped.
struct StallWatch {
    Clock::duration limit;
    Clock::time_point last_moved = Clock::now();
    curl_off_t moved = 0;
    bool stalled = false;

    static int on_progress(void *user, curl_off_t, curl_off_t received, curl_off_t,
                           curl_off_t sent) {
        auto &watch = *static_cast<StallWatch *>(user);
        const Clock::time_point now = Clock::now();
        if (received + sent != watch.moved) {
            watch.moved = received + sent;
            watch.last_moved = now;
            return 0;
        }
        watch.stalled = now - watch.last_moved >= watch.limit;
        return watch.stalled ? 1 : 0;
    }
};

}  // namespace

CURLcode perform_transfer(CURL *handle) noexcept {
    const long limit = stall_timeout();
    if (limit <= 0) return libcurl().easy_perform(handle);
    StallWatch watch{std::chrono::seconds(limit)};
    // Connecting moves no byte libcurl counts; the TLS handshake is part of it.
    set_option<CURLOPT_CONNECTTIMEOUT>(handle, limit);
    set_option<CURLOPT_XFERINFOFUNCTION>(handle, &StallWatch::on_progress);
    set_option<CURLOPT_XFERINFODATA>(handle, &watch);
    set_option<CURLOPT_NOPROGRESS>(handle, 0L);
    const CURLcode result = libcurl().easy_perform(handle);
    set_option<CURLOPT_NOPROGRESS>(handle, 1L);  // the watch ends with this call
    // Stopped by the watch, the transfer ends as libcurl's own time-outs do.
    return watch.stalled && result == CURLE_ABORTED_BY_CALLBACK ? CURLE_OPERATION_TIMEDOUT : result;
}

}  // namespace qmrt::http
