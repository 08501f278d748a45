# The two commands of the README: `make demo` and `make test`. Both install what is missing first.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps build demo test test-main test-asan test-tsan bench fuzz format clean

deps:
	@./scripts/install-deps.sh

build: deps
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j$(JOBS)

demo: build
	@./scripts/demo.sh build/earshot

# Every test: the whole suite, then the unit and component suites (and a short fuzzing run of
# each target) under AddressSanitizer and UndefinedBehaviorSanitizer, then the runtime's tests
# under ThreadSanitizer.
test: test-main test-asan test-tsan

test-main: build
	@./scripts/check-layers.sh
	@ctest --test-dir build --output-on-failure -j$(JOBS)

test-asan: deps
	@CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug \
	  -DEARSHOT_SANITIZE=address,undefined -DEARSHOT_FUZZ=ON >/dev/null
	@cmake --build build-asan -j$(JOBS)
	@ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build-asan --output-on-failure -j$(JOBS) -L 'unit|component|async|fuzz'

test-tsan: deps
	@CC=clang CXX=clang++ cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug \
	  -DEARSHOT_SANITIZE=thread -DEARSHOT_ONLY_ASYNC=ON >/dev/null
	@cmake --build build-tsan -j$(JOBS)
	@ctest --test-dir build-tsan --output-on-failure -j$(JOBS) -L async

bench: build
	@./scripts/bench.sh

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	@rm -rf build build-asan build-tsan
