#!/usr/bin/env bash
# Runs every release test binary under valgrind's memcheck: invalid reads and
# writes, use of uninitialised values and leaks of the C heap fail the run
# (fastmem leaks are the suites' own check). Slow; not part of CI.
# Extra arguments go to every test binary (e.g. --gtest_filter=...).
set -euo pipefail
cd "$(dirname "$0")/.."
command -v valgrind >/dev/null || { echo "test-valgrind: valgrind is not installed (apt-get install valgrind)" >&2; exit 1; }
# DSPFX_BUILD_DIR: an already built release tree to use instead.
build=${DSPFX_BUILD_DIR:-}
if [ -z "$build" ]; then
  cmake --preset release
  cmake --build --preset release
  build=build/release
fi
export DSPFX_TEST_DATA=$PWD/tests/data
status=0
for t in "$build"/tests/dspfx_tests_*; do
  [ -x "$t" ] || continue
  t0=$SECONDS
  if valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
       --track-origins=yes "$t" --gtest_brief=1 "$@"; then
    echo "=== $(basename "$t"): clean ($((SECONDS - t0)) s) ==="
  else
    echo "=== $(basename "$t"): FAILED ($((SECONDS - t0)) s) ===" >&2
    status=1
  fi
done
exit $status
