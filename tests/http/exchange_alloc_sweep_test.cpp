// One POST exchange with each allocation the library makes in turn failing: every run
// must end in a failed exchange (-1) or a success when the failure was absorbed, never in
// a crash or a fatal report (the exchange never ends the process), and must leave no more blocks
// behind than a successful exchange does (besides the reply block: glibc's cached time-zone file
// name, replaced by the next exchange's). It is swept twice: as the first exchange of a process,
// which makes the TLS session store (an exchange whose store cannot be made goes on without it),
// and as a later one, which resumes the saved session. libcurl's and OpenSSL's own allocations
// during the transfer are theirs to answer for and pass untouched; the reply block's growth, which
// the library does inside the transfer, is swept. Each run is a child process, so that a run that
// did end its process is seen and reported.
#include <curl/curl.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "failing_allocator.hpp"
#include "files.hpp"
#include "http/http.hpp"
#include "https_test_server.hpp"
#include "messages.hpp"
#include "qmrt/diag.h"
#include "qmrt/http.h"
#include "qmrt/memory.h"
#include "scratch_dir.hpp"

namespace alloc = qmrt::test::alloc;

// The library's calls of the transfer and of the handle's cleanup (which closes the
// connection) bind here: what libcurl allocates while they run is foreign, except what
// the library's own write callback asks for.
struct InForeignCode {
    InForeignCode() { ++alloc::foreign_depth; }
    ~InForeignCode() { --alloc::foreign_depth; }
};

template <typename Function>
Function next_definition(const char *name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

extern "C" CURLcode curl_easy_perform(CURL *handle) {
    static const auto perform = next_definition<CURLcode (*)(CURL *)>("curl_easy_perform");
    const InForeignCode foreign;
    return perform(handle);
}

extern "C" void curl_easy_cleanup(CURL *handle) {
    static const auto cleanup = next_definition<void (*)(CURL *)>("curl_easy_cleanup");
    const InForeignCode foreign;
    cleanup(handle);
}

namespace qmrt::test {
namespace {

const char *const keys[] = {"status", "id", nullptr};

// Child exit statuses.
enum Ending { succeeded = 0, failed = 1, leaked = 2, strange = 3 };

int exchange() {
    char cells[2][QM_VALUE_SIZE];
    char *values[] = {cells[0], cells[1]};
    return QM_callService(R"({"action":"query","id":12})", keys, values);
}

// The reply block is the caller's to keep; released, it is not counted as left over.
void release_reply() {
    mbfree(g_birt_temp);
    g_birt_temp = nullptr;
    g_birt_size = 0;
}

// One exchange with allocation n failing, in this process. A first exchange starts without
// a session store; the store it makes is released before the count, as the reply block is.
Ending run_failing(std::size_t n, long allowed, bool first) {
    if (first) qmrt::http::forget_tls_sessions();
    alloc::arm(n);
    const int result = exchange();
    release_reply();
    if (first) qmrt::http::forget_tls_sessions();
    const long left = alloc::leaked();
    alloc::disarm();
    if (left < 0 || left > allowed) return leaked;
    return result == 0 ? succeeded : result == -1 ? failed : strange;
}

// Fails each allocation of one exchange in turn, each in a child process.
void sweep(bool first) {
    // libcurl and OpenSSL set themselves up once per process, which is not the exchange's
    // doing; and a later exchange resumes the session this one leaves.
    ASSERT_EQ(exchange(), 0);
    if (first) qmrt::http::forget_tls_sessions();
    alloc::arm(0);
    ASSERT_EQ(exchange(), 0);
    const std::size_t calls = alloc::calls;
    release_reply();
    if (first) qmrt::http::forget_tls_sessions();
    const long cached = alloc::leaked();
    alloc::disarm();
    ASSERT_LE(cached, 2) << "a successful exchange leaves only the caches";
    ASSERT_EQ(run_failing(0, cached, first), succeeded);
    ASSERT_GT(calls, 10u);

    std::size_t endings[4] = {}, out_of_memory = 0;
    for (std::size_t n = 1; n <= calls; ++n) {
        SCOPED_TRACE(n);
        const std::string report = "stderr-" + std::to_string(n);
        std::fflush(nullptr);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // A child whose streams cannot be redirected ends with no ending of an exchange.
            if (std::freopen(report.c_str(), "w", stderr) == nullptr ||
                std::freopen("/dev/null", "w", stdout) == nullptr)
                _exit(127);
            std::setvbuf(stderr, nullptr, _IONBF, 0);  // unbuffered again, as abort flushes nothing
            const Ending ending = run_failing(n, cached, first);
            std::fputs(qm_errstr, stderr);  // the exchange's message, for the parent to read
            _exit(ending);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status))
            << "ended by signal " << WTERMSIG(status) << ": " << read_file(report);
        const int ending = WEXITSTATUS(status);
        EXPECT_TRUE(ending == succeeded || ending == failed) << "ending " << ending;
        if (ending >= 0 && ending < 4) ++endings[ending];
        if (ending == failed && read_file(report) == messages::no_memory) ++out_of_memory;
        std::remove(report.c_str());
    }
    std::printf("%zu allocations: %zu succeeded, %zu failed\n", calls, endings[succeeded],
                endings[failed]);
    EXPECT_GT(endings[failed], 0u);
    EXPECT_GT(out_of_memory, 0u) << "the exchange's own allocations fail it with its message";
}

TEST(ExchangeAllocationSweep, EveryFailedAllocationEndsInAFailedOrAbsorbedExchange) {
    ScratchDir dir;
    HttpsTestServer server;
    server.on("/service", HttpsReply::json(R"({"status":"ok","id":"12"})"));
    qmrt::http::set_endpoint(server.url("/service"));
    qmrt::http::set_tls_verify(false);
    for (const bool first : {true, false}) {
        SCOPED_TRACE(first ? "first exchange" : "later exchange");
        sweep(first);
    }
}

}  // namespace
}  // namespace qmrt::test
