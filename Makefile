# The README's commands. Each installs missing Debian packages first, then
# builds with CMake and Ninja into build/ (benchmarks into build-bench/).

BUILD := build
BENCH_BUILD := build-bench
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test golden bench measure shots clean

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

clean:
	rm -rf $(BUILD) $(BENCH_BUILD) shots
