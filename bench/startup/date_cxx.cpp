// The same program in C++ without the library: the conversion by std::chrono and the text
// by std::string, so that it loads the C++ run-time as a program of the library does.
#include <chrono>
#include <cstdio>
#include <string>

int main() {
    using namespace std::chrono;
    constexpr int unix_epoch_day = 2440588;
    const sys_days date = year{2024} / February / 29;
    std::string text = std::to_string(date.time_since_epoch().count() + unix_epoch_day);
    text += '\n';
    std::fputs(text.c_str(), stdout);
    return 0;
}
