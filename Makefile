# The README's commands. Each installs missing Debian packages first, then
# builds with CMake and Ninja into build/ (benchmarks into build-bench/, the
# web page into build-web/).

BUILD := build
BENCH_BUILD := build-bench
WEB_BUILD := build-web
JOBS ?= $(shell nproc)

# The checking builds, with clang: address and undefined-behaviour
# sanitizers (also holding the fuzz targets), and the thread sanitizer for
# the tests whose code runs on several threads. Optimised lightly and with
# line tables only, which keeps them quick to build and their reports exact.
ASAN_BUILD := build-asan
TSAN_BUILD := build-tsan
SANITIZE_CXX ?= clang++-14
CHECK_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	"-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG"
THREAD_TESTS := files_tests pads_tests procon_tests platform_tests netio_tests
FUZZ_SECONDS ?= 60
SOAK_ROUNDS ?= 5000
NET_MATCHES ?= 1000
export UBSAN_OPTIONS := print_stacktrace=1
export TSAN_OPTIONS := halt_on_error=1 second_deadlock_stack=1

.PHONY: all deps configure build run test test-web web golden bench bench-check lint measure \
	shots clean sanitize sanitize-address sanitize-thread fuzz soak soak-net measure-net

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Builds only the game itself (not the tests), then starts it.
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target zobra
	./$(BUILD)/zobra

# The web page's browser test runs too where Chromium is installed; `make
# test-web` installs it and runs only that test.
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@if [ -x /usr/bin/chromium ]; then \
	   $(MAKE) --no-print-directory test-web; \
	 else \
	   echo "web page test skipped: Chromium is not installed (make test-web installs it and runs the test)"; \
	 fi

# The web page in build-web/site/: index.html, zobra.js and zobra.wasm. Built
# with Debian's Emscripten, set up for this folder by scripts/web-toolchain.sh.
web:
	@./scripts/install-deps.sh web
	@./scripts/web-toolchain.sh $(WEB_BUILD)
	@[ -f $(WEB_BUILD)/build.ninja ] || cmake -S . -B $(WEB_BUILD) -G Ninja \
	   -DCMAKE_BUILD_TYPE=Release \
	   -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/web-toolchain.cmake \
	   -DZOBRA_WEB_TOOLS=$(CURDIR)/$(WEB_BUILD)/emscripten
	cmake --build $(WEB_BUILD) -j $(JOBS)

# The page in headless Chromium, held against the desktop game's screenshots
# (tests/web/README.md). The test's npm packages are installed when the lock
# file is newer than the installed ones.
test-web: build web
	@./scripts/install-deps.sh browser
	@cd tests/web && { [ node_modules/.package-lock.json -nt package-lock.json ] || \
	   npm ci --no-audit --no-fund; }
	cd tests/web && ZOBRA_EXE=$(CURDIR)/$(BUILD)/zobra ZOBRA_WEB_SITE=$(CURDIR)/$(WEB_BUILD)/site \
	   node --test

# Rewrites the golden files in tests/golden/ from what the game produces now:
# run it after a deliberate change to a picture or a sound, and commit the
# files with the change. The golden tests are those whose suite ends in Golden.
golden: build
	cd $(BUILD) && ZOBRA_UPDATE_GOLDEN=1 ctest -R 'Golden\.' --output-on-failure -j $(JOBS)

