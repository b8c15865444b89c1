// A fuzz target as a plain program, where libFuzzer cannot run it (a cross build whose
// tests run under an emulator): every seed of a corpus, then a fixed series of
// mutations of them. A target ends the process on any failure, as under libFuzzer.
//   TARGET_replay CORPUS MUTATIONS
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

int run(const std::string &input) {
    return LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(input.data()),
                                  input.size());
}

// One of the few edits a fuzzer makes: a byte changed, one put in or taken out, or a piece
// of the input repeated. Bytes put in favour those the targets treat specially.
void mutate(std::string &input, std::mt19937 &rng) {
    static const std::string special =
        "{}[]\",:\\ \t\n\r\0\x01\x7f\x80\xff"
        "0123456789tuenx";
    auto below = [&rng](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    const char byte = below(2) ? special[below(special.size())] : static_cast<char>(below(256));
    switch (input.empty() ? 1 : below(4)) {
        case 0:
            input[below(input.size())] = byte;
            break;
        case 1:
            input.insert(input.begin() + static_cast<std::ptrdiff_t>(below(input.size() + 1)),
                         byte);
            break;
        case 2:
            input.erase(below(input.size()), 1);
            break;
        default: {
            const std::size_t from = below(input.size());
            const std::size_t length = 1 + below(std::min<std::size_t>(64, input.size() - from));
            input.insert(below(input.size() + 1), input.substr(from, length));
        }
    }
    if (input.size() > 4096) input.resize(4096);  // the bound fuzz/run.sh gives libFuzzer
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s CORPUS MUTATIONS\n", argv[0]);
        return 2;
    }
    std::vector<std::string> seeds;
    for (const auto &entry : std::filesystem::directory_iterator(argv[1])) {
        std::ifstream in(entry.path(), std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (seeds.empty()) {
        std::fprintf(stderr, "no seeds in %s\n", argv[1]);
        return 1;
    }
    for (const std::string &seed : seeds) run(seed);
    std::mt19937 rng(1);
    const long mutations = std::strtol(argv[2], nullptr, 10);
    // Each input is the one before it edited again, so that inputs grow and change far
    // from their seed, or now and then a seed edited afresh.
    std::string input;
    for (long i = 0; i < mutations; ++i) {
        if (rng() % 16 == 0 || input.empty()) input = seeds[rng() % seeds.size()];
        for (int edits = 1 + static_cast<int>(rng() % 4); edits > 0; --edits) mutate(input, rng);
        run(input);
    }
    std::printf("%zu seeds and %ld mutations, every one held\n", seeds.size(), mutations);
    return 0;
}
