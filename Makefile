# Front door: `make run` builds and starts the relay, `make test` builds and runs every test.
BUILD    ?= build
WIN_BUILD ?= build-win
JOBS     ?= 2
WERROR   ?= OFF
CMAKE_ARGS ?=
# ccache speeds up rebuilds where it is installed (CCACHE_DISABLE=1 switches it off).
LAUNCHER := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Paths below the checkout count relative to it, so that every build folder of every clone
# shares one cache (debug information then names the folder that compiled a file first).
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1
# Seconds per fuzzer; FUZZ_BUDGET (seconds) shares a total among all of them instead.
FUZZ_BUDGET ?=
FUZZ_SECONDS ?= $(if $(FUZZ_BUDGET),$(shell expr $(FUZZ_BUDGET) / $(words $(FUZZERS))),60)

.PHONY: all deps configure build run test install package tsan sanitize fuzz bench soak screenshot \
        format lint lint-tidy lint-format lint-fix clean windows windows-configure test-windows \
        bench-windows test-win32-ui windows-installer test-windows-installer windows-screenshots

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DKELVO_WERROR=$(WERROR) $(LAUNCHER) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	scripts/run.sh $(BUILD)

test: build
	@scripts/install-deps.sh package
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# GNU layout under PREFIX (default /usr/local); DESTDIR stages the files elsewhere.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# $(BUILD)/package/kelvorelay_<version>_<arch>.deb, checked by lintian.
package: build
	@scripts/install-deps.sh package
	cd $(BUILD) && cpack -G DEB
	lintian --fail-on error $(BUILD)/package/kelvorelay_*.deb

# The threaded tests (label tsan) under ThreadSanitizer, in a build folder of their own: only
# their executables are built.
tsan: deps
	cmake -S . -B build-tsan -DKELVO_TSAN=ON -DKELVO_BUILD_GUI=OFF -DKELVO_BUILD_BENCH=OFF \
	      -DKELVO_WERROR=$(WERROR) $(LAUNCHER)
	cmake --build build-tsan -j$(JOBS) --target tests_tsan
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -L tsan

# The tests under AddressSanitizer and UndefinedBehaviorSanitizer, built with clang (so that its
# thread-safety analysis runs too) in a build folder of its own; any finding fails the test.
# The window's tests stay out: they need a display and would double the build; so do the
# time bounds at 100,000 rows, which measure the optimised build, not the instrumented one.
SANITIZE_EXCLUDE ?= HundredThousand
sanitize:
	@scripts/install-deps.sh sanitize
	CXX=clang++ CC=clang cmake -S . -B build-asan -DKELVO_ASAN=ON -DKELVO_BUILD_GUI=OFF \
	      -DKELVO_BUILD_BENCH=OFF -DKELVO_WERROR=ON $(LAUNCHER)
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j$(JOBS) \
	  -E '$(SANITIZE_EXCLUDE)'

# clang-tidy (.clang-tidy) over src/ (LINT_TIDY_DIRS) with the Linux build's compile commands
# and, where the mingw build is configured, its Windows-only sources; then the format check.
LINT_TIDY_DIRS ?= src
LINT_FORMAT_FILES = $$(git ls-files $(foreach d,src tests bench fuzz tools,'$(d)/*.cpp' '$(d)/*.h'))
lint: lint-format lint-tidy

lint-format:
	@scripts/install-deps.sh lint
	clang-format --dry-run --Werror $(LINT_FORMAT_FILES)

lint-tidy:
	@scripts/install-deps.sh lint
	[ -f $(BUILD)/compile_commands.json ] || $(MAKE) configure
	scripts/lint-tidy.sh --jobs $(JOBS) $(BUILD) $(WIN_BUILD) $(LINT_TIDY_DIRS)

# The mechanical fixes: the naming rule's renames (both builds' sources), then the layout.
# Repeatable: a second run changes nothing.
lint-fix:
	@scripts/install-deps.sh lint
	[ -f $(BUILD)/compile_commands.json ] || $(MAKE) configure
	scripts/lint-tidy.sh --fix --jobs $(JOBS) $(BUILD) $(WIN_BUILD) $(LINT_TIDY_DIRS)
	clang-format -i $(LINT_FORMAT_FILES)

