// The exact texts of the library's messages, as operators and the suite's programs see
// them, written once for every test that makes one of them appear.
#pragma once

#include <string>
#include <string_view>

namespace qmrt::test::messages {

// Standard output and qm_calstr: the trace file.
inline std::string trace_not_opened(int error) {
    return "Gagal membuka file \"debug2\", system error = " + std::to_string(error) + "\n";
}
inline std::string trace_not_written(int error) {
    return "Gagal menulis file \"debug2\", system error = " + std::to_string(error) + "\n";
}

// qm_errstr: a failed exchange.
inline std::string reply_without_key(std::string_view reply) {
    return "gagal, jawaban server: " + std::string(reply);
}
inline std::string reply_cut_short(std::string_view reason) {
    return "gagal, jawaban server terputus: " + std::string(reason);
}
inline std::string value_too_long(std::string_view key, std::size_t length) {
    return "gagal, nilai \"" + std::string(key) + "\" terlalu panjang (" + std::to_string(length) +
           " > 63)";
}
inline std::string request_too_long(std::size_t length) {
    return "gagal, permintaan terlalu panjang (" + std::to_string(length) + " > 34999)";
}
inline std::string no_value_buffer(std::string_view key) {
    return "gagal, tempat nilai \"" + std::string(key) + "\" kosong";
}
inline constexpr const char *no_request = "gagal, permintaan kosong";
inline constexpr const char *no_libcurl = "gagal, libcurl tidak dapat dipakai";
inline constexpr const char *no_memory = "gagal, memori habis";

// Standard output (and qm_errstr for the lookup's): memory and the value lookup.
inline std::string zero_request(int size, int count) {
    return "mballc sizobj = " + std::to_string(size) + "; numobj = " + std::to_string(count) + "\n";
}
inline std::string out_of_memory(long long count, long long size, int error) {
    return "memory habis untuk  " + std::to_string(count) + " x " + std::to_string(size) +
           ", errno = " + std::to_string(error) + "\n";
}
inline std::string long_value(int length) {
    return "QM_getJsonValue len string = " + std::to_string(length) + " > 500";
}
inline std::string long_token(int length) {
    return "QM_getJsonValue panjang string = " + std::to_string(length) + " > 40000";
}

// Standard output, then the end of the process: the lock refusals.
inline constexpr const char *pelmarin_refusal = "\nPelmarin sedang dijalankan di terminal lain\n";
inline constexpr const char *pair_refusal =
    "\ntovrasel/kinsoret sedang dijalankan di terminal lain\n";
inline constexpr const char *run_refusal = "Program run sedang jalan, harap dimatikan dulu\n";
inline constexpr const char *slot_refusal =
    "\ntovrasel/kinsoret sedang jalan, tidak boleh bersamaan\n";

// Standard error, then an abort: the fatal reports with texts of their own.
inline std::string transfer_failed(std::string_view reason) {
    return "curl_easy_perform failed: " + std::string(reason) + "\n";
}
inline constexpr const char *root_not_object =
    "Invalid response: root element must be an object.\n";
inline constexpr const char *odd_children =
    "Invalid response: object must have even number of children.\n";

// A text as a death-test pattern that matches it exactly.
inline std::string exactly(std::string_view text) {
    std::string pattern = "^";
    for (char c : text) {
        if (std::string_view("\\.^$|()[]{}*+?").find(c) != std::string_view::npos) pattern += '\\';
        pattern += c;
    }
    return pattern + "$";
}

}  // namespace qmrt::test::messages
