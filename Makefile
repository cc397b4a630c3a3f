# The two commands of the README: `make run` and `make test`.
# Build trees: build/ (everything), build-asan/ and build-tsan/ (layers below the UI).
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build run test format format-check bench clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B build $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)

run: build
	@bash scripts/run.sh

test: deps
	@bash scripts/test.sh

format:
	@git ls-files -z '*.cpp' '*.h' | xargs -0 -r clang-format -i

format-check:
	@bash scripts/format-check.sh

bench: build
	@cmake --build build -j $(JOBS) --target benches
	@for b in build/bench/*_bench; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf build build-asan build-tsan
