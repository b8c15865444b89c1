// The shared message buffers, read by callers.
#include "common/export.hpp"
#include "qmrt/diag.h"

QMRT_VISIBLE char qm_errstr[500];
QMRT_VISIBLE char qm_calstr[500];
