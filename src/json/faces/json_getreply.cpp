#include "common/export.hpp"
#include "diag/diag.hpp"
#include "json/tokens.hpp"
#include "qmrt/json.h"

QMRT_EXPORT int32_t json_getreply(const char *, const json_token *tokens) {
    qmrt::diag::BrokenCheck broken;
    const char *fault = qmrt::json::reply_fault(tokens, broken);
    qmrt::diag::report(broken);
    if (fault != nullptr) qmrt::diag::fatal("%s", fault);
    return 0;
}
