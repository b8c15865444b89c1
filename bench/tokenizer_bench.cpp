// Tokenizer throughput against the peers on the same bytes, the scaling of both of the
// library's entry points with the size of each synthetic shape, and the value lookup.
#include <benchmark/benchmark.h>
#include <cjson/cJSON.h>
#include <rapidjson/document.h>
#include <simdjson.h>

#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench.hpp"
#include "qmrt/json.h"
#include "texts.hpp"

namespace qmrt::bench {
namespace {

void simdjson_dom(benchmark::State &st, const std::string &text) {
    simdjson::dom::parser parser;
    const simdjson::padded_string padded(text);
    if (parser.parse(padded).error()) throw std::runtime_error("simdjson refused the text");
    for (auto _ : st) {
        auto document = parser.parse(padded);
        benchmark::DoNotOptimize(document);
    }
}

void rapidjson_dom(benchmark::State &st, const std::string &text) {
    for (auto _ : st) {
        rapidjson::Document document;
        document.Parse(text.c_str());
        if (document.HasParseError()) throw std::runtime_error("RapidJSON refused the text");
        benchmark::DoNotOptimize(document);
    }
}

void nlohmann_dom(benchmark::State &st, const std::string &text) {
    for (auto _ : st) {
        auto document = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(document);
    }
}

void cjson_tree(benchmark::State &st, const std::string &text) {
    for (auto _ : st) {
        cJSON *document = cJSON_Parse(text.c_str());
        if (document == nullptr) throw std::runtime_error("cJSON refused the text");
        benchmark::DoNotOptimize(document);
        cJSON_Delete(document);
    }
}

// The floor: one pass that only looks for the terminating zero byte.
void strlen_floor(benchmark::State &st, const std::string &text) {
    for (auto _ : st) {
        const char *bytes = text.c_str();
        benchmark::DoNotOptimize(bytes);
        benchmark::DoNotOptimize(std::strlen(bytes));
    }
}

using Runner = void (*)(benchmark::State &, const std::string &);

const struct {
    const char *name;
    Runner run;
} tokenizers[] = {
    {"jsmn_parse", jsmn_parse_sized}, {"json_tokenise", json_tokenise_growing},
    {"simdjson", simdjson_dom},       {"rapidjson", rapidjson_dom},
    {"nlohmann", nlohmann_dom},       {"cjson", cjson_tree},
    {"strlen", strlen_floor},
};

// Texts are kept alive for the whole run; the benchmarks refer to them.
const std::string &keep(std::string text) {
    static std::vector<std::unique_ptr<std::string>> texts;
    texts.push_back(std::make_unique<std::string>(std::move(text)));
    return *texts.back();
}

void add(const std::string &name, Runner run, const std::string &text) {
    benchmark::RegisterBenchmark(name.c_str(), [run, &text](benchmark::State &st) {
        run(st, text);
        st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * text.size()));
    });
}

// A reply of exactly 40000 characters whose last key is looked up.
std::string reply_of_40000(std::string &last_key) {
    std::string text = "{";
    int i = 0;
    while (text.size() < 40000 - 40) {
        if (i) text += ',';
        text += "\"key" + std::to_string(i) + "\":\"value" + std::to_string(i) + "\"";
        ++i;
    }
    last_key = "last";
    text += ",\"last\":\"";
    text += std::string(40000 - text.size() - 2, 'v');
    return text + "\"}";
}

}  // namespace

void register_tokenizer_benchmarks() {
    const std::string twitter = read_document("twitter.json");
    const std::vector<std::string> replies = twitter_statuses(twitter);
    const struct {
        const char *name;
        std::string text;
    } documents[] = {
        {"twitter.json", twitter},       {"citm_catalog.json", read_document("citm_catalog.json")},
        {"status", replies.front()},     {"replies", statuses_within(replies, 40000)},
        {"wide", wide_objects(20000)},   {"deep", deep_nesting(1000)},
        {"strings", long_strings(1000)}, {"numbers", many_numbers(160000)},
    };
    for (const auto &document : documents) {
        const std::string &text = keep(document.text);
        for (const auto &tokenizer : tokenizers)
            add(std::string("tokenize/") + document.name + "/" + tokenizer.name, tokenizer.run,
                text);
    }

    // The same shapes at N, 2N and 4N, sized so that the text and tokens of N (3 to 4 MB)
    // outgrow a second-level cache of 1 or 2 MB and those of 4N stay inside a 32 MB
    // third-level one: all three sizes are then read from the same level, and a growth in
    // time comes from the tokenizer rather than from a change of cache.
    const struct {
        const char *name;
        std::string (*make)(std::size_t);
        std::size_t n;
    } shapes[] = {
        {"wide", wide_objects, 20000},   {"deep", deep_nesting, 600},
        {"strings", long_strings, 4000}, {"numbers", many_numbers, 160000},
        {"nest", single_nest, 120000},
    };
    for (const auto &shape : shapes)
        for (int times : {1, 2, 4}) {
            const std::string &text = keep(shape.make(shape.n * static_cast<std::size_t>(times)));
            for (const auto &tokenizer : tokenizers) {
                if (tokenizer.run != jsmn_parse_sized && tokenizer.run != json_tokenise_growing)
                    continue;
                add(std::string("scaling/") + shape.name + "/" + tokenizer.name + "/" +
                        std::to_string(times) + "N",
                    tokenizer.run, text);
            }
        }

    static std::string last_key;
    const std::string &reply = keep(reply_of_40000(last_key));
    benchmark::RegisterBenchmark("lookup/QM_getJsonValue", [&reply](benchmark::State &st) {
        std::int32_t status = 0;
        json_token *tokens = json_tokenise(reply.c_str(), &status);
        std::string value(reply.size() + 1, '\0');
        if (QM_getJsonValue(tokens, last_key.c_str(), value.data(), reply.c_str()) != 0)
            throw std::runtime_error("the last key was not found");
        for (auto _ : st)
            benchmark::DoNotOptimize(
                QM_getJsonValue(tokens, last_key.c_str(), value.data(), reply.c_str()));
        std::free(tokens);
    });
    add("lookup/json_tokenise", json_tokenise_growing, reply);
    add("lookup/strlen", strlen_floor, reply);
}

}  // namespace qmrt::bench
