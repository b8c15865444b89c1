// Test-only: the exchange goes to the endpoint fixed when the library was built, and
// nothing reads it from the environment. A program or library built with this file, only
// for the tests, lets them point the exchange at their own server (QMRT_TEST_SERVICE_URL).
#include <cstdlib>

#include "http/http.hpp"

namespace {

const bool endpoint_from_environment = [] {
    if (const char *url = std::getenv("QMRT_TEST_SERVICE_URL")) qmrt::http::set_endpoint(url);
    return true;
}();

}  // namespace
