// Owners of libcurl's easy handle, header list and share handle, and the TLS settings every
// transfer handle gets.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace qmrt::http {

struct EasyCleanup {
    void operator()(CURL *handle) const noexcept { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

class HeaderList {
public:
    HeaderList() = default;
    HeaderList(const HeaderList &) = delete;
    HeaderList &operator=(const HeaderList &) = delete;
    ~HeaderList() { reset(); }

    // Adds a header; on failure the list keeps what it had.
    bool append(const char *header) noexcept {
        curl_slist *longer = curl_slist_append(head_, header);
        if (longer == nullptr) return false;
        head_ = longer;
        return true;
    }
    curl_slist *get() const noexcept { return head_; }
    void reset() noexcept {
        curl_slist_free_all(head_);
        head_ = nullptr;
    }

private:
    curl_slist *head_ = nullptr;
};

struct ShareCleanup {
    void operator()(CURLSH *share) const noexcept { curl_share_cleanup(share); }
};
using ShareHandle = std::unique_ptr<CURLSH, ShareCleanup>;

// Sets the peer and host-name checks (both off, or both on against the system's CA store),
// then attaches the process's TLS session store, so that a handle to a server this process
// has already reached offers the saved session and resumes it instead of making a full
// handshake. Only sessions are kept between handles, never connections. Without a store
// (no memory to make one) the handle makes a full handshake.
void set_tls_options(CURL *handle, bool verify) noexcept;

}  // namespace qmrt::http
