# The two commands a newcomer needs: `make run` and `make test`.
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
JOBS ?= $(shell nproc)
ARGS ?=
CMAKE_FLAGS = -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build build-asan run test test-fast fuzz format clean

all: build

deps:
	@tools/install-deps

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

$(ASAN_DIR)/build.ninja:
	cmake -S . -B $(ASAN_DIR) $(CMAKE_FLAGS) -DKIV_SANITIZE=ON -DKIV_GC_TORTURE=ON

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

build-asan: deps $(ASAN_DIR)/build.ninja
	cmake --build $(ASAN_DIR) -j $(JOBS)

# Builds only what it runs: the executable and its boot image.
run: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS) --target kiv
	./$(BUILD_DIR)/kiv $(ARGS)

# Every test through CTest, in the normal build and in the sanitizer build
# (which also collects at every series allocation).
test: build build-asan
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)
	ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

# The normal build's tests only, for quick iteration.
test-fast: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The fuzz targets with libFuzzer and the sanitizers over a coverage-instrumented
# runtime (needs clang); run them as their source files describe.
FUZZ_DIR ?= build-fuzz
fuzz:
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKIV_SANITIZE=ON -DKIV_FUZZ=ON -DKIV_BENCH=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target $(basename $(notdir $(wildcard tests/fuzz/*_fuzz.cpp)))

format:
	find runtime platform datatypes evaluator boot library gui console tests bench \
	  \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 -r clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR)
