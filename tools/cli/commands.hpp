// The subcommands of qmrt. Each add_* function registers one group on the application;
// when the group is chosen on the command line, its callback stores the work to run in
// `action`, which main() runs after parsing and whose result is the exit status.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

#include "status.hpp"

namespace qmrt::cli {

// Accepts a decimal whole number from min to max (a leading zero does not make it octal),
// and shows the range in the help as "MIN..MAX". A refusal names the same range:
// "--width: -1 is not in 1..2147483647", "YEAR: x is not a whole number in -32768..32767".
CLI::Validator whole_number(long long min, long long max);

// Every numeric operand and option of the tool: a whole number in min..max, by default
// the range of the library parameter it is passed to.
template <typename T>
CLI::Option *add_number(CLI::App *app, const std::string &name, T &value,
                        const std::string &description,
                        long long min = std::numeric_limits<T>::min(),
                        long long max = std::numeric_limits<T>::max()) {
    static_assert(std::is_integral_v<T> && sizeof(T) <= sizeof(std::int32_t),
                  "the range of the value must fit the checked range");
    return app->add_option(name, value, description)->transform(whole_number(min, max));
}

void add_date_commands(CLI::App &app, Action &action);
void add_now_command(CLI::App &app, Action &action);
void add_json_commands(CLI::App &app, Action &action);
void add_http_commands(CLI::App &app, Action &action);
void add_lock_commands(CLI::App &app, Action &action);

}  // namespace qmrt::cli
