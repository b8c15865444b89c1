#include "common/export.hpp"
#include "http/http.hpp"
#include "qmrt/http.h"

QMRT_EXPORT char *json_fetch(const char *url) {
    const qmrt::http::Fetched fetched = qmrt::http::fetch(url);
    qmrt::diag::report(fetched.broken);
    if (fetched.transfer_failure != nullptr)
        qmrt::diag::fatal("curl_easy_perform failed: %s", fetched.transfer_failure);
    return fetched.text;
}
