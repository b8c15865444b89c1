// qmrt date ... and qmrt now: packed dates, day numbers and the clock texts.
#include <qmrt/qmrt.h>

#include <cstdio>
#include <memory>

#include "commands.hpp"

namespace qmrt::cli {
namespace {

struct DateArgs {
    int32_t packed = 0;
    int32_t day_number = 0;
    int32_t days = 0;
    int16_t year = 0;
    int16_t month = 0;
    int16_t day = 0;
};

// YEAR MONTH DAY operands: the library takes them as 16-bit values, so larger ones are
// refused here instead of being cut.
void add_parts_operands(CLI::App *command, DateArgs &args) {
    add_number(command, "YEAR", args.year, "year")->required();
    add_number(command, "MONTH", args.month, "month (1..12 in a date that exists)")->required();
    add_number(command, "DAY", args.day, "day of the month")->required();
}

// What each subcommand of "date" does with its parsed operands.
int print_day_number(const DateArgs &args) {
    int32_t out = 0;
    std::printf("%d\n", utdateij(&out, args.packed));
    return ok;
}

int print_packed_date(const DateArgs &args) {
    int32_t out = 0;
    std::printf("%d\n", utdateji(&out, args.day_number));
    return ok;
}

int print_parts(const DateArgs &args) {
    int16_t year = 0, month = 0, day = 0;
    utdatejg(args.day_number, &year, &month, &day);
    std::printf("%d %d %d\n", year, month, day);
    return ok;
}

int print_shifted(const DateArgs &args) {
    int32_t out = 0;
    std::printf("%d\n", utdateni(&out, args.packed, args.days));
    return ok;
}

int print_if_valid(const DateArgs &args) {
    const int32_t packed_date = QMdatein(args.year, args.month, args.day);
    if (packed_date == 0) {
        std::fprintf(stderr, "qmrt: %d %d %d is not a valid date\n", args.year, args.month,
                     args.day);
        return refused;
    }
    std::printf("%d\n", packed_date);
    return ok;
}

int print_leap_day(const DateArgs &args) {
    const int32_t is_leap_day = QMleapyr(args.year, args.month, args.day);
    std::printf("%d\n", is_leap_day);
    return is_leap_day == 1 ? ok : refused;
}

}  // namespace

void add_date_commands(CLI::App &app, Action &action) {
    auto args = std::make_shared<DateArgs>();
    CLI::App *date = app.add_subcommand(
        "date", "Packed dates (YYYYMMDD), day numbers (Julian Day Numbers) and date parts");
    date->require_subcommand(1);
    // A subcommand whose action, once its operands are parsed, is `run` given them.
    auto add = [&](const char *name, const char *description, int (*run)(const DateArgs &)) {
        CLI::App *command = date->add_subcommand(name, description);
        command->callback([args, &action, run] { action = [args, run] { return run(*args); }; });
        return command;
    };

    CLI::App *jdn = add("jdn", "Day number of a packed date", print_day_number);
    add_number(jdn, "PACKED", args->packed, "packed date, e.g. 20240229")->required();

    CLI::App *packed = add("packed", "Packed date of a day number", print_packed_date);
    add_number(packed, "DAYNUMBER", args->day_number, "day number, e.g. 2460370")->required();

    CLI::App *parts = add(
        "parts", "Year, month and day of a day number, printed as \"YEAR MONTH DAY\"", print_parts);
    add_number(parts, "DAYNUMBER", args->day_number, "day number, e.g. 2460370")->required();

    CLI::App *shift = add(
        "shift", "Packed date DAYS days after PACKED (before it for negative DAYS)", print_shifted);
    add_number(shift, "PACKED", args->packed, "packed date, e.g. 20240228")->required();
    add_number(shift, "DAYS", args->days, "count of days, may be negative")->required();

    add_parts_operands(
        add("valid", "Validate a date and print it packed; status 1 for a date that does not exist",
            print_if_valid),
        *args);
    add_parts_operands(
        add("leap",
            "Whether the date is 29 February of a leap year: prints 1 (status 0) or 0 (status 1)",
            print_leap_day),
        *args);
}

void add_now_command(CLI::App &app, Action &action) {
    struct NowArgs {
        int16_t code = 8;
        bool time = false;
    };
    auto args = std::make_shared<NowArgs>();
    CLI::App *now = app.add_subcommand("now", "The current local date and time");
    now->footer(
        "Layouts (at 21:07:09 on Thursday 15 February 2024):\n"
        "  0 02152024   1 09:07:09   2 15/02/2024 21:07:09   3 Thu Feb 15   4 02/15/2024\n"
        "  5 15022024   6 Thu Feb 15 21:07   7 15022024   8 2024-02-15\n"
        "--time prints (hour + 10) * 10000 + minute * 100 + second, e.g. 310709.");
    CLI::Option *code = add_number(now, "CODE", args->code, "layout of the text (default 8)", 0, 8);
    now->add_flag("--time", args->time, "print the time of day as an integer instead")
        ->excludes(code);
    now->callback([args, &action] {
        action = [args] {
            if (args->time) {
                std::printf("%d\n", QM_SYSTIME());
                return ok;
            }
            char text[32] = {};  // the longest layout is 19 characters
            QM_TODAY(text, args->code);
            std::printf("%s\n", text);
            return ok;
        };
    });
}

}  // namespace qmrt::cli
