// Cores of the HTTP client: the fetch, the exchange and their libcurl write callbacks,
// and the build-time settings that tests change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qmrt::http {

// json_fetch: the body fetched from url by GET as a malloc'd text; every failure is fatal.
char *fetch(const char *url);

// fetch_data: appends a chunk to the bounded_buf at `buffer`; a chunk larger than the room
// left first grows the buffer to its limit plus the whole chunk. Returns size × count, or
// 0 when that product does not fit.
std::size_t collect_chunk(void *data, std::size_t size, std::size_t count, void *buffer);

// QM_callService: posts the request to the endpoint and reads each key's value from the
// reply into values. 0, or -1 with the reason in qm_errstr; nothing is thrown.
std::int32_t call_service(const char *request, const char *const keys[], char *values[]) noexcept;

// writefunction: replaces the reply block by one holding the old bytes and the chunk;
// returns size × count, or the all-ones count when no memory is left (user is unused).
std::size_t store_reply_chunk(void *data, std::size_t size, std::size_t count, void *user);

// The endpoint of the exchange: the build-time service URL unless changed here.
void set_endpoint(std::string url);
const std::string &endpoint();

// Whether the exchange and the fetch verify the peer's certificate and host name: the
// build-time choice unless changed here.
void set_tls_verify(bool verify);
bool tls_verify();

// How many seconds a transfer may move no byte before it fails with libcurl's time-out
// result: the build-time QMRT_STALL_TIMEOUT unless changed here; 0 waits for ever.
void set_stall_timeout(long seconds);
long stall_timeout();

// The soname the first transfer loads libcurl by: libcurl.so.4 unless changed here before
// it (tests name one that cannot be found). Once libcurl is loaded, a change does nothing.
void set_curl_soname(std::string soname);

// Drops the TLS sessions saved by earlier transfers: the next transfer makes a full
// handshake, as the first of a process does.
void forget_tls_sessions();

// Largest request text the exchange sends, and largest value it hands back.
inline constexpr std::size_t max_request_length = 34999;
inline constexpr std::size_t max_value_length = 63;

}  // namespace qmrt::http
