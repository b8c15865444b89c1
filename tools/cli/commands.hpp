// The subcommands of qmrt. Each add_* function registers one group on the application;
// when the group is chosen on the command line, its callback stores the work to run in
// `action`, which main() runs after parsing and whose result is the exit status.
#pragma once

#include <CLI/CLI.hpp>
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

void add_date_commands(CLI::App &app, Action &action);
void add_now_command(CLI::App &app, Action &action);
void add_json_commands(CLI::App &app, Action &action);
void add_http_commands(CLI::App &app, Action &action);
void add_lock_commands(CLI::App &app, Action &action);

}  // namespace qmrt::cli
