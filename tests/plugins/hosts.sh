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
# port order, the tool's defaults filling in (LADSPA hosts take them by
# position).
lv2_controls() { local IFS=,; for kv in $1; do [ -n "$kv" ] && printf -- '-c %s %s ' "${kv%%=*}" "${kv#*=}"; done; true; }
values_only() {
  if [ "$e" = fade ]; then local IFS=,; for kv in $1; do printf '%s ' "${kv#*=}"; done; return; fi
  "$tool" help "$e" >"$work/help.txt"
  "$py" "$here/check_ports.py" --values "$work/help.txt" "$1"
}
# Fields of a case: effect, the tool's parameters, the plugin's parameters,
# the plugin's delay.
split_case() {
  local plugin_params
  IFS='|' read -r e tool_params plugin_params delay <<<"$1"
  params=${plugin_params:-$tool_params}
  delay=${delay:-0}
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
  lv2info urn:dspfx:lv2:eq >"$work/info.txt"
  grep -q "Has latency: *yes, reported by port" "$work/info.txt" ||
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
    sox "$work/$layout.wav" -e floating-point -b 32 "$work/$layout-f.wav"
    suffix=$([ $layout = mono ] && echo -mono || true)
    for k in "${!CASES[@]}"; do
      split_case "${CASES[$k]}"
      p=$work/$k-$e$suffix
      # Float in, float out: plugin and tool see the same samples and must
      # give the same ones, bit for bit.
      "$tool" process -q --float "$work/$layout-f.wav" "$p-tool-f.wav" "$tool_arg"
      # shellcheck disable=SC2046
      lv2apply -i "$work/$layout-f.wav" -o "$p-f.wav" $(lv2_controls "$params") "urn:dspfx:lv2:$e$suffix"
      # The equaliser's fast convolution (its default form) matches only to
      # float rounding (1e-6 of full scale) across block sizes, and the
      # host's blocks are not the tool's.
      tolerance=0
      [ "$e" = eq ] && [[ "$params" != *mode=0* ]] && tolerance=2e-6
      compare exact "$p-tool-f.wav" "$p-f.wav" "$tolerance" "$delay"
      # 16-bit in and out: the host writes a sample as x * 32767 where the
      # tool writes x * 32768, so full-scale samples may be one step apart.
      "$tool" process -q --no-dither "$work/$layout.wav" "$p-tool.wav" "$tool_arg"
      # shellcheck disable=SC2046
      lv2apply -i "$work/$layout.wav" -o "$p-lv2.wav" $(lv2_controls "$params") "urn:dspfx:lv2:$e$suffix"
      compare lsb "$p-tool.wav" "$p-lv2.wav" 1 "$delay"
    done
  done
  ;;
ladspa)
  need analyseplugin applyplugin sox
  need_python
  make_inputs
  for layout in stereo mono; do
    suffix=$([ $layout = mono ] && echo -mono || true)
    for k in "${!CASES[@]}"; do
      split_case "${CASES[$k]}"
      label=dspfx_$e${suffix:+_mono}
      analyseplugin "$ladspa_lib" "$label" >"$work/analyse.txt"
      grep -q "Plugin Label: \"$label\"" "$work/analyse.txt" || { echo "analyseplugin: no $label"; failures=$((failures + 1)); }
      p=$work/$k-$label
      "$tool" process -q --no-dither "$work/$layout.wav" "$p-tool.wav" "$tool_arg"
      # sox reads and writes 16-bit samples as the tool does (undithered):
      # the same samples.
      # shellcheck disable=SC2046
      sox -D "$work/$layout.wav" "$p-sox.wav" ladspa "$ladspa_lib" "$label" $(values_only "$params")
      compare lsb "$p-tool.wav" "$p-sox.wav" 0 "$delay"
      # applyplugin converts with factors of its own: one step at most.
      # shellcheck disable=SC2046
      applyplugin "$work/$layout.wav" "$p-apply.wav" "$ladspa_lib" "$label" $(values_only "$params") >/dev/null
      compare lsb "$p-tool.wav" "$p-apply.wav" 1 "$delay"
    done
  done
  ;;
*) echo "usage: hosts.sh turtle|lv2apply|ladspa BUILD_DIR TOOL" >&2; exit 2 ;;
esac
if [ -s "$work/list" ]; then
  check "$py" "$here/compare_wav.py" "$work/list"
fi
[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all $mode checks passed"
