// libcurl as the HTTP client uses it: loaded on the first transfer of the process, called
// through one table of its functions, its easy handle, header list and share handle held by
// owners, and the TLS settings every transfer handle gets.
//
// The library does not link libcurl: most of the suite's programs never make a transfer,
// and libcurl with the libraries it needs (TLS, compression, name and directory services)
// would cost every start of every program. libcurl's header gives the types and constants.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <type_traits>

namespace qmrt::http {

// The header of every request: the client takes JSON.
inline constexpr const char *accept_json = "Accept: application/json";

// The libcurl functions the client calls.
struct CurlFunctions {
    decltype(&curl_global_init) global_init;
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_setopt) easy_setopt;
    decltype(&curl_easy_perform) easy_perform;
    decltype(&curl_easy_getinfo) easy_getinfo;
    decltype(&curl_easy_strerror) easy_strerror;
    decltype(&curl_easy_cleanup) easy_cleanup;
    decltype(&curl_slist_append) slist_append;
    decltype(&curl_slist_free_all) slist_free_all;
    decltype(&curl_share_init) share_init;
    decltype(&curl_share_setopt) share_setopt;
    decltype(&curl_share_cleanup) share_cleanup;
};

// Loads libcurl, by its soname, unless this process already has: it then stays loaded to the
// end of the process. Null when it cannot be loaded; the next call tries again.
const CurlFunctions *load_curl() noexcept;

// Whether load_curl has succeeded in this process.
bool curl_loaded() noexcept;

// The functions of the loaded libcurl, for code that holds something libcurl made (which
// exists only once load_curl has succeeded).
const CurlFunctions &libcurl() noexcept;

struct EasyCleanup {
    void operator()(CURL *handle) const noexcept { libcurl().easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

// A new transfer handle: null when libcurl cannot be loaded or cannot make one, which the
// fetch and the exchange treat alike.
inline EasyHandle new_transfer() noexcept {
    const CurlFunctions *functions = load_curl();
    return EasyHandle(functions == nullptr ? nullptr : functions->easy_init());
}

// Sets one option of a transfer handle. libcurl checks the value's type against the option
// only for C callers, and a value of the wrong type (an int for a long) is read wrongly
// through its variable arguments, so the check is made here, at compile time, by the kind
// of value each option takes.
template <CURLoption option, typename Value>
CURLcode set_option(CURL *handle, Value value) noexcept {
    constexpr long kind = option / 10000 * 10000;
    if constexpr (kind == CURLOPTTYPE_LONG)
        static_assert(std::is_same_v<Value, long>, "this option takes a long");
    else if constexpr (kind == CURLOPTTYPE_OBJECTPOINT)
        static_assert(std::is_pointer_v<Value> && !std::is_function_v<std::remove_pointer_t<Value>>,
                      "this option takes a text or an object pointer");
    else if constexpr (kind == CURLOPTTYPE_FUNCTIONPOINT)
        static_assert(std::is_pointer_v<Value> && std::is_function_v<std::remove_pointer_t<Value>>,
                      "this option takes a function");
    else if constexpr (kind == CURLOPTTYPE_OFF_T)
        static_assert(std::is_same_v<Value, curl_off_t>, "this option takes a curl_off_t");
    else
        static_assert(kind == CURLOPTTYPE_LONG, "a blob option, which the client never sets");
    return libcurl().easy_setopt(handle, option, value);
}

class HeaderList {
public:
    HeaderList() = default;
    HeaderList(const HeaderList &) = delete;
    HeaderList &operator=(const HeaderList &) = delete;
    ~HeaderList() { reset(); }

    // Adds a header; on failure the list keeps what it had.
    bool append(const char *header) noexcept {
        curl_slist *longer = libcurl().slist_append(head_, header);
        if (longer == nullptr) return false;
        head_ = longer;
        return true;
    }
    curl_slist *get() const noexcept { return head_; }
    void reset() noexcept {
        if (head_ != nullptr) libcurl().slist_free_all(head_);
        head_ = nullptr;
    }

private:
    curl_slist *head_ = nullptr;
};

struct ShareCleanup {
    void operator()(CURLSH *share) const noexcept { libcurl().share_cleanup(share); }
};
using ShareHandle = std::unique_ptr<CURLSH, ShareCleanup>;

// Sets the peer and host-name checks (both off, or both on against the system's CA store),
// then attaches the process's TLS session store, so that a handle to a server this process
// has already reached offers the saved session and resumes it instead of making a full
// handshake. Only sessions are kept between handles, never connections. Without a store
// (no memory to make one) the handle makes a full handshake.
void set_tls_options(CURL *handle, bool verify) noexcept;

// Performs the transfer. With a stall time-out, one that moves no byte for that long (or
// cannot connect in that time, TLS handshake included) fails with CURLE_OPERATION_TIMEDOUT;
// one that keeps moving bytes is never cut, however long it takes.
CURLcode perform_transfer(CURL *handle) noexcept;

}  // namespace qmrt::http
