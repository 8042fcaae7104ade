# Sourced by the fuzz scripts: the clang build of one target, and how long
# a run lasts. With FUZZ_RUNS=N a run is reproducible: N inputs mutated from
# seed FUZZ_SEED (default 1), the same on any machine at any speed, so a
# gate that passes here passes elsewhere. Without it the run lasts the
# script's SECONDS from a random seed, for finding new faults.
build=build/fuzz

fuzz_build() {
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DDSPFX_BUILD_FUZZ=ON -DDSPFX_BUILD_TESTS=OFF -DDSPFX_BUILD_TOOL=OFF -DDSPFX_BUILD_BENCH=OFF
  cmake --build "$build" --target "$1"
}

# Sets the array `limits` for a run of at most SECONDS.
fuzz_limits() {
  limits=(-max_total_time="$1")
  if [ -n "${FUZZ_RUNS:-}" ]; then limits+=(-runs="$FUZZ_RUNS" -seed="${FUZZ_SEED:-1}"); fi
}
