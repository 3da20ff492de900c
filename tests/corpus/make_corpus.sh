#!/usr/bin/env bash
# Makes the end-to-end corpus: short files made the way people's files are
# made (ffmpeg with the usual encoders into the usual containers, some
# finished by mkvmerge), plus dub.m4a for the mix job. Cached: a file that
# exists is kept; each file is written under a temporary name and renamed, so
# an interrupted run never leaves a half file behind.
# Usage: make_corpus.sh OUTPUT_DIR
set -euo pipefail
out=${1:?output folder}
mkdir -p "$out"
cd "$out"

# Bump to remake every file after a change below.
version=1
if [ "$(cat .version 2>/dev/null)" != "$version" ]; then
  rm -f -- ./*.mp4 ./*.mov ./*.mkv ./*.webm ./*.ts ./*.m2ts ./*.avi ./*.flv ./*.mpg ./*.m4a ./*.flac \
    .long_* .plain_* .tmp.* .subs_* .meta_*
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

# subs SECONDS NAME: SubRip cues of 0.8 s every 1.2 s from 0.9 s, so that cuts
# at key frames 2 s apart fall both between cues and inside them; each cue's
# text is its own.
subs() {
  local i=0 t
  for ((t = 900; t + 800 <= $1 * 1000; t += 1200)); do
    i=$((i + 1))
    printf '%d\n%s --> %s\nLine %d of the %s track\n\n' "$i" "$(srt_time $t)" "$(srt_time $((t + 800)))" "$i" "$2"
  done
}
srt_time() { printf '00:00:%02d,%03d' $(($1 / 1000)) $(($1 % 1000)); }
[ -f .subs_fra.srt ] || subs 9 French > .subs_fra.srt
[ -f .subs_eng.srt ] || subs 8 English > .subs_eng.srt

# A file title and chapters; the judge's cuts, at a third and two thirds,
# fall inside the first and the last chapter.
[ -f .meta_chapters.txt ] || cat > .meta_chapters.txt <<'META'
;FFMETADATA1
title=Corpus sample: three languages
[CHAPTER]
TIMEBASE=1/1000
START=0
END=2500
title=Opening
[CHAPTER]
TIMEBASE=1/1000
START=2500
END=5200
title=Middle part
[CHAPTER]
TIMEBASE=1/1000
START=5200
END=9000
title=Ending
META

# Several tracks the way a film is kept: sound in two languages, forced
# subtitles, names.
mk h264_aac_ac3_srt_chapters.mkv -f lavfi -i "$(pic 9)" -f lavfi -i "$(noise 9)" -f lavfi -i "$(noise 9 48000 8)" \
   -i .subs_fra.srt -i .meta_chapters.txt -map 0:v -map 1:a -map 2:a -map 3:s -map_metadata 4 -map_chapters 4 \
   $x264 -g 50 $aac -c:a:1 ac3 -b:a:1 192k -c:s srt \
   -metadata:s:v:0 language=eng -metadata:s:a:0 language=eng -metadata:s:a:0 title="English stereo" \
   -metadata:s:a:1 language=deu -metadata:s:a:1 title="Deutsch (AC-3)" \
   -metadata:s:s:0 language=fra -metadata:s:s:0 title="Français forcé" \
   -disposition:v:0 default -disposition:a:0 default -disposition:a:1 0 -disposition:s:0 forced
mk h264_aac_movtext.mp4 -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8)" -i .subs_eng.srt -map 0:v -map 1:a -map 2:s \
   $x264 -g 50 $aac -c:s mov_text -metadata:s:a:0 language=eng -metadata:s:s:0 language=eng

# HEVC as phones write it: hvc1 in MP4, closed groups, turned a quarter by
# the track matrix, colours described; and as encoded for keeping: 10-bit HDR
# in Matroska, x265's open groups (leading pictures before each CRA key frame
# refer to the group before), its mastering display described by mkvmerge as
# such files are.
x265="-c:v libx265 -preset ultrafast -b:v 300k -x265-params log-level=error:bframes=3"
# rotate_track FILE: the first track with a picture size gets a 90 degree matrix.
rotate_track() {
  python3 - "$1" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
at = 0
while (at := data.find(b"tkhd", at + 1)) > 0:
    body = at + 4 + (36 if data[at + 4] == 1 else 24) + 16
    if struct.unpack(">II", data[body + 36:body + 44]) != (0, 0):
        data[body:body + 36] = struct.pack(">9i", 0, 1 << 16, 0, -(1 << 16), 0, 0, 0, 0, 1 << 30)
        break
open(sys.argv[1], "wb").write(data)
PY
}
if [ ! -f hevc_bframes_aac_rotated.mp4 ]; then
  ff -f lavfi -i "$(pic 6 320x240 30)" -f lavfi -i "$(noise 6)" $x265:open-gop=0 -g 60 -tag:v hvc1 \
     -color_primaries bt709 -color_trc bt709 -colorspace bt709 -color_range tv $aac .tmp.hevc_bframes_aac_rotated.mp4
  rotate_track .tmp.hevc_bframes_aac_rotated.mp4
  mv .tmp.hevc_bframes_aac_rotated.mp4 hevc_bframes_aac_rotated.mp4
fi
hdr="hdr10=1:master-display=G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,1):max-cll=1000,400"
mk .plain_hevc10_hdr_eac3.mkv -f lavfi -i "$(pic 6 320x240 24000/1001)" -f lavfi -i "$(noise 6)" $x265:$hdr -g 48 \
   -pix_fmt yuv420p10le -color_primaries bt2020 -color_trc smpte2084 -colorspace bt2020nc -color_range tv \
   -c:a eac3 -b:a 192k -ac 2
if [ ! -f hevc10_hdr_eac3.mkv ]; then
  if command -v mkvmerge >/dev/null; then
    mkvmerge -q -o .tmp.hevc10_hdr_eac3.mkv --max-content-light 0:1000 --max-frame-light 0:400 \
      --chromaticity-coordinates 0:0.68,0.32,0.265,0.69,0.15,0.06 --white-colour-coordinates 0:0.3127,0.329 \
      --max-luminance 0:1000 --min-luminance 0:0.0001 .plain_hevc10_hdr_eac3.mkv
    mv .tmp.hevc10_hdr_eac3.mkv hevc10_hdr_eac3.mkv
  else
    cp .plain_hevc10_hdr_eac3.mkv hevc10_hdr_eac3.mkv
  fi
fi

# Web video: VP9 with Opus in WebM, AV1 with AAC in MP4 by whichever AV1
# encoder this ffmpeg has (the fastest settings of each).
mk vp9_opus.webm -f lavfi -i "$(pic 8)" -f lavfi -i "$(noise 8)" -c:v libvpx-vp9 -deadline realtime -cpu-used 8 \
   -b:v 300k -g 50 -c:a libopus -b:a 96k
encoders=$(ffmpeg -hide_banner -encoders 2>/dev/null)
av1=
if grep -qw libsvtav1 <<<"$encoders"; then av1="-c:v libsvtav1 -preset 12"
elif grep -qw libaom-av1 <<<"$encoders"; then av1="-c:v libaom-av1 -usage realtime -cpu-used 10"
elif grep -qw librav1e <<<"$encoders"; then av1="-c:v librav1e -speed 10"
fi
if [ -n "$av1" ]; then
  SVT_LOG=1 mk av1_aac.mp4 -f lavfi -i "$(pic 6)" -f lavfi -i "$(noise 6)" $av1 -b:v 300k -g 50 $aac
else
  echo "make_corpus: no AV1 encoder in this ffmpeg, av1_aac.mp4 left out" >&2
fi

# Older kinds: MPEG-2 in a program stream with MP2, 16:9 on a 4:3 size (as
# DVD and television recordings have it); Motion JPEG with PCM in AVI, as
# cameras write it.
mk mpeg2_mp2.mpg -f lavfi -i "$(pic 6 352x288)" -f lavfi -i "$(noise 6)" -c:v mpeg2video -b:v 600k \
   -maxrate 1500k -bufsize 1000k -g 12 -bf 2 -aspect 16:9 -c:a mp2 -b:a 192k -ac 2 -f vob
mk mjpeg_pcm.avi -f lavfi -i "$(pic 4)" -f lavfi -i "$(noise 4 32000)" -c:v mjpeg -q:v 16 -pix_fmt yuvj420p \
   -c:a pcm_s16le -ac 1

# Sound alone, as music and recordings are kept.
mk aac_only.m4a -f lavfi -i "$(noise 8 44100 5)" $aac
mk flac_only.flac -f lavfi -i "$(noise 6 44100 6)" -c:a flac -ac 1
