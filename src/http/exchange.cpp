// The POST exchange with the suite's web service: every step traced in "debug2", the
// reply collected in the process-wide reply block and read by key. Nothing is fatal.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "calendar/clock.hpp"
#include "diag/diag.hpp"
#include "http/curl_handles.hpp"
#include "http/http.hpp"
#include "json/tokens.hpp"
#include "memory/memory.hpp"
#include "qmrt/diag.h"
#include "qmrt/http.h"
#include "qmrt_config.hpp"

namespace qmrt::http {
namespace {

constexpr const char *exchange_name = "QM_callService";
constexpr const char *accept_header = "Accept: application/json";
constexpr const char *content_type_header = "Content-Type: application/json";

std::string &endpoint_cell() {
    static std::string url = config::service_url;
    return url;
}
bool &tls_verify_cell() {
    static bool verify = config::tls_verify;
    return verify;
}

struct FreeTokens {
    void operator()(json_token *tokens) const noexcept { std::free(tokens); }
};

void release_reply() {
    memory::release_block(g_birt_temp);
    g_birt_temp = nullptr;
    g_birt_size = 0;
}

// Adjacent pieces of one trace record go out in one append, so that a record of another
// process can never land between them.
void trace_record(std::string_view head, std::string_view body) {
    std::string record;
    record.reserve(head.size() + body.size() + 1);
    record.append(head).append(body).push_back('\n');
    diag::append_trace(record);
}

// Leaves a failure message in qm_errstr; the first key's failure is also traced.
void fail_on_key(std::size_t index) {
    if (index == 0) diag::append_trace(qm_errstr);
}

// Reads each key's value from the reply into the caller's cells. 0, or -1 at the first
// key that is missing or whose value does not fit a cell.
int32_t read_values(const char *const keys[], char *values[]) {
    int32_t status = 0;
    std::unique_ptr<json_token, FreeTokens> tokens(json::tokenise(g_birt_temp, status));
    // The lookup copies a value whole, so it gets room for the longest value the reply
    // can hold; only values that fit the cell are handed on.
    std::string value(static_cast<std::size_t>(g_birt_size) + 1, '\0');
    for (std::size_t i = 0; keys != nullptr && keys[i] != nullptr; ++i) {
        if (json::get_value(tokens.get(), keys[i], value.data(), g_birt_temp) != 0) {
            diag::format_message(qm_errstr, "gagal, jawaban server: %s", g_birt_temp);
            fail_on_key(i);
            return -1;
        }
        std::size_t length = std::strlen(value.c_str());
        if (length > max_value_length) {
            diag::format_message(qm_errstr, "gagal, nilai \"%s\" terlalu panjang (%zu > %zu)",
                                 keys[i], length, max_value_length);
            fail_on_key(i);
            return -1;
        }
        diag::trace_line("%s=%s\n", keys[i], value.c_str());
        std::memcpy(values[i], value.c_str(), length + 1);
    }
    return 0;
}

int32_t exchange(const char *request, const char *const keys[], char *values[]) {
    if (request == nullptr) {
        diag::format_message(qm_errstr, "gagal, permintaan kosong");
        return -1;
    }
    const std::size_t length = strnlen(request, max_request_length + 1);
    if (length > max_request_length) {
        diag::format_message(qm_errstr, "gagal, permintaan terlalu panjang (%zu > %zu)",
                             std::strlen(request), max_request_length);
        diag::append_trace(qm_errstr);
        return -1;
    }

    calendar::store_current_second();  // the second of this exchange goes to g_timesec
    const std::string body(request, length);
    if (g_birt_temp != nullptr && g_birt_size > 0) release_reply();

    EasyHandle curl = new_transfer();
    if (curl == nullptr) {
        diag::format_message(qm_errstr, "gagal, libcurl tidak dapat dipakai");
        return -1;
    }
    set_option<CURLOPT_URL>(curl.get(), endpoint().c_str());
    diag::trace_line("url = %s\n", endpoint().c_str());
    set_option<CURLOPT_WRITEFUNCTION>(curl.get(), store_reply_chunk);

    HeaderList headers;
    for (const char *header : {accept_header, content_type_header}) {
        headers.append(header);
        diag::trace_line("%s\n", header);
    }
    set_option<CURLOPT_POST>(curl.get(), 1L);
    set_option<CURLOPT_POSTFIELDS>(curl.get(), body.c_str());
    set_option<CURLOPT_POSTFIELDSIZE>(curl.get(), static_cast<long>(body.size()));
    set_option<CURLOPT_HTTPHEADER>(curl.get(), headers.get());
    set_tls_options(curl.get(), tls_verify());
    trace_record(std::string("\n") + exchange_name + ": jsondata=\n", body);

    const CURLcode result = libcurl().easy_perform(curl.get());
    headers.reset();
    diag::trace_line("res = %d\n", static_cast<int>(result));
    if (result == CURLE_OK) {
        long status = 0;
        libcurl().easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
        diag::trace_line("http response: %ld\n", status);
    }
    const bool has_text = g_birt_temp != nullptr && g_birt_temp[0] != '\0';
    trace_record(std::string(exchange_name) + ":jawaban server=\n",
                 has_text ? std::string_view(g_birt_temp) : std::string_view());
    curl.reset();

    // A transfer that failed after part of the body arrived still has that part read.
    if (g_birt_temp == nullptr) return -1;
    return read_values(keys, values);
}

}  // namespace

// The block keeps a zero byte after the reply, so the reply always reads as a terminated
// text.
size_t store_reply_chunk(void *data, size_t size, size_t count, void * /*user*/) {
    constexpr size_t refused = static_cast<size_t>(-1);
    const size_t bytes = size * count;
    if (size != 0 && bytes / size != count) return refused;
    const uint64_t old_size = g_birt_temp == nullptr ? 0 : static_cast<uint64_t>(g_birt_size);
    const uint64_t new_size = old_size + bytes;
    if (new_size > static_cast<uint64_t>(INT32_MAX)) return refused;
    auto *block =
        static_cast<char *>(memory::allocate_block(static_cast<uint32_t>(new_size + 1), 1));
    if (block == nullptr) return refused;
    if (old_size != 0) std::memcpy(block, g_birt_temp, old_size);
    if (bytes != 0) std::memcpy(block + old_size, data, bytes);
    memory::release_block(g_birt_temp);
    g_birt_temp = block;
    g_birt_size = static_cast<int32_t>(new_size);
    return bytes;
}

int32_t call_service(const char *request, const char *const keys[], char *values[]) noexcept {
    try {
        return exchange(request, keys, values);
    } catch (...) {  // only allocation can throw here; the caller sees a failed exchange
        diag::format_message(qm_errstr, "gagal, memori habis");
        return -1;
    }
}

void set_endpoint(std::string url) { endpoint_cell() = std::move(url); }
const std::string &endpoint() { return endpoint_cell(); }
void set_tls_verify(bool verify) { tls_verify_cell() = verify; }
bool tls_verify() { return tls_verify_cell(); }

}  // namespace qmrt::http
