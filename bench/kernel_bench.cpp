// The tokenizer kernel by kernel against the newest peers, like for like: each kernel
// forced in turn and raced against simdjson forced to the kernel it would run on the same
// host, and against yyjson, which has no vector code. Kernels are forced through the
// library's internal hook, which only the static library exposes; its objects are those
// of the shared library.
#include <benchmark/benchmark.h>
#include <simdjson.h>
#include <yyjson.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench.hpp"
#include "json/kernels.hpp"
#include "qmrt/json.h"
#include "texts.hpp"

namespace qmrt::bench {
namespace {

// The library's two entry points with `kernel` forced for the run.
void jsmn_parse_with(benchmark::State &st, const std::string &text, json::Kernel kernel) {
    json::set_kernel(kernel);
    jsmn_parse_sized(st, text);
    json::set_kernel(json::best_kernel());
}

void json_tokenise_with(benchmark::State &st, const std::string &text, json::Kernel kernel) {
    json::set_kernel(kernel);
    json_tokenise_growing(st, text);
    json::set_kernel(json::best_kernel());
}

// simdjson's DOM parse with its parser reused, as its documentation advises, on the
// implementation named; deep texts get the depth they need.
void simdjson_with(benchmark::State &st, const std::string &text, const std::string &name) {
    const simdjson::implementation *implementation =
        simdjson::get_available_implementations()[name];
    if (implementation == nullptr || !implementation->supported_by_runtime_system()) {
        st.SkipWithError("not supported here");
        return;
    }
    simdjson::get_active_implementation() = implementation;
    simdjson::dom::parser parser;
    if (parser.allocate(text.size(), text.size() / 2 + 1024)) throw std::runtime_error("simdjson");
    const simdjson::padded_string padded(text);
    if (parser.parse(padded).error()) throw std::runtime_error("simdjson refused the text");
    if (simdjson::get_active_implementation()->name() != name)
        throw std::runtime_error("simdjson not forced");
    for (auto _ : st) {
        auto document = parser.parse(padded);
        benchmark::DoNotOptimize(document);
    }
}

// yyjson's read into a document, its memory from one allocator reused across reads.
void yyjson_read_whole(benchmark::State &st, const std::string &text) {
    yyjson_alc *allocator = yyjson_alc_dyn_new();
    std::string copy = text;
    for (auto _ : st) {
        yyjson_doc *document =
            yyjson_read_opts(copy.data(), copy.size(), YYJSON_READ_NOFLAG, allocator, nullptr);
        if (document == nullptr) throw std::runtime_error("yyjson refused the text");
        benchmark::DoNotOptimize(document);
        yyjson_doc_free(document);
    }
    yyjson_alc_dyn_free(allocator);
}

// The text with no white space outside its strings.
std::string minified(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    bool in_string = false, escaped = false;
    for (const char c : text) {
        if (in_string) {
            out += c;
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                in_string = false;
        } else if (c != ' ' && c != '\n' && c != '\r' && c != '\t') {
            out += c;
            in_string = c == '"';
        }
    }
    return out;
}

const std::string &keep(std::string text) {
    static std::vector<std::unique_ptr<std::string>> texts;
    texts.push_back(std::make_unique<std::string>(std::move(text)));
    return *texts.back();
}

template <typename Run>
void add(const std::string &name, const std::string &text, Run run) {
    benchmark::RegisterBenchmark(name.c_str(), [run, &text](benchmark::State &st) {
        run(st, text);
        st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * text.size()));
    });
}

}  // namespace

void register_kernel_benchmarks() {
    const std::string twitter = read_document("twitter.json");
    const std::string citm = read_document("citm_catalog.json");
    const std::vector<std::string> replies = twitter_statuses(twitter);
    const struct {
        const char *name;
        std::string text;
    } texts[] = {
        {"twitter", twitter},
        {"twitter-min", minified(twitter)},
        {"citm", citm},
        {"citm-min", minified(citm)},
        {"status", replies.front()},
        {"replies", statuses_within(replies, 40000)},
        {"wide", wide_objects(5000)},
        {"deep", deep_nesting(250)},
        {"strings", long_strings(500)},
        {"numbers", many_numbers(40000)},
        {"nest", single_nest(20000)},
    };
    for (const auto &entry : texts) {
        const std::string &text = keep(entry.text);
        const std::string base = std::string("kernels/") + entry.name + "/";
        for (const json::Kernel kernel : json::available_kernels()) {
            add(base + "jsmn_parse/" + json::kernel_name(kernel), text,
                [kernel](benchmark::State &st, const std::string &t) {
                    jsmn_parse_with(st, t, kernel);
                });
            add(base + "json_tokenise/" + json::kernel_name(kernel), text,
                [kernel](benchmark::State &st, const std::string &t) {
                    json_tokenise_with(st, t, kernel);
                });
        }
        for (const auto *implementation : simdjson::get_available_implementations()) {
            if (!implementation->supported_by_runtime_system()) continue;
            const std::string name = implementation->name();
            add(base + "simdjson/" + name, text,
                [name](benchmark::State &st, const std::string &t) { simdjson_with(st, t, name); });
        }
        add(base + "yyjson", text, yyjson_read_whole);
    }
}

// The implementation of simdjson that runs on a host where the library runs `kernel`.
const char *simdjson_peer(json::Kernel kernel) {
    switch (kernel) {
        case json::Kernel::avx512vbmi2:
            return "icelake";
        case json::Kernel::avx512bw:
        case json::Kernel::avx2:
            return "haswell";
        case json::Kernel::sse42:
            return "westmere";
        case json::Kernel::neon:
            return "arm64";
        default:
            return "fallback";
    }
}

const char *simdjson_version() {
    return SIMDJSON_VERSION;
}

const char *yyjson_version() {
    return YYJSON_VERSION_STRING;
}

}  // namespace qmrt::bench
