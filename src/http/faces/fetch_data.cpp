#include "common/export.hpp"
#include "http/http.hpp"
#include "qmrt/http.h"

QMRT_EXPORT size_t fetch_data(void *data, size_t size, size_t count, void *buffer) {
    return qmrt::http::collect_chunk(data, size, count, buffer);
}
