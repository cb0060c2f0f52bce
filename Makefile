# Entry points for people and CI.  The build itself is CMake's.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build test demo asan tsan tidy format format-check bench docs install clean windows windows-test

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

# The tests in which threads share a catalogue, under ThreadSanitizer:
# copies of one object on threads (the shared connection's turn gate and
# statement cache), writers on connections of their own (the connection
# cache), and the editor's server answering on its worker threads.  Only
# their executables are built; the rest of the suite shares no memory
# between threads.
TSAN_TARGETS = test_crash test_oledb test_records test_web_api
TSAN_TESTS   = ^Concurrency\.|^OleDbBatch\.Threads|TerminalAddOfManyRowsKeepsEveryRowButTheRefused|^WebApiTest\.
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DKIV_TSAN=ON -DKIV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TARGETS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

# clang-tidy (.clang-tidy) over the sources of the library, the component,
# the catalogue layer, the tool and the editor, with clang's lock analysis
# (-Wthread-safety): any finding fails.  Uses the build's
# compile_commands.json and generated headers.
TIDY_SOURCES = '$(CURDIR)/(platform|oledb|core|prompts|index|modules|styles|startup|catalogue|cli|web)/.*\.cpp$$'
tidy: build
	run-clang-tidy-14 -p $(BUILD) -j $(JOBS) -quiet -extra-arg=-Wthread-safety $(TIDY_SOURCES)

# The tree's layout (.clang-format) over every C and C++ file git knows:
# format rewrites them, format-check fails on the first that differs.
FORMAT_FILES = git ls-files -z '*.c' '*.cpp' '*.h' '*.hpp'
format:
	$(FORMAT_FILES) | xargs -0 clang-format-14 -i
format-check: deps
	$(FORMAT_FILES) | xargs -0 clang-format-14 --dry-run -Werror

# The API reference of the interface headers, in $(BUILD)/api/html; any
# doxygen warning (an undocumented member among them) fails it.  Needs
# only a configured tree, not a build; configuring again finds a doxygen
# installed since.
docs: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD) --target docs

bench: build
	@bash bench/run.sh $(BUILD)

# The Windows cross build (MinGW-w64), its install tree, and its tests under
# Wine.  scripts/install-windows-deps.sh installs the cross compiler and
# Wine and fetches Debian's SQLite sources into the build folder.  The tool
# is asked for by name: build folders made before it was in the Windows
# build hold KIV_BUILD_CLI=OFF.
WIN_BUILD   ?= build-windows
WIN_INSTALL ?= $(WIN_BUILD)/install
WIN_SQLITE   = $(WIN_BUILD)/_deps-src
windows: deps
	@bash scripts/install-windows-deps.sh $(CURDIR)/$(WIN_SQLITE) > $(WIN_BUILD).sqlite-dir
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	  -DKIV_SQLITE_SOURCE_DIR="$$(tail -n1 $(WIN_BUILD).sqlite-dir)" -DKIV_BUILD_BENCH=OFF -DKIV_BUILD_CLI=ON $(CMAKE_FLAGS)
	rm -f $(WIN_BUILD).sqlite-dir
	cmake --build $(WIN_BUILD) -j $(JOBS)
	cmake --install $(WIN_BUILD) --prefix $(CURDIR)/$(WIN_INSTALL)

# Tests labelled "posix" need what Wine cannot give (docs/windows.md).  One
# Wine server stays up across the tests (until a minute after the last one)
# instead of one starting and stopping around each program.
WINESERVER = $(firstword $(wildcard /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver) wineserver)
windows-test: windows
	WINEDEBUG=-all $(WINESERVER) -p60 2>/dev/null || true
	cd $(WIN_BUILD) && ctest --output-on-failure -j $(JOBS) -LE "posix|long"

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(WIN_BUILD)
