// The POST exchange with the suite's web service: every step traced in "debug2", the
// reply collected in the process-wide reply block and read by key. Nothing is fatal.
#include <algorithm>
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

namespace qmrt::http {
namespace {

constexpr const char *exchange_name = "QM_callService";
constexpr const char *content_type_json = "Content-Type: application/json";

// Replies up to this many bytes keep the block sizes of the rounding rule, a new block for
// every chunk; past it the block grows by at least half its size at a time, so that a
// long reply costs copying in proportion to its length, not to its square.
constexpr std::uint64_t exact_reply_bytes = 64 * 1024;

// The bytes the reply block has room for (its zero byte included), known while
// g_birt_temp is still the block the write callback made.
struct ReplyRoom {
    const char *block = nullptr;
    std::uint64_t bytes = 0;
};
ReplyRoom reply_room;

struct FreeTokens {
    void operator()(json_token *tokens) const noexcept { std::free(tokens); }
};

void release_reply() {
    memory::release_block(g_birt_temp);
    g_birt_temp = nullptr;
    g_birt_size = 0;
    reply_room = {};
}

// A message holds only the start of a long text. A precision stops the formatting there
// instead of reading on through the rest, which was a fifth of a 50 MB exchange's time.
constexpr int message_text = static_cast<int>(diag::message_size - 1);

// Adjacent pieces of one trace record go out in one append, so that a record of another
// process can never land between them. Like every trace line, the record is left in
// qm_calstr too (cut to its 500 bytes).
void trace_record(std::string_view head, std::string_view body) {
    std::string record;
    record.reserve(head.size() + body.size() + 1);
    record.append(head).append(body).push_back('\n');
    diag::format_message(qm_calstr, "%.*s", message_text, record.c_str());
    diag::append_trace(record);
}

// The message already in qm_errstr goes to the trace too.
int32_t fail_traced() {
    diag::append_trace(qm_errstr);
    return -1;
}

// A key's failure is traced only when it is the first key.
int32_t fail_on_key(std::size_t index) {
    return index == 0 ? fail_traced() : -1;
}

// The first key without a buffer to receive its value, or null when every key has one.
const char *key_without_buffer(const char *const keys[], char *const values[]) {
    for (std::size_t i = 0; keys != nullptr && keys[i] != nullptr; ++i)
        if (values == nullptr || values[i] == nullptr) return keys[i];
    return nullptr;
}

// Reads each key's value from the reply into the caller's buffers. 0, or -1 at the first
// key that is missing or whose value does not fit a buffer.
int32_t read_values(const char *const keys[], char *values[]) {
    int32_t status = 0;
    std::unique_ptr<json_token, FreeTokens> tokens(json::tokenise(g_birt_temp, status));
    if (tokens == nullptr) {
        diag::format_message(qm_errstr, "gagal, memori habis");
        return fail_traced();
    }
    // The lookup copies a value whole, so it gets room for the longest value the reply
    // can hold; only values that fit the caller's buffer are handed on.
    std::string value(static_cast<std::size_t>(g_birt_size) + 1, '\0');
    for (std::size_t i = 0; keys != nullptr && keys[i] != nullptr; ++i) {
        if (json::get_value(tokens.get(), keys[i], value.data(), g_birt_temp) != 0) {
            diag::format_message(qm_errstr, "gagal, jawaban server: %.*s", message_text,
                                 g_birt_temp);
            return fail_on_key(i);
        }
        std::size_t length = std::strlen(value.c_str());
        if (length > max_value_length) {
            diag::format_message(qm_errstr, "gagal, nilai \"%s\" terlalu panjang (%zu > %zu)",
                                 keys[i], length, max_value_length);
            return fail_on_key(i);
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
        return fail_traced();
    }
    if (const char *key = key_without_buffer(keys, values)) {
        diag::format_message(qm_errstr, "gagal, tempat nilai \"%s\" kosong", key);
        return fail_traced();
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
    for (const char *header : {accept_json, content_type_json}) {
        headers.append(header);
        diag::trace_line("%s\n", header);
    }
    set_option<CURLOPT_POST>(curl.get(), 1L);
    set_option<CURLOPT_POSTFIELDS>(curl.get(), body.c_str());
    set_option<CURLOPT_POSTFIELDSIZE>(curl.get(), static_cast<long>(body.size()));
    set_option<CURLOPT_HTTPHEADER>(curl.get(), headers.get());
    set_tls_options(curl.get(), tls_verify());
    trace_record(std::string("\n") + exchange_name + ": jsondata=\n", body);

    const CURLcode result = perform_transfer(curl.get());
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

    if (g_birt_temp == nullptr) return -1;
    // Part of a reply came before the transfer failed: what it holds is no answer (a value
    // may be cut short), so nothing is read; the part stays in the reply block.
    if (result != CURLE_OK) {
        diag::format_message(qm_errstr, "gagal, jawaban server terputus: %s",
                             libcurl().easy_strerror(result));
        return fail_traced();
    }
    return read_values(keys, values);
}

}  // namespace

// The block keeps a zero byte after the reply, so the reply always reads as a terminated
// text; it grows through the same core as QM_CPMEM_LONG.
size_t store_reply_chunk(void *data, size_t size, size_t count, void * /*user*/) {
    constexpr size_t refused = static_cast<size_t>(-1);
    const size_t bytes = size * count;
    if (size != 0 && bytes / size != count) return refused;
    const std::uint64_t old_size =
        g_birt_temp == nullptr ? 0 : static_cast<std::uint64_t>(g_birt_size);
    const std::uint64_t new_size = old_size + bytes;
    if (new_size > static_cast<std::uint64_t>(INT32_MAX)) return refused;

    const std::uint64_t room =
        g_birt_temp != nullptr && reply_room.block == g_birt_temp ? reply_room.bytes : 0;
    if (new_size <= exact_reply_bytes || new_size + 1 > room) {
        std::uint64_t wanted = new_size + 1;
        if (new_size > exact_reply_bytes)
            wanted = std::max(wanted, std::min(room + room / 2, std::uint64_t{INT32_MAX} + 1));
        // A count of 0 leaves the old block to the caller: an empty reply's block goes here.
        char *old_block = old_size == 0 ? g_birt_temp : nullptr;
        auto *block = static_cast<char *>(memory::grow_block(
            static_cast<std::uint32_t>(old_size), static_cast<std::uint32_t>(bytes), g_birt_temp, 1,
            static_cast<std::uint32_t>(wanted - new_size)));
        if (block == nullptr) return refused;
        memory::release_block(old_block);
        g_birt_temp = block;
        reply_room = {block, memory::round_up4(wanted)};
    }
    if (bytes != 0) std::memcpy(g_birt_temp + old_size, data, bytes);
    g_birt_temp[new_size] = '\0';
    g_birt_size = static_cast<int32_t>(new_size);
    return bytes;
}

int32_t call_service(const char *request, const char *const keys[], char *values[]) noexcept {
    try {
        return exchange(request, keys, values);
    } catch (...) {  // only allocation can throw here; the caller sees a failed exchange
        diag::format_message(qm_errstr, "gagal, memori habis");
        return fail_traced();
    }
}

}  // namespace qmrt::http
