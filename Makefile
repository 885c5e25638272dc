# Thin wrapper over CMake: `make demo` runs the tool on the bundled sample, `make test` runs
# every test.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
DEMO_DIR = $(BUILD)/demo

.PHONY: all build build-deb build-windows build-arm64 build-i386 demo test test-windows test-arm64 test-i386 package wheel sanitize tsan valgrind variants fuzz coverage bench build-bench bench-check web serve-web test-web npm test-npm clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

# Both encoders on the bundled sample, each message decoded again to listen to.
demo: build
	@mkdir -p $(DEMO_DIR)
	$(BUILD)/aamsg e samples/thank-you.wav $(DEMO_DIR)/thank-you-e.msg
	$(BUILD)/aamsg d $(DEMO_DIR)/thank-you-e.msg $(DEMO_DIR)/thank-you-e.wav
	$(BUILD)/aamsg q samples/thank-you.wav $(DEMO_DIR)/thank-you-q.msg
	$(BUILD)/aamsg d $(DEMO_DIR)/thank-you-q.msg $(DEMO_DIR)/thank-you-q.wav
	@echo "Exact encoder: $(DEMO_DIR)/thank-you-e.msg, decoded again: $(DEMO_DIR)/thank-you-e.wav"
	@echo "Best encoder:  $(DEMO_DIR)/thank-you-q.msg, decoded again: $(DEMO_DIR)/thank-you-q.wav"

# Linux tests, then the Windows executable's tests under Wine where the cross compiler and
# Wine are installed (Debian: g++-mingw-w64-x86-64 wine).
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	@if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then \
	  $(MAKE) --no-print-directory test-windows; \
	else echo "Windows build not tested: install g++-mingw-w64-x86-64 and wine"; fi

# FFmpeg's libraries (the demuxers, decoders and parsers that src/audio/ffmpeg_components.txt
# lists) and libsoxr, built static for a target from Debian's sources once, and again when the
# script, the list or the target's toolchain changes: build-third-party/TARGET-prefix.
THIRD_PARTY = build-third-party
$(THIRD_PARTY)/mingw-prefix/.complete: cmake/mingw-w64-x86_64.cmake
$(THIRD_PARTY)/arm64-prefix/.complete: cmake/aarch64-linux-gnu.cmake
$(THIRD_PARTY)/i386-prefix/.complete: cmake/i686-linux-gnu.cmake
$(THIRD_PARTY)/%-prefix/.complete: cmake/third-party.sh src/audio/ffmpeg_components.txt
	cmake/third-party.sh $* $(THIRD_PARTY)/$*-prefix

# A cross build of the tool and its tests, static, with the host's end-to-end suite to run
# against it: $(call cross-build,DIRECTORY,TOOLCHAIN,TARGET,END-TO-END TESTS,MORE CMAKE FLAGS).
define cross-build
cmake -S . -B $(1) -DCMAKE_TOOLCHAIN_FILE=cmake/$(2).cmake -DCMAKE_BUILD_TYPE=Release \
  -DAAMSG_HOST_E2E=$(CURDIR)/$(BUILD)/tests/aamsg_e2e_tests -DAAMSG_HOST_E2E_FILTER='$(4)' $(5) \
  -DAAMSG_THIRD_PARTY=$(CURDIR)/$(THIRD_PARTY)/$(3)-prefix
cmake --build $(1) -j $(JOBS)
endef

WINDOWS = build-windows
build-windows: build $(THIRD_PARTY)/mingw-prefix/.complete
	$(call cross-build,$(WINDOWS),mingw-w64-x86_64,mingw,*)

# The unit suite and the host's end-to-end suite, with the same expected bytes, run against
# aamsg.exe under Wine. Wine sets up its prefix on the first run: once, before tests run at once.
# One Wine server stays up for the whole suite: started for each run of the tool it costs
# seconds a run.
test-windows: build-windows
	WINEDEBUG=-all wineserver -p
	WINEDEBUG=-all wine $(WINDOWS)/aamsg.exe >/dev/null 2>&1 || true
	WINEDEBUG=-all ctest --test-dir $(WINDOWS) --output-on-failure -j $(JOBS); status=$$?; wineserver -k; exit $$status

