// The POST exchange against a bare libcurl POST of the same request to the same local
// TLS server, once with TLS 1.3 and once with the server capped at TLS 1.2. Each side
// makes a new transfer handle and a new connection per request; the bare POST makes a
// full handshake every time, the exchange only on the first of a process (measured with
// the saved sessions dropped before each) and resumes the saved session afterwards. What
// the exchange adds is its tracing, the reply block's growth, the tokenizing and the
// lookups. A reply of 50 MB is exchanged against json_fetch of the same reply.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "bench.hpp"
#include "http/http.hpp"
#include "qmrt/http.h"
#include "session_cache.hpp"

namespace qmrt::bench {
namespace {

const char *const request = R"({"action":"query","user":"bench","id":12345})";
const char *const reply =
    R"({"status":"ok","id":"12345","message":"request accepted","items":[1,2,3],)"
    R"("detail":{"code":"A7","note":"all good"}})";

// A key pair and a certificate for 127.0.0.1 signed by itself, made in memory.
struct Credentials {
    EVP_PKEY *key = nullptr;
    X509 *certificate = nullptr;
};

Credentials self_signed() {
    Credentials made;
    made.key = EVP_EC_gen("P-256");
    made.certificate = X509_new();
    if (made.key == nullptr || made.certificate == nullptr) return {};
    X509_set_version(made.certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(made.certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(made.certificate), -60);
    X509_gmtime_adj(X509_getm_notAfter(made.certificate), 24 * 3600);
    X509_set_pubkey(made.certificate, made.key);
    X509_NAME *name = X509_get_subject_name(made.certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(made.certificate, name);
    if (X509_sign(made.certificate, made.key, EVP_sha256()) == 0) return {};
    return made;
}

// A reply of some 50 MB: the exchange's block grows with it chunk by chunk, its trace holds
// it whole and the tokenizer reads it; json_fetch of the same reply only collects it.
const std::string &large_reply() {
    static const std::string text = [] {
        std::string made = R"({"status":"ok","id":"12345","items":[)";
        for (int i = 0; made.size() < 50'000'000; ++i) {
            if (i > 0) made += ',';
            made += R"({"n":)" + std::to_string(i) +
                    R"(,"text":"a line of the reply, long enough to be ordinary"})";
        }
        return made + "]}";
    }();
    return text;
}

struct Server {
    std::unique_ptr<httplib::SSLServer> server;
    std::thread thread;
    std::string url;
    std::string large_url;

    // Listens on a free port of 127.0.0.1 with TLS up to max_version.
    bool start(const Credentials &credentials, int max_version) {
        server = std::make_unique<httplib::SSLServer>(credentials.certificate, credentials.key);
        if (!server->is_valid() || !tls::keep_sessions(server->ssl_context()) ||
            SSL_CTX_set_max_proto_version(server->ssl_context(), max_version) != 1)
            return false;
        // Replies go out in more than one write: without this each waits some 40 ms for a
        // delayed acknowledgement, which would hide what the exchange itself costs.
        server->set_tcp_nodelay(true);
        server->Post("/service", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(reply, "application/json");
        });
        auto large = [](const httplib::Request &, httplib::Response &res) {
            res.set_content(large_reply(), "application/json");
        };
        server->Post("/large", large);
        server->Get("/large", large);
        const int port = server->bind_to_any_port("127.0.0.1");
        if (port <= 0) return false;
        thread = std::thread([this] { server->listen_after_bind(); });
        url = "https://127.0.0.1:" + std::to_string(port) + "/service";
        large_url = "https://127.0.0.1:" + std::to_string(port) + "/large";
        return true;
    }
    ~Server() {
        if (server) server->stop();
        if (thread.joinable()) thread.join();
    }
};

struct Version {
    const char *name;
    int max_version;
};
constexpr Version versions[] = {{"TLS1.3", TLS1_3_VERSION}, {"TLS1.2", TLS1_2_VERSION}};

Server &server(std::size_t version) {
    static Server running[std::size(versions)];
    return running[version];
}

size_t collect(char *data, size_t size, size_t count, void *user) {
    static_cast<std::string *>(user)->append(data, size * count);
    return size * count;
}

// With a share handle, the bare POST resumes TLS sessions as the exchange does: the least a
// fresh handle per request can cost.
void bare_post(benchmark::State &st, std::size_t version, CURLSH *sessions) {
    const std::string &url = server(version).url;
    for (auto _ : st) {
        std::string body;
        CURL *curl = curl_easy_init();
        curl_slist *headers = curl_slist_append(nullptr, "Accept: application/json");
        headers = curl_slist_append(headers, "Content-Type: application/json");
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(std::strlen(request)));
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
        if (sessions != nullptr) curl_easy_setopt(curl, CURLOPT_SHARE, sessions);
        if (curl_easy_perform(curl) != CURLE_OK) st.SkipWithError("the bare POST failed");
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
        benchmark::DoNotOptimize(body);
        benchmark::DoNotOptimize(status);
    }
}

// Later exchanges offer the session an earlier one saved; a first exchange has none.
void call_service(benchmark::State &st, std::size_t version, bool first) {
    const char *const keys[] = {"status", "id", "code", nullptr};
    char cells[3][QM_VALUE_SIZE];
    char *values[] = {cells[0], cells[1], cells[2]};
    http::set_endpoint(server(version).url);
    for (auto _ : st) {
        if (first) {
            st.PauseTiming();
            http::forget_tls_sessions();
            st.ResumeTiming();
        }
        if (QM_callService(request, keys, values) != 0) st.SkipWithError("the exchange failed");
    }
}

// The large reply through the exchange; its 50 MB trace goes before the next one.
void large_exchange(benchmark::State &st) {
    const char *const keys[] = {"status", "id", nullptr};
    char cells[2][QM_VALUE_SIZE];
    char *values[] = {cells[0], cells[1]};
    http::set_endpoint(server(0).large_url);
    for (auto _ : st) {
        if (QM_callService(request, keys, values) != 0) st.SkipWithError("the exchange failed");
        st.PauseTiming();
        std::remove("debug2");
        st.ResumeTiming();
    }
}

void large_fetch(benchmark::State &st) {
    for (auto _ : st) {
        char *text = json_fetch(server(0).large_url.c_str());
        benchmark::DoNotOptimize(text);
        std::free(text);
    }
}

}  // namespace

bool register_exchange_benchmarks() {
    const Credentials credentials = self_signed();
    if (credentials.key == nullptr) return false;
    bool started = true;
    for (std::size_t v = 0; v < std::size(versions); ++v)
        started = started && server(v).start(credentials, versions[v].max_version);
    X509_free(credentials.certificate);
    EVP_PKEY_free(credentials.key);
    if (!started) return false;

    // The exchange appends its trace to "debug2" in the working directory: keep it in a
    // scratch directory of its own.
    static char scratch[] = "/tmp/qmrt-bench-XXXXXX";
    if (mkdtemp(scratch) == nullptr || chdir(scratch) != 0) return false;
    std::atexit([] {
        std::remove((std::string(scratch) + "/debug2").c_str());
        rmdir(scratch);
    });
    http::set_tls_verify(false);

    // Kept to the end of the process, like the exchange's own.
    CURLSH *sessions = curl_share_init();
    curl_share_setopt(sessions, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    for (std::size_t v = 0; v < std::size(versions); ++v) {
        const std::string base = std::string("exchange/") + versions[v].name + "/";
        benchmark::RegisterBenchmark((base + "libcurl").c_str(), bare_post, v, nullptr)
            ->UseRealTime();
        benchmark::RegisterBenchmark((base + "libcurl_shared").c_str(), bare_post, v, sessions)
            ->UseRealTime();
        benchmark::RegisterBenchmark((base + "QM_callService").c_str(), call_service, v, false)
            ->UseRealTime();
        benchmark::RegisterBenchmark((base + "QM_callService_first").c_str(), call_service, v, true)
            ->UseRealTime();
    }
    benchmark::RegisterBenchmark("large_reply/QM_callService", large_exchange)->UseRealTime();
    benchmark::RegisterBenchmark("large_reply/json_fetch", large_fetch)->UseRealTime();
    return true;
}

}  // namespace qmrt::bench
