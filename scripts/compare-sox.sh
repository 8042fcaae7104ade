#!/usr/bin/env bash
# Times `dspfx process` against the nearest sox effect, each as a whole
# process on a 60 s WAV file of the benchmark signal, with hyperfine.
#   scripts/compare-sox.sh [BUILD_DIR] [OUT_DIR]
# BUILD_DIR (default build/bench) holds the configured bench build: its
# dspfx_bench writes the signal, its dspfx tool runs the effects. Results go
# to OUT_DIR (default BUILD_DIR/compare-sox): one hyperfine JSON per effect,
# commands.tsv, versions.txt and table.md. Exits 0 without measuring when sox
# or hyperfine is missing.
set -euo pipefail

build=${1:-build/bench}
out=${2:-$build/compare-sox}
runs=${SOX_RUNS:-5}
root=$(cd "$(dirname "$0")/.." && pwd)

for tool in sox hyperfine; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "compare-sox: $tool not installed, whole-program comparison skipped"
    echo "  (bash scripts/install-deps.sh --bench installs it)"
    rm -rf "$out"
    exit 0
  fi
done
bench="$build/bench/dspfx_bench"
dspfx="$build/tools/dspfx/dspfx"
for bin in "$bench" "$dspfx"; do
  if [ ! -x "$bin" ]; then
    echo "compare-sox: $bin missing; build the bench preset first (make bench)" >&2
    exit 1
  fi
done

rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
signal="$work/signal.wav"
"$bench" --write-signal "$signal"

# name | dspfx effect | sox effect. The sox side is the closest effect sox
# has: shelving bass and treble for the three-zone equaliser, a logarithmic
# fade for the tool's fade in dB, quick (cubic) rate conversion for the
# design's cubic resampler (quality=0) and low-quality band-limited conversion
# for the tool's default band-limited one, the search-free granular stretch with the tool's 40 ms
# grain, and pitch (which sox builds from its tempo and rate effects).
effects=(
  "chorus|chorus:voices=3,delay=20,depth=5,period=2,mix=50,dry=100|chorus 1 1 20 0.5 0.5 5 -s 20 0.5 0.5 5 -s 20 0.5 0.5 5 -s"
  "eq|eq:low=4,high=-3,lowfreq=250,highfreq=4000|bass 4 250 treble -3 4000"
  "fade|fade:in=0.5,out=2|fade l 0.5 -0 2"
  "resample|resample:rate=48000,quality=0|rate -q 48000"
  "resample-bandlimited|resample:rate=48000|rate -l 48000"
  "stretch|stretch:ratio=2|stretch 2 40"
  "pitch|pitch:cents=1200|pitch 1200"
)

{
  echo -n "$(sox --version | sed 's/^.*SoX /SoX /'), "
  hyperfine --version
} > "$out/versions.txt"

n=0
for entry in "${effects[@]}"; do
  IFS='|' read -r name ours theirs <<< "$entry"
  n=$((n + 1))
  printf '%s\t%s\t%s\n' "$name" "$ours" "$theirs" >> "$out/commands.tsv"
  echo "compare-sox: $name"
  hyperfine --style basic --warmup 1 --runs "$runs" \
    --export-json "$out/$n-$name.json" \
    -n dspfx "$dspfx process --quiet $signal $work/dspfx.wav $ours" \
    -n sox "sox -D -V1 $signal $work/sox.wav $theirs"
done

python3 "$root/scripts/bench-report.py" --sox-table "$out" | tee "$out/table.md"
