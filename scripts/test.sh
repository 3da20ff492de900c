#!/usr/bin/env bash
# Builds and runs every test.
#   scripts/test.sh             release build, all tests
#   scripts/test.sh --sanitize  also an AddressSanitizer + UndefinedBehaviorSanitizer build
#   scripts/test.sh --fuzz      also a short run of every libFuzzer target (scripts/fuzz.sh)
#   scripts/test.sh --ci        what CI runs: both of the above, then the threading
#                               tests under ThreadSanitizer, then 25 s of each fuzz target
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh

mode=${1:-}
jobs=$(nproc)

build_and_test() {  # folder, ctest filter, cmake options...
  local dir=$1 filter=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja -DKX_WERROR=ON "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
  ninja -C "$dir"
  local args=(--test-dir "$dir" --output-on-failure -j "$jobs")
  [ -n "$filter" ] && args+=(-R "$filter")
  ctest "${args[@]}"
}

mkdir -p build
echo "== release build"
build_and_test build "" -DCMAKE_BUILD_TYPE=RelWithDebInfo

if [ "$mode" = "--sanitize" ] || [ "$mode" = "--ci" ]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  build_and_test build-asan "" -DCMAKE_BUILD_TYPE=Debug -DKX_SANITIZE=ON
fi
if [ "$mode" = "--ci" ]; then
  echo "== ThreadSanitizer (threading tests)"
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  build_and_test build-tsan "Thread|Task|Event|Concurren" -DCMAKE_BUILD_TYPE=Debug -DKX_TSAN=ON
fi
if [ "$mode" = "--fuzz" ] || [ "$mode" = "--ci" ]; then
  echo "== libFuzzer targets (${KX_FUZZ_SECONDS:-25} s each)"
  bash scripts/fuzz.sh "${KX_FUZZ_SECONDS:-25}"
fi