bench: deps
	@[ -f $(BENCH_BUILD)/build.ninja ] || cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DZOBRA_BENCH=ON -DBUILD_TESTING=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target benches
	@for b in $(BENCH_BUILD)/bench/*_bench; do echo "== $$b"; $$b --benchmark_repetitions=5 --benchmark_report_aggregates_only=true || exit 1; done

# Builds every benchmark program in the test build and runs each benchmark
# once for a moment, so that none of them can stop building or running
# unnoticed (CI runs it); the figures are meaningless, `make bench` gives
# the real ones.
bench-check: configure
	cmake --build $(BUILD) -j $(JOBS) --target benches
	@./scripts/bench-check.sh $(BUILD)

# The source checks CI runs before it builds anything: every C++ file
# formatted by .clang-format, then clang-tidy with the checks in .clang-tidy
# over every source file in src/ (only configuring build/, for its
# compile_commands.json). scripts/lint.sh says more.
lint: configure
	@./scripts/lint.sh $(BUILD) $(JOBS)

# Starts the real game under a private Xvfb: the time to its first picture,
# and for the title, play and a duel at 960 × 600 and 1920 × 1080 its CPU,
# memory and frames shown a second (scripts/measure-window.sh says more).
measure: build
	./scripts/measure-window.sh $(BUILD)/zobra

# Writes the eighteen scenes and the sprite sheet into shots/, then checks
# that all 36 pictures are there and sound.
shots: build
	rm -rf shots && ZOBRA_SHOTS=shots ./$(BUILD)/zobra
	@n=$$(ls shots/*.png shots/sprites/*.png | wc -l); \
	 if [ "$$n" -ne 36 ]; then echo "shots: expected 36 pictures, found $$n"; exit 1; fi
	@pngcheck -q shots/*.png shots/sprites/*.png
	@echo "shots: 18 scenes and 18 sprites written and checked"

# Every test but the soak again in the address and undefined-behaviour
# build (any report fails the test), then the threaded tests in the thread
# sanitizer build.
sanitize: sanitize-address sanitize-thread

$(ASAN_BUILD)/build.ninja: | deps
	CXX=$(SANITIZE_CXX) cmake -S . -B $(ASAN_BUILD) $(CHECK_FLAGS) \
		-DZOBRA_SANITIZE=address,undefined -DZOBRA_FUZZ=ON

sanitize-address: $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -LE soak

$(TSAN_BUILD)/build.ninja: | deps
	CXX=$(SANITIZE_CXX) cmake -S . -B $(TSAN_BUILD) $(CHECK_FLAGS) -DZOBRA_SANITIZE=thread

# The transport's tests load both cores, so they run after the others, whose
# sound device tests must keep up with the device's pace.
sanitize-thread: $(TSAN_BUILD)/build.ninja
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(THREAD_TESTS)
	cd $(TSAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L '^(files|pads|procon|platform)$$'
	cd $(TSAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L '^netio$$'

# Runs each fuzz target for FUZZ_SECONDS (make fuzz FUZZ_SECONDS=600).
fuzz: $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target fuzzers
	@./scripts/fuzz.sh $(ASAN_BUILD) $(FUZZ_SECONDS)

# Thousands of duel rounds and every level played by the computer, the
# rules' invariants checked after every tick (make soak SOAK_ROUNDS=20000),
# then a thousand whole online duels between the relay and two or three
# rollback clients over impaired fake links (NET_MATCHES=…; a few minutes).
# The test run plays a short version of each.
soak: build
	ZOBRA_SOAK_ROUNDS=$(SOAK_ROUNDS) ./$(BUILD)/tests/soak_tests
	ZOBRA_NET_MATCHES=$(NET_MATCHES) ZOBRA_NET_TICKS=0 ./$(BUILD)/tests/net_tests \
	   --gtest_filter='Rollback.*'

# Two real games under Xvfb meeting through the impairing loopback proxy at
# every round trip (0, 60, 150, 300 ms, with 20 ms of jitter) and loss (0, 2,
# 5 %) of the matrix, each to the match's real end (about an hour; the test
# run plays a clean and a bad link with matches cut at a minute).
soak-net: build
	ZOBRA_NET_MATRIX=full ./$(BUILD)/tests/e2e_tests --gtest_filter='Online.*'

# The online figures in a Release build: bandwidth each way and stalls over
# the impaired links, the frame with a full rollback, the time from a desync
# to its mending, and the relay's CPU for many matches at once.
measure-net: deps
	@[ -f $(BENCH_BUILD)/build.ninja ] || cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DZOBRA_BENCH=ON -DBUILD_TESTING=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target net_bench
	./$(BENCH_BUILD)/bench/net_bench

clean:
	rm -rf $(BUILD) $(BENCH_BUILD) $(WEB_BUILD) $(ASAN_BUILD) $(TSAN_BUILD) shots

# ---- Packaging -----------------------------------------------------------
# `make package` makes the Debian package build-deb/zobra_<version>_amd64.deb
# in a build folder of its own, laid out the way Debian installs a game
# (prefix /usr, the executables in /usr/games, the relay's systemd unit in
# /lib/systemd/system, where Debian 12 keeps units) and built with Debian's
# hardening flags (but not its file-path mapping, which would put "./" before
# the source positions of a crash report); `make package-check` runs lintian
# on it, failing on errors.
DEB_BUILD := build-deb

.PHONY: package package-check clean-package

package: deps
	@[ -f $(DEB_BUILD)/build.ninja ] || { \
	  DEB_BUILD_MAINT_OPTIONS="hardening=+all reproducible=-fixfilepath"; \
	  export DEB_BUILD_MAINT_OPTIONS; \
	  CXXFLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	  cmake -S . -B $(DEB_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_BINDIR=games -DBUILD_TESTING=OFF \
	    -DZOBRA_SYSTEMD_UNIT_DIR=/lib/systemd/system; }
	cmake --build $(DEB_BUILD) -j $(JOBS) --target package

package-check: package
	@./scripts/install-deps.sh lintian
	lintian --fail-on error --display-info $(DEB_BUILD)/zobra_*.deb

clean: clean-package
clean-package:
	rm -rf $(DEB_BUILD)

# ---- Windows ---------------------------------------------------------------
# `make windows` cross-builds build-windows/zobra.exe (64-bit) with Debian's
# mingw-w64, the relay build-windows/zobra-relay.exe and the test programs
# beside them. SDL2 and ENet are built once from Debian's sources
# (scripts/windows-sdl.sh, scripts/windows-enet.sh) and kept in the user's
# cache folder, each named by its version, so that every clone and CI run
# after the first takes them from there; WIN_DEPS puts them elsewhere. `make windows-check` runs the Windows checks under Wine
# (scripts/windows-check.sh); `make windows-package` makes the download,
# build-windows/zobra-VERSION-windows-x64.zip, and its installer
# build-windows/zobra-VERSION-windows-x64-setup.exe.
WIN_BUILD := build-windows
WIN_JOBS ?= 2
WIN_DEPS ?= $(or $(XDG_CACHE_HOME),$(HOME)/.cache)/zobra/windows-deps-sdl2-2.26.5
WIN_ENET := $(WIN_DEPS)/enet-1.3.18

.PHONY: windows windows-check windows-package clean-windows

windows:
	@./scripts/install-deps.sh windows
	@JOBS=$(WIN_JOBS) ./scripts/windows-sdl.sh $(WIN_DEPS)
	@./scripts/windows-enet.sh $(WIN_DEPS)
	@grep -qs '^ZOBRA_ENET_DIR:PATH=$(WIN_ENET)$$' $(WIN_BUILD)/CMakeCache.txt || \
	 cmake -S . -B $(WIN_BUILD) -G Ninja \
	   -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	   -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/windows-toolchain.cmake \
	   -DSDL2_DIR=$(WIN_DEPS)/sdl2/lib/cmake/SDL2 -DZOBRA_ENET_DIR=$(WIN_ENET)
	nice cmake --build $(WIN_BUILD) -j $(WIN_JOBS)

windows-check: windows build
	JOBS=$(WIN_JOBS) ./scripts/windows-check.sh $(WIN_BUILD) $(BUILD)

windows-package: windows
	cmake --build $(WIN_BUILD) --target windows_package
	@ls -l $(WIN_BUILD)/zobra-*-windows-x64.zip $(WIN_BUILD)/zobra-*-windows-x64-setup.exe

clean: clean-windows
clean-windows:
	rm -rf $(WIN_BUILD)
