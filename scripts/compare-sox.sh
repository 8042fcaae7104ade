#!/usr/bin/env bash
# Times every effect of `dspfx process` against the nearest sox effect, each
# run as a whole process on a 60 s WAV file of the benchmark signal.
#   scripts/compare-sox.sh [BUILD_DIR] [OUT_DIR]
# BUILD_DIR (default build/bench) holds the configured bench build: its
# dspfx_bench writes the signal, its dspfx tool runs the effects.
#
# The machine may be shared, so wall time says little. Each comparison runs
# SOX_RUNS times (default 7) after one warm-up, dspfx and sox alternating so
# that both meet the same load, and takes every run's CPU time (user +
# system) from the kernel's accounting of the finished child (wait4, in
# microseconds). Results go to OUT_DIR (default BUILD_DIR/compare-sox): one
# JSON per comparison with every run's times, commands.tsv, versions.txt and
# table.md. Exits 0 without measuring when sox is missing.
set -euo pipefail

build=${1:-build/bench}
out=${2:-$build/compare-sox}
runs=${SOX_RUNS:-7}
root=$(cd "$(dirname "$0")/.." && pwd)

if ! command -v sox >/dev/null 2>&1; then
  echo "compare-sox: sox not installed, whole-program comparison skipped"
  echo "  (bash scripts/install-deps.sh --bench installs it)"
  rm -rf "$out"
  exit 0
fi
bench="$build/bench/dspfx_bench"
dspfx="$build/tools/dspfx/dspfx"
for bin in "$bench" "$dspfx"; do
  if [ ! -x "$bin" ]; then
    echo "compare-sox: $bin missing; build the bench preset first (make bench)" >&2
    exit 1
  fi
done
# Debian's interpreter has numpy, which the equaliser's taps need.
py=python3
[ -x /usr/bin/python3 ] && py=/usr/bin/python3

rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
signal="$work/signal.wav"
"$bench" --write-signal "$signal"

eq_args="low=4,high=-3,lowfreq=250,highfreq=4000"
# The tool's equaliser as plain taps, for sox's FIR effect: the tool's
# three zones over 128 bands at 44100 Hz, designed as the library designs
# (a 2N-point transform of the mirrored band gains, then a raised cosine).
"$py" - "$work/eq-taps.txt" <<'EOF' || true
import sys
import numpy as np
n, rate, low, mid, high, lowfreq, highfreq = 128, 44100, 4.0, 0.0, -3.0, 250.0, 4000.0
centres = (np.arange(n) + 0.5) * rate / 2 / n
db = np.where(centres < lowfreq, low, np.where(centres < highfreq, mid, high))
gains = 10.0 ** (0.05 * db)
transform = np.fft.fft(np.concatenate([gains, gains[::-1]])).real / (2 * n)
taps = 4 * n - 1
window = 0.5 - 0.5 * np.cos(2 * np.pi * np.arange(taps) / taps)
h = np.concatenate([transform[::-1], transform[1:]]) * window
np.savetxt(sys.argv[1], h, fmt="%.9g")
EOF

ten_bands=""
for f in 31.25 62.5 125 250 500 1000 2000 4000 8000 16000; do ten_bands+="equalizer $f 1o 3 "; done

