#!/usr/bin/env bash
# Installs what the build needs on Debian, when something is missing.
# As root it runs apt-get; otherwise it prints the command and stops.
#   --fuzz   also clang and its fuzzer runtime (make fuzz-smoke)
#   --bench  also the peer libraries the benchmarks compare with
#   --cross  also the 32-bit and MinGW-w64 compilers, qemu-user and wine64
#            (make test-m32, build-mingw-i686, test-mingw-x86_64)
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd cmake || need+=(cmake)
have_cmd ninja || need+=(ninja-build)
have_cmd g++ || need+=(g++)
pkgs=(libgtest-dev libbenchmark-dev libsndfile1-dev libcairo2-dev fonts-dejavu-core pkg-config)
# The plugins' headers, and the hosts and validators their tests run.
pkgs+=(lv2-dev ladspa-sdk lilv-utils sordi sox python3-numpy python3-soundfile)
# The Python package, its tests and make python.
pkgs+=(python3-pytest python3-distributed python3-venv python3-pip python3-setuptools python3-wheel)
for arg in "$@"; do
  case "$arg" in
    --fuzz) pkgs+=(clang libclang-rt-14-dev) ;;
    --cross) pkgs+=(googletest g++-multilib qemu-user g++-mingw-w64-i686-posix
                    g++-mingw-w64-x86-64-posix wine64) ;;
    --bench) pkgs+=(pkg-config libfftw3-dev libkissfft-dev libsamplerate0-dev libsoxr-dev libspeexdsp-dev
                    libsoundtouch-dev librubberband-dev libsndfile1-dev sox hyperfine python3) ;;
    *) echo "install-deps: unknown option $arg" >&2; exit 2 ;;
  esac
done
for pkg in "${pkgs[@]}"; do
  have_pkg "$pkg" || need+=("$pkg")
done

if [ "${#need[@]}" -eq 0 ]; then
  exit 0
fi

line="apt-get install -y ${need[*]}"
if [ "$(id -u)" -eq 0 ]; then
  echo "install-deps: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q "${need[@]}"
else
  echo "install-deps: missing packages; run as root:"
  echo "  $line"
  exit 1
fi
