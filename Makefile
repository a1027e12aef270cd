# Everything a fresh machine needs goes through these targets.
JOBS ?= 2

.PHONY: all build check check-default check-asan demo clean format

all: build

build:
	cmake --preset default
	cmake --build --preset default -j$(JOBS)

# Both builds, the simulated world's threads under ThreadSanitizer, then
# which optional checks ran and why any did not. Each ctest run leaves its
# results in BUILD/ctest-results.xml for that list.
check: check-default check-asan check-tsan-world
	@tools/optional-checks.sh build/default build/asan

check-default: packages-check
	cmake --preset default
	cmake --build --preset default -j$(JOBS)
	ctest --preset default -j$(JOBS) --output-junit ctest-results.xml

check-asan: packages-check
	cmake --preset asan
	cmake --build --preset asan -j$(JOBS)
	ctest --preset asan -j$(JOBS) --output-junit ctest-results.xml

# The C++ suite under ThreadSanitizer (the Windows cross build and the JVM
# stay out). Not part of check: see README.
.PHONY: check-tsan
check-tsan: packages-check
	cmake --preset tsan
	cmake --build --preset tsan -j$(JOBS)
	ctest --preset tsan -j$(JOBS)

# The part of it that make check runs: the tests of the simulated world,
# whose streaming and renderer threads (the card's, and the stock sound
# device's) meet the application's calls, the graph probe, whose filters the
# graph's thread runs once a pause completes, and the library playing
# through it.
TSAN_WORLD_TESTS = test_sim test_card_filters test_graph test_graph_playback test_graph_connect \
	test_filters graph_probe test_player test_player_failures test_player_controls test_player_timing
empty :=
space := $(empty) $(empty)
.PHONY: check-tsan-world
check-tsan-world: packages-check
	cmake --preset tsan
	cmake --build --preset tsan -j$(JOBS) --target $(TSAN_WORLD_TESTS)
	ctest --preset tsan -j$(JOBS) -R '^($(subst $(space),|,$(TSAN_WORLD_TESTS)))$$'

# The Debian packages a fresh machine lacks (nothing to do when all are there).
.PHONY: packages-demo packages-check
packages-demo:
	@tools/install-packages.sh demo
packages-check:
	@tools/install-packages.sh check

# The host session against the simulated card. Logs, OSD snapshots and
# report.html land in build/default/demo-out; DEMO_ARGS adds options
# (for example DEMO_ARGS="--frames 20" or DEMO_ARGS="--media film.mpg"),
# whose relative paths are taken from the folder make runs in. Builds only
# what the session loads (and the clock pictures its streams carry); cmake's
# make runs without make's directory lines (they come from the MAKEFLAGS
# this make hands down).
DEMO_TARGETS = TovixAPI tovixsimjni tovixhost demo_pictures
demo: packages-demo
	@mkdir -p build
	@echo "configuring build/default (log in build/configure-default.log)"
	@cmake --preset default >build/configure-default.log 2>&1 || { cat build/configure-default.log; exit 1; }
	@env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL cmake --build --preset default -j$(JOBS) --target $(DEMO_TARGETS)
	@mkdir -p build/default/demo && rm -f build/default/demo/tovix_log_*.txt build/default/demo/dshow_log.txt
	@cd build/default/demo && $(CURDIR)/host/demo/run-demo.sh .. \
	  --base $(CURDIR) --settings $(CURDIR)/host/demo/demo.properties \
	  --out $(CURDIR)/build/default/demo-out $(DEMO_ARGS)

# The quantiser's command-line tool: build/default/tools/osdquant.
.PHONY: osdquant
osdquant: packages-demo
	@mkdir -p build
	@cmake --preset default >build/configure-default.log 2>&1 || { cat build/configure-default.log; exit 1; }
	@env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL cmake --build --preset default -j$(JOBS) --target osdquant
	@echo "built build/default/tools/osdquant (build/default/tools/osdquant --help for its options)"

# The 32-bit Windows DLLs, cross-compiled with mingw-w64 into build/windows-x86.
.PHONY: dll
dll:
	@command -v i686-w64-mingw32-g++-posix >/dev/null || { \
	  export DEBIAN_FRONTEND=noninteractive; apt-get update && \
	  apt-get install -y --no-install-recommends g++-mingw-w64-i686; }
	cmake --preset windows-x86
	cmake --build --preset windows-x86 -j$(JOBS)

# The quantiser and the OSD frame path of the DLL under Wine against native
# Linux, in one run: the same bytes, then medians and ratios
# (tests/wine/run_wine_quantizer.sh). WINE_BENCH_RUNS per frame. Where the
# compiler builds 32-bit x86 programs (gcc-multilib), the quantiser built so
# with the DLL's flags (build/linux-i686) runs beside them.
WINE_BENCH_RUNS ?= 21
.PHONY: wine-bench
wine-bench: dll
	cmake --preset default
	cmake --build --preset default -j$(JOBS) --target quantizer_frames osd_timing
	@if echo 'int main() {}' | g++ -m32 -x c++ - -o /dev/null 2>/dev/null; then \
	  cmake -S tests/wine/linux-i686 -B build/linux-i686 \
	    --toolchain $(CURDIR)/cmake/toolchain-linux-i686.cmake >/dev/null && \
	  cmake --build build/linux-i686 -j$(JOBS); \
	else echo "g++ builds no 32-bit programs (gcc-multilib, g++-multilib): 32-bit Linux left out"; fi
	I686_FRAMES=$$(test -x build/linux-i686/quantizer_frames && echo build/linux-i686/quantizer_frames) \
	  tests/wine/run_wine_quantizer.sh build/default build/windows-x86 build/default/wine-bench \
	  $(WINE_BENCH_RUNS) $(WINE_BENCH_RUNS)

# What a Windows user installs: dist/tovixapi-<version>-win32.zip (TovixAPI.dll,
# tovixdiag.exe, the simulated card, the README for Windows, SHA256SUMS) and
# beside it the debug information of the stripped files. Two runs give the
# same bytes.
.PHONY: dist
dist: dll
	cmake --build --preset windows-x86 --target package
	rm -rf dist && mkdir dist
	cp build/windows-x86/dist/*.zip build/windows-x86/dist/*.debug dist/

clean:
	rm -rf build

# Every C++ and Java file laid out by clang-format with the project's
# .clang-format; ctest's check "format" fails while one is not.
format:
	cmake/format.sh

# The libFuzzer targets (clang, ASan and UBSan) in build/fuzz, each run for
# FUZZ_SECONDS from its seed corpus in fuzz/corpus.
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz:
	JOBS=$(JOBS) fuzz/run.sh $(FUZZ_SECONDS)

# The long soak: 20,000 OSD frames and 1,000 load/play/free cycles in one
# process each, with resident memory and the simulated objects sampled.
.PHONY: soak
soak:
	cmake --preset default
	cmake --build --preset default -j$(JOBS)
	ctest --test-dir build/default -C soak -L soak --output-on-failure
