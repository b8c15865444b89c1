// GET fetch of a JSON document into a bounded byte buffer. Every failure is fatal.
#include <cstdlib>
#include <memory>

#include "common/export.hpp"
#include "diag/diag.hpp"
#include "http/curl_handles.hpp"
#include "http/http.hpp"
#include "qmrt/diag.h"
#include "qmrt/http.h"
#include "qmrt/memory.h"

namespace qmrt::http {
namespace {

constexpr uint64_t initial_capacity = 32768;
constexpr const char *user_agent = "qmrt-json-fetch/1.0";

// The collection buffer is released with its data block, whatever ends the fetch.
struct BufferRelease {
    void operator()(bounded_buf *buf) const noexcept {
        std::free(buf->data);
        std::free(buf);
    }
};
using Buffer = std::unique_ptr<bounded_buf, BufferRelease>;

char *fetch(const char *url) {
    EasyHandle curl(curl_easy_init());
    diag::require(curl != nullptr, "json_fetch", "curl != NULL");
    curl_easy_setopt(curl.get(), CURLOPT_URL, url);

    Buffer buffer(buf_size(nullptr, initial_capacity));
    HeaderList headers;
    headers.append("Accept: application/json");
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, fetch_data);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, buffer.get());
    curl_easy_setopt(curl.get(), CURLOPT_USERAGENT, user_agent);
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    set_tls_options(curl.get(), tls_verify());

    CURLcode result = curl_easy_perform(curl.get());
    if (result != CURLE_OK) log_die("curl_easy_perform failed: %s", curl_easy_strerror(result));
    curl.reset();
    headers.reset();
    return buf_tostr(buffer.get());
}

}  // namespace
}  // namespace qmrt::http

QMRT_EXPORT char *json_fetch(const char *url) { return qmrt::http::fetch(url); }

QMRT_EXPORT size_t fetch_data(void *data, size_t size, size_t count, void *buffer) {
    auto *buf = static_cast<bounded_buf *>(buffer);
    size_t n = size * count;
    if (size != 0 && n / size != count) return 0;  // cannot be held: libcurl ends the transfer
    // A missing buffer ends in the append's own report ("dst != NULL").
    if (buf != nullptr && buf->limit - buf->len < n) buf_size(buf, buf->limit + n);
    buf_concat(buf, static_cast<const char *>(data), n);
    return n;
}
