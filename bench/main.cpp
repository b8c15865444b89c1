// Runs every benchmark, then prints the ratios the targets are stated in: each figure
// is set against a peer measured in the same run, never read as an absolute time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench.hpp"
#include "json/kernels.hpp"

namespace {

// Keeps the time per iteration of every benchmark, in ns: the least over its
// repetitions. A busy spell of this shared machine only ever adds time, so the least is
// the steadiest measure, and it is taken alike for the library and for its peers. The
// console shows the aggregates of the repetitions only.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        std::vector<Run> shown;
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Aggregate || run.repetitions <= 1) shown.push_back(run);
            if (run.error_occurred || run.run_type == Run::RT_Aggregate) continue;
            const double ns =
                run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
            // Names are kept without the suffix a real-time measurement adds.
            std::string name = run.run_name.str();
            if (const auto at = name.rfind("/real_time"); at != std::string::npos) name.erase(at);
            const auto [at, added] = times.emplace(name, ns);
            if (!added && ns < at->second) at->second = ns;
        }
        if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
    }

    std::map<std::string, double> times;
};

class Table {
public:
    explicit Table(const std::map<std::string, double> &times) : times_(times) {}

    // a's time over b's time, or a negative number when either did not run.
    double ratio(const std::string &a, const std::string &b) const {
        auto x = times_.find(a), y = times_.find(b);
        if (x == times_.end() || y == times_.end() || y->second <= 0) return -1;
        return x->second / y->second;
    }

    static std::string cell(double value, int width = 9) {
        char text[32];
        if (value < 0)
            std::snprintf(text, sizeof text, "%*s", width, "-");
        else
            std::snprintf(text, sizeof text, "%*.2f", width, value);
        return text;
    }

    static const char *verdict(bool met) { return met ? "met" : "MISSED"; }

    bool measured(const std::string &prefix) const {
        const auto at = times_.lower_bound(prefix);
        return at != times_.end() && at->first.compare(0, prefix.size(), prefix) == 0;
    }

    void print() const {
        if (measured("tokenize/")) print_tokenizer();
#if defined(QMRT_BENCH_KERNELS)
        if (measured("kernels/")) print_kernels();
#endif
        if (measured("dates/")) print_dates();
        if (measured("exchange/")) print_exchange();
        if (measured("large_reply/")) print_large_reply();
    }

    void print_tokenizer() const {
        const char *const documents[] = {
            "twitter.json", "citm_catalog.json", "status", "replies", "wide",
            "deep",         "strings",           "numbers"};
        const char *const ours[] = {"jsmn_parse", "json_tokenise"};
        const char *const peers[] = {"simdjson", "rapidjson", "nlohmann", "cjson", "strlen"};

        std::printf(
            "\n== Tokenizer speed relative to each peer (peer time / our time; "
            "higher is faster)\n");
        std::printf("   kernel chosen at run time: %s\n",
                    qmrt::json::kernel_name(qmrt::json::best_kernel()));
        std::printf(
            "   status: one status of twitter.json; replies: as many of its statuses as fit in "
            "40000 characters\n");
        std::printf(
            "   targets on the first four: jsmn_parse >= 1.00 x simdjson, json_tokenise >= 0.90 "
            "x simdjson, both >= 1.50 x rapidjson\n");
        std::printf("%-18s %-14s", "document", "tokenizer");
        for (const char *peer : peers) std::printf(" %9s", peer);
        std::printf("  targets\n");
        for (const char *document : documents)
            for (const char *mine : ours) {
                const std::string base = std::string("tokenize/") + document + "/";
                std::printf("%-18s %-14s", document, mine);
                for (const char *peer : peers)
                    std::printf(" %s", cell(ratio(base + peer, base + mine)).c_str());
                const std::string doc = document;
                if (doc == "twitter.json" || doc == "citm_catalog.json" || doc == "status" ||
                    doc == "replies") {
                    const double rj = ratio(base + "rapidjson", base + mine);
                    const double sj = ratio(base + "simdjson", base + mine);
                    const double sj_target = std::string(mine) == "jsmn_parse" ? 1.0 : 0.9;
                    std::printf("  simdjson %s, rapidjson %s", verdict(sj >= sj_target),
                                verdict(rj >= 1.5));
                }
                std::printf("\n");
            }

        std::printf("\n== Scaling: time at 2N and 4N over time at N (target 4N/N <= 4.40)\n");
        std::printf("%-10s %-14s %9s %9s  target\n", "shape", "tokenizer", "2N/N", "4N/N");
        for (const char *shape : {"wide", "deep", "strings", "numbers", "nest"})
            for (const char *mine : ours) {
                const std::string base = std::string("scaling/") + shape + "/" + mine + "/";
                const double twice = ratio(base + "2N", base + "1N");
                const double four = ratio(base + "4N", base + "1N");
                std::printf("%-10s %-14s %s %s  %s\n", shape, mine, cell(twice).c_str(),
                            cell(four).c_str(), verdict(four >= 0 && four <= 4.4));
            }

        std::printf("\n== QM_getJsonValue on the last key of a 40000-character reply\n");
        std::printf("   time over one strlen of the reply:       %s\n",
                    cell(ratio("lookup/QM_getJsonValue", "lookup/strlen")).c_str());
        std::printf("   time over json_tokenise of the reply:    %s\n",
                    cell(ratio("lookup/QM_getJsonValue", "lookup/json_tokenise")).c_str());
    }

#if defined(QMRT_BENCH_KERNELS)
    // Every kernel of this host raced against simdjson forced to the kernel it would run
    // on the same host, and against yyjson.
    void print_kernels() const {
        const char *const texts[] = {"twitter", "twitter-min", "citm", "citm-min",
                                     "status",  "replies",     "wide", "deep",
                                     "strings", "numbers",     "nest"};
        std::printf(
            "\n== Kernel by kernel, like for like (peer time / our time; higher is faster)\n"
            "   peers: simdjson %s DOM, forced to the kernel it runs on the same host; yyjson %s\n"
            "   targets: jsmn_parse >= 1.00 x each peer, json_tokenise >= 0.90 x each peer\n",
            qmrt::bench::simdjson_version(), qmrt::bench::yyjson_version());
        std::printf("%-12s %-14s %-18s", "kernel", "tokenizer", "peer");
        for (const char *text : texts) std::printf(" %11s", text);
        std::printf("  missed\n");
        for (const qmrt::json::Kernel kernel : qmrt::json::available_kernels()) {
            const char *name = qmrt::json::kernel_name(kernel);
            const std::string simdjson =
                std::string("simdjson/") + qmrt::bench::simdjson_peer(kernel);
            for (const char *mine : {"jsmn_parse", "json_tokenise"})
                for (const std::string &peer : {simdjson, std::string("yyjson")}) {
                    const double target = std::string(mine) == "jsmn_parse" ? 1.0 : 0.9;
                    const std::string label =
                        peer == "yyjson" ? peer : "simdjson " + peer.substr(peer.find('/') + 1);
                    std::printf("%-12s %-14s %-18s", name, mine, label.c_str());
                    int missed = 0;
                    for (const char *text : texts) {
                        const std::string base = std::string("kernels/") + text + "/";
                        const double r = ratio(base + peer, base + mine + "/" + name);
                        if (r >= 0 && r < target) ++missed;
                        std::printf(" %s", cell(r, 11).c_str());
                    }
                    std::printf("  %d\n", missed);
                }
        }
        std::printf(
            "\n   best_kernel() on AVX-512BW hosts without VBMI2: avx2 time / avx512bw time "
            "(above 1: avx512bw is faster)\n%-27s",
            "   jsmn_parse");
        for (const char *text : texts) {
            const std::string base = std::string("kernels/") + text + "/jsmn_parse/";
            std::printf(" %s", cell(ratio(base + "avx2", base + "avx512bw"), 11).c_str());
        }
        std::printf("\n");
    }
#endif

