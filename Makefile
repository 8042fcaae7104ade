# Thin wrappers over the CMake presets.
.PHONY: all deps demo test test-asan test-tsan test-portable fuzz-smoke soak test-valgrind bench clean

all: test

deps:
	@bash scripts/install-deps.sh

demo: deps
	cmake --preset release
	cmake --build --preset release --target dspfx_tool
	./build/release/tools/dspfx/dspfx demo

test: deps
	cmake --workflow --preset release

test-asan: deps
	cmake --workflow --preset asan

test-tsan: deps
	cmake --workflow --preset tsan

test-portable: deps
	cmake --workflow --preset portable

fuzz-smoke:
	@bash scripts/install-deps.sh --fuzz
	bash fuzz/smoke.sh 60
	bash fuzz/api_smoke.sh 120

# Every family and a chain under random parameter changes; SOAK_SECONDS of
# wall-clock time (CI runs 60).
SOAK_SECONDS ?= 600
soak: deps
	cmake --preset release
	cmake --build --preset release --target dspfx_soak
	./build/release/tests/dspfx_soak $(SOAK_SECONDS)

test-valgrind: deps
	bash scripts/test-valgrind.sh

bench:
	@bash scripts/install-deps.sh --bench
	cmake --preset bench
	cmake --build --preset bench
	./build/bench/bench/dspfx_bench

clean:
	rm -rf build
