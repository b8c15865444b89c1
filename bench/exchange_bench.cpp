// The POST exchange against a bare libcurl POST of the same request to the same local
// TLS server: what the exchange adds is its tracing, the reply block's growth, the
// tokenizing and the lookups. Each side makes a new transfer handle per request, as
// the exchange does, so both pay the same connection and handshake.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "bench.hpp"
#include "http/http.hpp"
#include "qmrt/http.h"

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

struct Server {
    std::unique_ptr<httplib::SSLServer> server;
    std::thread thread;
    std::string url;

    ~Server() {
        if (server) server->stop();
        if (thread.joinable()) thread.join();
    }
};

Server &server() {
    static Server running;
    return running;
}

size_t collect(char *data, size_t size, size_t count, void *user) {
    static_cast<std::string *>(user)->append(data, size * count);
    return size * count;
}

void bare_post(benchmark::State &st) {
    const std::string &url = server().url;
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
        if (curl_easy_perform(curl) != CURLE_OK) st.SkipWithError("the bare POST failed");
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
        benchmark::DoNotOptimize(body);
        benchmark::DoNotOptimize(status);
    }
}

void call_service(benchmark::State &st) {
    const char *const keys[] = {"status", "id", "code", nullptr};
    char cells[3][QM_VALUE_SIZE];
    char *values[] = {cells[0], cells[1], cells[2]};
    for (auto _ : st)
        if (QM_callService(request, keys, values) != 0) st.SkipWithError("the exchange failed");
}

}  // namespace

bool register_exchange_benchmarks() {
    const Credentials credentials = self_signed();
    if (credentials.key == nullptr) return false;
    Server &s = server();
    s.server = std::make_unique<httplib::SSLServer>(credentials.certificate, credentials.key);
    X509_free(credentials.certificate);
    EVP_PKEY_free(credentials.key);
    if (!s.server->is_valid()) return false;
    // Replies go out in more than one write: without this each waits some 40 ms for a
    // delayed acknowledgement, which would hide what the exchange itself costs.
    s.server->set_tcp_nodelay(true);
    s.server->Post("/service", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(reply, "application/json");
    });
    const int port = s.server->bind_to_any_port("127.0.0.1");
    if (port <= 0) return false;
    s.thread = std::thread([&s] { s.server->listen_after_bind(); });
    s.url = "https://127.0.0.1:" + std::to_string(port) + "/service";

    // The exchange appends its trace to "debug2" in the working directory: keep it in a
    // scratch directory of its own.
    static char scratch[] = "/tmp/qmrt-bench-XXXXXX";
    if (mkdtemp(scratch) == nullptr || chdir(scratch) != 0) return false;
    std::atexit([] {
        std::remove((std::string(scratch) + "/debug2").c_str());
        rmdir(scratch);
    });
    http::set_endpoint(s.url);
    http::set_tls_verify(false);

    benchmark::RegisterBenchmark("exchange/libcurl", bare_post)->UseRealTime();
    benchmark::RegisterBenchmark("exchange/QM_callService", call_service)->UseRealTime();
    return true;
}

}  // namespace qmrt::bench