# Other CPUs (Debian: g++-aarch64-linux-gnu g++-i686-linux-gnu qemu-user), static, under
# qemu-user: the unit suite, with its pinned codes, and the few end-to-end tests that compare the
# tool's bytes with the host build's (the library's interface tests run on Windows). Their codes must be x86-64's.
CROSS_E2E = *ExitCodesAndConsoleText*:*BestReadsEveryFormat*:*BestGivesOneMessageOnEveryInstructionSet*
ARM64 = build-arm64
build-arm64: build $(THIRD_PARTY)/arm64-prefix/.complete
	$(call cross-build,$(ARM64),aarch64-linux-gnu,arm64,$(CROSS_E2E),-DAAMSG_CROSS_API_TESTS=OFF)
test-arm64: build-arm64
	ctest --test-dir $(ARM64) --output-on-failure -j $(JOBS)

I386 = build-i386
build-i386: build $(THIRD_PARTY)/i386-prefix/.complete
	$(call cross-build,$(I386),i686-linux-gnu,i386,$(CROSS_E2E),-DAAMSG_CROSS_API_TESTS=OFF)
test-i386: build-i386
	ctest --test-dir $(I386) --output-on-failure -j $(JOBS)

# The Debian packages come from a build of their own, configured as Debian's are: the prefix
# /usr, so that the library goes to /usr/lib/<multiarch>, and dpkg-buildflags' hardening
# (checked string calls, stack protector) for the library as for the tool.
DEB = build-deb
build-deb:
	cmake -S . -B $(DEB) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DAAMSG_TESTS=OFF \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	  $(CMAKE_FLAGS) >/dev/null
	cmake --build $(DEB) -j $(JOBS)

