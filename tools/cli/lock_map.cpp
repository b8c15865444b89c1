#include "lock_map.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

#include "byte_map.hpp"
#include "status.hpp"

namespace qmrt::cli {
namespace {

namespace map = qmrt::locks;

constexpr off_t run_range_last = map::run_range_start + map::run_range_length - 1;

std::vector<std::string_view> fields_of(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        std::size_t begin = line.find_first_not_of(" \t", at);
        if (begin == std::string_view::npos) break;
        std::size_t end = line.find_first_of(" \t", begin);
        if (end == std::string_view::npos) end = line.size();
        fields.push_back(line.substr(begin, end - begin));
        at = end;
    }
    return fields;
}

template <typename Number>
bool number_of(std::string_view text, Number &out, int base = 10) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return error == std::errc() && end == text.data() + text.size();
}

// "user slot 3, place 1", "user slot 3, places 0-2", "user slots 3 (place 2) to 5 (place 0)".
std::string describe_slots(off_t first, off_t last) {
    const off_t first_slot = (first - map::slot_base) / map::slot_stride;
    const off_t first_place = (first - map::slot_base) % map::slot_stride;
    const off_t last_slot = (last - map::slot_base) / map::slot_stride;
    const off_t last_place = (last - map::slot_base) % map::slot_stride;
    std::ostringstream text;
    if (first_slot == last_slot) {
        text << "user slot " << first_slot;
        if (first_place == last_place)
            text << ", place " << first_place;
        else
            text << ", places " << first_place << '-' << last_place;
    } else if (first_place == 0 && last_place == map::slot_width - 1) {
        text << "user slots " << first_slot << '-' << last_slot;
    } else {
        text << "user slots " << first_slot << " (place " << first_place << ") to " << last_slot
             << " (place " << last_place << ')';
    }
    return text.str();
}

std::string comm_of(pid_t pid) {
    if (pid <= 0) return "-";
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!std::getline(comm, name)) return "?";
    return name;
}

}  // namespace

std::vector<HeldRange> parse_lock_table(std::string_view table) {
    std::vector<HeldRange> held;
    while (!table.empty()) {
        std::size_t newline = table.find('\n');
        std::string_view line = table.substr(0, newline);
        table = newline == std::string_view::npos ? std::string_view() : table.substr(newline + 1);

        // "1: POSIX  ADVISORY  WRITE 12345 08:01:1234567 0 EOF"
        std::vector<std::string_view> fields = fields_of(line);
        if (fields.size() < 8 || fields[1] == "->") continue;
        HeldRange range;
        range.kind = std::string(fields[1]);
        range.write = fields[3] == "WRITE";
        if (!number_of(fields[4], range.pid)) continue;
        std::string_view device = fields[5];
        std::size_t colon1 = device.find(':');
        std::size_t colon2 = device.find(':', colon1 == std::string_view::npos ? 0 : colon1 + 1);
        if (colon1 == std::string_view::npos || colon2 == std::string_view::npos) continue;
        if (!number_of(device.substr(0, colon1), range.major, 16) ||
            !number_of(device.substr(colon1 + 1, colon2 - colon1 - 1), range.minor, 16) ||
            !number_of(device.substr(colon2 + 1), range.inode))
            continue;
        if (!number_of(fields[6], range.first)) continue;
        if (fields[7] != "EOF") {
            off_t last = 0;
            if (!number_of(fields[7], last)) continue;
            range.last = last;
        }
        held.push_back(range);
    }
    return held;
}

std::string bytes_text(off_t first, std::optional<off_t> last) {
    if (!last) return std::to_string(first) + "-end";
    if (*last == first) return std::to_string(first);
    return std::to_string(first) + '-' + std::to_string(*last);
}

std::string describe_basic_range(off_t first, std::optional<off_t> last) {
    auto covers = [&](off_t byte) { return first <= byte && (!last || byte <= *last); };
    std::vector<std::string> parts;
    if (covers(map::pelmarin_byte)) parts.emplace_back("Pelmarin");
    if (covers(map::pair_byte)) parts.emplace_back("tovrasel/kinsoret");

    off_t next = std::max(first, map::run_range_start);
    if (covers(map::run_range_start) && covers(run_range_last)) {
        // Code 1 takes 2..201 whole; slot bytes inside it are not slots here.
        parts.emplace_back("run-program range (bytes 2-201)");
        next = run_range_last + 1;
    } else if (next < map::slot_base && (!last || next <= *last)) {
        const off_t part_last =
            last ? std::min<off_t>(*last, map::slot_base - 1) : map::slot_base - 1;
        parts.push_back("part of the run-program range (bytes " + bytes_text(next, part_last) +
                        ")");
        next = map::slot_base;
    }
    if (!last) {
        parts.push_back("user slots from " +
                        std::to_string((next - map::slot_base) / map::slot_stride) +
                        " to the end of the file");
    } else if (next <= *last) {
        parts.push_back(describe_slots(next, *last));
    }
    std::string text;
    for (const std::string &part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

std::string describe_verify_range(off_t first, std::optional<off_t> last) {
    if (last && *last == first) return "verify member";
    if (first == map::verify_first_byte && last &&
        *last == map::verify_first_byte + map::verify_test_length - 1)
        return "verify test (bytes 0-199, released at once) or 200 members of one process";
    return "verify members, several held by one process";
}

std::vector<LockReport> held_locks(std::optional<pid_t> pid) {
    struct LockFile {
        const char *name;
        std::string (*describe)(off_t, std::optional<off_t>);
    };
    const LockFile files[] = {{map::basic_file, describe_basic_range},
                              {map::verify_file, describe_verify_range}};

    std::ifstream proc("/proc/locks");
    if (!proc) throw UsageError("cannot read /proc/locks");
    std::ostringstream content;
    content << proc.rdbuf();
    const std::vector<HeldRange> table = parse_lock_table(content.str());

    std::vector<LockReport> reports;
    for (const LockFile &file : files) {
        struct stat info {};
        if (::stat(file.name, &info) != 0) continue;  // no such file: nothing held on it
        std::vector<HeldRange> on_file;
        for (const HeldRange &range : table)
            if (range.inode == info.st_ino && range.major == ::major(info.st_dev) &&
                range.minor == ::minor(info.st_dev) && (!pid || range.pid == *pid))
                on_file.push_back(range);
        std::sort(on_file.begin(), on_file.end(),
                  [](const HeldRange &a, const HeldRange &b) { return a.first < b.first; });
        for (const HeldRange &range : on_file) {
            LockReport report;
            report.file = file.name;
            report.bytes = bytes_text(range.first, range.last);
            report.meaning = file.describe(range.first, range.last);
            if (range.kind != "POSIX") report.meaning += " [" + range.kind + " lock]";
            if (!range.write) report.meaning += " [read lock]";
            report.pid = range.pid;
            report.command = comm_of(range.pid);
            reports.push_back(std::move(report));
        }
    }
    return reports;
}

}  // namespace qmrt::cli
