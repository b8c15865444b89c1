// Test-only: the tool's exchange goes to the endpoint fixed when the library was built,
// and the tool itself reads nothing from the environment. This variant of the tool,
// built only for the tests, lets them point the exchange at their own server.
#include <cstdlib>

#include "http/http.hpp"

namespace {

const bool endpoint_from_environment = [] {
    if (const char *url = std::getenv("QMRT_TEST_SERVICE_URL")) qmrt::http::set_endpoint(url);
    return true;
}();

}  // namespace
