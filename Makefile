# Front door of the build: CMake does the work, these targets only chain the steps.
#   make demo   install what is missing, build, run the demo
#   make check  while working: the release build, its tests and the format check
#   make test   install what is missing, build, run every test plain and sanitized, and
#               each fuzz target for a short fixed number of inputs; check the format,
#               the ABI and the packages
#   make bench  build the benchmarks and print their tables of ratios (make bench-startup:
#               the start-up row alone)
#   make fuzz   run each fuzz target for FUZZ_SECONDS seconds
#   make package  the Debian source package and packages libqmrt0, libqmrt-dev and qmrt,
#               in build/package/ (make package-repro: built twice and compared)
#   make check-abi  the shared library's ABI against its baseline (make abi-baseline: a
#               new baseline)
#   make matrix the library and its tests built with other compilers, flags and
#               architectures, the tests run in each (MATRIX="clang19 s390x" picks entries)
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = tokenizer tokens dates

.PHONY: all deps build check check-format test test-release test-asan test-fuzz test-package \
        package package-repro check-abi abi-baseline fuzz bench bench-build bench-startup demo \
        matrix clean format

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

test-release: build
	ctest --preset release

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

# The fuzz targets in a clang build, each over its seed corpus for a fixed number of inputs.
test-fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	ctest --preset fuzz

# The Debian source package and packages, built by dpkg-buildpackage (debian/) from a copy
# of the tree; DEB_BUILD_OPTIONS=nocheck leaves the tests out.
package: deps
	JOBS=$(JOBS) scripts/package.sh build/package

# The packages checked as files, without installing them: names, dependencies, file
# lists, exported names, man pages, lintian. make test has run every test already, so
# the packages' build runs none.
test-package: deps
	DEB_BUILD_OPTIONS="$(DEB_BUILD_OPTIONS) nocheck" JOBS=$(JOBS) scripts/package.sh build/package
	tests/package/check_packages.sh build/package

# The packages built twice, from clones at two paths, and compared byte for byte.
package-repro: deps
	JOBS=$(JOBS) scripts/package-repro.sh build/repro

# The shared library's ABI against abi/libqmrt.so.0.abi: any change fails but a new name,
# which is reported. make abi-baseline accepts the library's ABI as it is.
check-abi: build
	scripts/abi.sh check build/release/libqmrt.so.0

abi-baseline: build
	scripts/abi.sh baseline build/release/libqmrt.so.0

# Every C and C++ source as .clang-format lays it out; make format rewrites them so.
check-format: deps
	@scripts/format.sh check

check: check-format test-release

test: check-format test-release test-asan test-fuzz check-abi test-package

# One run of every benchmark, each binary's table of ratios printed after its runs and all
# kept in build/bench. Repetitions are interleaved, so that a slow spell of the machine
# falls on every benchmark alike rather than on one, and the tables compare the least
# time of each.
BENCH_FLAGS ?= --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
  --benchmark_min_time=0.1
# qmrt_kernel_bench, every kernel against the newest peers, is built when their sources are
# beside the project (../shared/peers).
BENCH_BINARIES = qmrt_bench qmrt_kernel_bench qmrt_exchange_bench
bench: bench-build
	@rm -f build/bench/report.txt
	@for binary in $(BENCH_BINARIES); do \
	  [ -x build/bench/bench/$$binary ] || continue; \
	  build/bench/bench/$$binary $(BENCH_FLAGS) --benchmark_out=$(CURDIR)/build/bench/$$binary.json \
	    --benchmark_out_format=json | tee -a build/bench/report.txt || exit 1; \
	done
	@$(STARTUP_BENCH)
	@cat build/bench/startup.txt >>build/bench/report.txt

bench-build:
	@scripts/install-deps.sh bench
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)

# The start-up row: CPU time per start of small programs, the qmrt tool as installed.
STARTUP_BENCH = rm -f build/bench/startup.txt; \
  cmake --install build/bench --prefix build/bench/prefix >/dev/null && \
  build/bench/bench/qmrt_startup_bench build/bench/prefix/bin/qmrt >build/bench/startup.txt; \
  status=$$?; cat build/bench/startup.txt 2>/dev/null; exit $$status
bench-startup: bench-build
	@$(STARTUP_BENCH)

# New inputs collect in build/fuzz/corpus and seed the next run.
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	@for target in $(FUZZ_TARGETS); do \
	  echo "== $${target}_fuzz for $(FUZZ_SECONDS) s"; \
	  fuzz/run.sh build/fuzz/fuzz/$${target}_fuzz fuzz/corpus/$$target build/fuzz/corpus/$$target \
	    -max_total_time=$(FUZZ_SECONDS) || exit 1; \
	done

demo: build
	@scripts/demo.sh build/release

# Every entry builds in build/matrix/ENTRY; a summary of times and test counts ends it.
matrix:
	@scripts/matrix.sh $(MATRIX)

format:
	@scripts/format.sh fix

clean:
	rm -rf build
