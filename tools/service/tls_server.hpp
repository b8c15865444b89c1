// The one HTTPS server set-up of the project, shared by the reference service, the tests'
// server and the benchmarks: a cpp-httplib TLS server on one address and port, with the
// given certificate or a self-signed one made in memory, that keeps its TLS sessions for
// clients that resume them.
#pragma once

#include <httplib.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace qmrt::tls {

struct ServerSettings {
    std::string host = "127.0.0.1";
    int port = 0;           // 0: a free port
    std::string cert_file;  // with key_file, PEM files; both empty: a self-signed pair
    std::string key_file;
    int self_signed_days = 365;
    int max_tls_version = 0;  // an OpenSSL version such as TLS1_2_VERSION; 0: no cap
};

class TlsServer {
public:
    // Made and bound, ready for routes; throws std::runtime_error saying what failed
    // ("cannot set up TLS ...", "cannot listen on HOST port PORT").
    explicit TlsServer(const ServerSettings &settings);
    TlsServer(const TlsServer &) = delete;
    TlsServer &operator=(const TlsServer &) = delete;
    ~TlsServer();

    httplib::SSLServer &http() { return *server_; }
    int port() const { return port_; }
    // "https://HOST:PORT" followed by path.
    std::string url(const std::string &path) const;

    // Serves in this thread until stop(); false when serving failed.
    bool serve();
    // Serves in a thread of its own; returns once the accept loop runs, so that stop()
    // is effective from then on. Throws std::runtime_error if it does not start.
    void start();
    // Ends serving, whether or not the accept loop has started yet, and waits for the
    // thread of start(). Afterwards connections to the port are refused. Harmless twice.
    void stop();

private:
    std::unique_ptr<httplib::SSLServer> server_;
    std::string host_;
    int port_ = -1;
    // serve() has begun, has ended; stop() was asked for (perhaps before serve() began).
    std::atomic<bool> serving_began_{false}, serving_ended_{false}, stop_asked_{false};
    std::thread thread_;
};

}  // namespace qmrt::tls
