// What every part of the tool shares: its exit statuses, the work a subcommand leaves to
// run, and the failures of the tool's own part. Apart from commands.hpp, whose option
// parser is most of the tool's compile time, for the parts that parse no options.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace qmrt::cli {

// Exit statuses of every subcommand.
enum Status : int {
    ok = 0,       // the service did what was asked
    refused = 1,  // the service said no: key not found, invalid date, exchange failed...
    usage = 2,    // bad arguments, or the tool could not do its own part (unreadable file)
};

using Action = std::function<int()>;

// A failure of the tool's own part: reported as one line on standard error, status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The work as an action that runs it in a child process with core dumps off. The child's
// exit status is the action's; when the library's fatal report aborts the child, one line
// naming `what` ("fetch of URL") follows the library's report on standard error and the
// status is `refused`. Any other signal ends qmrt by that signal.
Action guarded(std::string what, Action work);

}  // namespace qmrt::cli
