// The reply block of the latest exchange, read by callers.
#include "common/export.hpp"
#include "qmrt/http.h"

QMRT_VISIBLE char *g_birt_temp = nullptr;
QMRT_VISIBLE int32_t g_birt_size = 0;
