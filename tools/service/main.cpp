// qmrt-service: the reference web service for developers and the demo. It answers the
// library's POST exchange over HTTPS: every member of the request comes back with
// "status" and "served_at" added, so a caller can read any key it sent. With --fault it
// misbehaves on purpose, in the ways a real service can.
#include <httplib.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "faults.hpp"
#include "self_signed.hpp"
#include "session_cache.hpp"

namespace {

// Members keep the order the client sent them in, which makes replies easy to compare.
using Json = nlohmann::ordered_json;

constexpr std::size_t max_body = 1024 * 1024;

std::string local_time_text() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// What every reply goes through: the JSON text of `body`, sent as the fault says.
class Replies {
public:
    explicit Replies(qmrt::service::Fault fault) : fault_(fault) {}

    void send(const httplib::Request &req, httplib::Response &res, int status, const Json &body) {
        // Invalid UTF-8 cannot come from the parser, but a reply must never throw.
        qmrt::service::send_json(req, res, status,
                                 body.dump(-1, ' ', false, Json::error_handler_t::replace), fault_,
                                 stopping_);
    }
    // Ends the waits of stalled and delayed replies.
    void stop() { stopping_.stop(); }

private:
    const qmrt::service::Fault fault_;
    qmrt::service::Stopping stopping_;
};

Json error_body(const std::string &message) {
    return Json{{"status", "ERROR"}, {"message", message}};
}

const char *reason_of(int status) {
    switch (status) {
        case 400:
            return "bad request";
        case 404:
            return "no such path; the service is POST /service";
        // The HTTP layer also caps form-encoded bodies (curl -d without a content type) at
        // 8 KiB, below the service's own 1 MiB.
        case 413:
            return "body too large";
        default:
            return "request failed";
    }
}

void serve(Replies &replies, const httplib::Request &req, httplib::Response &res) {
    Json request;
    try {
        request = Json::parse(req.body);
    } catch (const Json::parse_error &e) {
        replies.send(req, res, 400, error_body(std::string("body is not JSON: ") + e.what()));
        return;
    }
    if (!request.is_object()) {
        replies.send(req, res, 400, error_body("body is not a JSON object"));
        return;
    }
    // The service's own members win over members of the same name in the request.
    request["status"] = "OK";
    request["served_at"] = local_time_text();
    replies.send(req, res, 200, request);
}

void install_routes(httplib::Server &server, Replies &replies) {
    server.set_payload_max_length(max_body);
    server.Post("/service", [&replies](const httplib::Request &req, httplib::Response &res) {
        serve(replies, req, res);
    });
    server.Get("/health", [&replies](const httplib::Request &req, httplib::Response &res) {
        replies.send(req, res, 200, Json{{"status", "OK"}});
    });

    auto not_allowed = [&replies](const httplib::Request &req, httplib::Response &res) {
        res.set_header("Allow", "POST");
        replies.send(req, res, 405, error_body("method " + req.method + " not allowed, use POST"));
    };
    server.Get("/service", not_allowed);  // HEAD is routed here too
    server.Put("/service", not_allowed);
    server.Patch("/service", not_allowed);
    server.Delete("/service", not_allowed);
    server.Options("/service", not_allowed);

    // Errors the library decides itself (404, 413, 400 on a malformed request) come with
    // an empty body: give them the same JSON shape as the service's own errors.
    server.set_error_handler([&replies](const httplib::Request &req, httplib::Response &res) {
        if (!res.body.empty() || res.content_provider_) return;  // a reply of its own
        replies.send(req, res, res.status, error_body(reason_of(res.status)));
    });

    // Worker threads log concurrently: one fprintf per line keeps lines whole.
    server.set_logger([](const httplib::Request &req, const httplib::Response &res) {
        std::fprintf(stderr, "%s %s:%d %s %s %d %zu\n", local_time_text().c_str(),
                     req.remote_addr.c_str(), req.remote_port, req.method.c_str(), req.path.c_str(),
                     res.status, res.body.size());
    });
}

struct Options {
    std::string host = "127.0.0.1";
    int port = 8443;
    std::string cert, key;
    std::string tls_max = "1.3";
    qmrt::service::Fault fault;
};

// The options, or the exit status when the command line says to end (help, version, a
// usage error).
std::optional<int> parse_options(int argc, char **argv, Options &options) {
    CLI::App app{"Reference HTTPS web service for the qmrt library's POST exchange"};
    app.add_option("--host", options.host, "Address to listen on")->capture_default_str();
    app.add_option("--port", options.port, "Port to listen on; 0 picks a free one")
        ->capture_default_str()
        ->check(CLI::Range(0, 65535));
    auto *cert_opt =
        app.add_option("--cert", options.cert, "PEM certificate (default: self-signed)")
            ->check(CLI::ExistingFile);
    auto *key_opt =
        app.add_option("--key", options.key, "PEM private key of --cert")->check(CLI::ExistingFile);
    cert_opt->needs(key_opt);
    key_opt->needs(cert_opt);
    app.add_option("--tls-max", options.tls_max,
                   "Highest TLS version offered; 1.2 makes resumed handshakes save a round trip")
        ->capture_default_str()
        ->check(CLI::IsMember({"1.2", "1.3"}));
    std::string fault;
    app.add_option("--fault", fault,
                   "Misbehave on every reply: stall, cut, reset, slow or status=N")
        ->check([](const std::string &mode) {
            return qmrt::service::Fault::parse(mode) ? std::string()
                                                     : "not a fault: stall, cut, reset, slow, "
                                                       "status=N (100 to 599)";
        });
    long interval = 100, delay = 0;
    app.add_option("--fault-interval", interval, "Milliseconds between the bytes of --fault slow")
        ->capture_default_str()
        ->check(CLI::Range(0L, 3600000L));
    app.add_option("--delay", delay, "Milliseconds to wait before every reply")
        ->capture_default_str()
        ->check(CLI::Range(0L, 3600000L));
    app.set_version_flag("--version", "qmrt-service " QMRT_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &done) {  // --help, --version
        return app.exit(done);
    } catch (const CLI::ParseError &error) {
        std::fprintf(stderr, "qmrt-service: %s (see --help)\n", error.what());
        return 2;
    }
    if (!fault.empty()) options.fault = *qmrt::service::Fault::parse(fault);
    options.fault.interval = qmrt::service::Milliseconds(interval);
    options.fault.delay = qmrt::service::Milliseconds(delay);
    return std::nullopt;
}

// The TLS server with the given pair, or a self-signed one made now; null after a message.
std::unique_ptr<httplib::SSLServer> make_server(const Options &options) {
    std::unique_ptr<httplib::SSLServer> server;
    try {
        if (!options.cert.empty()) {
            server =
                std::make_unique<httplib::SSLServer>(options.cert.c_str(), options.key.c_str());
        } else {
            // SSLServer takes its own references to the pair, so ours may go at the end of
            // scope.
            qmrt::tls::Credentials made = qmrt::tls::make_self_signed();
            server = std::make_unique<httplib::SSLServer>(made.cert.get(), made.key.get());
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qmrt-service: %s\n", e.what());
        return nullptr;
    }
    if (!server->is_valid() || !qmrt::tls::keep_sessions(server->ssl_context())) {
        std::fprintf(stderr, "qmrt-service: cannot set up TLS with %s and %s\n",
                     options.cert.c_str(), options.key.c_str());
        return nullptr;
    }
    if (options.tls_max == "1.2")
        SSL_CTX_set_max_proto_version(server->ssl_context(), TLS1_2_VERSION);
    // A reply goes out in more than one write; without this the second waits for the
    // client's delayed acknowledgement, some 40 ms an exchange.
    server->set_tcp_nodelay(true);
    // The library's default also sets SO_REUSEPORT, which lets a second service start on
    // a port already served and share its connections unnoticed: keep only SO_REUSEADDR.
    server->set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    return server;
}

// Serves until SIGINT or SIGTERM, which the caller has blocked in every thread: one
// watcher thread takes them synchronously and stops the server.
bool serve_until_signalled(httplib::SSLServer &server, Replies &replies,
                           const sigset_t &stop_signals) {
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
        int signal = 0;
        sigwait(&stop_signals, &signal);
        if (finished) return;
        std::fprintf(stderr, "qmrt-service: stopping on signal %d\n", signal);
        replies.stop();
        // stop() does nothing until the accept loop runs: repeat until it has ended.
        while (!finished) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const bool ok = server.listen_after_bind();
    finished = true;
    pthread_kill(watcher.native_handle(), SIGTERM);  // wakes the watcher if still waiting
    watcher.join();
    return ok;
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    if (std::optional<int> status = parse_options(argc, argv, options)) return *status;

    // Blocked before any thread starts, so that the server's workers inherit the mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    std::unique_ptr<httplib::SSLServer> server = make_server(options);
    if (server == nullptr) return 1;
    Replies replies(options.fault);
    install_routes(*server, replies);

    const int bound = options.port == 0 ? server->bind_to_any_port(options.host)
                      : server->bind_to_port(options.host, options.port) ? options.port
                                                                         : -1;
    if (bound < 0) {
        std::fprintf(stderr, "qmrt-service: cannot listen on %s port %d\n", options.host.c_str(),
                     options.port);
        return 1;
    }
    std::printf("qmrt-service listening on https://%s:%d/service\n", options.host.c_str(), bound);
    std::fflush(stdout);
    return serve_until_signalled(*server, replies, stop_signals) ? 0 : 1;
}
