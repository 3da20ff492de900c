#!/usr/bin/env bash
# The main job on a fresh machine: install, build, make a 30 s 720p
# H.264 + AAC sample (unless a file is given), split it into three clips,
# merge them back, and show what came out.
#   scripts/demo.sh [FILE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > build.configure.log 2>&1 || { cat build.configure.log; exit 1; }
ninja -C build

cli=build/remuxion
if [ ! -x "$cli" ]; then
  echo "demo: the remuxion host program is not part of this build yet" >&2
  exit 1
fi

out=build/demo
mkdir -p "$out"
input=${1:-}
if [ -z "$input" ]; then
  input=$out/sample_720p.mp4
  if [ ! -f "$input" ]; then
    echo "Making a 30 s 720p H.264 + AAC sample: $input"
    ffmpeg -nostdin -hide_banner -loglevel error -y \
      -f lavfi -i "testsrc2=size=1280x720:rate=30:duration=30" \
      -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=30" \
      -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 60 -c:a aac -b:a 128k "$input"
  fi
fi

# ffprobe must read every output without a complaint and decode its pictures.
check() {
  local f=$1 errors frames
  errors=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$f" 2>&1 >/dev/null)
  frames=$(ffprobe -v error -select_streams v -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$f" 2>/dev/null)
  if [ -n "$errors" ] || [ "${frames:-0}" -eq 0 ]; then
    echo "demo: ffprobe does not accept $f: ${errors:-no pictures}" >&2
    exit 1
  fi
  echo "ffprobe: $f: $frames pictures"
}

# Cut points at a third and two thirds of the input (10 s and 20 s for the sample).
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$input")
cuts=$(awk -v d="$duration" 'BEGIN { printf "%.3f,%.3f", d / 3, 2 * d / 3 }')
rm -rf "$out/clips" && mkdir -p "$out/clips"
echo "== split $input into three clips"
"$cli" split "$input" -o "$out/clips" --at "$cuts"
mapfile -t clips < <(ls "$out"/clips/* | sort)
for clip in "${clips[@]}"; do check "$clip"; done
if [ -z "${1:-}" ]; then
  echo "== merge the clips back"
  "$cli" merge "${clips[@]}" -o "$out/merged.mp4" --overwrite
  check "$out/merged.mp4"
  echo "== info"
  "$cli" info "${clips[@]}" "$out/merged.mp4"
else
  echo "== info"
  "$cli" info "${clips[@]}"
fi
