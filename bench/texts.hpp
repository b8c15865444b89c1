// The texts the benchmarks read: the two documents shipped in data/ and synthetic
// texts of five shapes, and replies cut from twitter.json, each made from a repetition count so
// that they can be scaled; and the library's two entry points as the benchmarks run them.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "qmrt/json.h"

namespace qmrt::bench {

inline std::string read_document(const std::string &name) {
    std::ifstream in(std::string(QMRT_BENCH_DATA) + "/" + name, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read data/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Texts of the sizes of the replies the suite reads, cut from twitter.json: its first
// status alone, and as many of its statuses as fit in 40000 characters, as an array.
inline std::vector<std::string> twitter_statuses(const std::string &document) {
    std::int32_t status = 0;
    json_token *tokens = json_tokenise(document.c_str(), &status);
    std::vector<std::string> found;
    for (const json_token *t = tokens; status == 0 && t->start >= 0; ++t) {
        if (t->type != JSON_STRING || document.compare(t->start, t->end - t->start, "statuses"))
            continue;
        const json_token *array = t + 1;
        for (const json_token *e = array + 1; e->start >= 0 && e->start < array->end; ++e) {
            found.push_back(document.substr(e->start, e->end - e->start));
            const std::int32_t end = e->end;
            while (e[1].start >= 0 && e[1].start < end) ++e;  // its descendants
        }
        break;
    }
    std::free(tokens);
    if (found.empty()) throw std::runtime_error("no statuses in twitter.json");
    return found;
}

inline std::string statuses_within(const std::vector<std::string> &all, std::size_t limit) {
    std::string text = "[";
    for (const std::string &one : all) {
        if (text.size() + one.size() + 2 > limit) break;
        if (text.size() > 1) text += ',';
        text += one;
    }
    return text + "]";
}

// A wide array of small objects: closing each one used to search back over its siblings.
inline std::string wide_objects(std::size_t n) {
    std::string text = "[";
    for (std::size_t i = 0; i < n; ++i) {
        if (i) text += ',';
        text += "{\"id\":" + std::to_string(i) + ",\"name\":\"item" + std::to_string(i) +
                "\",\"ok\":true,\"tags\":[1,2]}";
    }
    return text + "]";
}

// Blocks nested 200 deep (objects and arrays in turn), within every peer's depth limit.
inline std::string deep_nesting(std::size_t n) {
    constexpr int depth = 200;
    std::string block;
    for (int d = 0; d < depth; ++d) block += d % 2 ? "[" : "{\"k\":";
    block += "1";
    for (int d = depth - 1; d >= 0; --d) block += d % 2 ? "]" : "}";
    std::string text = "[";
    for (std::size_t i = 0; i < n; ++i) {
        if (i) text += ',';
        text += block;
    }
    return text + "]";
}

// One nest n deep, beyond what the peers accept: closing costs must not grow with depth.
inline std::string single_nest(std::size_t n) {
    std::string text;
    for (std::size_t d = 0; d < n; ++d) text += d % 2 ? "[" : "{\"k\":";
    text += "1";
    for (std::size_t d = n; d-- > 0;) text += d % 2 ? "]" : "}";
    return text;
}

// Strings of about a thousand characters, with an escape now and then.
inline std::string long_strings(std::size_t n) {
    std::string body;
    for (int i = 0; body.size() < 1000; ++i)
        body += i % 9 == 8 ? "line\\n \\\"quoted\\\" " : "lorem ipsum dolor sit amet ";
    std::string text = "[";
    for (std::size_t i = 0; i < n; ++i) {
        if (i) text += ",\n  ";
        text += "\"" + body + "\"";
    }
    return text + "]";
}

// Numbers of every form: integers, negatives, fractions, exponents.
inline std::string many_numbers(std::size_t n) {
    static const char *const forms[] = {"12345", "-7", "3.14159", "-0.000125",  "6.02e23",
                                        "1E-9",  "0",  "42",      "-987654321", "2.5e+10"};
    std::string text = "[";
    for (std::size_t i = 0; i < n; ++i) {
        if (i) text += i % 16 ? "," : ",\n";
        text += forms[i % 10];
    }
    return text + "]";
}

// The library's two entry points as every tokenizer benchmark runs them: jsmn_parse into
// an array sized exactly, json_tokenise into its growing array.
// The tokens a text makes, for an array sized exactly.
inline std::uint32_t tokens_needed(const std::string &text) {
    std::vector<json_token> tokens(text.size() + 1);
    jsmn_state state;
    jsmn_init(&state);
    if (jsmn_parse(&state, text.c_str(), tokens.data(),
                   static_cast<std::uint32_t>(tokens.size())) != 0)
        throw std::runtime_error("benchmark text does not tokenize");
    return static_cast<std::uint32_t>(state.next_free);
}

inline void jsmn_parse_sized(benchmark::State &st, const std::string &text) {
    std::vector<json_token> tokens(tokens_needed(text));
    const auto count = static_cast<std::uint32_t>(tokens.size());
    for (auto _ : st) {
        jsmn_state state;
        jsmn_init(&state);
        benchmark::DoNotOptimize(jsmn_parse(&state, text.c_str(), tokens.data(), count));
        benchmark::ClobberMemory();
    }
}

inline void json_tokenise_growing(benchmark::State &st, const std::string &text) {
    for (auto _ : st) {
        std::int32_t status = 0;
        json_token *tokens = json_tokenise(text.c_str(), &status);
        benchmark::DoNotOptimize(tokens);
        std::free(tokens);
    }
}

}  // namespace qmrt::bench
