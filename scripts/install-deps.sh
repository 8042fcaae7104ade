#!/usr/bin/env bash
# Installs what the build needs on Debian, when something is missing.
# As root it runs apt-get; otherwise it prints the command and stops.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd cmake || need+=(cmake)
have_cmd ninja || need+=(ninja-build)
have_cmd g++ || need+=(g++)
for pkg in libgtest-dev libbenchmark-dev libpng-dev; do
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
