#!/usr/bin/env bash
# Makes the end-to-end corpus: short files made the way people's files are
# made (ffmpeg with libx264 into the usual containers, one by mkvmerge), plus
# dub.m4a for the mix job. Cached: a file that exists is kept; each file is
# written under a temporary name and renamed, so an interrupted run never
# leaves a half file behind.
# Usage: make_corpus.sh OUTPUT_DIR
set -euo pipefail
out=${1:?output folder}
mkdir -p "$out"
cd "$out"

# Bump to remake every file after a change below.
version=1
if [ "$(cat .version 2>/dev/null)" != "$version" ]; then
  rm -f -- ./*.mp4 ./*.mov ./*.mkv ./*.ts ./*.m2ts ./*.avi ./*.flv ./*.mpg ./*.m4a .long_* .tmp.*
  echo "$version" > .version
fi

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# mk NAME FFMPEG_ARGS...: runs ffmpeg with the temporary name as its output.
mk() {
  local name=$1; shift
  [ -f "$name" ] && return 0
  local tmp=".tmp.$name"   # same extension, so ffmpeg picks the same muxer
  ff "$@" "$tmp"
  mv "$tmp" "$name"
}

# Pictures: testsrc2 changes every frame, so each decoded frame has its own
# hash. Sound: noise with a fixed seed, so each audio packet has its own hash.
pic() { echo "testsrc2=size=${2:-320x240}:rate=${3:-25}:duration=$1"; }
noise() { echo "anoisesrc=sample_rate=${2:-48000}:amplitude=0.3:color=pink:seed=${3:-7}:duration=$1"; }
x264="-c:v libx264 -preset veryfast -pix_fmt yuv420p -b:v 300k"
nob="-bf 0"                          # Baseline-like: no B-frames
aac="-c:a aac -b:a 96k -ac 2"

# MP4
mk h264_aac.mp4 -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8)" $x264 $nob -g 25 $aac
mk h264_bframes_aac.mp4 -f lavfi -i "$(pic 9)" -f lavfi -i "$(noise 9)" $x264 -g 50 $aac
mk h264_opengop_aac.mp4 -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8)" $x264 -g 40 \
   -x264-params open-gop=1 $aac
# Key frames at irregular times (as scene cuts give), on top of a long interval.
mk h264_keyint_irregular_aac.mp4 -f lavfi -i "$(pic 10)" -f lavfi -i "$(noise 10)" $x264 -g 75 \
   -sc_threshold 0 -force_key_frames 0,0.72,2.28,2.6,4.92,6.4,8.84 $aac
mk h264_2997_aac51.mp4 -f lavfi -i "$(pic 8 320x240 30000/1001)" -f lavfi -i "$(noise 8)" $x264 -g 45 \
   -c:a aac -b:a 192k -ac 6
mk h264_offset10_aac.mp4 -f lavfi -i "$(pic 7)" -f lavfi -i "$(noise 7)" $x264 -g 25 $aac \
   -output_ts_offset 10
# Uneven frame spacing: a millisecond time base, and frames 25 fps on average
# but moved back and forth by up to 15 ms.
vfr=(-vf "settb=1/1000,setpts=(N/25+0.015*sin(N))/TB" -fps_mode passthrough -enc_time_base:v 1/1000)
mk h264_vfr_aac.mp4 -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8)" "${vfr[@]}" $x264 -g 40 $aac
# A cut made with -c copy: the edit list starts after the key frame.
mk .long_h264_bframes_aac.mp4 -f lavfi -i "$(pic 12 640x360)" -f lavfi -i "$(noise 12)" $x264 -g 50 $aac
mk h264_editlist_aac.mp4 -ss 2.3 -i .long_h264_bframes_aac.mp4 -c copy

# MOV
mk h264_aac44k.mov -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8 44100)" $x264 -g 50 $aac
mk h264_bframes_pcm.mov -f lavfi -i "$(pic 6)" -f lavfi -i "$(noise 6)" $x264 -g 25 -c:a pcm_s16le -ac 2

# MKV by ffmpeg, and by mkvmerge when it is installed
mk h264_bframes_aac.mkv -f lavfi -i "$(pic 9 640x360)" -f lavfi -i "$(noise 9)" $x264 -g 50 $aac
mk h264_mp3.mkv -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8)" $x264 $nob -g 30 \
   -c:a libmp3lame -b:a 128k -ac 2
mk h264_2997_ac3.mkv -f lavfi -i "$(pic 8 320x240 30000/1001)" -f lavfi -i "$(noise 8)" $x264 -g 60 \
   -c:a ac3 -b:a 192k -ac 2
mk h264_vfr_aac.mkv -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8)" "${vfr[@]}" $x264 -g 40 $aac
if command -v mkvmerge >/dev/null && [ ! -f h264_bframes_aac_mkvmerge.mkv ]; then
  mkvmerge -q -o .tmp.h264_bframes_aac_mkvmerge.mkv h264_bframes_aac.mp4
  mv .tmp.h264_bframes_aac_mkvmerge.mkv h264_bframes_aac_mkvmerge.mkv
fi

# MPEG-TS (starts at 1.4 s) and M2TS (the .m2ts name turns on 192-byte packets)
mk h264_bframes_aac.ts -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8)" $x264 -g 50 $aac
mk h264_ac3.ts -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8)" $x264 $nob -g 25 -c:a ac3 -b:a 192k -ac 2
mk h264_opengop_aac.ts -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8)" $x264 -g 40 \
   -x264-params open-gop=1 $aac
mk h264_bframes_aac.m2ts -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8)" $x264 -g 50 $aac

# AVI, FLV, MPEG-PS
mk h264_mp3.avi -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8)" $x264 $nob -g 25 \
   -c:a libmp3lame -b:a 128k -ac 2
mk h264_pcm.avi -f lavfi -i "$(pic 6)" -f lavfi -i "$(noise 6)" $x264 $nob -g 25 -c:a pcm_s16le -ac 2
mk h264_bframes_aac.flv -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8 44100)" $x264 -g 50 $aac
mk h264_bframes_mp3.mpg -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8)" $x264 -g 25 \
   -c:a libmp3lame -b:a 128k -ac 2 -f mpeg
mk h264_mp2.mpg -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8)" $x264 $nob -g 25 -c:a mp2 -b:a 128k -ac 2 -f mpeg
# Key frames far apart: the picture order count runs long between them.
mk h264_longgop_mp3.mpg -f lavfi -i "$(pic 12)" -f lavfi -i "$(noise 12)" $x264 -g 250 -keyint_min 250 \
   -sc_threshold 0 -force_key_frames 0,4.4,8.8 -c:a libmp3lame -b:a 128k -ac 2 -f mpeg

# The sound for the mix job: AAC from 0, a little longer than most videos.
mk dub.m4a -f lavfi -i "$(noise 9 48000 99)" -c:a aac -b:a 96k -ac 2
