#include "tls_server.hpp"

#include <openssl/ssl.h>
#include <sys/socket.h>

#include <chrono>
#include <stdexcept>

#include "self_signed.hpp"
#include "session_cache.hpp"

namespace qmrt::tls {
namespace {

std::unique_ptr<httplib::SSLServer> make_server(const ServerSettings &settings) {
    if (!settings.cert_file.empty())
        return std::make_unique<httplib::SSLServer>(settings.cert_file.c_str(),
                                                    settings.key_file.c_str());
    // The server takes its own references to the pair, so ours may go at the end of scope.
    Credentials made = make_self_signed(settings.self_signed_days);
    return std::make_unique<httplib::SSLServer>(made.cert.get(), made.key.get());
}

}  // namespace

TlsServer::TlsServer(const ServerSettings &settings)
    : server_(make_server(settings)), host_(settings.host) {
    SSL_CTX *context = server_->is_valid() ? server_->ssl_context() : nullptr;
    if (context == nullptr || !keep_sessions(context) ||
        (settings.max_tls_version != 0 &&
         SSL_CTX_set_max_proto_version(context, settings.max_tls_version) != 1)) {
        const std::string pair = settings.cert_file.empty()
                                     ? std::string("a self-signed certificate")
                                     : settings.cert_file + " and " + settings.key_file;
        throw std::runtime_error("cannot set up TLS with " + pair);
    }
    // A reply goes out in more than one write; without this the second waits for the
    // client's delayed acknowledgement, some 40 ms a request.
    server_->set_tcp_nodelay(true);
    // The library's default also sets SO_REUSEPORT, which lets a second server start on a
    // port already served and share its connections unnoticed: keep only SO_REUSEADDR.
    server_->set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    port_ = settings.port == 0 ? server_->bind_to_any_port(settings.host)
            : server_->bind_to_port(settings.host, settings.port) ? settings.port
                                                                  : -1;
    if (port_ < 0)
        throw std::runtime_error("cannot listen on " + settings.host + " port " +
                                 std::to_string(settings.port));
}

TlsServer::~TlsServer() {
    stop();
}

std::string TlsServer::url(const std::string &path) const {
    return "https://" + host_ + ":" + std::to_string(port_) + path;
}

bool TlsServer::serve() {
    serving_began_ = true;
    const bool served = stop_asked_ || server_->listen_after_bind();
    serving_ended_ = true;
    return served;
}

void TlsServer::start() {
    thread_ = std::thread([this] { serve(); });
    // The socket already takes connections into its backlog; stop() is effective once the
    // accept loop runs.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!server_->is_running() && !serving_ended_) {
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw std::runtime_error("the accept loop did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void TlsServer::stop() {
    // A serve() that begins after this sees the request and does not serve; one that has
    // begun is stopped, and the library's stop() does nothing until its accept loop runs,
    // hence the repeat.
    stop_asked_ = true;
    while (serving_began_ && !serving_ended_) {
        server_->stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (thread_.joinable()) thread_.join();
}

}  // namespace qmrt::tls