# The .debs for Linux (aamsg, libaamsg0, libaamsg-dev, python3-aamsg) and a .zip for Windows.
# Every .deb must pass lintian without an error or a warning; check-debs.sh unpacks them into a
# scratch root and runs the installed tool, the Python module and the C example built against
# the development package on the bundled sample. The zip must hold the tool, the DLL with its
# import library and headers, and the licences; the tool and the DLL load no DLL but Windows'
# own, and the C example built against the zip's DLL gives the same bytes under Wine.
ZIP_CHECK = $(WINDOWS)/package-check
package: build-deb build-windows
	rm -f $(DEB)/*.deb $(WINDOWS)/aamsg-*.zip
	cmake --build $(DEB) --target debs
	cd $(WINDOWS) && cpack -G ZIP >/dev/null
	lintian --fail-on error,warning --display-level '>=pedantic' $(DEB)/*.deb
	packaging/debian/check-debs.sh $(DEB)
	rm -rf $(ZIP_CHECK) && mkdir -p $(ZIP_CHECK)
	unzip -l $(WINDOWS)/aamsg-*-windows-x86_64.zip | tee $(ZIP_CHECK)/zip.txt
	for f in aamsg.exe aamsg.dll lib/libaamsg.dll.a include/aamsg.h include/aamsg_version.h LICENSE README.md \
	  aamsg-manual.txt THIRD-PARTY.txt 'third-party/ffmpeg-[^/]*/COPYING.LGPLv2.1' 'third-party/ffmpeg-[^/]*/LICENSE.md' \
	  'third-party/libsoxr-[^/]*/COPYING.LGPL'; do \
	  grep -q "/$$f$$" $(ZIP_CHECK)/zip.txt || { echo "missing in zip: $$f"; exit 1; }; done
	unzip -q -d $(ZIP_CHECK) $(WINDOWS)/aamsg-*-windows-x86_64.zip
	for f in $(ZIP_CHECK)/*/aamsg.exe $(ZIP_CHECK)/*/aamsg.dll; do \
	  if x86_64-w64-mingw32-objdump -p $$f | grep 'DLL Name' | grep -viE ' (kernel32|msvcrt|advapi32|shell32|shlwapi|user32|ws2_32|bcrypt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$$'; then \
	    echo "$$f needs a DLL that Windows does not have"; exit 1; fi; done
	x86_64-w64-mingw32-gcc -std=c11 -Wall -Wextra -Wpedantic -Wconversion -Werror -DAAMSG_SHARED \
	  -I$$(echo $(ZIP_CHECK)/*/include) examples/convert.c $$(echo $(ZIP_CHECK)/*/lib/libaamsg.dll.a) -o $$(echo $(ZIP_CHECK)/*/)convert.exe
	WINEDEBUG=-all wine $(ZIP_CHECK)/*/convert.exe e samples/thank-you.wav $(ZIP_CHECK)/thank-you.msg >/dev/null
	cmp $(ZIP_CHECK)/thank-you.msg tests/data/thank-you.msg
	@echo "Packages: $$(ls $(DEB)/*.deb $(WINDOWS)/aamsg-*.zip)"

# The Python module as a wheel with libaamsg inside, build-wheel/aamsg-<version>-py3-none-<platform>.whl,
# made as `pip install ./python` makes it: setuptools over the project's CMake (python/setup.py),
# from Debian's python3 with its pip, setuptools, wheel and venv (PyPI is not needed). Then
# installed into a fresh environment, it converts the sample with no LD_LIBRARY_PATH or PYTHONPATH.
PYTHON ?= /usr/bin/python3
wheel:
	rm -rf build-wheel && mkdir -p build-wheel
	$(PYTHON) -m pip wheel --no-build-isolation --no-deps --no-index -w build-wheel ./python
	$(PYTHON) -m venv --system-site-packages build-wheel/venv
	build-wheel/venv/bin/pip install --no-index --no-deps build-wheel/aamsg-*.whl
	cd build-wheel && env -u LD_LIBRARY_PATH -u PYTHONPATH venv/bin/python ../examples/convert.py e ../samples/thank-you.wav check.msg >/dev/null
	cmp build-wheel/check.msg tests/data/thank-you.msg
	@echo "Wheel: $$(ls build-wheel/*.whl)"

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DAAMSG_SANITIZE=ON
	cmake --build build-sanitize -j $(JOBS)
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp ctest --test-dir build-sanitize --output-on-failure -j $(JOBS)

# q's cases under ThreadSanitizer: the input thread and the search share blocks, the search
# threads share the signal and their codes, two conversions through the library run at once
# (sharing the budget of threads), a stream's reader is called from the input thread, and a
# cancel stops every thread; nothing else would notice a change that makes them race. Left out:
# tests whose threads do what those above do on more inputs (the formats table, every
# instruction set, the never-worse property, every reader of the memory conversion).
TSAN_SLOW = Best.NeverWorseThanGreedy:ApiStreams.TheMemoryConversionsBytesWhateverTheReader:*BestReadsEveryFormat:*BestGivesOneMessageOnEveryInstructionSet
tsan:
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAAMSG_TSAN=ON
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/aamsg_unit_tests --gtest_filter='Best*:Split*:LibraryFailure*:Threads*-$(TSAN_SLOW)'
	TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/aamsg_api_tests --gtest_filter='Api.TwoConversions*:Api.Progress*:ApiStreams.*:Inspect.Conversions*-$(TSAN_SLOW)'
	TSAN_OPTIONS=halt_on_error=1 AAMSG_COMMAND=$(CURDIR)/build-tsan/aamsg build-tsan/tests/aamsg_e2e_tests --gtest_filter='*Best*-$(TSAN_SLOW)'

# The end-to-end tests of bad and cut inputs with every run of the tool under valgrind's memcheck,
# for what the sanitizers do not see: reads of memory never written (with a stand-in for a timer
# of libhwy's that valgrind cannot run: tests/valgrind_timer.cpp). The whole suite runs under
# AddressSanitizer (make sanitize); under memcheck each run of the tool takes seconds to load
# FFmpeg's libraries, and the whole suite a quarter of an hour.
VALGRIND_E2E = *ExitCodesAndConsoleText:*OpenFailures:*InputShorterThanItsMeasuredSize:*MessageTooLongForWaveHeader:*BestRefusesWhatIsNoAudioAndKeepsWhatWasCut:*BestSaysWhenThereIsNoAudioTrack:*SamplesThatAreNotNumbers:*InspectExitCodesAndNames
valgrind: build
	AAMSG_COMMAND="/usr/bin/env LD_PRELOAD=$(CURDIR)/$(BUILD)/tests/libvalgrind_timer.so $$(command -v valgrind) -q --error-exitcode=99 --leak-check=full $(CURDIR)/$(BUILD)/aamsg" \
	  $(BUILD)/tests/aamsg_e2e_tests --gtest_filter='$(VALGRIND_E2E)'

# Line and branch coverage of src/ by the whole suite (gcovr; Debian: gcovr).
coverage:
	cmake -S . -B build-coverage -DCMAKE_BUILD_TYPE=Debug -DAAMSG_COVERAGE=ON
	cmake --build build-coverage -j $(JOBS)
	find build-coverage -name '*.gcda' -delete
	ctest --test-dir build-coverage -j $(JOBS)
	gcovr --root . --filter 'src/' --object-directory build-coverage --print-summary \
	  --txt build-coverage/coverage.txt --html-details build-coverage/coverage.html
	@cat build-coverage/coverage.txt

# The same suite at -O0 and at -O3 for this machine's processor: the output bytes must not move
# (the installation and wheel tests, which check packaging, not bytes, run in make test).
VARIANTS_SKIP = -E '^(install_examples|python_wheel)$$'
variants:
	cmake -S . -B build-O0 -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS=-O0
	cmake --build build-O0 -j $(JOBS)
	ctest --test-dir build-O0 --output-on-failure -j $(JOBS) $(VARIANTS_SKIP)
	cmake -S . -B build-native -DCMAKE_BUILD_TYPE=None "-DCMAKE_CXX_FLAGS=-O3 -march=native"
	cmake --build build-native -j $(JOBS)
	ctest --test-dir build-native --output-on-failure -j $(JOBS) $(VARIANTS_SKIP)

# The libFuzzer target: the library's memory conversion, its first byte choosing the mode and
# q's options, from a fresh seed corpus (WAVE files of every layout, and a short file of every
# format q reads), for FUZZ_SECONDS (clang 14 and its runtimes; Debian: clang libclang-rt-14-dev).
FUZZ_SECONDS ?= 60
FUZZ_FLAGS ?=
FUZZ_MAX_LEN ?= 4096
fuzz:
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAAMSG_FUZZ=ON -DAAMSG_TESTS=OFF
	cmake --build build-fuzz -j $(JOBS)
	rm -rf build-fuzz/corpus && mkdir -p build-fuzz/corpus build-fuzz/findings
	build-fuzz/tests/fuzz/make_seeds build-fuzz/corpus
	tests/fuzz/audio_seeds.sh build-fuzz/corpus
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp build-fuzz/tests/fuzz/fuzz_convert -max_total_time=$(FUZZ_SECONDS) -timeout=10 -max_len=$(FUZZ_MAX_LEN) -rss_limit_mb=4096 \
	  -artifact_prefix=build-fuzz/findings/convert- -print_final_stats=1 $(FUZZ_FLAGS) build-fuzz/corpus

# The web page: aamsg's conversions compiled to WebAssembly with Debian's emscripten, and the
# page's files, in build-web/ (any static file host serves it). Two modules: one thread a file,
# and, for a page that is cross-origin isolated, a file's search on a thread a core.
WASM_PREFIX = $(THIRD_PARTY)/wasm-prefix
EMSCRIPTEN_ENV = NODE_PATH=$${NODE_PATH:-/usr/share/nodejs}

# The page's npm packages (fflate makes the batch's .zip; axe-core is for the tests), exactly as
# src/web/package-lock.json pins them.
WEB_DEPS = build-web-deps
$(WEB_DEPS)/.complete: src/web/package.json src/web/package-lock.json
	rm -rf $(WEB_DEPS) && mkdir -p $(WEB_DEPS)
	cp src/web/package.json src/web/package-lock.json $(WEB_DEPS)/
	cd $(WEB_DEPS) && npm ci --no-audit --no-fund
	touch $@

web: $(WASM_PREFIX)/.complete $(WEB_DEPS)/.complete
	$(EMSCRIPTEN_ENV) emcmake cmake -S . -B build-wasm -DCMAKE_BUILD_TYPE=Release -DAAMSG_TESTS=OFF \
	  -DAAMSG_THIRD_PARTY=$(CURDIR)/$(WASM_PREFIX) >/dev/null
	$(EMSCRIPTEN_ENV) cmake --build build-wasm -j $(JOBS)
	$(EMSCRIPTEN_ENV) emcmake cmake -S . -B build-wasm-threads -DCMAKE_BUILD_TYPE=Release -DAAMSG_TESTS=OFF -DAAMSG_WEB_THREADS=ON \
	  -DCMAKE_CXX_FLAGS=-pthread -DCMAKE_C_FLAGS=-pthread -DAAMSG_THIRD_PARTY=$(CURDIR)/$(WASM_PREFIX) >/dev/null
	$(EMSCRIPTEN_ENV) cmake --build build-wasm-threads --target aamsg_web -j $(JOBS)
	rm -rf build-web && mkdir -p build-web
	cp src/web/page/* build-wasm/src/web/aamsg.js build-wasm/src/web/aamsg.wasm build-web/
	cp build-wasm-threads/src/web/aamsg-threads.js build-wasm-threads/src/web/aamsg-threads.wasm \
	  build-wasm-threads/src/web/aamsg-threads.worker.js build-web/
	cp $(WEB_DEPS)/node_modules/fflate/umd/index.js build-web/fflate.js
	@echo "The page is in build-web/; make serve-web serves it on http://127.0.0.1:8000/"

serve-web: web
	python3 src/web/serve.py build-web 8000

# The page's module as an npm package, for Node (20 and later), browsers and bundlers:
# build-npm/aamsg-VERSION.tgz (npm pack), with the libraries' licences inside.
NPM = build-npm
npm: web
	$(EMSCRIPTEN_ENV) cmake --build build-wasm --target aamsg_npm -j $(JOBS)
	rm -rf $(NPM) && mkdir -p $(NPM)/package/third-party
	version=$$(sed -n 's/^#define AAMSG_VERSION_STRING "\(.*\)"$$/\1/p' build-wasm/include/aamsg_version.h) && \
	  for f in package.json core.js; do sed "s/@VERSION@/$$version/" src/web/npm/$$f >$(NPM)/package/$$f; done
	cp src/web/npm/index.js src/web/npm/node.js src/web/npm/index.d.ts src/web/npm/README.md LICENSE \
	  build-wasm/src/web/aamsg-module.mjs build-wasm/src/web/aamsg-module.wasm $(NPM)/package/
	cp -r $(WASM_PREFIX)/licences/* $(NPM)/package/third-party/
	{ cat src/web/npm/THIRD-PARTY.txt; sed 's/^/  /' $(WASM_PREFIX)/sources.txt; } >$(NPM)/package/THIRD-PARTY.txt
	cd $(NPM) && npm pack --silent ./package >/dev/null
	@echo "The npm package: $$(ls $(NPM)/aamsg-*.tgz)"

# The package installed from its tarball into a scratch project, as a user installs it (no
# registry needed): examples/convert.mjs gives the command line's bytes, and its TypeScript
# declarations check against a program that uses them (Debian: node-typescript).
test-npm: npm build
	node --test tests/web/test_npm.mjs

# The page's module under node: q on a file of every format, as the command line's. Then the page
# in headless Chromium (chromium-driver, python3-selenium, and axe-core from npm): the same bytes
# as the command line, one file or a batch of every format, refusals and advice, audio never
# taken for a message, recording from a fake microphone, accessibility, and offline use.
test-web: web build
	node --test tests/web/test_formats.js
	/usr/bin/python3 tests/web/test_page.py

build-bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DAAMSG_TESTS=OFF -DAAMSG_BENCH=ON
	cmake --build build-bench -j $(JOBS)

bench: build-bench
	build-bench/bench/aamsg_micro_bench
	bench/compare.sh

# Every benchmark program built and run once, briefly, on a few seconds of the bundled sample
# (sox): so that none of them rots unnoticed. Under a minute; it measures nothing.
BENCH_CHECK = build-bench/check
bench-check: build-bench
	rm -rf $(BENCH_CHECK) && mkdir -p $(BENCH_CHECK)
	sox samples/thank-you.wav -r 8000 -c 1 -b 16 $(BENCH_CHECK)/speech.wav
	build-bench/bench/aamsg_micro_bench --benchmark_min_time=0.001 >/dev/null
	build-bench/bench/aamsg_best_tradeoff samples/thank-you.wav $(BENCH_CHECK)/setting 16:2:8 16f
	build-bench/bench/aamsg_search_eval --out $(BENCH_CHECK) $(BENCH_CHECK)/speech.wav
	for set in scalar avx2 avx512 neon; do build-bench/bench/aamsg_search_eval --isa $$set $(BENCH_CHECK)/speech.wav || [ $$? -eq 2 ]; done
	build-bench/bench/aamsg_search_ceiling --flat --paths 300 --tries 16 --merge 5 $(BENCH_CHECK)/speech.wav
	build-bench/bench/aamsg_split_eval $(BENCH_CHECK)/speech.wav 2 8000 1600 640 4
	build-bench/bench/aamsg_split_convergence --step 1600 --limit 20 $(BENCH_CHECK)/speech.wav > $(BENCH_CHECK)/convergence.txt
	python3 bench/split_model.py $(BENCH_CHECK)/convergence.txt 2 8000:1600:640:4

clean:
	rm -rf build build-*
