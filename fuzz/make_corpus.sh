#!/usr/bin/env bash
# Writes a small seed corpus for wavefile_fuzz into the given directory:
# well-formed files of several shapes and files broken in the ways the
# reader must refuse or tolerate. Deterministic, bash and coreutils only.
set -euo pipefail
out=${1:?usage: make_corpus.sh DIR}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

byte() { printf "\\x$(printf %02x $(($1 & 255)))"; }
u16() { byte "$1"; byte $(($1 >> 8)); }
u32() { u16 $(($1 & 65535)); u16 $((($1 >> 16) & 65535)); }
size_of() { stat -c %s "$1"; }

# fill N BYTE: N copies of one byte value
fill() { head -c "$1" /dev/zero | tr '\0' "\\$(printf %03o "$2")"; }

# chunk ID BODYFILE [DECLARED]: header, body and pad byte
chunk() {
  local n; n=$(size_of "$2")
  printf '%s' "$1"; u32 "${3:-$n}"; cat "$2"
  if (( n & 1 )); then byte 0; fi
}

# fmtbody CHANNELS RATE BITS [LENGTH [TAG [EXTRA]]]
fmtbody() {
  local ch=$1 rate=$2 bits=$3 len=${4:-16} tag=${5:-1} extra=${6:-0}
  {
    u16 "$tag"; u16 "$ch"; u32 "$rate"; u32 $((rate * ch * bits / 8))
    u16 $((ch * bits / 8)); u16 "$bits"
    if (( len >= 18 )); then u16 "$extra"; fill $((len - 18)) 0; fi
  } > "$work/fields"
  head -c "$len" "$work/fields"
}

# form NAME [DECLARED] CHUNKFILE...: a "RIFF" form of type WAVE
form() {
  local name=$1 declared=$2; shift 2
  cat "$@" > "$work/body"
  { printf RIFF; u32 "${declared:-$(( $(size_of "$work/body") + 4 ))}"; printf WAVE; cat "$work/body"; } > "$out/$name"
}

fmtbody 2 44100 16 > "$work/f_stereo";      chunk 'fmt ' "$work/f_stereo" > "$work/c_fmt_stereo"
fmtbody 1 8000 8 > "$work/f_mono8";         chunk 'fmt ' "$work/f_mono8" > "$work/c_fmt_mono8"
fmtbody 2 48000 16 18 > "$work/f_18";       chunk 'fmt ' "$work/f_18" > "$work/c_fmt_18"
fmtbody 6 96000 24 40 65534 22 > "$work/f_ext"; chunk 'fmt ' "$work/f_ext" > "$work/c_fmt_ext"
fmtbody 0 44100 16 > "$work/f_noch";        chunk 'fmt ' "$work/f_noch" > "$work/c_fmt_noch"
fmtbody 2 0 16 > "$work/f_norate";          chunk 'fmt ' "$work/f_norate" > "$work/c_fmt_norate"
fmtbody 2 44100 16 14 > "$work/f_short";    chunk 'fmt ' "$work/f_short" > "$work/c_fmt_short"
fill 400 85 > "$work/d400";                 chunk data "$work/d400" > "$work/c_data400"
fill 101 170 > "$work/d101";                chunk data "$work/d101" > "$work/c_data101"
: > "$work/d0";                             chunk data "$work/d0" > "$work/c_data0"
chunk data "$work/d400" 307200 > "$work/c_data_cut"
fill 13 73 > "$work/l13";                   chunk LIST "$work/l13" > "$work/c_list13"
fill 6 0 > "$work/j6";                      chunk JUNK "$work/j6" 4294967295 > "$work/c_junk_huge"

form stereo.wav "" "$work/c_fmt_stereo" "$work/c_data400"
form mono8_odd.wav "" "$work/c_fmt_mono8" "$work/c_data101"
form writer_empty.wav "" "$work/c_fmt_18" "$work/c_data0"
form extensible_lists.wav "" "$work/c_list13" "$work/c_fmt_ext" "$work/c_data400" "$work/c_list13"
form data_first.wav "" "$work/c_data101" "$work/c_fmt_stereo"
form data_cut.wav "" "$work/c_fmt_stereo" "$work/c_data_cut"
form unclosed.wav 0 "$work/c_fmt_18" "$work/c_data_cut"
form no_channels.wav "" "$work/c_fmt_noch" "$work/c_data400"
form no_rate.wav "" "$work/c_fmt_norate" "$work/c_data400"
form short_fmt.wav "" "$work/c_fmt_short" "$work/c_data400"
form junk_huge.wav "" "$work/c_junk_huge" "$work/c_fmt_stereo" "$work/c_data400"
form no_data.wav "" "$work/c_fmt_stereo" "$work/c_list13"
form small_form.wav 4 "$work/c_fmt_stereo" "$work/c_data400"
sed 's/^RIFF/RIFX/' "$out/stereo.wav" > "$out/rifx.wav"
head -c 30 "$out/stereo.wav" > "$out/cut_in_fmt.wav"
printf RIFF > "$out/riff_only.wav"
: > "$out/empty.wav"
