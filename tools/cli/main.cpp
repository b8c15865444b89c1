// qmrt: the services of the suite's run-time library as one command, for shell scripts
// and operators.
#include <cstdio>
#include <exception>

#include "commands.hpp"

namespace {

constexpr const char *footer =
    "Exit status: 0 on success, 1 when the service says no (invalid date, key not found,\n"
    "exchange failed, lock refused), 2 on a usage error. Files the library writes\n"
    "(\"debug2\", the lock files) land in the working directory.";

int run(int argc, char **argv) {
    using namespace qmrt::cli;
    CLI::App app{"qmrt: the suite's run-time services from the shell", "qmrt"};
    app.footer(footer);
    app.require_subcommand(1);

    Action action;
    add_date_commands(app, action);
    add_now_command(app, action);
    add_json_commands(app, action);
    add_http_commands(app, action);
    add_lock_commands(app, action);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp &help) {
        return app.exit(help);
    } catch (const CLI::ParseError &error) {
        std::fprintf(stderr, "qmrt: %s (see --help)\n", error.what());
        return usage;
    }
    try {
        return action ? action() : usage;
    } catch (const UsageError &error) {
        std::fprintf(stderr, "qmrt: %s\n", error.what());
        return usage;
    }
}

}  // namespace

int main(int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "qmrt: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "qmrt: unexpected failure\n");
    }
    return qmrt::cli::usage;
}
