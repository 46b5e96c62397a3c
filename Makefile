# The project's commands. `make test` is what CI runs.
PY := /usr/bin/python3
JOBS ?= 2
CMAKE_FLAGS := -G Ninja -DPython_EXECUTABLE=$(PY) -DPYTHON_EXECUTABLE=$(PY)

.PHONY: all deps build test test-asan demo bench clean

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B build $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)

test: build
	cd build && ctest --output-on-failure -j $(JOBS)
	KYV_BUILD_DIR=$(CURDIR)/build $(PY) -m pytest -q -p no:cacheprovider $(wildcard tests/python tests/e2e)

test-asan: deps
	cmake -S . -B build-asan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DKYV_SANITIZE=ON -DKYV_BUILD_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j $(JOBS)

demo: build
	./scripts/demo.sh

bench: build
	./scripts/bench.sh

clean:
	rm -rf build build-asan
