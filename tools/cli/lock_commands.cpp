// qmrt lock / qmrt locks: run a lock operation (and keep its locks), and show who holds
// what in the working directory's lock files.
#include <qmrt/qmrt.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "commands.hpp"
#include "lock_map.hpp"

namespace qmrt::cli {
namespace {

// A refusal ends the process inside the lock operation. While an operation runs, this
// exit handler turns that end into the tool's "no" status, naming the status the suite's
// programs would have ended with.
bool operation_running = false;

void on_refusal(int status, void *) {
    if (!operation_running) return;
    std::fflush(stdout);
    std::fprintf(stderr, "qmrt: lock refused: the operation ended the process with status %d\n",
                 status & 0xFF);
    std::fflush(stderr);
    ::_exit(refused);
}

struct Outcome {
    bool taken;
    std::string text;
};

// What the result of the operation means, and whether it got what it asked for.
Outcome outcome_of(int32_t code, int32_t result, int16_t slot, bool wt) {
    if (wt && code != 2) return {true, "g_wt set: lock files opened, nothing locked or tested"};
    switch (code) {
        case 0:
            return {true, "Pelmarin lock taken"};
        case 1:
            return {true, "tovrasel/kinsoret pair lock taken with the run-program range"};
        case 2:
            if (result == -2) return {false, "user slot " + std::to_string(slot) + " is full"};
            if (slot < 0) return {true, "tovrasel/kinsoret is not running; no slot byte asked for"};
            return {true, "slot byte taken, g_usernum = " + std::to_string(g_usernum)};
        case 5:
            if (result == 1) return {true, "joined the verify set"};
            return {false, "could not join the verify set"};
        case 6:
            if (result == 1) return {false, "another process is in the verify set"};
            return {true, "no other process is in the verify set"};
        default:
            return {true, "no operation of its own: lock files opened"};
    }
}

void print_own_locks() {
    const std::vector<LockReport> own = held_locks(::getpid());
    if (own.empty()) {
        std::printf("this process holds no lock\n");
        return;
    }
    for (const LockReport &lock : own)
        std::printf("holds %s %s %s: %s\n", lock.file.c_str(),
                    lock.bytes.find('-') == std::string::npos ? "byte" : "bytes",
                    lock.bytes.c_str(), lock.meaning.c_str());
}

// Keeps the process, and so its locks, until an interrupt, hang-up or termination.
void hold_until_interrupted() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    std::printf("holding the locks until interrupted (PID %d)\n", static_cast<int>(::getpid()));
    std::fflush(stdout);
    int received = 0;
    sigwait(&stop, &received);
    std::printf("released\n");
}

struct LockArgs {
    int32_t code = 0;
    int16_t slot = 0;
    bool wt = false;
    bool hold = false;
};

int lock(const LockArgs &args) {
    g_wt = args.wt ? 1 : 0;
    g_slotnum = args.slot;
    std::fflush(stdout);
    if (::on_exit(on_refusal, nullptr) != 0) throw UsageError("cannot watch for a refusal");
    operation_running = true;
    const int32_t result = DQ_LOCKING(args.code);
    operation_running = false;

    const Outcome outcome = outcome_of(args.code, result, args.slot, args.wt);
    std::printf("DQ_LOCKING(%d) = %d: %s\n", args.code, result, outcome.text.c_str());
    print_own_locks();
    if (!outcome.taken) return refused;
    if (args.hold) hold_until_interrupted();
    return ok;
}

int list_locks() {
    const std::vector<LockReport> locks = held_locks();
    if (locks.empty()) {
        std::printf("no locks held on .LOCK or .VF_LOCK here\n");
        return ok;
    }
    std::printf("%-9s %-9s %7s  %-15s %s\n", "file", "bytes", "pid", "command", "meaning");
    for (const LockReport &lock : locks)
        std::printf("%-9s %-9s %7d  %-15s %s\n", lock.file.c_str(), lock.bytes.c_str(),
                    static_cast<int>(lock.pid), lock.command.c_str(), lock.meaning.c_str());
    return ok;
}

}  // namespace

void add_lock_commands(CLI::App &app, Action &action) {
    auto args = std::make_shared<LockArgs>();
    CLI::App *lock_command = app.add_subcommand(
        "lock", "Run a lock operation in the working directory and print its result");
    add_number(lock_command, "CODE", args->code,
               "0 Pelmarin, 1 tovrasel/kinsoret pair, 2 user slot, 5 verify join, 6 verify "
               "test; other codes only open the files")
        ->required();
    add_number(lock_command, "--slot", args->slot,
               "user slot for code 2 (default 0; negative: none)");
    lock_command->add_flag("--wt", args->wt, "set g_wt: every code but 2 only opens its files");
    lock_command->add_flag(
        "--hold", args->hold,
        "keep the locks until interrupted (Ctrl-C, SIGTERM, SIGHUP), to reproduce a "
        "conflict from another terminal");
    lock_command->footer(
        "Status 0 when the operation got what it asked for; 1 when it was refused (the\n"
        "library's message is on standard output), the slot was full, code 5 could not join,\n"
        "or code 6 found another member. The locks last as long as this process.");
    lock_command->callback([args, &action] { action = [args] { return lock(*args); }; });

    CLI::App *locks_command = app.add_subcommand(
        "locks", "Who holds what in .LOCK and .VF_LOCK of the working directory");
    locks_command->footer(
        "For each held range: the bytes, the holder's PID and command name, and what the\n"
        "bytes mean: .LOCK byte 0 Pelmarin, byte 1 tovrasel/kinsoret, bytes 2-201 the\n"
        "run-program range (held with byte 1), bytes 30 + 3s + i user slot s, place i;\n"
        ".VF_LOCK byte k one verify member. Read from /proc/locks and /proc/PID/comm.");
    locks_command->callback([&action] { action = [] { return list_locks(); }; });
}

}  // namespace qmrt::cli
