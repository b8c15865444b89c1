// What the fetch and the exchange are built with (the endpoint, the TLS checks, the stall
// time-out), which tests may change.
#include "http/http.hpp"
#include "qmrt_config.hpp"

namespace qmrt::http {
namespace {

std::string &endpoint_cell() {
    static std::string url = config::service_url;
    return url;
}
bool tls_verify_cell = config::tls_verify;
long stall_timeout_cell = config::stall_timeout;

}  // namespace

void set_endpoint(std::string url) {
    endpoint_cell() = std::move(url);
}
const std::string &endpoint() {
    return endpoint_cell();
}
void set_tls_verify(bool verify) {
    tls_verify_cell = verify;
}
bool tls_verify() {
    return tls_verify_cell;
}
void set_stall_timeout(long seconds) {
    stall_timeout_cell = seconds;
}
long stall_timeout() {
    return stall_timeout_cell;
}

}  // namespace qmrt::http
