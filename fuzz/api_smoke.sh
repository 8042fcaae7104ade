#!/usr/bin/env bash
# Builds api_fuzz with clang and runs it from a fixed set of seed programs
# for SECONDS (default 120), or as fuzz/lib.sh says. Any crash, leak, trap,
# timeout or sanitizer report fails it; the input that caused it is left in
# build/fuzz/artifacts/ (replay it with DSPFX_FUZZ_TRACE=1
# build/fuzz/fuzz/api_fuzz FILE to see every call it made).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-120}
. fuzz/lib.sh
fuzz_build api_fuzz
fuzz_limits "$seconds"

# Every byte string is a program, so seeds are just pseudo-random bytes of
# several lengths: long enough to reach deep call sequences from the start.
seeds="$build/api_seeds"
rm -rf "$seeds" "$build/api_corpus" && mkdir -p "$seeds" "$build/api_corpus" "$build/artifacts"
for i in $(seq 1 48); do
  LC_ALL=C awk -v s="$i" -v n=$((256 * (1 + i % 12))) \
    'BEGIN { srand(s); for (k = 0; k < n; k++) printf "%c", int(rand() * 256) }' > "$seeds/seed$i"
done
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
# Allocations the library must refuse come back null (see api_fuzz.cpp);
# the sanitizer's note about each one is dropped from the log.
"$build/fuzz/api_fuzz" "${limits[@]}" -max_len=4096 -len_control=0 -timeout=60 \
  -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$build/api_corpus" "$seeds" 2>&1 |
  sed '/AddressSanitizer failed to allocate/d'
