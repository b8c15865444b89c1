#include "diag/diag.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "emulator.hpp"
#include "files.hpp"
#include "messages.hpp"
#include "qmrt/diag.h"
#include "scratch_dir.hpp"

namespace qmrt::test {
namespace {

using testing::KilledBySignal;

// The report line of a broken check, as a death-test pattern.
std::string assertion_pattern(const char *function, const char *condition) {
    return std::string("^") + function + ": assertion failed: " + condition +
           " \\(src/diag/diag\\.cpp, line [0-9]+\\)\n$";
}

TEST(LogDie, PrintsFormattedTextAndNewlineThenAborts) {
    EXPECT_EXIT(log_die("fatal %d %s", 7, "x"), KilledBySignal(SIGABRT), Reported("^fatal 7 x\n$"));
}

TEST(LogDie, NullFormatReportsItsOwnAssertion) {
    EXPECT_EXIT(log_die(nullptr), KilledBySignal(SIGABRT),
                Reported(assertion_pattern("log_die", "msg != NULL")));
}

TEST(LogInfo, NullFormatIsFatal) {
    EXPECT_EXIT(log_info(nullptr), KilledBySignal(SIGABRT),
                Reported(assertion_pattern("log_info", "msg != NULL")));
}

TEST(LogInfo, PrintsLineOnStandardErrorAndReturnsTheNewline) {
    testing::internal::CaptureStderr();
    int result = log_info("value %d", 5);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "value 5\n");
    EXPECT_EQ(result, 10);
}

TEST(AssertionReport, NamesTheOwningFunctionAndTheCheckSite) {
    EXPECT_EXIT(qmrt::diag::require(false, "buf_concat", "src != NULL"), KilledBySignal(SIGABRT),
                Reported("^buf_concat: assertion failed: src != NULL "
                         "\\(tests/diag/diag_test\\.cpp, line [0-9]+\\)\n$"));
}

TEST(MessageBuffers, FormattingCutsLongTextsAndStaysTerminated) {
    std::string long_text(2000, 'x');
    qmrt::diag::format_message(qm_errstr, "gagal: %s", long_text.c_str());
    EXPECT_EQ(std::strlen(qm_errstr), sizeof qm_errstr - 1);
    EXPECT_EQ(std::string(qm_errstr, 7), "gagal: ");
}

TEST(WriteDebug2, CreatesTheFileThenAppends) {
    ScratchDir dir;
    EXPECT_EQ(write_debug2("first\n"), 0);
    EXPECT_EQ(read_file("debug2"), "first\n");
    EXPECT_EQ(write_debug2("second"), 0);
    EXPECT_EQ(write_debug2(""), 0);
    EXPECT_EQ(read_file("debug2"), "first\nsecond");
}

TEST(WriteDebug2, CreatesTheFileWithModeOfAppendOpening) {
    ScratchDir dir;
    mode_t previous = ::umask(022);
    write_debug2("x");
    ::umask(previous);
    struct stat info {};
    ASSERT_EQ(::stat("debug2", &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(WriteDebug2, OpenFailureIsReportedInCalstrAndOnStandardOutput) {
    ScratchDir dir;
    std::filesystem::create_directory("debug2");  // opening a directory fails even as root
    testing::internal::CaptureStdout();
    EXPECT_EQ(write_debug2("lost"), 0);
    std::fflush(stdout);
    const std::string expected = messages::trace_not_opened(EISDIR);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
    EXPECT_EQ(std::string(qm_calstr), expected);
}

TEST(WriteDebug2, UnwritableDirectoryReportsPermissionError) {
    ScratchDir dir;
    // Root passes permission checks, so the write is tried by an unprivileged child.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::chmod(".", 0555) != 0) ::_exit(2);
        if (::getuid() == 0 && ::setuid(65534) != 0) ::_exit(2);
        write_debug2("lost");
        std::fflush(stdout);
        bool ok = std::string(qm_calstr) == messages::trace_not_opened(EACCES);
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(".", 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists("debug2"));
}

TEST(WriteDebug2, ConcurrentWritersNeverInterleave) {
    ScratchDir dir;
    constexpr int writers = 8;
    constexpr int texts_each = 200;
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0; i < texts_each; ++i) {
                // Long texts of varying length, far above a stdio buffer.
                std::string text(5000 + 37 * i + w, static_cast<char>('a' + w));
                text += '\n';
                write_debug2(text.c_str());
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::istringstream lines(read_file("debug2"));
    std::vector<int> seen(writers, 0);
    std::string line;
    while (std::getline(lines, line)) {
        ASSERT_FALSE(line.empty());
        int w = line[0] - 'a';
        ASSERT_TRUE(w >= 0 && w < writers);
        ASSERT_EQ(line.find_first_not_of(line[0]), std::string::npos) << "interleaved text";
        ASSERT_EQ(line.size(), 5000u + 37u * seen[w] + w) << "texts of one writer out of order";
        ++seen[w];
    }
    for (int count : seen) EXPECT_EQ(count, texts_each);
}

// A trace that is a FIFO, a full device or a file at its size limit: the append neither
// blocks the program nor loses a text without a word. Each case runs in a child of its
// own (a size limit, and a SIGPIPE that would end it), which leaves qm_calstr and what
// it checked afterwards in the file "report".
struct TraceWorld {
    const char *name;
    void (*prepare)();
    std::string message;    // qm_calstr after the append; "" when nothing failed
    std::size_t read_back;  // bytes a FIFO's reader took; or the file's size after
};

constexpr std::size_t world_text = 100000;  // past any pipe's buffer
int fifo_reader = -1;
int fifo_keeper = -1;  // a writer that keeps the reader from seeing an end too early
std::size_t fifo_taken = 0;
std::thread reader_thread;

void make_fifo() {
    ASSERT_EQ(::mkfifo("debug2", 0600), 0);
}

// A reader that takes up to `limit` bytes, then goes.
void start_reader(std::size_t limit) {
    make_fifo();
    fifo_reader = ::open("debug2", O_RDONLY | O_NONBLOCK);
    fifo_keeper = ::open("debug2", O_WRONLY | O_NONBLOCK);
    ::fcntl(fifo_reader, F_SETFL, 0);
    reader_thread = std::thread([limit] {
        char chunk[4096];
        for (ssize_t got;
             fifo_taken < limit &&
             (got = ::read(fifo_reader, chunk, std::min(sizeof chunk, limit - fifo_taken))) > 0;)
            fifo_taken += static_cast<std::size_t>(got);
        ::close(fifo_reader);
    });
}

TEST(WriteDebug2, HostileTraceFilesNeverBlockOrLoseTextsSilently) {
    const TraceWorld worlds[] = {
        {"FIFO without a reader", make_fifo, messages::trace_not_opened(ENXIO), 0},
        {"FIFO with a reader", [] { start_reader(SIZE_MAX); }, "", world_text},
        {"FIFO whose reader goes", [] { start_reader(1); }, messages::trace_not_written(EPIPE), 1},
        {"full device", [] { std::filesystem::create_symlink("/dev/full", "debug2"); },
         messages::trace_not_written(ENOSPC), 0},
        {"file at its size limit",
         [] {
             write_debug2("first\n");
             ::signal(SIGXFSZ, SIG_IGN);
             const rlimit limit{6 + 4000, RLIM_INFINITY};
             ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
         },
         messages::trace_not_written(EFBIG), 6 + 4000},
    };
    for (const TraceWorld &world : worlds) {
        SCOPED_TRACE(world.name);
        ScratchDir dir;
        std::fflush(nullptr);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (std::freopen("/dev/null", "w", stdout) == nullptr) ::_exit(2);
            ::alarm(20);  // an append that blocks ends the child, not the test run
            world.prepare();
            qm_calstr[0] = '\0';
            write_debug2(std::string(world_text, 'x').c_str());
            if (reader_thread.joinable()) {
                ::close(fifo_keeper);
                reader_thread.join();
            }
            const std::size_t read_back = fifo_reader >= 0 ? fifo_taken
                                          : std::filesystem::is_regular_file("debug2")
                                              ? std::filesystem::file_size("debug2")
                                              : 0;
            std::ofstream("report") << qm_calstr << '|' << read_back;
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(read_file("report"), world.message + '|' + std::to_string(world.read_back));
    }
}

}  // namespace
}  // namespace qmrt::test
