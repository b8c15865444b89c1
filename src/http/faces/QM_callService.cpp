#include "common/export.hpp"
#include "http/http.hpp"
#include "qmrt/http.h"

QMRT_EXPORT int32_t QM_callService(const char *request, const char *const keys[], char *values[]) {
    return qmrt::http::call_service(request, keys, values);
}
