// Internal face of the HTTP client: settings of the POST exchange that tests change.
#pragma once

#include <string>

namespace qmrt::http {

// The endpoint of the exchange: the build-time service URL unless changed here.
void set_endpoint(std::string url);
const std::string &endpoint();

// Whether the exchange and the fetch verify the peer's certificate and host name: the
// build-time choice unless changed here.
void set_tls_verify(bool verify);
bool tls_verify();

// Drops the TLS sessions saved by earlier transfers: the next transfer makes a full
// handshake, as the first of a process does.
void forget_tls_sessions();

// Largest request text the exchange sends, and largest value it hands back.
inline constexpr std::size_t max_request_length = 34999;
inline constexpr std::size_t max_value_length = 63;

}  // namespace qmrt::http
