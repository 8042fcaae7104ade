#!/usr/bin/env bash
# Builds wavefile_fuzz with clang and runs it from a fresh seed corpus for
# SECONDS (default 60), or as fuzz/lib.sh says. Any crash, leak, trap or
# sanitizer report fails it; the input that caused it is left in
# build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
. fuzz/lib.sh
fuzz_build wavefile_fuzz
fuzz_limits "$seconds"

rm -rf "$build/corpus" && bash fuzz/make_corpus.sh "$build/corpus"
mkdir -p "$build/artifacts"
# Every input becomes a file: memory-backed scratch space when there is one.
# libFuzzer leaves without running the target's cleanup, so the scratch
# space is this script's own and goes with it.
base=${TMPDIR:-/tmp}
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then base=/dev/shm; fi
scratch=$(mktemp -d "$base/dspfx-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch
"$build/fuzz/wavefile_fuzz" "${limits[@]}" -max_len=16384 -print_final_stats=1 \
  -artifact_prefix="$build/artifacts/" "$build/corpus"
