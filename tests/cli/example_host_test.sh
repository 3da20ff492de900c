#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds the example host
# against it twice (CMake package, pkg-config), splits a fixture with it and
# lets ffprobe judge the clips; the installed remuxion program must run too.
#   example_host_test.sh BUILD_DIR EXAMPLES_DIR FIXTURE
set -euo pipefail
build=$1 examples=$2 fixture=$3
work=$(mktemp -d /tmp/remuxion-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
quiet() { local log=$work/log.txt; "$@" > "$log" 2>&1 || { cat "$log" >&2; fail "$*"; }; }

prefix=$work/prefix
quiet cmake --install "$build" --prefix "$prefix"
library=$(find "$prefix" -name 'libKX_Remuxion.so' | head -1)
[ -n "$library" ] || fail "no libKX_Remuxion.so under $prefix"
libdir=$(dirname "$library")
[ -f "$prefix/include/KX_Remuxion.h" ] || fail "the header is not installed"
[ -f "$libdir/cmake/KX_Remuxion/KX_RemuxionConfig.cmake" ] || fail "no CMake package config"
[ -f "$libdir/pkgconfig/KX_Remuxion.pc" ] || fail "no pkg-config file"
[ -x "$prefix/bin/remuxion" ] || fail "the remuxion program is not installed"
if [ -f "$(dirname "$0")/../../src/caps/LossLess_xml.xml" ]; then
  [ -f "$libdir/LossLess_xml.xml" ] || fail "LossLess_xml.xml is not beside the library"
fi

# A sanitizer build of the library needs hosts built the same way.
sanitize=""
if readelf -d "$library" | grep -q 'libasan'; then sanitize="-fsanitize=address,undefined"; fi

# 1. CMake: find_package(KX_Remuxion).
quiet cmake -S "$examples" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize"
quiet cmake --build "$work/cmake-build"
# 2. pkg-config, from the installed .pc alone.
flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs KX_Remuxion) || fail "pkg-config does not know KX_Remuxion"
quiet cc -std=c11 $sanitize "$examples/split_host.c" $flags -o "$work/split_host_pc"

check_clips() {  # folder, expected count
  local count=0 frames=0 f n
  for f in "$1"/*; do
    count=$((count + 1))
    n=$(ffprobe -v error -select_streams v -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$f")
    [ "${n:-0}" -gt 0 ] || fail "$f holds no decodable video"
    first=$(ffprobe -v error -select_streams v -show_entries packet=flags -of csv=p=0 "$f" | awk "NR == 1")
    [ "$first" = "K_" ] || fail "$f does not start with a key frame ($first)"
    frames=$((frames + n))
  done
  [ "$count" -eq "$2" ] || fail "$count clips in $1, expected $2"
  [ "$frames" -ge 250 ] || fail "the clips of $1 hold $frames frames, fewer than the input's 250"
}

mkdir -p "$work/out-cmake" "$work/out-pc"
"$work/cmake-build/split_host" "$fixture" "$work/out-cmake" 4 > "$work/run.txt" || { cat "$work/run.txt"; fail "split_host (CMake build)"; }
grep -q "^wrote " "$work/run.txt" || fail "split_host named no outputs"
check_clips "$work/out-cmake" 3
LD_LIBRARY_PATH=$libdir "$work/split_host_pc" "$fixture" "$work/out-pc" 5 > /dev/null || fail "split_host (pkg-config build)"
check_clips "$work/out-pc" 2

# The installed program finds the installed library on its own.
"$prefix/bin/remuxion" info "$fixture" > "$work/info.txt" || { cat "$work/info.txt"; fail "installed remuxion info"; }
grep -q "video  h264" "$work/info.txt" || fail "installed remuxion info shows no H.264 stream"
echo "example host and installed package: ok"