# name | dspfx effect | sox effects. The sox side is the effect a sox user
# would reach for, and where that does less work, also one doing the same
# work: shelving bass and treble against the tool's 511-tap linear-phase
# equaliser, and sox's FIR effect with those very taps; ten peaking bands
# against the graphic equaliser's ten octave boosts; two cascaded biquads
# against the order-4 low- and high-pass; quick (cubic) rate conversion for
# the cubic resampler and the upsampler (quality=0), low-quality band-limited
# rate conversion for their band-limited default; a logarithmic fade for the fade in
# dB; both the search-free granular stretch with the tool's 40 ms grain and
# the searching tempo for the stretch; pitch, which sox builds from tempo
# and rate; sox's gain, trim, reverse and channels for the tool's basic
# effects. Both run with their defaults, dither included (each dithers
# output that effects have altered). Effects the tool does not have are
# skipped.
comparisons=(
  "resample|resample:rate=48000,quality=0|rate -q 48000"
  "resample~bandlimited|resample:rate=48000|rate -l 48000"
  "hqups|hqups:quality=0|rate -q 48000"
  "hqups~bandlimited|hqups|rate -l 48000"
  "eq~bass+treble|eq:$eq_args|bass 4 250 treble -3 4000"
  "eq~fir|eq:$eq_args|fir $work/eq-taps.txt"
  "geq|geq:g31=3,g62=3,g125=3,g250=3,g500=3,g1k=3,g2k=3,g4k=3,g8k=3,g16k=3|$ten_bands"
  "lowpass|lowpass:freq=1000,order=4|lowpass 1000 lowpass 1000"
  "highpass|highpass:freq=200,order=4|highpass 200 highpass 200"
  "fade|fade:in=0.5,out=2|fade l 0.5 -0 2"
  "stretch~stretch|stretch:ratio=2|stretch 2 40"
  "stretch~tempo|stretch:ratio=2|tempo 0.5"
  "pitch|pitch:cents=1200|pitch 1200"
  "chorus|chorus:voices=3,delay=20,depth=5,period=2,mix=50,dry=100|chorus 1 1 20 0.5 0.5 5 -s 20 0.5 0.5 5 -s 20 0.5 0.5 5 -s"
  "gain|gain:db=-6|gain -6"
  "norm|norm|gain -n"
  "reverse|reverse|reverse"
  "trim|trim:start=10,length=30|trim 10 30"
  "channels|channels:count=1|channels 1"
)

known=$("$dspfx" help effects 2>/dev/null | sed -n 's/^\([a-z][a-z0-9]*\): .*/\1/p')
{
  echo -n "$(sox --version | sed 's/^.*SoX /SoX /')"
  echo ", CPU time per run from wait4, $runs runs of each side, alternating"
} > "$out/versions.txt"

n=0
for entry in "${comparisons[@]}"; do
  IFS='|' read -r name ours theirs <<< "$entry"
  effect=${ours%%:*}
  if ! grep -qx "$effect" <<< "$known"; then
    echo "compare-sox: $name skipped (the tool has no $effect)"
    continue
  fi
  if [[ "$theirs" == fir* && ! -s "$work/eq-taps.txt" ]]; then
    echo "compare-sox: $name skipped (no numpy for the taps)"
    continue
  fi
  n=$((n + 1))
  printf '%s\t%s\t%s\n' "$name" "$ours" "${theirs//$work\//}" >> "$out/commands.tsv"
  echo "compare-sox: $name"
  "$py" - "$out/$(printf %02d $n)-${name//[^a-z0-9~+-]/_}.json" "$runs" "$name" \
    "$dspfx process --quiet $signal $work/dspfx.wav $ours" \
    "sox -V1 $signal $work/sox.wav $theirs" <<'EOF'
import json, os, shlex, subprocess, sys, time
path, runs, name, ours, theirs = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]

def once(command):
    start = time.perf_counter()
    child = subprocess.Popen(shlex.split(command), stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"compare-sox: {command!r} failed ({child.returncode})")
    return usage.ru_utime + usage.ru_stime, wall

times = {"dspfx": {"cpu": [], "wall": []}, "sox": {"cpu": [], "wall": []}}
once(ours), once(theirs)
for _ in range(runs):
    for side, command in (("dspfx", ours), ("sox", theirs)):
        cpu, wall = once(command)
        times[side]["cpu"].append(cpu)
        times[side]["wall"].append(wall)
with open(path, "w") as f:
    json.dump({"name": name, "results": times}, f, indent=1)
EOF
done

"$py" "$root/scripts/bench-report.py" --sox-table "$out" | tee "$out/table.md"