# libFuzzer with clang; runs every fuzzer for FUZZ_SECONDS each on a copy of its seed corpus.
# FUZZERS lists them as <name>:<seed folder in fuzz/>; the target is build-fuzz/bin/fuzz_<name>,
# what it finds goes to build-fuzz/corpus/<name>, a crash to build-fuzz/crash-<name>-*.
FUZZERS ?= reception:corpus settings_store:settings_corpus
fuzz:
	@scripts/install-deps.sh fuzz
	CXX=clang++ CC=clang cmake -S . -B build-fuzz -DKELVO_FUZZ=ON -DKELVO_BUILD_GUI=OFF \
	      -DKELVO_BUILD_TESTS=OFF -DKELVO_BUILD_BENCH=OFF $(LAUNCHER)
	cmake --build build-fuzz -j$(JOBS) --target $(foreach f,$(FUZZERS),fuzz_$(firstword $(subst :, ,$(f))))
	set -e; for f in $(FUZZERS); do \
	  name=$${f%%:*}; seeds=fuzz/$${f#*:}; \
	  mkdir -p build-fuzz/corpus/$$name; \
	  echo "== fuzz_$$name for $(FUZZ_SECONDS) s"; \
	  build-fuzz/bin/fuzz_$$name -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	      -artifact_prefix=build-fuzz/crash-$$name- build-fuzz/corpus/$$name $$seeds; \
	done

# The window's status tick at 100,000 rows (offscreen; skipped in a build without the window),
# the engine alone, then the whole relay under load against a bare forwarder.
bench: build
	if [ -x $(BUILD)/bin/window_bench ]; then QT_QPA_PLATFORM=offscreen $(BUILD)/bin/window_bench; fi
	$(BUILD)/bin/bench_engine
	$(BUILD)/bin/load_bench
	$(BUILD)/bin/settings_bench

# A million mixed datagrams through the headless relay (a minute or two). SOAK_MODE=churn:
# 1,000 new senders a second beside an established application for SOAK_SECONDS (600).
SOAK_MODE ?= mixed
SOAK_SECONDS ?= 600
soak: build
	$(BUILD)/bin/soak $(if $(filter churn,$(SOAK_MODE)),--churn $(SOAK_SECONDS))

# Starts the window on a virtual display and saves screenshot.png; then, under a window
# manager, the main window and each dialog at its first showing in $(BUILD)/screenshots.
screenshot: build
	@scripts/install-deps.sh screenshot
	scripts/screenshot.sh $(BUILD) screenshot.png
	scripts/dialog-screenshots.sh $(BUILD) $(BUILD)/screenshots

# Windows: cross-compiled with mingw-w64 into $(WIN_BUILD)/ (bin/kelvorelay.exe), tested under
# Wine.

windows-configure:
	@scripts/install-deps.sh windows
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	      -DKELVO_WERROR=$(WERROR) $(LAUNCHER) $(CMAKE_ARGS)

windows: windows-configure
	cmake --build $(WIN_BUILD) -j$(JOBS) --target kelvorelay

# The core's tests and the Win32 window's tests under Wine (on a virtual display), then the
# headless end-to-end tests against kelvorelay.exe, driven from the Linux build's test kit; all
# in a private network namespace of their own. Last a silent install and uninstall.
test-windows: windows-configure build
	cmake --build $(WIN_BUILD) -j$(JOBS)
	cmake --build $(BUILD) -j$(JOBS) --target e2e_headless_test
	scripts/test-windows.sh $(WIN_BUILD) $(BUILD)
	$(MAKE) test-windows-installer

# load_bench against the Linux relay and against kelvorelay.exe under Wine, in the same run.
bench-windows: windows build
	scripts/test-windows.sh --bench $(WIN_BUILD) $(BUILD)

# The per-user installer, build-win/KelvoRelay-<version>-setup.exe.
windows-installer: windows
	cmake --build $(WIN_BUILD) --target windows-installer

# A silent install and uninstall of that installer under Wine (in a namespace of its own, as the
# installed program is started once).
test-windows-installer: windows-installer
	unshare -n sh -c 'ip link set lo up; scripts/windows-installer-test.sh $(WIN_BUILD)'

# Screenshots of the Win32 program under Wine and Xvfb (idle, with loopback traffic, Setup, the
# editor, About, Help) into build-win/screenshots.
windows-screenshots: windows
	unshare -n sh -c 'ip link set lo up; scripts/win32-screenshots.sh $(WIN_BUILD) $(WIN_BUILD)/screenshots'

# Only the Win32 window and its dialogs under Wine on a virtual display, inside a private
# network namespace (they bind port 8442).
test-win32-ui: windows-configure
	cmake --build $(WIN_BUILD) -j$(JOBS) --target ui_win32_test
	unshare -n sh -c 'ip link set lo up; scripts/win32-ui-test.sh $(WIN_BUILD)'

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) build-tsan build-asan build-fuzz $(WIN_BUILD)
