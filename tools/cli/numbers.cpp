// Whole numbers on the command line: one reading, and one form of refusal that names the
// range, for every numeric operand and option of the tool.
#include <charconv>
#include <string_view>

#include "commands.hpp"

namespace qmrt::cli {

CLI::Validator whole_number(long long min, long long max) {
    const std::string range = std::to_string(min) + ".." + std::to_string(max);
    auto check = [min, max, range](std::string &input) -> std::string {
        std::string_view digits = input;
        if (digits.starts_with('+') && !digits.substr(1).starts_with('-')) digits.remove_prefix(1);
        long long value = 0;
        const char *end = digits.data() + digits.size();
        const auto [stop, error] = std::from_chars(digits.data(), end, value);
        if (digits.empty() || stop != end || error == std::errc::invalid_argument)
            return input + " is not a whole number in " + range;
        if (error == std::errc::result_out_of_range || value < min || value > max)
            return input + " is not in " + range;
        // The conversion that follows reads a leading zero as octal ("09" would fail, "010"
        // be 8); it gets the number in plain decimal instead.
        input = std::to_string(value);
        return {};
    };
    return CLI::Validator(check, range);
}

}  // namespace qmrt::cli
