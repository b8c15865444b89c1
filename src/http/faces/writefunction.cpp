#include "common/export.hpp"
#include "http/http.hpp"
#include "qmrt/http.h"

QMRT_EXPORT size_t writefunction(void *data, size_t size, size_t count, void *user) {
    return qmrt::http::store_reply_chunk(data, size, count, user);
}
