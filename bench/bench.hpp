// The benchmark families, each registered with Google Benchmark by its own file.
#pragma once

#include "json/kernels.hpp"

namespace qmrt::bench {

void register_tokenizer_benchmarks();
void register_date_benchmarks();
// Every kernel against simdjson and yyjson built from their sources.
void register_kernel_benchmarks();
// Starts a local TLS server for the exchange; false when that is not possible.
bool register_exchange_benchmarks();

// The library's dates and the standard library's agree on every benchmarked date.
bool dates_agree();

// The simdjson implementation that runs where the library runs `kernel`, and the versions
// of the peers measured.
const char *simdjson_peer(json::Kernel kernel);
const char *simdjson_version();
const char *yyjson_version();

}  // namespace qmrt::bench
