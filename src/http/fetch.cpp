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
    EasyHandle curl = new_transfer();
    diag::require(curl != nullptr, "json_fetch", "curl != NULL");
    set_option<CURLOPT_URL>(curl.get(), url);

    Buffer buffer(memory::size_buffer(nullptr, initial_capacity));
    HeaderList headers;
    headers.append(accept_json);
    set_option<CURLOPT_WRITEFUNCTION>(curl.get(), collect_chunk);
    set_option<CURLOPT_WRITEDATA>(curl.get(), buffer.get());
    set_option<CURLOPT_USERAGENT>(curl.get(), user_agent);
    set_option<CURLOPT_HTTPHEADER>(curl.get(), headers.get());
    set_tls_options(curl.get(), tls_verify());
    // Only the web's schemes: a URL of any other (file://, and the rest libcurl knows)
    // fails as a transfer, and so does a libcurl that cannot be told.
    CURLcode result = set_option<CURLOPT_PROTOCOLS_STR>(curl.get(), "http,https");
    if (result == CURLE_OK) result = perform_transfer(curl.get());
    if (result != CURLE_OK)
        diag::fatal("curl_easy_perform failed: %s", libcurl().easy_strerror(result));
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
