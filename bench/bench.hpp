// The benchmark families, each registered with Google Benchmark by its own file.
#pragma once

namespace qmrt::bench {

void register_tokenizer_benchmarks();
void register_date_benchmarks();
// Starts a local TLS server for the exchange; false when that is not possible.
bool register_exchange_benchmarks();

// The library's dates and the standard library's agree on every benchmarked date.
bool dates_agree();

}  // namespace qmrt::bench
