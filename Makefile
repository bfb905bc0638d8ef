# The README's commands. Each installs missing Debian packages first, then
# builds with CMake and Ninja into build/ (benchmarks into build-bench/).

BUILD := build
BENCH_BUILD := build-bench
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
THREAD_TESTS := files_tests procon_tests platform_tests
FUZZ_SECONDS ?= 60
SOAK_ROUNDS ?= 5000
export UBSAN_OPTIONS := print_stacktrace=1
export TSAN_OPTIONS := halt_on_error=1 second_deadlock_stack=1

.PHONY: all deps configure build run test golden bench shots clean \
	sanitize sanitize-address sanitize-thread fuzz soak

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/zobra

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Rewrites the golden files in tests/golden/ from what the game produces now:
# run it after a deliberate change to a picture or a sound, and commit the
# files with the change. The golden tests are those whose suite ends in Golden.
golden: build
	cd $(BUILD) && ZOBRA_UPDATE_GOLDEN=1 ctest -R 'Golden\.' --output-on-failure -j $(JOBS)

bench: deps
	@[ -f $(BENCH_BUILD)/build.ninja ] || cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DZOBRA_BENCH=ON -DBUILD_TESTING=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target benches
	@for b in $(BENCH_BUILD)/bench/*_bench; do echo "== $$b"; $$b --benchmark_repetitions=5 --benchmark_report_aggregates_only=true || exit 1; done

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

sanitize-thread: $(TSAN_BUILD)/build.ninja
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(THREAD_TESTS)
	cd $(TSAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L '^(files|procon|platform)$$'

# Runs each fuzz target for FUZZ_SECONDS (make fuzz FUZZ_SECONDS=600).
fuzz: $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target fuzzers
	@./scripts/fuzz.sh $(ASAN_BUILD) $(FUZZ_SECONDS)

# Thousands of duel rounds and every level played by the computer, the
# rules' invariants checked after every tick (make soak SOAK_ROUNDS=20000).
# The test run plays a short version of the same.
soak: build
	ZOBRA_SOAK_ROUNDS=$(SOAK_ROUNDS) ./$(BUILD)/tests/soak_tests

clean:
	rm -rf $(BUILD) $(BENCH_BUILD) $(ASAN_BUILD) $(TSAN_BUILD) shots
