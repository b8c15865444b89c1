#include "common/export.hpp"
#include "http/http.hpp"
#include "qmrt/http.h"

QMRT_EXPORT size_t fetch_data(void *data, size_t size, size_t count, void *buffer) {
    qmrt::diag::BrokenCheck broken;
    const size_t taken =
        qmrt::http::collect_chunk(data, size, count, static_cast<bounded_buf *>(buffer), broken);
    qmrt::diag::report(broken);
    return taken;
}
