// The process's TLS session store: a libcurl share handle that keeps the sessions of past
// transfers, and nothing else, for the transfer handles that come after them.
#include "http/curl_handles.hpp"
#include "http/http.hpp"

namespace qmrt::http {
namespace {

// libcurl, and OpenSSL under it, are set up before the store's holder exists, so that at
// exit the holder and the sessions it holds go before OpenSSL tears itself down.
ShareHandle &store_holder() {
    static ShareHandle store = (libcurl().global_init(CURL_GLOBAL_DEFAULT), ShareHandle());
    return store;
}

// The store, made on first use; when it cannot be made (no memory) the transfer goes on
// without it and the next one tries again. Sharing connections would let a transfer reuse
// another's connection, so only the sessions are shared; like every service, the transfers
// come from one thread at a time, so the store has no lock callbacks.
CURLSH *session_store() noexcept {
    ShareHandle &store = store_holder();
    if (store == nullptr) {
        ShareHandle made(libcurl().share_init());
        if (made != nullptr && libcurl().share_setopt(made.get(), CURLSHOPT_SHARE,
                                                      CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK)
            store = std::move(made);
    }
    return store.get();
}

}  // namespace

void set_tls_options(CURL *handle, bool verify) noexcept {
    set_option<CURLOPT_SSL_VERIFYPEER>(handle, verify ? 1L : 0L);
    set_option<CURLOPT_SSL_VERIFYHOST>(handle, verify ? 2L : 0L);
    if (CURLSH *store = session_store()) set_option<CURLOPT_SHARE>(handle, store);
}

void forget_tls_sessions() {
    // Before the first transfer there is no store, and no reason to load libcurl.
    if (curl_loaded()) store_holder().reset();
}

}  // namespace qmrt::http
