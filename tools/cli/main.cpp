// qmrt: the services of the suite's run-time library as one command, for shell scripts
// and operators.
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "commands.hpp"

namespace {

constexpr const char *footer =
    "Exit status: 0 on success, 1 when the service says no (invalid date, key not found,\n"
    "exchange or fetch failed, lock refused), 2 on a usage error. Files the library writes\n"
    "(\"debug2\", the lock files) land in the working directory.";

// CLI11 reports a mistyped subcommand only as a missing one; name it instead.
std::string unknown_subcommand(CLI::App &app, int argc, char **argv) {
    CLI::App *current = &app;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg.empty() || arg.front() == '-') return {};
        if (current->get_subcommands({}).empty()) return {};
        CLI::App *next = nullptr;
        for (CLI::App *sub : current->get_subcommands({}))
            if (sub->get_name() == arg) next = sub;
        if (next == nullptr)
            return "unknown subcommand " + std::string(arg) + " of " + current->get_name();
        current = next;
    }
    return {};
}

// The groups of subcommands, each with the names it adds to the application. A name left
// out here costs only time: a command line it starts builds every group.
struct Group {
    std::string_view names[2];
    void (*add)(CLI::App &, qmrt::cli::Action &);
};
const Group groups[] = {
    {{"date"}, qmrt::cli::add_date_commands},
    {{"now"}, qmrt::cli::add_now_command},
    {{"json"}, qmrt::cli::add_json_commands},
    {{"fetch", "call"}, qmrt::cli::add_http_commands},
    {{"lock", "locks"}, qmrt::cli::add_lock_commands},
};

// Only the group the command line names is built: the whole tree of subcommands and
// options costs more than anything a date conversion does. Without a group's name first
// (help, version, a mistyped name), every group is built.
void add_commands(CLI::App &app, qmrt::cli::Action &action, std::string_view first) {
    for (const Group &group : groups)
        for (std::string_view name : group.names)
            if (!name.empty() && name == first) return group.add(app, action);
    for (const Group &group : groups) group.add(app, action);
}

int run(int argc, char **argv) {
    using namespace qmrt::cli;
    CLI::App app{"qmrt: the suite's run-time services from the shell", "qmrt"};
    app.footer(footer);
    app.require_subcommand(1);
    app.set_version_flag("--version", "qmrt " QMRT_VERSION);

    Action action;
    add_commands(app, action, argc > 1 ? argv[1] : "");

    if (std::string unknown = unknown_subcommand(app, argc, argv); !unknown.empty()) {
        std::fprintf(stderr, "qmrt: %s (see --help)\n", unknown.c_str());
        return usage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp &help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion &version) {
        return app.exit(version);
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