    void print_dates() const {
        std::printf(
            "\n== Dates: our time over std::chrono's, each conversion one call "
            "(target: round trip <= 0.90)\n");
        const char *const pairs[][2] = {{"utdateij", "chrono_ymd_to_sys_days"},
                                        {"utdateji", "chrono_sys_days_to_ymd"},
                                        {"utdateni", "chrono_shift"},
                                        {"round_trip", "chrono_round_trip"}};
        for (const auto &pair : pairs) {
            const double r =
                ratio(std::string("dates/") + pair[0], std::string("dates/") + pair[1]);
            std::printf("%-10s vs %-24s %s", pair[0], pair[1], cell(r).c_str());
            if (std::string(pair[0]) == "round_trip")
                std::printf("  %s", verdict(r >= 0 && r <= 0.9));
            std::printf("\n");
        }
    }

    void print_exchange() const {
        std::printf(
            "\n== Exchange: QM_callService time over a bare libcurl POST on a fresh handle\n"
            "   targets: a later exchange <= 0.70 on TLS 1.3 and lower still on TLS 1.2;\n"
            "   the first of a process (no saved session) <= 1.10 as before;\n"
            "   shared: the bare POST resuming sessions through a share handle, for scale\n");
        std::printf("%-8s %9s %9s %11s %9s  targets\n", "version", "later", "first", "later/first",
                    "shared");
        auto exchange = [this](const char *version, const char *which) {
            const std::string base = std::string("exchange/") + version + "/";
            return ratio(base + which, base + "libcurl");
        };
        const double later_tls13 = exchange("TLS1.3", "QM_callService");
        for (const char *version : {"TLS1.3", "TLS1.2"}) {
            const double later = exchange(version, "QM_callService");
            const double first = exchange(version, "QM_callService_first");
            const bool later_met = std::string(version) == "TLS1.3"
                                       ? later >= 0 && later <= 0.7
                                       : later >= 0 && later_tls13 >= 0 && later < later_tls13;
            std::printf("%-8s %s %s %s %s  later %s, first %s\n", version, cell(later).c_str(),
                        cell(first).c_str(), cell(first > 0 ? later / first : -1, 11).c_str(),
                        cell(exchange(version, "libcurl_shared")).c_str(), verdict(later_met),
                        verdict(first >= 0 && first <= 1.1));
        }
    }

    void print_large_reply() const {
        std::printf(
            "\n== Large reply: a 50 MB reply, QM_callService time over json_fetch of it from the\n"
            "   same server (the exchange also traces it whole and tokenizes it); target <= 3\n");
        const double large = ratio("large_reply/QM_callService", "large_reply/json_fetch");
        std::printf("%-8s %s  %s\n", "50 MB", cell(large).c_str(),
                    verdict(large >= 0 && large <= 3));
    }

private:
    const std::map<std::string, double> &times_;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
#if defined(QMRT_BENCH_EXCHANGE)
    if (!qmrt::bench::register_exchange_benchmarks())
        std::fprintf(stderr, "no local TLS server: the exchange is not measured\n");
#elif defined(QMRT_BENCH_KERNELS)
    qmrt::bench::register_kernel_benchmarks();
#else
    if (!qmrt::bench::dates_agree()) {
        std::fprintf(stderr, "the library's dates and std::chrono's disagree\n");
        return 1;
    }
    qmrt::bench::register_tokenizer_benchmarks();
    qmrt::bench::register_date_benchmarks();
#endif
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    Table(collector.times).print();
    benchmark::Shutdown();
    return 0;
}
