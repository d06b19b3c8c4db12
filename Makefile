# Thin wrapper around CMake. make example and make test first install the Debian packages they
# need when some are missing (tools/install-deps; INSTALL_DEPS=no to go on without).
BUILD ?= build
JOBS ?= 2
INSTALL_DEPS ?= yes
# The Python 3 that the packages install into (Debian's), whatever python3 comes first on PATH.
PYTHON = $(shell tools/install-deps --python)

.PHONY: all programs test example bench plot clean fuzz deps-example deps-plot deps-test
# Each target runs its steps in order (the packages before the build); the build itself runs
# JOBS compilations at once.
.NOTPARALLEL:

deps-example deps-plot deps-test:
	@[ "$(INSTALL_DEPS)" = no ] || tools/install-deps $(@:deps-%=%)

all:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# The tests, and at the end the reason of every test that was skipped.
test: deps-test all
	@test -x $(BUILD)/nepora_tests || { echo "the tests were not built: install GoogleTest (Debian: libgtest-dev)"; exit 1; }
	cd $(BUILD) && status=0 && { ctest --output-on-failure -j $(JOBS) --output-junit ctest.xml || status=$$?; } && \
	  bash $(CURDIR)/tests/skipped.sh ctest.xml && exit $$status

# The two programs only: running an example does not need the tests.
programs:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target nepora3d nepora3d_alt

example: deps-example programs
	bash examples/run.sh $(abspath $(BUILD))/nepora3d

# make bench BASE=/path/to/an/earlier/nepora3d runs that build side by side and prints ratios.
# The heads of every example and bench deck on 2, 3 and 4 processes against one (half an hour):
# bash bench/procs-heads.sh build/nepora3d (docs/parallel.md).
bench: programs
	BASE=$(BASE) bash bench/run.sh $(abspath $(BUILD))/nepora3d

# Pictures of a run from its csv/ folder: make plot DECK=examples/column-rain/run
DECK ?= examples/column-rain/run
plot: deps-plot
	$(PYTHON) tools/nepora-plot $(DECK)

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
