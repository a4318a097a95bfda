# The project's commands. `make play` builds in Release and starts the game; `make test` installs
# what the tests need (when run as root), builds with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs every test through CTest.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE_DIR := build/release
TEST_DIR := build/asan
FUZZ_DIR := build/fuzz
BENCH_DIR := build/bench
FUZZ_SECONDS ?= 600
FUZZ_ONLY ?=

.PHONY: play test deps-build deps-test bench fuzz format tidy clean

play: deps-build
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DZN_BUILD_TESTS=OFF
	cmake --build $(RELEASE_DIR) --target rps -j $(JOBS)
	$(RELEASE_DIR)/game/rps

test: deps-test
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZN_SANITIZE=ON -DZN_WERROR=ON \
	  -DZN_BUILD_TESTS=ON
	cmake --build $(TEST_DIR) -j $(JOBS)
	ctest --test-dir $(TEST_DIR) --output-on-failure -j $(JOBS)

deps-build:
	@scripts/install-deps build

deps-test:
	@scripts/install-deps test

bench: deps-test
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DZN_BUILD_TESTS=OFF \
	  -DZN_BUILD_BENCH=ON
	cmake --build $(BENCH_DIR) -j $(JOBS)
	@echo "Benchmarks are in $(BENCH_DIR)/bench; run each one by hand."

# Real fuzzing with libFuzzer: every target (or those matching FUZZ_ONLY) runs FUZZ_SECONDS on
# its seed corpus.
fuzz: deps-test
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DZN_BUILD_TESTS=OFF -DZN_BUILD_FUZZ=ON -DZN_SANITIZE=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	scripts/run-fuzzers $(FUZZ_DIR)/fuzz $(FUZZ_SECONDS) '$(FUZZ_ONLY)'

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

tidy:
	cmake -S . -B $(TEST_DIR) -G Ninja -DZN_SANITIZE=ON -DZN_BUILD_TESTS=ON >/dev/null
	git ls-files 'runtime/*.cpp' 'platform/*.cpp' 'game/*.cpp' | grep -v _test.cpp | \
	  xargs clang-tidy -p $(TEST_DIR) --quiet

clean:
	rm -rf build
