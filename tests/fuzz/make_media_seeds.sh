#!/usr/bin/env bash
# Seeds of the media fuzz target, cut from the test media: a fraction of a
# second of each, shrunk to 64x48 pictures, in the containers that the
# converter reads, and the first 4 KB of a few full-size fixtures.
# Usage: make_media_seeds.sh FIXTURE_DIR OUTPUT_DIR
set -euo pipefail
fixtures=${1:?fixture folder}
out=${2:?output folder}
version=1
[ -f "$out/.done" ] && [ "$(cat "$out/.done")" = "$version" ] && exit 0
mkdir -p "$out"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
small="-t 0.4 -vf scale=64:48 -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 5 -b:v 40k"
audio="-c:a aac -b:a 16k -ac 1 -ar 16000"

ff -i "$fixtures/h264_aac.mp4" $small -bf 0 $audio -movflags +faststart "$out/small.mp4"
ff -i "$fixtures/h264_bframes_opengop.mp4" $small -bf 2 $audio "$out/small_bframes.mp4"
ff -i "$out/small.mp4" -c copy "$out/small.mkv"
ff -i "$out/small.mp4" -c copy "$out/small.ts"
ff -i "$out/small.mp4" -c:v copy -bsf:v h264_mp4toannexb -an -f h264 "$out/small.h264"
ff -i "$fixtures/h264_mp3.avi" $small -bf 0 -c:a libmp3lame -b:a 32k -ac 1 -ar 22050 "$out/small.avi"
ff -i "$fixtures/mpeg1.mpg" -t 0.4 -vf scale=64:48 -c:v mpeg1video -b:v 100k -g 5 -c:a mp2 -b:a 32k -ac 1 \
   -f mpeg "$out/small.mpg"
for name in h264_aac.mp4 h264_aac.ts h264_aac.mkv; do
  head -c 4096 "$fixtures/$name" > "$out/head_$name"
done
echo "$version" > "$out/.done"
