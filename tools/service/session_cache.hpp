// A TLS server's own cache of the sessions it made, for clients that resume by session ID
// (libcurl does on TLS 1.2: it turns tickets off). cpp-httplib frees a connection without a
// TLS shutdown when the client closes it first, which every one-request client does, and
// OpenSSL then drops that session from its internal cache; this cache keeps a copy of each
// session, so the client's next connection resumes it. TLS 1.3 resumes through tickets and
// needs none of this. Header-only, so that any local HTTPS server can use it.
#pragma once

#include <openssl/ssl.h>

#include <map>
#include <mutex>
#include <string>

namespace qmrt::tls {

namespace detail {

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

}  // namespace detail

// Gives the server context a session cache of its own, released with the context.
// Returns false when it cannot.
inline bool keep_sessions(SSL_CTX *ctx) {
    using detail::SessionCache;
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

}  // namespace qmrt::tls
