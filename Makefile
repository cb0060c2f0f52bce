# Entry points for people and CI.  The build itself is CMake's.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build test demo asan bench install clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@bash examples/demo.sh $(BUILD)

# The test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
# Tests labelled "long" (the libFuzzer run, which builds its own sanitized
# copy) already ran in the plain suite.  So did the browser session and the
# documentation's tour ("browser", "tour"): end-to-end scripts whose code
# the sanitized test_web_api and test_cli run too.
asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DKIV_SANITIZE=ON -DKIV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS) -LE "long|browser|tour"

bench: build
	@bash bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
