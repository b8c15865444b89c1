// An HTTPS server on 127.0.0.1 for the HTTP client's tests: it listens on a free port for
// the lifetime of the object, answers with scripted replies and records every request it
// received. The replies a misbehaving service gives (stalled, cut, reset, trickling) are
// the reference service's faults, which the tests start as qmrt-service --fault.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qmrt::test {

struct HttpsReply {
    int status = 200;
    std::string body;
    std::string content_type = "application/json";
    // Non-empty: sent as the Location header.
    std::string location;

    static HttpsReply json(std::string body, int status = 200);
    static HttpsReply text(std::string body, int status, std::string content_type = "text/plain");
    static HttpsReply redirect(std::string location, int status = 302);
};

struct RecordedRequest {
    std::string method;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The client's port: requests that came on one connection share it.
    int client_port = -1;
    // Whether the connection's TLS handshake resumed a session of an earlier one.
    bool resumed = false;

    // The first header of that name, whatever its case.
    std::optional<std::string> header(std::string_view name) const;
};

class HttpsTestServer {
public:
    // Listening and ready when the constructor returns; throws std::runtime_error if not.
    // Port 0 picks a free one; max_tls_version (an OpenSSL version such as TLS1_2_VERSION)
    // caps the TLS version, 0 leaves it open. Every server has a key, a certificate and
    // ticket keys of its own, so a server started on a port another one used is a
    // restarted service to its clients.
    explicit HttpsTestServer(int port = 0, int max_tls_version = 0);
    ~HttpsTestServer();
    HttpsTestServer(const HttpsTestServer &) = delete;
    HttpsTestServer &operator=(const HttpsTestServer &) = delete;

    int port() const;
    // "https://127.0.0.1:PORT" followed by path.
    std::string url(std::string_view path = "/") const;

    // The reply to every request for path, whatever the method.
    void on(const std::string &path, HttpsReply reply);
    // Queued replies, each answering exactly one request for any path before per-path
    // replies apply. A path with neither answers 404 "no reply for PATH".
    void next_reply(HttpsReply reply);

    // Every request received so far, in order of arrival.
    std::vector<RecordedRequest> requests() const;

    // Stops listening and waits for the server's threads; afterwards connections to
    // port() are refused. Called by the destructor; calling it twice is harmless.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qmrt::test
