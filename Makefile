# Thin wrapper over CMake: `make demo` runs the tool on the bundled sample, `make test` runs
# every test.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
DEMO_DIR = $(BUILD)/demo

.PHONY: all build demo test sanitize valgrind variants fuzz coverage bench clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@mkdir -p $(DEMO_DIR)
	$(BUILD)/aamsg e samples/thank-you.wav $(DEMO_DIR)/thank-you.msg
	$(BUILD)/aamsg d $(DEMO_DIR)/thank-you.msg $(DEMO_DIR)/thank-you.wav
	@echo "Message file: $(DEMO_DIR)/thank-you.msg; decoded again: $(DEMO_DIR)/thank-you.wav"

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DAAMSG_SANITIZE=ON
	cmake --build build-sanitize -j $(JOBS)
	ctest --test-dir build-sanitize --output-on-failure -j $(JOBS)

# The end-to-end tests with every run of the tool under valgrind's memcheck.
valgrind: build
	AAMSG_COMMAND="$$(command -v valgrind) -q --error-exitcode=99 --leak-check=full $(CURDIR)/$(BUILD)/aamsg" \
	  $(BUILD)/tests/aamsg_e2e_tests

# Line and branch coverage of src/ by the whole suite (gcovr; Debian: gcovr).
coverage:
	cmake -S . -B build-coverage -DCMAKE_BUILD_TYPE=Debug -DAAMSG_COVERAGE=ON
	cmake --build build-coverage -j $(JOBS)
	find build-coverage -name '*.gcda' -delete
	ctest --test-dir build-coverage -j $(JOBS)
	gcovr --root . --filter 'src/' --object-directory build-coverage --print-summary \
	  --txt build-coverage/coverage.txt --html-details build-coverage/coverage.html
	@cat build-coverage/coverage.txt

# The same suite at -O0 and at -O3 for this machine's processor: the output bytes must not move.
variants:
	cmake -S . -B build-O0 -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS=-O0
	cmake --build build-O0 -j $(JOBS)
	ctest --test-dir build-O0 --output-on-failure -j $(JOBS)
	cmake -S . -B build-native -DCMAKE_BUILD_TYPE=None "-DCMAKE_CXX_FLAGS=-O3 -march=native"
	cmake --build build-native -j $(JOBS)
	ctest --test-dir build-native --output-on-failure -j $(JOBS)

# Both libFuzzer targets from a fresh seed corpus, FUZZ_SECONDS each (clang 14 and its
# runtimes; Debian: clang libclang-rt-14-dev).
FUZZ_SECONDS ?= 60
FUZZ_FLAGS ?=
FUZZ_MAX_LEN ?= 2048
fuzz:
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAAMSG_FUZZ=ON -DAAMSG_TESTS=OFF
	cmake --build build-fuzz -j $(JOBS)
	mkdir -p build-fuzz/corpus-encode build-fuzz/corpus-decode build-fuzz/findings
	build-fuzz/tests/fuzz/make_seeds build-fuzz/corpus-encode build-fuzz/corpus-decode
	build-fuzz/tests/fuzz/fuzz_encode -max_total_time=$(FUZZ_SECONDS) -timeout=10 -max_len=$(FUZZ_MAX_LEN) \
	  -artifact_prefix=build-fuzz/findings/encode- -print_final_stats=1 $(FUZZ_FLAGS) build-fuzz/corpus-encode
	build-fuzz/tests/fuzz/fuzz_decode -max_total_time=$(FUZZ_SECONDS) -timeout=10 -max_len=$(FUZZ_MAX_LEN) \
	  -artifact_prefix=build-fuzz/findings/decode- -print_final_stats=1 $(FUZZ_FLAGS) build-fuzz/corpus-decode

bench: build
	bench/compare.sh

clean:
	rm -rf build build-*
