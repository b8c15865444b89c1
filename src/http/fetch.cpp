// GET fetch of a JSON document into a bounded byte buffer. Every failure goes back to the
// fetch's face, which ends in its fatal report.
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

// What the write callback collects into, and the first check it found broken: that ends
// the transfer, and the fetch hands it back.
struct Collection {
    bounded_buf *buffer;
    diag::BrokenCheck broken;
};

std::size_t collect(char *data, std::size_t size, std::size_t count, void *user) {
    auto &collection = *static_cast<Collection *>(user);
    return collect_chunk(data, size, count, collection.buffer, collection.broken);
}

}  // namespace

Fetched fetch(const char *url) {
    EasyHandle curl = new_transfer();
    if (auto broken = diag::check(curl != nullptr, "json_fetch", "curl != NULL"))
        return {.broken = broken};
    set_option<CURLOPT_URL>(curl.get(), url);

    bounded_buf *made = nullptr;
    const diag::BrokenCheck sized = memory::size_buffer(made, initial_capacity);
    Buffer buffer(made);
    if (sized) return {.broken = sized};
    Collection collection{buffer.get(), {}};
    HeaderList headers;
    headers.append(accept_json);
    set_option<CURLOPT_WRITEFUNCTION>(curl.get(), collect);
    set_option<CURLOPT_WRITEDATA>(curl.get(), static_cast<void *>(&collection));
    set_option<CURLOPT_USERAGENT>(curl.get(), user_agent);
    set_option<CURLOPT_HTTPHEADER>(curl.get(), headers.get());
    set_tls_options(curl.get(), tls_verify());
    // Only the web's schemes: a URL of any other (file://, and the rest libcurl knows)
    // fails as a transfer, and so does a libcurl that cannot be told.
    CURLcode result = set_option<CURLOPT_PROTOCOLS_STR>(curl.get(), "http,https");
    if (result == CURLE_OK) result = perform_transfer(curl.get());
    if (collection.broken) return {.broken = collection.broken};
    if (result != CURLE_OK) return {.transfer_failure = libcurl().easy_strerror(result)};
    curl.reset();
    headers.reset();
    Fetched fetched;
    fetched.broken = memory::to_text(buffer.get(), fetched.text);
    return fetched;
}

std::size_t collect_chunk(void *data, std::size_t size, std::size_t count, bounded_buf *buf,
                          diag::BrokenCheck &broken) {
    const std::size_t n = size * count;
    if (size != 0 && n / size != count) return 0;  // cannot be held: libcurl ends the transfer
    // A missing buffer ends in the append's own check ("dst != NULL").
    if (buf != nullptr && buf->limit - buf->len < n) broken = memory::resize(*buf, buf->limit + n);
    if (!broken) broken = memory::append(buf, static_cast<const char *>(data), n);
    return broken ? 0 : n;
}

}  // namespace qmrt::http
