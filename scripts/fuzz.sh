#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each for a
# while; prints per target the inputs executed and the findings.
#   scripts/fuzz.sh [seconds] [target...]   default 30 s each, every target
# Findings (crash-*, leak-*, timeout-*, oom-* inputs) land in
# build-fuzz/findings/<target>/; replay one with build-fuzz/fuzz_<target> FILE.
# The corpus each run grows is kept in build-fuzz/corpus/<target>/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-30}
shift || true
all_targets=(h264_keyframe find_nal_unit parameter_sets parameter_set_ids avcc_append length_prefixes picture_order
             caps_xml container_choice media_file media_reader video_keyframe flac_frame time_text movtext_header
             hevc_sets h264_splice unreferenced_picture)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")

# clang's libFuzzer and sanitizer runtimes come in a package of their own,
# only recommended by clang: install it when a fuzzer cannot be linked.
can_link_fuzzer() {
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' |
    clang++ -x c++ -fsanitize=fuzzer,address,undefined - -o /tmp/kx_fuzz_probe.$$ > /dev/null 2>&1
  local ok=$?
  rm -f /tmp/kx_fuzz_probe.$$
  return $ok
}
if ! can_link_fuzzer; then
  major=$(clang++ -dumpversion | cut -d. -f1)
  echo "Installing libclang-rt-$major-dev (libFuzzer runtime)"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "libclang-rt-$major-dev" ||
    { $sudo apt-get update && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "libclang-rt-$major-dev"; }
  can_link_fuzzer || { echo "clang cannot link a libFuzzer target"; exit 1; }
fi

build=build-fuzz
echo "== building the fuzz targets in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKX_FUZZ=ON -DKX_BUILD_TESTS=OFF -DKX_WERROR=ON \
  > "$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
ninja -C "$build" -j "$(nproc)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
summary=()
total_findings=0
for target in "${targets[@]}"; do
  binary="$build/fuzz_$target"
  [ -x "$binary" ] || { echo "no fuzz target '$target'"; exit 2; }
  seeds="tests/fuzz/corpus/$target"
  case "$target" in media_file|media_reader) seeds="$build/fuzz_seeds/media_file" ;; esac
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings"
  options=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$findings/")
  case "$target" in
    media_file|media_reader) options+=(-max_len=131072) ;;
    caps_xml|container_choice) options+=(-dict=tests/fuzz/caps_xml.dict) ;;
  esac
  echo "== fuzz_$target for ${seconds} s"
  log="$build/fuzz_$target.log"
  set +e
  "$binary" "${options[@]}" "$corpus" "$seeds" > "$log" 2>&1
  status=$?
  set -e
  execs=$(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  found=$(find "$findings" -type f | wc -l)
  if [ "$status" -ne 0 ] && [ "$found" -eq 0 ]; then
    found=1  # died without leaving an input: show the log
  fi
  if [ "$found" -gt 0 ]; then
    grep -E -A30 'ERROR:|runtime error|property failed|deadly signal' "$log" | head -60 || tail -40 "$log"
    find "$findings" -type f
  fi
  total_findings=$((total_findings + found))
  summary+=("$(printf '%-18s %10s execs %3d findings  corpus %d' "$target" "${execs:-?}" "$found" \
               "$(find "$corpus" -type f | wc -l)")")
done

echo "== fuzz summary (${seconds} s per target)"
printf '%s\n' "${summary[@]}"
[ "$total_findings" -eq 0 ]
