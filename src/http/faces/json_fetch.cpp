#include "common/export.hpp"
#include "http/http.hpp"
#include "qmrt/http.h"

QMRT_EXPORT char *json_fetch(const char *url) {
    return qmrt::http::fetch(url);
}
