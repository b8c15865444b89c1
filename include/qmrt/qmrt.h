/* qmrt: run-time support of the suite's command-line programs.
 * One include for every service; each header can also be included on its own. */
#ifndef QMRT_QMRT_H
#define QMRT_QMRT_H

#include "qmrt/calendar.h"
#include "qmrt/diag.h"
#include "qmrt/http.h"
#include "qmrt/json.h"
#include "qmrt/locks.h"
#include "qmrt/memory.h"

#endif
