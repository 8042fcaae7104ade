# Thin wrappers over the CMake presets.
.PHONY: all deps demo python bench-python test test-asan test-tsan test-portable fuzz fuzz-smoke soak test-valgrind bench bench-report compare-sox clean
.PHONY: test-m32 build-mingw-i686 test-mingw-x86_64

all: test

deps:
	@bash scripts/install-deps.sh

demo: deps
	cmake --preset release
	cmake --build --preset release --target dspfx_tool
	./build/release/tools/dspfx/dspfx demo

test: deps
	cmake --workflow --preset release

# The Python package with its copy of the library, installed into a virtual
# environment that also sees Debian's numpy, soundfile and dask (no network):
# run $(VENV)/bin/python, or activate $(VENV)/bin/activate.
PYTHON ?= /usr/bin/python3
VENV ?= build/venv
python: deps
	cmake --preset release
	cmake --build --preset release --target dspfx dspfx_tool
	cp -L build/release/libdspfx.so python/dspfx/libdspfx.so
	$(PYTHON) -m venv --system-site-packages $(VENV)
	$(VENV)/bin/pip install --quiet --no-index --no-build-isolation ./python
	cd / && $(CURDIR)/$(VENV)/bin/python -c "import dspfx; print('dspfx', dspfx.__file__)"

test-asan: deps
	cmake --workflow --preset asan

test-tsan: deps
	cmake --workflow --preset tsan

test-portable: deps
	cmake --workflow --preset portable

# 32-bit x86 Linux: the whole suite, natively or through qemu-i386 where the
# kernel refuses 32-bit programs (see cmake/toolchain-m32.cmake).
test-m32:
	@bash scripts/install-deps.sh --cross
	cmake --workflow --preset m32

# 32-bit Windows DLL: built, and its export and import tables checked; no
# 32-bit Wine to run anything with.
build-mingw-i686:
	@bash scripts/install-deps.sh --cross
	cmake --workflow --preset mingw-i686

# 64-bit Windows DLL and the suite under wine64.
test-mingw-x86_64:
	@bash scripts/install-deps.sh --cross
	cmake --preset mingw-x86_64
	cmake --build --preset mingw-x86_64
	bash scripts/wine-ctest.sh mingw-x86_64

# The gate: a fixed number of inputs from a fixed seed (about 1 and 2 min
# here; the seconds only cap a slow machine), so that its verdict depends
# as little as it can on the machine's speed.
FUZZ_WAVE_RUNS ?= 40000
FUZZ_API_RUNS ?= 4000
fuzz-smoke:
	@bash scripts/install-deps.sh --fuzz
	FUZZ_RUNS=$(FUZZ_WAVE_RUNS) bash fuzz/smoke.sh 300
	FUZZ_RUNS=$(FUZZ_API_RUNS) bash fuzz/api_smoke.sh 600

# Looking for new faults: FUZZ_SECONDS per target from random seeds.
FUZZ_SECONDS ?= 600
fuzz:
	@bash scripts/install-deps.sh --fuzz
	bash fuzz/smoke.sh $(FUZZ_SECONDS)
	bash fuzz/api_smoke.sh $(FUZZ_SECONDS)

# Every family and a chain under random parameter changes; SOAK_SECONDS of
# wall-clock time (CI runs 60).
SOAK_SECONDS ?= 600
soak: deps
	cmake --preset release
	cmake --build --preset release --target dspfx_soak
	./build/release/tests/dspfx_soak $(SOAK_SECONDS)

test-valgrind: deps
	bash scripts/test-valgrind.sh

# Every benchmark row, with the peer libraries that are installed; the run's
# JSON is what bench-report reads. Three repetitions of at least 0.5 s of CPU
# time each (one pass of the 60 s signal for the slow rows): about five
# minutes here.
BENCH_ARGS ?= --benchmark_min_time=0.5 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
bench:
	@bash scripts/install-deps.sh --bench
	cmake --preset bench
	cmake --build --preset bench
	./build/bench/bench/dspfx_bench $(BENCH_ARGS) --benchmark_out=build/bench/bench.json --benchmark_out_format=json

# The dspfx tool against sox, whole processes on a 60 s file (hyperfine).
compare-sox:
	@bash scripts/install-deps.sh --bench
	cmake --preset bench
	cmake --build --preset bench
	bash scripts/compare-sox.sh

# docs/benchmarks.md from a fresh run of both, and the Python section.
bench-report: bench
	bash scripts/compare-sox.sh
	python3 scripts/bench-report.py build/bench/bench.json build/bench/compare-sox docs/benchmarks.md
	$(PYTHON) python/bench/bench_python.py build/bench docs/benchmarks.md

# The Python package's section of docs/benchmarks.md alone (about two
# minutes): its overhead over the library per family, threads, batch.
bench-python: deps
	cmake --preset bench
	cmake --build --preset bench --target dspfx dspfx_static dspfx_effect_table
	$(PYTHON) python/bench/bench_python.py build/bench docs/benchmarks.md

clean:
	rm -rf build
