#include "tls_server.hpp"

#include <openssl/ssl.h>
#include <sys/socket.h>

#include <chrono>
#include <map>
#include <mutex>
#include <stdexcept>

#include "self_signed.hpp"

namespace qmrt::tls {
namespace {

// The server's own cache of the sessions it made, for clients that resume by session ID
// (libcurl does on TLS 1.2: it turns tickets off). cpp-httplib frees a connection without a
// TLS shutdown when the client closes it first, which every one-request client does, and
// OpenSSL then drops that session from its internal cache; this cache keeps a copy of each
// session, so the client's next connection resumes it. TLS 1.3 resumes through tickets and
// needs none of this.
struct SessionCache {
    static constexpr std::size_t max_sessions = 4096;  // then it starts afresh
    std::mutex mutex;
    std::map<std::string, std::string> sessions;  // session ID -> the session in DER

    static int ex_index() {
        static const int index =
            SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr,
                                     [](void *, void *cache, CRYPTO_EX_DATA *, int, long, void *) {
                                         delete static_cast<SessionCache *>(cache);
                                     });
        return index;
    }
    static SessionCache &of(SSL *ssl) {
        return *static_cast<SessionCache *>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), ex_index()));
    }

    static int on_new(SSL *ssl, SSL_SESSION *session) {
        unsigned int id_length = 0;
        const unsigned char *id = SSL_SESSION_get_id(session, &id_length);
        const int der_length = i2d_SSL_SESSION(session, nullptr);
        if (id_length == 0 || der_length <= 0) return 0;
        std::string der(static_cast<std::size_t>(der_length), '\0');
        auto *out = reinterpret_cast<unsigned char *>(der.data());
        i2d_SSL_SESSION(session, &out);
        SessionCache &cache = of(ssl);
        std::lock_guard lock(cache.mutex);
        if (cache.sessions.size() >= max_sessions) cache.sessions.clear();
        cache.sessions[std::string(reinterpret_cast<const char *>(id), id_length)] = std::move(der);
        return 0;  // the session stays OpenSSL's
    }

    static SSL_SESSION *on_get(SSL *ssl, const unsigned char *id, int id_length, int *copy) {
        *copy = 0;  // a fresh session, handed over
        SessionCache &cache = of(ssl);
        std::lock_guard lock(cache.mutex);
        auto found = cache.sessions.find(
            std::string(reinterpret_cast<const char *>(id), static_cast<std::size_t>(id_length)));
        if (found == cache.sessions.end()) return nullptr;
        const auto *in = reinterpret_cast<const unsigned char *>(found->second.data());
        return d2i_SSL_SESSION(nullptr, &in, static_cast<long>(found->second.size()));
    }
};

// Gives the server context a session cache of its own, released with the context.
// Returns false when it cannot.
bool keep_sessions(SSL_CTX *ctx) {
    auto *cache = new SessionCache;
    if (SessionCache::ex_index() < 0 ||
        SSL_CTX_set_ex_data(ctx, SessionCache::ex_index(), cache) != 1) {
        delete cache;
        return false;
    }
    SSL_CTX_sess_set_new_cb(ctx, SessionCache::on_new);
    SSL_CTX_sess_set_get_cb(ctx, SessionCache::on_get);
    return true;
}

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
