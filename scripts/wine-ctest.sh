#!/usr/bin/env bash
# Runs a Windows preset's tests under wine64: a private prefix inside the
# build directory, and one persistent wineserver for the whole run (without
# it every test program pays the server's start-up). When wine64 is missing
# or cannot run a program here, says so and exits 0: the stage is skipped,
# not failed, and the build and the export check have still been done.
#   usage: wine-ctest.sh PRESET [BUILD_DIR]   (after building PRESET)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=$1
build=${2:-build/$preset}

wine=
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then wine=$candidate; break; fi
done
if [ -z "$wine" ] || ! command -v wineserver >/dev/null 2>&1; then
  echo "wine-ctest: SKIPPED: wine64 is not installed (scripts/install-deps.sh --cross installs it)"
  exit 0
fi

export WINEPREFIX="$(cd "$build" && pwd)/wineprefix"
export WINEDEBUG=-all
export WINEARCH=win64
export DISPLAY=
mkdir -p "$WINEPREFIX"
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
# The first program in a prefix starts Wine's own services, which inherit
# its standard output and keep it open for as long as the server lives:
# started by a test, they would hold ctest's pipe and stall it. wineboot
# starts them here instead (and creates the prefix; the 32-bit half it
# reports missing is not needed for 64-bit programs).
"$wine" wineboot --init >/dev/null 2>&1 </dev/null || true
# Into a file, not a pipe, for the same reason.
probe="$WINEPREFIX/probe.txt"
timeout 120 "$wine" cmd.exe /c echo wine-ready >"$probe" 2>/dev/null </dev/null || true
if ! grep -q wine-ready "$probe"; then
  echo "wine-ctest: SKIPPED: wine64 is installed but cannot run a Windows program here"
  exit 0
fi
ctest --preset "$preset" --test-dir "$build"
