# The project's commands; every configuration they build is a preset in CMakePresets.json.
# `make play` builds the game as it ships (the release preset) and starts it; `make test` installs
# what the tests need (when run as root), builds with AddressSanitizer and
# UndefinedBehaviorSanitizer (the asan preset), runs the lint step and every test through CTest.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 600
FUZZ_ONLY ?=
RUNS ?= 1

.PHONY: play test unit lint docs deps-build deps-test clang bench bench-report fuzz format clean

play: deps-build
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	build/release/game/rps

test: deps-test
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	JOBS=$(JOBS) scripts/lint build/asan
	ctest --preset asan -j $(JOBS)

# The quick loop: the unit tests of an existing asan build.
unit:
	cmake --build --preset asan -j $(JOBS)
	ctest --preset unit -j $(JOBS)

# The format check and clang-tidy (part of `make test`).
lint:
	cmake --preset asan >/dev/null
	JOBS=$(JOBS) scripts/lint build/asan

# The API reference from the public headers' contract comments, in build/release/docs/html;
# fails on any undocumented public operation.
docs: deps-test
	cmake --preset release >/dev/null
	cmake --build build/release --target docs

deps-build:
	@scripts/install-deps build

deps-test:
	@scripts/install-deps test

# Every test again, built by clang.
clang: deps-test
	cmake --preset clang
	cmake --build --preset clang -j $(JOBS)
	ctest --preset clang -j $(JOBS)

bench: deps-test
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	@echo "Benchmarks are in build/bench/bench; run each one by hand."

# Every benchmark beside its anchor (alternating in one process, medians of repetitions), the
# start sequence and the game's start, idle and memory figures, as one markdown table. RUNS=5
# takes the whole report five times and shows each row's spread.
bench-report: bench
	bench/report.py build/bench 7 $(RUNS)

# Real fuzzing with libFuzzer: every target (or those matching FUZZ_ONLY) runs FUZZ_SECONDS on
# its seed corpus.
fuzz: deps-test
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	scripts/run-fuzzers build/fuzz/fuzz $(FUZZ_SECONDS) '$(FUZZ_ONLY)'

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
