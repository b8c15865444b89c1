// One HTTPS request through libcurl's easy interface, with what the tests look at: the
// result code, the status, the body and where a redirect points.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <vector>

namespace qmrt::test {

struct CurlRequest {
    std::string method = "GET";
    std::string body;  // sent unless the method is GET
    std::vector<std::string> headers;
    std::string ca_file;  // set: verify the server against it; empty: no verification
    long tls_version = CURL_SSLVERSION_DEFAULT;  // the lowest TLS version the client accepts
};

struct CurlResult {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    std::string redirect_url;
};

inline CurlResult curl_request(const std::string &url, const CurlRequest &request = {}) {
    struct CurlDeleter {
        void operator()(CURL *curl) const noexcept { curl_easy_cleanup(curl); }
    };
    struct ListDeleter {
        void operator()(curl_slist *list) const noexcept { curl_slist_free_all(list); }
    };
    CurlResult result;
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
        result.code = CURLE_FAILED_INIT;
        return result;
    }
    CURL *h = curl.get();
    std::unique_ptr<curl_slist, ListDeleter> headers;
    for (const std::string &header : request.headers)
        headers.reset(curl_slist_append(headers.release(), header.c_str()));

    auto collect = +[](char *data, std::size_t size, std::size_t count, void *user) {
        auto *into = static_cast<CurlResult *>(user);
        into->body.append(data, size * count);
        return size * count;
    };
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &result);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 30L);
    if (request.method == "HEAD") {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else if (request.method != "GET") {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
    }
    if (request.ca_file.empty()) {
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    } else {
        curl_easy_setopt(h, CURLOPT_CAINFO, request.ca_file.c_str());
    }
    curl_easy_setopt(h, CURLOPT_SSLVERSION, request.tls_version);
    result.code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
    char *redirect = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &redirect) == CURLE_OK && redirect)
        result.redirect_url = redirect;
    return result;
}

}  // namespace qmrt::test
