#!/usr/bin/env bash
# Benchmark of remuxion against ffmpeg -c copy, mkvmerge and cat (the I/O floor).
#   bench/run.sh            a 300 MB 1080p file, 5 alternating rounds per job
#   bench/run.sh --quick    smoke mode: a 30 MB file, one round
#   bench/run.sh --help     the other options (--runs, --mb, --jobs, --build)
# Needs a built tree (build/remuxion) and ffmpeg/ffprobe; mkvmerge is used when installed.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exec python3 "$here/bench.py" "$@"
