// CPU time per start of a small program, set against a peer in the same run: a program of
// the suite that converts one date with the library against the same program without it
// (in C, and in C++, linked with the C++ run-time as a program of the library is), and
// `qmrt date jdn` against `date`. A start's CPU time is the child's own, user and system,
// from exec to exit: the loading and relocation of every library it needs included.
// Rounds alternate the programs, so that a busy spell of the machine falls on all alike,
// and each program's figure is its median over the rounds.
//   qmrt_startup_bench QMRT_TOOL [ROUNDS [STARTS_PER_ROUND]]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

extern char **environ;

namespace {

struct Program {
    const char *name;
    std::vector<std::string> argv;
    const char *output;  // what it must print, or null when that depends on the host
};

// The environment of every start: the caller's, with immediate binding or without.
std::vector<char *> environment(bool bind_now) {
    std::vector<char *> env;
    for (char **entry = environ; *entry != nullptr; ++entry)
        if (std::string(*entry).rfind("LD_BIND_NOW=", 0) != 0) env.push_back(*entry);
    static char now[] = "LD_BIND_NOW=1";
    if (bind_now) env.push_back(now);
    env.push_back(nullptr);
    return env;
}

// Starts the program once with its standard output on `out`; its CPU time in ns, or -1
// when it could not run or failed.
double start(const Program &program, std::vector<char *> &env, int out) {
    std::vector<char *> argv;
    for (const std::string &arg : program.argv) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    pid_t pid;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    auto ns = [](const timeval &t) { return t.tv_sec * 1e9 + t.tv_usec * 1e3; };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

// The program prints what it should (a mistaken peer would make every ratio meaningless).
bool prints_as_expected(const Program &program) {
    char name[] = "/tmp/qmrt-startup-XXXXXX";
    const int out = mkstemp(name);
    if (out < 0) return false;
    unlink(name);
    std::vector<char *> env = environment(false);
    bool good = start(program, env, out) >= 0;
    if (good && program.output != nullptr) {
        char text[64] = {};
        good = pread(out, text, sizeof text - 1, 0) >= 0 && std::string(text) == program.output;
    }
    close(out);
    return good;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string cell(double value) {
    char text[16];
    std::snprintf(text, sizeof text, "%9.2f", value);
    return text;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: %s QMRT_TOOL [ROUNDS [STARTS_PER_ROUND]]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
    const int starts = argc > 3 ? std::atoi(argv[3]) : 20;
    const Program programs[] = {
        {"c_qmrt", {QMRT_STARTUP_C_QMRT}, "2460370\n"},
        {"c", {QMRT_STARTUP_C}, "2460370\n"},
        {"cxx", {QMRT_STARTUP_CXX}, "2460370\n"},
        {"qmrt", {argv[1], "date", "jdn", "20240229"}, "2460370\n"},
        {"date", {"date", "-d", "2024-02-29", "+%s"}, nullptr},
    };
    for (const Program &program : programs)
        if (!prints_as_expected(program)) {
            std::fprintf(stderr, "%s does not run as expected\n", program.argv[0].c_str());
            return 1;
        }

    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::map<std::string, double> lazy, now;
    for (const bool bind_now : {false, true}) {
        std::vector<char *> env = environment(bind_now);
        std::map<std::string, std::vector<double>> per_round;
        for (int round = 0; round < rounds; ++round)
            for (std::size_t i = 0; i < std::size(programs); ++i) {
                // Each round starts with another program, so none always runs first.
                const Program &program = programs[(i + round) % std::size(programs)];
                double total = 0;
                for (int s = 0; s < starts; ++s) {
                    const double ns = start(program, env, null);
                    if (ns < 0) {
                        std::fprintf(stderr, "%s failed\n", program.argv[0].c_str());
                        return 1;
                    }
                    total += ns;
                }
                per_round[program.name].push_back(total / starts);
            }
        for (const auto &[name, times] : per_round) (bind_now ? now : lazy)[name] = median(times);
    }

    struct Row {
        const char *program, *peer, *a, *b;
        double target;  // 0: none
    };
    const Row rows[] = {
        {"C program with qmrt", "the same C program", "c_qmrt", "c", 0},
        {"C program with qmrt", "a C++ program without qmrt", "c_qmrt", "cxx", 1.5},
        {"qmrt date jdn", "date", "qmrt", "date", 2.0},
    };
    std::printf(
        "\n== Start-up: CPU time per start, the program's over its peer's (lower is better)\n"
        "   median of %d rounds of %d starts of each, the programs alternating;\n"
        "   lazy: as built; bind now: LD_BIND_NOW=1, as hardened programs bind\n",
        rounds, starts);
    std::printf("%-20s %-28s %9s %9s  target\n", "program", "peer", "lazy", "bind now");
    for (const Row &row : rows) {
        const double ratio = lazy[row.a] / lazy[row.b];
        std::printf("%-20s %-28s %s %s", row.program, row.peer, cell(ratio).c_str(),
                    cell(now[row.a] / now[row.b]).c_str());
        if (row.target > 0)
            std::printf("  <= %.2f %s", row.target, ratio <= row.target ? "met" : "MISSED");
        std::printf("\n");
    }
    std::printf("   per start, lazy (bind now), in microseconds:");
    for (const Program &program : programs)
        std::printf(" %s %.0f (%.0f)", program.name, lazy[program.name] / 1e3,
                    now[program.name] / 1e3);
    std::printf("\n");
    return 0;
}
