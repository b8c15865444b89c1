# Front door of the build: CMake does the work, these targets only chain the steps.
#   make demo   install what is missing, build, run the demo
#   make test   install what is missing, build, run every test plain and sanitized
JOBS ?= $(shell nproc)

.PHONY: all deps build test test-release test-asan demo clean format

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

test: test-release test-asan

demo: build
	@scripts/demo.sh build/release

format:
	git ls-files '*.c' '*.h' '*.cpp' '*.hpp' | xargs clang-format -i

clean:
	rm -rf build
