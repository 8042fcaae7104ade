#!/usr/bin/env bash
# Installs the build into a scratch prefix, moves the installed tree elsewhere
# and builds the examples against it alone: both through their CMakeLists.txt
# (find_package), c_resample_chorus also through pkg-config and the compiler.
# cpp_chain and the pkg-config build of c_resample_chorus then run on a
# generated tone and their output is checked.
#
# Settings come from the environment (set by tests/install/CMakeLists.txt):
#   SKIP_REASON (when set, nothing is done)
#   BUILD_DIR SOURCE_DIR CONFIG VERSION LIBDIR PROBE GENERATOR
#   PLUGINS (1 when the LV2 bundle and LADSPA library are built)
#   CC CXX CFLAGS CXXFLAGS LDFLAGS   (the build's own compilers and flags, so
#                                     a sanitized library gets sanitized users)
set -euo pipefail

log() { echo "install test: $*"; }
die() { echo "install test: FAILED: $*" >&2; exit 1; }

# Exit code 77 is reported as skipped.
if [ -n "${SKIP_REASON:-}" ]; then
  log "skipped: $SKIP_REASON"
  exit 77
fi

command -v pkg-config >/dev/null || die "pkg-config is not installed (scripts/install-deps.sh installs it)"

work=$(mktemp -d "${TMPDIR:-/tmp}/dspfx-install.XXXXXX")
# Kept for a look when something failed.
trap 'rc=$?; if [ $rc -eq 0 ]; then rm -rf "$work"; else echo "install test: files left in $work" >&2; fi' EXIT

config_args=()
[ -n "$CONFIG" ] && config_args=(--config "$CONFIG")
cmake --install "$BUILD_DIR" --prefix "$work/staged" "${config_args[@]}" >"$work/install.log" \
  || { cat "$work/install.log"; die "cmake --install"; }
# Anything that still finds its files after the move is relocatable.
mv "$work/staged" "$work/prefix"
prefix=$work/prefix
lib=$prefix/$LIBDIR

major=${VERSION%%.*}
for f in "include/dspfx/dspfx.h" "$LIBDIR/libdspfx.so.$VERSION" "$LIBDIR/libdspfx.a" \
         "$LIBDIR/pkgconfig/dspfx.pc" "$LIBDIR/cmake/dspfx/dspfxConfig.cmake" \
         "$LIBDIR/cmake/dspfx/dspfxConfigVersion.cmake"; do
  [ -f "$prefix/$f" ] || die "$f is not installed"
done
[ "$(readlink "$lib/libdspfx.so")" = "libdspfx.so.$major" ] || die "libdspfx.so does not point to libdspfx.so.$major"
[ "$(readlink "$lib/libdspfx.so.$major")" = "libdspfx.so.$VERSION" ] \
  || die "libdspfx.so.$major does not point to libdspfx.so.$VERSION"
if command -v objdump >/dev/null; then
  objdump -p "$lib/libdspfx.so.$VERSION" | grep -q "SONAME *libdspfx\.so\.$major\$" \
    || die "the SONAME is not libdspfx.so.$major"
fi
cmp -s "$prefix/include/dspfx/dspfx.h" "$SOURCE_DIR/include/dspfx/dspfx.h" || die "installed header differs"
# A build-tree path in the package would tie its users to this checkout.
if grep -rlF -e "$BUILD_DIR" -e "$SOURCE_DIR" "$lib/cmake" "$lib/pkgconfig"; then
  die "the installed package names the source or build tree"
fi
if [ -x "$prefix/bin/dspfx" ]; then
  [ "$("$prefix/bin/dspfx" --version)" = "dspfx $VERSION" ] || die "dspfx --version does not print $VERSION"
fi
# Plugins sit where hosts look in a prefix, whatever the library directory.
if [ "${PLUGINS:-0}" = 1 ]; then
  for f in lib/lv2/dspfx.lv2/manifest.ttl lib/lv2/dspfx.lv2/dspfx.ttl lib/lv2/dspfx.lv2/dspfx.so \
           lib/ladspa/dspfx_ladspa.so; do
    [ -f "$prefix/$f" ] || die "$f is not installed"
  done
  if command -v lv2ls >/dev/null; then
    LV2_PATH=$prefix/lib/lv2 lv2ls | grep -qx "urn:dspfx:lv2:eq" || die "lv2ls does not find the moved bundle"
  fi
fi

for example in cpp_chain c_resample_chorus; do
  log "CMake consumer: examples/$example"
  cmake -S "$SOURCE_DIR/examples/$example" -B "$work/$example" -G "$GENERATOR" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
    -DCMAKE_C_COMPILER="$CC" -DCMAKE_C_FLAGS="$CFLAGS -Wall -Wextra -Wpedantic -Werror" \
    -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_CXX_FLAGS="$CXXFLAGS -Wall -Wextra -Wpedantic -Werror" \
    -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" >"$work/$example.log" 2>&1 \
    || { cat "$work/$example.log"; die "configuring $example"; }
  found=$(sed -n 's/^dspfx_DIR:PATH=//p' "$work/$example/CMakeCache.txt")
  [ "$found" = "$lib/cmake/dspfx" ] || die "find_package(dspfx) found $found instead of $lib/cmake/dspfx"
  cmake --build "$work/$example" >>"$work/$example.log" 2>&1 \
    || { cat "$work/$example.log"; die "building $example"; }
done

log "pkg-config consumer: examples/c_resample_chorus"
export PKG_CONFIG_PATH=$lib/pkgconfig
[ "$(pkg-config --modversion dspfx)" = "$VERSION" ] || die "pkg-config reports another version"
read -ra pc_cflags <<<"$(pkg-config --cflags dspfx)"
read -ra pc_libs <<<"$(pkg-config --libs dspfx)"
read -ra cflags <<<"$CFLAGS"
read -ra ldflags <<<"$LDFLAGS"
"$CC" -std=c11 -Wall -Wextra -Wpedantic -Werror "${cflags[@]}" "${pc_cflags[@]}" \
  "$SOURCE_DIR/examples/c_resample_chorus/main.c" -o "$work/c_resample_chorus.pc" \
  "${ldflags[@]}" "${pc_libs[@]}" -Wl,-rpath,"$(pkg-config --variable=libdir dspfx)" \
  || die "compiling c_resample_chorus"

# One second of stereo at 44100 Hz: ten whole blocks of 4096 frames and a
# short one. Each block converts to trunc(frames * dst / src) frames, so up to
# one frame per block goes short of the exact count.
"$PROBE" write "$work/tone.wav" 44100 2 44100
"$work/c_resample_chorus.pc" "$work/tone.wav" "$work/c.wav" 48000 || die "c_resample_chorus failed"
"$PROBE" check "$work/c.wav" 48000 2 $((48000 - 11)) 48000
"$work/cpp_chain/cpp_chain" "$work/tone.wav" "$work/cpp.wav" 32000 || die "cpp_chain failed"
"$PROBE" check "$work/cpp.wav" 32000 2 $((32000 - 11)) 32000
log "passed"
