// What the fetch and the exchange are built with (the endpoint, the TLS checks, the stall
// time-out), which tests may change.
#include <utility>

#include "http/http.hpp"
#include "qmrt_config.hpp"

namespace qmrt::http {
namespace {

std::string &endpoint_setting() {
    static std::string url = config::service_url;
    return url;
}
bool tls_verify_setting = config::tls_verify;
long stall_timeout_setting = config::stall_timeout;

}  // namespace

std::string set_endpoint(std::string url) {
    return std::exchange(endpoint_setting(), std::move(url));
}
const std::string &endpoint() {
    return endpoint_setting();
}
bool set_tls_verify(bool verify) {
    return std::exchange(tls_verify_setting, verify);
}
bool tls_verify() {
    return tls_verify_setting;
}
long set_stall_timeout(long seconds) {
    return std::exchange(stall_timeout_setting, seconds);
}
long stall_timeout() {
    return stall_timeout_setting;
}

}  // namespace qmrt::http
