// The library's fatal report ends the process with an abort. The subcommands whose
// library calls can end that way run them in a child process with core dumps off, so an
// abort ends only the child: its report reaches standard error as it stands, and qmrt
// ends with one more line naming what failed and status 1, as every other "no" does.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "status.hpp"

namespace qmrt::cli {
namespace {

void core_dumps_off() {
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    // Also keeps a core_pattern pipe (systemd-coredump, apport) from taking a dump.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

// Ends qmrt the way the child ended: the same signal, without a core of its own.
[[noreturn]] void end_by(int signal_number) {
    core_dumps_off();
    std::fflush(nullptr);
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
    ::_exit(128 + signal_number);
}

}  // namespace

Action guarded(std::string what, Action work) {
    return [what = std::move(what), work = std::move(work)]() -> int {
        std::fflush(nullptr);  // nothing buffered is written twice
        const pid_t child = ::fork();
        if (child < 0)
            throw UsageError("cannot start a process for the " + what + ": " +
                             std::strerror(errno));
        if (child == 0) {
            // The child does the work, prints its results and ends through main() with
            // the work's status, as qmrt itself would.
            core_dumps_off();
            return work();
        }
        int raw = 0;
        while (::waitpid(child, &raw, 0) < 0) {
            if (errno != EINTR)
                throw UsageError("lost the process of the " + what + ": " + std::strerror(errno));
        }
        if (WIFEXITED(raw)) return WEXITSTATUS(raw);
        const int signal_number = WTERMSIG(raw);
        if (signal_number == SIGABRT) {
            std::fprintf(stderr,
                         "qmrt: the %s failed: the library ended it with its fatal report\n",
                         what.c_str());
            return refused;
        }
        // Not the fatal report: a crash, or a signal from outside (SIGPIPE, an interrupt);
        // qmrt ends by the same signal so that the caller sees it as such.
        end_by(signal_number);
    };
}

}  // namespace qmrt::cli
