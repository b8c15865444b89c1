// GET fetch of a JSON document into a bounded byte buffer. Every failure is fatal.
#include <cstdlib>
#include <memory>

#include "diag/diag.hpp"
#include "http/curl_handles.hpp"
#include "http/http.hpp"
#include "memory/memory.hpp"
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

}  // namespace

char *fetch(const char *url) {
    EasyHandle curl(curl_easy_init());
    diag::require(curl != nullptr, "json_fetch", "curl != NULL");
    curl_easy_setopt(curl.get(), CURLOPT_URL, url);

    Buffer buffer(memory::size_buffer(nullptr, initial_capacity));
    HeaderList headers;
    headers.append("Accept: application/json");
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, collect_chunk);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, buffer.get());
    curl_easy_setopt(curl.get(), CURLOPT_USERAGENT, user_agent);
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    set_tls_options(curl.get(), tls_verify());

    CURLcode result = curl_easy_perform(curl.get());
    if (result != CURLE_OK) diag::fatal("curl_easy_perform failed: %s", curl_easy_strerror(result));
    curl.reset();
    headers.reset();
    return memory::to_text(buffer.get());
}

std::size_t collect_chunk(void *data, std::size_t size, std::size_t count, void *buffer) {
    auto *buf = static_cast<bounded_buf *>(buffer);
    const std::size_t n = size * count;
    if (size != 0 && n / size != count) return 0;  // cannot be held: libcurl ends the transfer
    // A missing buffer ends in the append's own report ("dst != NULL").
    if (buf != nullptr && buf->limit - buf->len < n) memory::resize(*buf, buf->limit + n);
    memory::append(buf, static_cast<const char *>(data), n);
    return n;
}

}  // namespace qmrt::http
