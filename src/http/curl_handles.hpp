// Owners of libcurl's easy handle and header list.
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

// Sets the peer and host-name checks: both off, or both on against the system's CA store.
inline void set_tls_checks(CURL *handle, bool verify) noexcept {
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
}

}  // namespace qmrt::http
