# The two commands of the README: `make demo` and `make test`. Both install what is missing first.
JOBS ?= $(shell nproc)
# How long `make fuzz` runs each fuzz target.
FUZZ_SECONDS ?= 30
CMAKE_FLAGS ?=
# Our own builds treat warnings as errors; a plain cmake build (a packager's) does not.
OWN_FLAGS := -DEARSHOT_WERROR=ON

.PHONY: deps deps-kwin build demo test test-kwin test-main test-release test-asan test-tsan bench fuzz format clean

deps:
	@./scripts/install-deps.sh

# Also KWin, the KDE portal and the fake-input protocol: the tests need them, the demo does not.
deps-kwin:
	@./scripts/install-deps.sh --kwin

build: deps
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(OWN_FLAGS) $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j$(JOBS)

demo: build
	@./scripts/demo.sh build/earshot

# Every test: the whole suite, then a Release build of everything exactly as a packager builds it
# (warnings shown, not errors: GCC 12 at -O3 warns falsely inside libstdc++ and googletest's
# generated code) and its unit tests, then the
# unit and component suites (and a short fuzzing run of each target) under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the runtime's tests under ThreadSanitizer.
test: test-main test-release test-asan test-tsan

test-main: deps-kwin build
	@./scripts/check-layers.sh
	@ctest --test-dir build --output-on-failure -j$(JOBS)

test-release: deps
	@cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DEARSHOT_WERROR=OFF >/dev/null
	@cmake --build build-release -j$(JOBS)
	@ctest --test-dir build-release --output-on-failure -j$(JOBS) -L unit

# The AddressSanitizer build, with the fuzz targets; $(1) bounds each fuzz test's run.
define asan_build
	@CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug $(OWN_FLAGS) \
	  -DEARSHOT_SANITIZE=address,undefined -DEARSHOT_FUZZ=ON -DEARSHOT_FUZZ_BOUND=$(1) >/dev/null
	@cmake --build build-asan -j$(JOBS)
endef
SANITIZER_OPTIONS := ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1

test-asan: deps
	$(call asan_build,-runs=20000)
	@$(SANITIZER_OPTIONS) \
	  ctest --test-dir build-asan --output-on-failure -j$(JOBS) -L 'unit|component|async|fuzz'

# Every fuzz target for FUZZ_SECONDS each (new inputs go to build-asan/fuzz/corpus).
fuzz: deps
	$(call asan_build,-max_total_time=$(FUZZ_SECONDS))
	@$(SANITIZER_OPTIONS) ctest --test-dir build-asan --output-on-failure -j$(JOBS) -L fuzz \
	  --timeout $$(($(FUZZ_SECONDS) + 120))

test-tsan: deps
	@CC=clang CXX=clang++ cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug $(OWN_FLAGS) \
	  -DEARSHOT_SANITIZE=thread -DEARSHOT_ONLY_ASYNC=ON >/dev/null
	@cmake --build build-tsan -j$(JOBS)
	@ctest --test-dir build-tsan --output-on-failure -j$(JOBS) -L async

# Only the test on a real KDE desktop (KWin's virtual back end, the KDE portal; also part of
# test-main), run as the unprivileged user "earshot-kwin" (created when missing); then its
# benchmark, 40 holds.
test-kwin: deps-kwin
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(OWN_FLAGS) $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j$(JOBS) --target earshot_kwin_tests bench_portal_holds
	@ctest --test-dir build --output-on-failure -L kwin
	@build/bench/bench_portal_holds --kwin 40

bench: build
	@./scripts/bench.sh

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	@rm -rf build build-release build-asan build-tsan
