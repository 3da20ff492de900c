#!/usr/bin/env bash
# Benchmark of remuxion against ffmpeg -c copy, ffprobe and mkvmerge doing the same jobs,
# every output checked by ffprobe before its time counts.
#   bench/run.sh            a 300 MB 1080p H.264 (B-frames, 5 Mbit/s) + AAC file, 5 rounds per job
#   bench/run.sh --quick    smoke run: a 30 MB file, one round, outputs still checked
#   bench/run.sh --help     the other options (--runs, --mb, --jobs, --json, --remuxion, --build)
# Needs a built tree (build/remuxion) and ffmpeg/ffprobe; mkvmerge is used when installed.
# Exit status 1 when our own outputs fail their check.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exec python3 "$here/bench.py" "$@"
