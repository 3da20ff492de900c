#!/usr/bin/env python3
"""Times remuxion against ffmpeg -c copy, ffprobe and mkvmerge doing the same jobs.

The media (made once, kept under BUILD/bench/): a 1080p25 H.264 High-profile
file with B-frames at about 5 Mbit/s plus AAC stereo, at least --mb MB, as MP4,
MKV and TS; three files to merge (MP4 and MKV); a video-only MP4 and an
audio-only M4A to mix.

Each job runs every tool once untimed (the inputs come into the page cache),
and ffprobe checks what each wrote: the video and audio packets of the source,
all of them, repeated only where a cut allows it, and the pieces of a split in
order without a gap. A tool that fails is reported as FAILED with its reason
and its time counts nowhere; if we fail, the bench exits with status 1. Then
--runs rounds with the tools taking turns in a rotating order. Reported per tool: median wall time, median CPU time (user +
system of the child) and peak RSS; and the ratios us/ffmpeg and us/mkvmerge.

This is a measuring tool, not a test: it is never run by ctest.
"""
import argparse
import os
import shutil
import subprocess
import sys

import jobs as job_list
import media as media_files
import report
import runner
import targets

QUICK_MB = 30
QUICK_PIECE_SECONDS = 10
PIECE_SECONDS = 60


def log(text):
    print(text, file=sys.stderr, flush=True)


def parse_args(here):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(here, "..", "build"),
                        help="build folder; the media is kept in BUILD/bench (default: build)")
    parser.add_argument("--remuxion", help="the program to time (default: BUILD/remuxion)")
    parser.add_argument("--mb", type=int, default=300, help="least size of the source file in MB (default 300)")
    parser.add_argument("--runs", type=int, default=5, help="timed rounds per job; medians are shown (default 5)")
    parser.add_argument("--piece-size", default="100M", help="size of the --size pieces (default 100M)")
    parser.add_argument("--jobs", default="",
                        help="comma-separated: job ids (split-mkv), kinds (split, size, merge, mix, keyframes, info, exact) "
                             "or containers (mp4, mkv, ts); default all")
    parser.add_argument("--json", metavar="FILE", help="also write every number to FILE")
    parser.add_argument("--quick", action="store_true",
                        help="smoke run: a %d MB file, one round, pieces of a third; outputs are still checked"
                             % QUICK_MB)
    return parser.parse_args()


def required_tools(remuxion):
    if not os.access(remuxion, os.X_OK):
        raise SystemExit("no %s: build first (cmake -S . -B build -G Ninja && ninja -C build remuxion)" % remuxion)
    for tool in ("ffmpeg", "ffprobe"):
        if not shutil.which(tool):
            raise SystemExit("%s is needed" % tool)
    return shutil.which("mkvmerge")


def quick_piece_size(media):
    mib = os.path.getsize(media.sources["mp4"]) / 3 / (1024 * 1024)
    return "%dM" % max(1, round(mib))


def build_read_floor(here, root):
    """The read-floor program (read_floor.c) built against FFmpeg's libraries, or None where it cannot be."""
    binary = os.path.join(root, "read_floor")
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "libavformat", "libavcodec", "libavutil"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    if flags.returncode != 0:
        log("no read floor: pkg-config does not find FFmpeg's libraries")
        return None
    built = subprocess.run(["cc", "-O2", os.path.join(here, "read_floor.c"), "-o", binary] +
                           flags.stdout.decode().split(), stderr=subprocess.PIPE)
    if built.returncode != 0:
        log("no read floor: " + built.stderr.decode(errors="replace").strip())
        return None
    return binary


def chosen_jobs(all_jobs, selection):
    words = [w.strip() for w in selection.split(",") if w.strip()]
    if not words:
        return all_jobs
    chosen = [job for job in all_jobs if job.matches(words)]
    if not chosen:
        raise SystemExit("no job matches %s; jobs: %s" % (selection, ", ".join(j.id for j in all_jobs)))
    return chosen


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    args = parse_args(here)
    piece_seconds = PIECE_SECONDS
    if args.quick:
        args.mb, args.runs, piece_seconds = QUICK_MB, 1, QUICK_PIECE_SECONDS
    build = os.path.abspath(args.build)
    remuxion = os.path.abspath(args.remuxion or os.path.join(build, "remuxion"))
    mkvmerge = required_tools(remuxion)

    root = os.path.join(build, "bench")
    media = media_files.make_media(root, args.mb, piece_seconds)
    piece_size = quick_piece_size(media) if args.quick else args.piece_size
    lists = os.path.join(root, "lists")
    os.makedirs(lists, exist_ok=True)
    read_floor = build_read_floor(here, root)
    jobs = chosen_jobs(job_list.all_jobs(remuxion, media, os.path.join(root, "out"), mkvmerge, piece_size, lists,
                                         read_floor), args.jobs)

    machine = report.machine(mkvmerge)
    load_before = os.getloadavg()
    print(report.machine_line(machine))
    print(report.load_line("before", load_before))
    print("\n".join(report.media_lines(media)))
    print("timed rounds per job: %d, after a warm-up run whose outputs are checked; the tools take turns in a "
          "rotating order" % args.runs)
    print("allowed at each cut of a split: %d repeated audio packet and the leading pictures of an open group "
          "(this media: %d, closed groups); --size pieces also an overlap under %.0f s"
          % (job_list.AUDIO_REPEATS_PER_CUT, media.described(media.sources["mp4"])["leading_pictures"],
             job_list.SIZE_OVERLAP_SECONDS))

    results = []
    for job in jobs:
        log("running: " + job.name)
        result = runner.run_job(job, args.runs)
        results.append(result)
        print("\n".join(report.job_lines(result)), flush=True)
    load_after = os.getloadavg()

    print()
    print("\n".join(report.table_lines(results)))
    print()
    print("cells: wall / CPU seconds (medians) and their ratios; key-frame and info rows: ffprobe in the ffmpeg "
          "columns")
    print(targets.describe() + " misses: %d" % sum(report.misses(r) for r in results))
    print(report.load_line("after", load_after))
    if args.json:
        report.write_json(args.json, machine, (load_before, load_after), media, args.runs, results)

    ours_failed = [r.job.name for r in results if not r.tools["us"].ok]
    if ours_failed:
        print("FAILED (ours): " + ", ".join(ours_failed))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
