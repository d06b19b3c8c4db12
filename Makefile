# Thin wrapper around CMake.
BUILD ?= build
JOBS ?= 2

.PHONY: all test example bench clean

all:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

example: all
	bash examples/run.sh $(abspath $(BUILD))/nepora3d

bench: all
	bash bench/run.sh $(abspath $(BUILD))/nepora3d

clean:
	rm -rf $(BUILD)
