// qmrt fetch / qmrt call: the GET fetch of a document and the exchange with the suite's
// web service.
#include <qmrt/qmrt.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.hpp"
#include "input.hpp"

namespace qmrt::cli {
namespace {

struct FreeText {
    void operator()(char *text) const noexcept { std::free(text); }
};

int fetch(const std::string &url) {
    std::unique_ptr<char, FreeText> body(json_fetch(url.c_str()));
    const std::size_t length = std::strlen(body.get());
    if (std::fwrite(body.get(), 1, length, stdout) != length) return usage;
    return ok;
}

// REQUEST is the JSON text itself, @FILE for a file's content, or - for standard input.
std::string request_text(const std::string &request) {
    if (request == "-") return read_text("-");
    if (!request.empty() && request.front() == '@') return read_text(request.substr(1));
    return request;
}

int call(const std::string &request, const std::vector<std::string> &keys) {
    const std::string text = request_text(request);
    std::vector<const char *> key_list;
    for (const std::string &key : keys) key_list.push_back(key.c_str());
    key_list.push_back(nullptr);
    std::vector<std::array<char, QM_VALUE_SIZE>> cells(keys.size());
    std::vector<char *> values;
    for (auto &cell : cells) values.push_back(cell.data());

    qm_errstr[0] = '\0';
    if (QM_callService(text.c_str(), key_list.data(), values.data()) != 0) {
        if (qm_errstr[0] != '\0') {
            std::fprintf(stderr, "qmrt: %s\n", qm_errstr);
        } else {
            std::fprintf(stderr,
                         "qmrt: the exchange got no reply from the service (the transfer "
                         "result is in \"debug2\")\n");
        }
        return refused;
    }
    for (char *value : values) std::printf("%s\n", value);
    return ok;
}

}  // namespace

void add_http_commands(CLI::App &app, Action &action) {
    auto url = std::make_shared<std::string>();
    CLI::App *fetch_command =
        app.add_subcommand("fetch", "GET a JSON document and print its body as it came");
    fetch_command->add_option("URL", *url, "http:// or https:// URL")->required();
    fetch_command->footer(
        "A failed fetch (no connection, TLS error, bad URL) prints nothing on standard\n"
        "output: the library's report, then a line naming the fetch, go to standard error,\n"
        "and the status is 1. The library's fetch ends its process on any failure, so qmrt\n"
        "runs it in a child process (without a core file). The HTTP status is not looked\n"
        "at: an error page is printed like any body.");
    fetch_command->callback(
        [url, &action] { action = guarded("fetch of " + *url, [url] { return fetch(*url); }); });

    struct CallArgs {
        std::string request;
        std::vector<std::string> keys;
    };
    auto args = std::make_shared<CallArgs>();
    CLI::App *call_command = app.add_subcommand(
        "call",
        "Exchange with the suite's web service: POST a JSON request, print values of the reply");
    call_command
        ->add_option("REQUEST", args->request,
                     "the JSON request text, @FILE for a file, or - for standard input")
        ->required();
    call_command->add_option("KEY", args->keys, "keys to read from the reply, one value a line");
    call_command->footer(
        "The service endpoint is fixed when the library is built: " QMRT_SERVICE_URL
        "\n"
        "Every step of the exchange is appended to \"debug2\" in the working directory.\n"
        "Values longer than 63 characters are refused. On failure the library's message\n"
        "goes to standard error and the status is 1.");
    // The exchange tokenizes the reply with json_tokenise, whose running out of memory
    // is the library's fatal report.
    call_command->callback([args, &action] {
        action = guarded("exchange with the service",
                         [args] { return call(args->request, args->keys); });
    });
}

}  // namespace qmrt::cli
