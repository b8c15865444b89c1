// The date conversions against the standard library's civil calendar doing the same
// conversion. Both sides convert one date per out-of-line call, as a program calling
// the library does, so that neither loop is folded or vectorised across dates.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

#include "bench.hpp"
#include "qmrt/calendar.h"

namespace qmrt::bench {
namespace {

using namespace std::chrono;

// The day number of 1970-01-01, where sys_days counts from.
constexpr std::int32_t unix_epoch_day = 2440588;

[[gnu::noinline]] std::int32_t chrono_packed_to_day_number(std::int32_t packed) {
    const year_month_day date{year{packed / 10000},
                              month{static_cast<unsigned>(packed / 100 % 100)},
                              day{static_cast<unsigned>(packed % 100)}};
    return sys_days{date}.time_since_epoch().count() + unix_epoch_day;
}

std::int32_t pack(const year_month_day &date) {
    return static_cast<int>(date.year()) * 10000 + static_cast<int>(unsigned(date.month())) * 100 +
           static_cast<int>(unsigned(date.day()));
}

[[gnu::noinline]] std::int32_t chrono_day_number_to_packed(std::int32_t day_number) {
    return pack(year_month_day{sys_days{days{day_number - unix_epoch_day}}});
}

[[gnu::noinline]] std::int32_t chrono_shift_packed(std::int32_t packed, std::int32_t shift) {
    const year_month_day date{year{packed / 10000},
                              month{static_cast<unsigned>(packed / 100 % 100)},
                              day{static_cast<unsigned>(packed % 100)}};
    return pack(year_month_day{sys_days{date} + days{shift}});
}

// The same dates for both sides: valid dates from 1900 to 2100, shifts within 3 years.
struct Dates {
    std::vector<std::int32_t> packed, day_numbers, shifts;
};

const Dates &dates() {
    static const Dates made = [] {
        Dates d;
        std::mt19937 rng(2024);
        std::uniform_int_distribution<std::int32_t> day(2415021, 2488070), shift(-1000, 1000);
        for (int i = 0; i < 4096; ++i) {
            d.day_numbers.push_back(day(rng));
            d.packed.push_back(chrono_day_number_to_packed(d.day_numbers.back()));
            d.shifts.push_back(shift(rng));
        }
        return d;
    }();
    return made;
}

template <typename Convert>
void convert_all(benchmark::State &st, Convert convert) {
    const Dates &d = dates();
    for (auto _ : st)
        for (std::size_t i = 0; i < d.packed.size(); ++i) benchmark::DoNotOptimize(convert(d, i));
    st.SetItemsProcessed(static_cast<std::int64_t>(st.iterations() * d.packed.size()));
}

}  // namespace

void register_date_benchmarks() {
    benchmark::RegisterBenchmark("dates/utdateij", [](benchmark::State &st) {
        convert_all(st, [](const Dates &d, std::size_t i) {
            std::int32_t result;
            return utdateij(&result, d.packed[i]);
        });
    });
    benchmark::RegisterBenchmark("dates/chrono_ymd_to_sys_days", [](benchmark::State &st) {
        convert_all(st, [](const Dates &d, std::size_t i) {
            return chrono_packed_to_day_number(d.packed[i]);
        });
    });
    benchmark::RegisterBenchmark("dates/utdateji", [](benchmark::State &st) {
        convert_all(st, [](const Dates &d, std::size_t i) {
            std::int32_t result;
            return utdateji(&result, d.day_numbers[i]);
        });
    });
    benchmark::RegisterBenchmark("dates/chrono_sys_days_to_ymd", [](benchmark::State &st) {
        convert_all(st, [](const Dates &d, std::size_t i) {
            return chrono_day_number_to_packed(d.day_numbers[i]);
        });
    });
    // A day number to its packed date and back, each direction one call, on both sides.
    benchmark::RegisterBenchmark("dates/round_trip", [](benchmark::State &st) {
        convert_all(st, [](const Dates &d, std::size_t i) {
            std::int32_t packed, back;
            return utdateij(&back, utdateji(&packed, d.day_numbers[i]));
        });
    });
    benchmark::RegisterBenchmark("dates/chrono_round_trip", [](benchmark::State &st) {
        convert_all(st, [](const Dates &d, std::size_t i) {
            return chrono_packed_to_day_number(chrono_day_number_to_packed(d.day_numbers[i]));
        });
    });
    benchmark::RegisterBenchmark("dates/utdateni", [](benchmark::State &st) {
        convert_all(st, [](const Dates &d, std::size_t i) {
            std::int32_t result;
            return utdateni(&result, d.packed[i], d.shifts[i]);
        });
    });
    benchmark::RegisterBenchmark("dates/chrono_shift", [](benchmark::State &st) {
        convert_all(st, [](const Dates &d, std::size_t i) {
            return chrono_shift_packed(d.packed[i], d.shifts[i]);
        });
    });
}

// Both sides must agree on every date before their times mean anything.
bool dates_agree() {
    const Dates &d = dates();
    for (std::size_t i = 0; i < d.packed.size(); ++i) {
        std::int32_t a, b, c;
        if (utdateij(&a, d.packed[i]) != chrono_packed_to_day_number(d.packed[i]) ||
            utdateji(&b, d.day_numbers[i]) != chrono_day_number_to_packed(d.day_numbers[i]) ||
            utdateni(&c, d.packed[i], d.shifts[i]) != chrono_shift_packed(d.packed[i], d.shifts[i]))
            return false;
    }
    return true;
}

}  // namespace qmrt::bench
