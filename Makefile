# Thin wrapper around CMake.
BUILD ?= build
JOBS ?= 2

.PHONY: all programs test example bench plot clean fuzz

all:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: all
	@test -x $(BUILD)/nepora_tests || { echo "the tests were not built: install GoogleTest (Debian: libgtest-dev)"; exit 1; }
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The two programs only: running an example does not need the tests.
programs:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target nepora3d nepora3d_alt

example: programs
	bash examples/run.sh $(abspath $(BUILD))/nepora3d

# make bench BASE=/path/to/an/earlier/nepora3d runs that build side by side and prints ratios.
bench: programs
	BASE=$(BASE) bash bench/run.sh $(abspath $(BUILD))/nepora3d

# Pictures of a run from its csv/ folder: make plot DECK=examples/column-rain/run
DECK ?= examples/column-rain/run
plot:
	python3 tools/nepora-plot $(DECK)

# The fuzzing harnesses (clang with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer),
# each run for half of FUZZ_SECONDS from a seed corpus of the test decks; a finding fails.
FUZZ_SECONDS ?= 60
fuzz:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DNEPORA_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
	cmake --build build-fuzz -j $(JOBS) --target fuzz_deck fuzz_freeread
	bash fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
