// The second of the latest clock reading of QM_SYSTIME, uttimesi and the exchange.
#include "common/export.hpp"
#include "qmrt/calendar.h"

QMRT_VISIBLE int32_t g_timesec = 0;
