// Cores of the HTTP client: the fetch, the exchange and their libcurl write callbacks,
// and the build-time settings that tests change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "diag/diag.hpp"
#include "qmrt/memory.h"

namespace qmrt::http {

// json_fetch: the body fetched from url by GET as a malloc'd text, or what failed: the
// first broken check, or libcurl's text for a failed transfer.
struct Fetched {
    char *text = nullptr;
    diag::BrokenCheck broken = {};
    const char *transfer_failure = nullptr;
};
Fetched fetch(const char *url);

// fetch_data's core: returns size × count, or 0 when that product does not fit or with
// the check it found broken in `broken`.
std::size_t collect_chunk(void *data, std::size_t size, std::size_t count, bounded_buf *buffer,
                          diag::BrokenCheck &broken);

// QM_callService's core; nothing is thrown.
std::int32_t call_service(const char *request, const char *const keys[], char *values[]) noexcept;

// writefunction's core.
std::size_t store_reply_chunk(void *data, std::size_t size, std::size_t count, void *user);

// The settings fixed when the library is built, which tests change. Each set_ function
// returns the value it replaces.

// The endpoint of the exchange: the build-time QMRT_SERVICE_URL.
std::string set_endpoint(std::string url);
const std::string &endpoint();

// Whether the exchange and the fetch verify the peer's certificate and host name: the
// build-time QMRT_TLS_VERIFY.
bool set_tls_verify(bool verify);
bool tls_verify();

// How many seconds a transfer may move no byte before it fails with libcurl's time-out
// result: the build-time QMRT_STALL_TIMEOUT; 0 waits for ever.
long set_stall_timeout(long seconds);
long stall_timeout();

// The soname the first transfer loads libcurl by: libcurl.so.4 (tests name one that
// cannot be found). Once libcurl is loaded, a change does nothing.
std::string set_curl_soname(std::string soname);

// Drops the TLS sessions saved by earlier transfers: the next transfer makes a full
// handshake, as the first of a process does.
void forget_tls_sessions();

// Largest request text the exchange sends, and largest value it hands back.
inline constexpr std::size_t max_request_length = 34999;
inline constexpr std::size_t max_value_length = 63;

}  // namespace qmrt::http
