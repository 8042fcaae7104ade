#!/usr/bin/env bash
# Runs the plugins in the hosts Debian ships and compares with the tool.
#   hosts.sh turtle|lv2apply|ladspa BUILD_DIR TOOL
# Exit 77 (skipped) when a host program or Debian's Python is missing.
set -euo pipefail
mode=$1 build=$2 tool=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/cases.sh"
py=/usr/bin/python3

skip() { echo "skipped: $*"; exit 77; }
need() { for c in "$@"; do command -v "$c" >/dev/null 2>&1 || skip "$c is not installed"; done; }
need_python() {
  [ -x "$py" ] && "$py" -c 'import numpy, soundfile' 2>/dev/null ||
    skip "Debian's python3 with numpy and soundfile is not installed (python3-numpy python3-soundfile)"
}

export LV2_PATH="$build/lib/lv2" LADSPA_PATH="$build/lib/ladspa"
ladspa_lib="$build/lib/ladspa/dspfx_ladspa.so"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Two short inputs, one per channel layout, with content across the band.
make_inputs() {
  need sox
  sox -D -n -r 48000 -c 2 -b 16 "$work/in2.wav" synth 0.25 sine 220 sine 3100 gain -4
  sox -D -n -r 48000 -c 2 -b 16 "$work/noise.wav" synth 0.25 whitenoise gain -12
  sox -D -m "$work/in2.wav" "$work/noise.wav" "$work/stereo.wav"
  sox -D "$work/stereo.wav" "$work/mono.wav" remix 1
}

# name=value,... to "-c name value" pairs (lv2apply) or the values alone in
# port order (LADSPA hosts take them positionally; the cases list them all).
lv2_controls() { local IFS=,; for kv in $1; do [ -n "$kv" ] && printf -- '-c %s %s ' "${kv%%=*}" "${kv#*=}"; done; true; }
values_only() { local IFS=,; for kv in $1; do [ -n "$kv" ] && printf '%s ' "${kv#*=}"; done; true; }
# Fields of a case: effect, the tool's parameters, the plugin's parameters.
split_case() {
  e=${1%%|*}
  local rest=${1#*|}
  tool_params=${rest%%|*}
  params=${rest#*|}
  tool_arg=$e${tool_params:+:$tool_params}
}

failures=0
# Sample comparisons are gathered and made in one Python run at the end.
compare() { echo "$*" >>"$work/list"; }
check() { if "$@"; then :; else echo "FAILED: $*"; failures=$((failures + 1)); fi; }

case "$mode" in
turtle)
  need lv2ls lv2info sord_validate
  need_python
  listed=$(lv2ls)
  for c in "${CASES[@]}"; do
    e=${c%%|*}
    for uri in "urn:dspfx:lv2:$e" "urn:dspfx:lv2:$e-mono"; do
      grep -qx "$uri" <<<"$listed" || { echo "lv2ls does not list $uri"; failures=$((failures + 1)); }
    done
    lv2info "urn:dspfx:lv2:$e" >"$work/info.txt"
    # The gain plugin has ports of its own; every other plugin shows the
    # tool's parameters exactly.
    if [ "$e" != fade ]; then
      "$tool" help "$e" >"$work/help.txt"
      check "$py" "$here/check_ports.py" "$e" "$work/info.txt" "$work/help.txt"
    fi
  done
  lv2info urn:dspfx:lv2:eq | grep -q "Has latency: *yes, reported by port" ||
    { echo "lv2info shows no latency port on eq"; failures=$((failures + 1)); }
  # sord_validate against the schemas of every LV2 extension installed.
  schemas=$(find /usr/lib/lv2 -maxdepth 2 -name '*.ttl' ! -name '*.doap.ttl' | sort)
  # shellcheck disable=SC2086
  out=$(sord_validate $schemas "$build"/lib/lv2/dspfx.lv2/*.ttl 2>&1) || true
  echo "$out" | tail -1
  grep -q "Found 0 errors" <<<"$out" || { echo "$out" | grep -i error | head -20; failures=$((failures + 1)); }
  ;;
lv2apply)
  need lv2apply
  need_python
  make_inputs
  for layout in stereo mono; do
    "$py" "$here/compare_wav.py" tofloat "$work/$layout.wav" "$work/$layout-f.wav"
    suffix=$([ $layout = mono ] && echo -mono || true)
    for c in "${CASES[@]}"; do
      split_case "$c"
      p=$work/$e$suffix
      # The tool in its scalar form, which defines the results; the plugin fed
      # the same floats the tool reads from the 16-bit file: bit for bit.
      "$tool" process --simd off -q "$work/$layout.wav" "$p-tool.wav" "$tool_arg"
      # shellcheck disable=SC2046
      lv2apply -i "$work/$layout-f.wav" -o "$p-f.wav" $(lv2_controls "$params") "urn:dspfx:lv2:$e$suffix"
      compare float "$p-tool.wav" "$p-f.wav"
      # Through the host's own 16-bit conversion, which reads a sample as
      # x / 32768 where the library reads x / 32767 and rounds where the
      # scalar form truncates.
      # shellcheck disable=SC2046
      lv2apply -i "$work/$layout.wav" -o "$p-lv2.wav" $(lv2_controls "$params") "urn:dspfx:lv2:$e$suffix"
      compare lsb "$p-tool.wav" "$p-lv2.wav" 1
    done
  done
  ;;
ladspa)
  need analyseplugin applyplugin sox
  need_python
  make_inputs
  for layout in stereo mono; do
    suffix=$([ $layout = mono ] && echo -mono || true)
    for c in "${CASES[@]}"; do
      split_case "$c"
      label=dspfx_$e${suffix:+_mono}
      analyseplugin "$ladspa_lib" "$label" >"$work/analyse.txt"
      grep -q "Plugin Label: \"$label\"" "$work/analyse.txt" || { echo "analyseplugin: no $label"; failures=$((failures + 1)); }
      p=$work/$label
      "$tool" process --simd off -q "$work/$layout.wav" "$p-tool.wav" "$tool_arg"
      # shellcheck disable=SC2046
      applyplugin "$work/$layout.wav" "$p-apply.wav" "$ladspa_lib" "$label" $(values_only "$params") >/dev/null
      # applyplugin's own 16-bit conversion is another step further off on
      # boosted output; sox reads and writes as lv2apply does.
      compare lsb "$p-tool.wav" "$p-apply.wav" 2
      # shellcheck disable=SC2046
      sox -D "$work/$layout.wav" "$p-sox.wav" ladspa "$ladspa_lib" "$label" $(values_only "$params")
      compare lsb "$p-tool.wav" "$p-sox.wav" 1
      compare lsb "$p-apply.wav" "$p-sox.wav" 1
    done
  done
  ;;
*) echo "usage: hosts.sh turtle|lv2apply|ladspa BUILD_DIR TOOL" >&2; exit 2 ;;
esac
if [ -s "$work/list" ]; then
  (cd "$work" && check "$py" "$here/compare_wav.py" "$work/list")
fi
[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all $mode checks passed"
