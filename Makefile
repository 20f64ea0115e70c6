# The two commands a newcomer needs: `make demo` and `make test`.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
RELEASE_BUILD ?= build-release
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

# The project's own builds keep warnings as errors; a plain cmake build does not.
CMAKE_FLAGS ?= -DNOLARI_WERROR=ON $(COMPILER_CACHE)

# Compilations are cached (ccache), keyed on paths relative to the checkout, so
# that a second clone on the same machine reuses the first one's objects.
COMPILER_CACHE ?= $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1

.PHONY: deps demo demo-sheet test test-plain test-asan release lint tsan bench fuzz gallery build package clean

deps:
	@bash scripts/deps.sh

# Each build directory is configured again when this file changes, so that a
# changed flag reaches directories configured before, and when the whisper
# library is built again, so that a directory configured without it finds it.
WHISPER_STAMP := $(wildcard .deps/whisper/stamp)
$(BUILD)/CMakeCache.txt: Makefile $(WHISPER_STAMP)
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

$(ASAN_BUILD)/CMakeCache.txt: Makefile $(WHISPER_STAMP)
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DNOLARI_SANITIZE=address $(CMAKE_FLAGS)

$(TSAN_BUILD)/CMakeCache.txt: Makefile $(WHISPER_STAMP)
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DNOLARI_SANITIZE=thread $(CMAKE_FLAGS)

$(RELEASE_BUILD)/CMakeCache.txt: Makefile $(WHISPER_STAMP)
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

# libFuzzer comes with clang only; the other builds keep the default compiler.
$(FUZZ_BUILD)/CMakeCache.txt: Makefile $(WHISPER_STAMP)
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNOLARI_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The Debian package of the four programs (nolari-native_<version>_<arch>.deb),
# into the build folder.
package: build
	cmake --build $(BUILD) --target package

demo: build
	@bash scripts/demo.sh $(BUILD)

# The demo again, its contact sheet written over the README's.
demo-sheet: build
	@DEMO_SHEET=$(CURDIR)/docs/demo/dictation-road.png bash scripts/demo.sh $(BUILD)

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -LE slow

# The optimiser's build of the programs: -O3 brings warnings of its own. Only
# the fast core tests are built and run here; the full suite runs on the plain build.
RELEASE_TARGETS ?= velkit tarnet sondra ambrel core_tests core_alone_tests
release: deps $(RELEASE_BUILD)/CMakeCache.txt
	cmake --build $(RELEASE_BUILD) -j $(JOBS) --target $(RELEASE_TARGETS)
	cd $(RELEASE_BUILD) && ctest --output-on-failure -j $(JOBS) -L core

# Formatting and static analysis; clang-tidy reads the plain build's compile commands.
lint: build
	@bash scripts/lint.sh $(BUILD) $(JOBS)

test: test-plain test-asan release lint

# The threaded programs under ThreadSanitizer.
tsan: deps $(TSAN_BUILD)/CMakeCache.txt
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="suppressions=$(CURDIR)/native/tests/support/thread-checker.supp" \
	  ctest --output-on-failure -j $(JOBS) -L threaded

bench: build
	@bash bench/run.sh $(BUILD)

# Every form of the action blob on one sheet, and of the help card on another, to look at after
# changing their views.
gallery: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target action_blob_gallery -j $(JOBS)
	mkdir -p docs/gallery
	$(BUILD)/native/tools/action_blob_gallery docs/gallery/action-blob.png docs/gallery/help-card.png

# Each fuzz harness for FUZZ_SECONDS; a crash fails and leaves its reproducer.
fuzz: deps $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) --target fuzzers -j $(JOBS)
	@bash scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(RELEASE_BUILD) $(FUZZ_BUILD)
