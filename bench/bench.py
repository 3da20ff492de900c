#!/usr/bin/env python3
"""Times remuxion against ffmpeg -c copy (and mkvmerge where installed), with
`cat FILE > OUT` as the I/O floor.

Makes its test media once (cached under BUILD/bench/media-<MB>): a 1080p
H.264 + AAC MP4 of at least --mb megabytes (a short ultrafast encode,
concatenated with the concat demuxer -c copy), MKV and TS copies of it, three
files to merge, and a video-only MP4 and an audio-only M4A to mix. Then every
job runs --runs times; within each round the tools take turns (us, ffmpeg,
mkvmerge, cat, in a rotating order) so that load from other work on the
machine falls on all of them alike. Prints the median wall time per tool, the
ratios us/ffmpeg (of the medians, and of each tool's fastest run) and us/cat,
and our peak RSS.

This is a measuring tool, not a test: it is never run by ctest. --quick is the
smoke mode (a small file, one round).
"""
import argparse
import math
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

MIB = 1024 * 1024

# Targets the numbers are held against.
TARGET_VS_FFMPEG = 0.9
TARGET_VS_CAT = 1.5
TARGET_RSS_MB = 64


def log(text):
    print(text, file=sys.stderr, flush=True)


def run_quiet(cmd, **kwargs):
    result = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kwargs)
    if result.returncode != 0:
        raise SystemExit("failed (%d): %s\n%s" % (result.returncode, " ".join(cmd), result.stderr.decode(errors="replace")))


def probe_duration(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path],
                         stdout=subprocess.PIPE, check=True).stdout.decode().strip()
    return float(out)


# --------------------------------------------------------------------------
# Test media


class Media:
    def __init__(self, folder):
        self.folder = folder
        self.segment = os.path.join(folder, "segment.mp4")
        self.mp4 = os.path.join(folder, "big.mp4")
        self.mkv = os.path.join(folder, "big.mkv")
        self.ts = os.path.join(folder, "big.ts")
        self.parts = [os.path.join(folder, "part_%s.mp4" % c) for c in "abc"]
        self.video = os.path.join(folder, "video_only.mp4")
        self.audio = os.path.join(folder, "audio_only.m4a")
        self.done = os.path.join(folder, "complete")


def concat_copies(segment, copies, out, scratch):
    listing = scratch + ".txt"
    with open(listing, "w") as f:
        for _ in range(copies):
            f.write("file '%s'\n" % os.path.abspath(segment))
    run_quiet(["ffmpeg", "-v", "error", "-y", "-f", "concat", "-safe", "0", "-i", listing, "-map", "0", "-c", "copy", out])
    os.remove(listing)


def make_media(root, megabytes, segment_seconds):
    media = Media(os.path.join(root, "media-%dMB" % megabytes))
    if os.path.exists(media.done):
        return media
    os.makedirs(media.folder, exist_ok=True)
    log("making test media in %s (once)" % media.folder)
    # Light noise keeps the encoder from coasting: about 16 Mbit/s at CRF 19,
    # a usual rate for 1080p, so the packet count is realistic too.
    run_quiet(["ffmpeg", "-v", "error", "-y",
               "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25,noise=alls=3:allf=t",
               "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
               "-t", str(segment_seconds), "-map", "0:v", "-map", "1:a",
               "-c:v", "libx264", "-preset", "ultrafast", "-crf", "19", "-g", "50", "-pix_fmt", "yuv420p",
               "-c:a", "aac", "-b:a", "192k", "-ac", "2", media.segment])
    copies = max(1, math.ceil(megabytes * 1_000_000 / os.path.getsize(media.segment)))
    concat_copies(media.segment, copies, media.mp4, os.path.join(media.folder, "list_big"))
    run_quiet(["ffmpeg", "-v", "error", "-y", "-i", media.mp4, "-map", "0", "-c", "copy", media.mkv])
    run_quiet(["ffmpeg", "-v", "error", "-y", "-i", media.mp4, "-map", "0", "-c", "copy", media.ts])
    # Three files that add up to about the big one.
    concat_copies(media.segment, max(1, math.ceil(copies / 3)), media.parts[0], os.path.join(media.folder, "list_part"))
    for other in media.parts[1:]:
        shutil.copyfile(media.parts[0], other)
    run_quiet(["ffmpeg", "-v", "error", "-y", "-i", media.mp4, "-map", "0:v", "-c", "copy", media.video])
    run_quiet(["ffmpeg", "-v", "error", "-y", "-i", media.mp4, "-map", "0:a", "-c", "copy", media.audio])
    os.remove(media.segment)
    open(media.done, "w").close()
    return media


# --------------------------------------------------------------------------
# Jobs: for each, the command line of every tool, all writing under `out`.


class Job:
    def __init__(self, name, inputs, tools):
        self.name = name
        self.inputs = inputs  # for the size column
        self.tools = tools    # tool name -> (argv, stdout path or None)


def extension(path):
    return os.path.splitext(path)[1]


def split_time_job(remuxion, source, out, mkvmerge):
    duration = probe_duration(source)
    cuts = ["%.3f" % (duration * k / 4) for k in (1, 2, 3)]
    ext = extension(source)
    tools = {
        "us": ([remuxion, "split", source, "-o", out, "--at", ",".join(cuts), "--quiet"], None),
        "ffmpeg": (["ffmpeg", "-v", "error", "-i", source, "-map", "0", "-c", "copy", "-f", "segment",
                    "-segment_times", ",".join(cuts), "-reset_timestamps", "1",
                    os.path.join(out, "clip_%03d" + ext)], None),
        "cat": (["cat", source], os.path.join(out, "copy" + ext)),
    }
    if mkvmerge:
        tools["mkvmerge"] = ([mkvmerge, "-q", "-o", os.path.join(out, "clip.mkv"),
                              "--split", "timestamps:" + ",".join(c + "s" for c in cuts), source], None)
    return Job("split 4 clips " + ext[1:], [source], tools)


def split_size_job(remuxion, source, out, mkvmerge, piece_bytes):
    # ffmpeg cannot cut by size; its segment muxer cuts by the time that
    # holds that many bytes at the file's mean rate, in one pass.
    seconds = probe_duration(source) * piece_bytes / os.path.getsize(source)
    ext = extension(source)
    tools = {
        "us": ([remuxion, "split", source, "-o", out, "--size", str(piece_bytes), "--quiet"], None),
        "ffmpeg": (["ffmpeg", "-v", "error", "-i", source, "-map", "0", "-c", "copy", "-f", "segment",
                    "-segment_time", "%.3f" % seconds, "-reset_timestamps", "1",
                    os.path.join(out, "piece_%03d" + ext)], None),
        "cat": (["cat", source], os.path.join(out, "copy" + ext)),
    }
    if mkvmerge:
        tools["mkvmerge"] = ([mkvmerge, "-q", "-o", os.path.join(out, "piece.mkv"),
                              "--split", "size:%d" % piece_bytes, source], None)
    name = "split %dM pieces %s" % (round(piece_bytes / MIB), ext[1:])
    return Job(name, [source], tools)


def merge_job(remuxion, parts, out, scratch):
    listing = os.path.join(scratch, "merge_list.txt")
    with open(listing, "w") as f:
        for part in parts:
            f.write("file '%s'\n" % os.path.abspath(part))
    merged = os.path.join(out, "merged.mp4")
    tools = {
        "us": ([remuxion, "merge"] + parts + ["-o", merged, "--quiet"], None),
        "ffmpeg": (["ffmpeg", "-v", "error", "-f", "concat", "-safe", "0", "-i", listing, "-map", "0", "-c", "copy",
                    merged], None),
        "cat": (["cat"] + parts, merged),
    }
    return Job("merge 3 files mp4", parts, tools)


def mix_job(remuxion, video, audio, out):
    mixed = os.path.join(out, "mixed.mp4")
    tools = {
        "us": ([remuxion, "mix", video, audio, "-o", mixed, "--quiet"], None),
        "ffmpeg": (["ffmpeg", "-v", "error", "-i", video, "-i", audio, "-map", "0:v", "-map", "1:a", "-c", "copy",
                    mixed], None),
        "cat": (["cat", video, audio], mixed),
    }
    return Job("mix video + audio mp4", [video, audio], tools)


def keyframes_job(remuxion, source):
    tools = {
        "us": ([remuxion, "keyframes", source, "--quiet"], os.devnull),
        "ffprobe": (["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries", "packet=pts_time,flags",
                     "-show_packets", source], os.devnull),
        "cat": (["cat", source], os.devnull),
    }
    return Job("key-frame index " + extension(source)[1:], [source], tools)


# --------------------------------------------------------------------------
# Timing


def timed_run(argv, stdout_path):
    """Wall seconds and peak RSS (MiB) of one run; fails loudly on a non-zero exit."""
    out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
    try:
        start = time.perf_counter()
        child = subprocess.Popen(argv, stdout=out, stderr=subprocess.PIPE)
        # wait4 gives this child's own rusage; stderr is small (errors only).
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        err = child.stderr.read()
        child.stderr.close()
    finally:
        if stdout_path:
            out.close()
    if child.returncode != 0:
        raise SystemExit("failed (%d): %s\n%s" % (child.returncode, " ".join(argv), err.decode(errors="replace")))
    return wall, usage.ru_maxrss / 1024.0


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)


def time_job(job, out, runs):
    names = list(job.tools)
    walls = {name: [] for name in names}
    rss = {name: [] for name in names}
    for round_index in range(runs):
        # Rotate who goes first, so that none always follows the same neighbour.
        order = names[round_index % len(names):] + names[:round_index % len(names)]
        for name in order:
            fresh(out)
            os.sync()  # write-back of the last run is not charged to this one
            argv, stdout_path = job.tools[name]
            wall, peak = timed_run(argv, stdout_path)
            walls[name].append(wall)
            rss[name].append(peak)
    fresh(out)
    medians = {name: statistics.median(walls[name]) for name in names}
    fastest = {name: min(walls[name]) for name in names}
    return medians, fastest, {name: max(rss[name]) for name in names}


def machine_note():
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    memory = ""
    try:
        with open("/proc/meminfo") as f:
            memory = "%.0f GiB" % (int(f.readline().split()[1]) / 1024 / 1024)
    except (OSError, ValueError, IndexError):
        pass
    ffmpeg = subprocess.run(["ffmpeg", "-version"], stdout=subprocess.PIPE).stdout.decode().split("\n")[0]
    return "%d cores, %s, %s, %s; %s" % (os.cpu_count() or 0, cpu, memory, platform.platform(), ffmpeg)


def fmt_ratio(value, target):
    if value is None:
        return "-"
    return "%.2f%s" % (value, "" if value <= target else " !")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(here, "..", "build"), help="build folder (default: build)")
    parser.add_argument("--mb", type=int, default=300, help="least size of the test MP4 in MB (default 300)")
    parser.add_argument("--runs", type=int, default=5, help="rounds per job; medians are shown (default 5)")
    parser.add_argument("--piece-mb", type=int, default=200, help="piece size of the size split in MiB (default 200)")
    parser.add_argument("--jobs", default="", help="comma-separated words; only jobs whose name holds one of them")
    parser.add_argument("--quick", action="store_true", help="smoke mode: a 30 MB file, one round, pieces of a third")
    args = parser.parse_args()

    segment_seconds = 30
    if args.quick:
        args.mb, args.runs, segment_seconds = 30, 1, 5
    build = os.path.abspath(args.build)
    remuxion = os.path.join(build, "remuxion")
    if not os.access(remuxion, os.X_OK):
        raise SystemExit("no %s: build first (cmake -S . -B build -G Ninja && ninja -C build)" % remuxion)
    for tool in ("ffmpeg", "ffprobe", "cat"):
        if not shutil.which(tool):
            raise SystemExit("%s is needed" % tool)
    mkvmerge = shutil.which("mkvmerge")

    root = os.path.join(build, "bench")
    media = make_media(root, args.mb, segment_seconds)
    out = os.path.join(root, "out")
    piece_bytes = args.piece_mb * MIB
    if args.quick:
        piece_bytes = max(MIB, os.path.getsize(media.mp4) // 3)

    jobs = [
        split_time_job(remuxion, media.mp4, out, mkvmerge),
        split_time_job(remuxion, media.mkv, out, mkvmerge),
        split_time_job(remuxion, media.ts, out, mkvmerge),
        split_size_job(remuxion, media.mp4, out, mkvmerge, piece_bytes),
        split_size_job(remuxion, media.mkv, out, mkvmerge, piece_bytes),
        merge_job(remuxion, media.parts, out, root),
        mix_job(remuxion, media.video, media.audio, out),
        keyframes_job(remuxion, media.mp4),
        keyframes_job(remuxion, media.mkv),
        keyframes_job(remuxion, media.ts),
    ]
    if args.jobs:
        words = [w.strip() for w in args.jobs.split(",") if w.strip()]
        jobs = [job for job in jobs if any(w in job.name for w in words)]

    load_before = os.getloadavg()
    print("machine: " + machine_note())
    print("input: %s, %.1f MB, %.1f s; %d rounds per job, tools alternating; medians of wall time"
          % (os.path.relpath(media.mp4, os.getcwd()), os.path.getsize(media.mp4) / 1e6, probe_duration(media.mp4),
             args.runs))
    header = ("| job | MB in | us s | ffmpeg s | mkvmerge s | cat s | us/ffmpeg | fastest us/ffmpeg | us/cat "
              "| our peak RSS MB | ffmpeg's MB |")
    print()
    print(header)
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    misses = 0
    for job in jobs:
        log("timing: " + job.name)
        walls, fastest, rss = time_job(job, out, args.runs)
        us = walls["us"]
        them = walls.get("ffmpeg", walls.get("ffprobe"))
        ratio_them = us / them if them else None
        # The fastest run of each: on a shared machine the one least disturbed.
        them_fastest = fastest.get("ffmpeg", fastest.get("ffprobe"))
        ratio_fastest = fastest["us"] / them_fastest if them_fastest else None
        ratio_cat = us / walls["cat"] if walls["cat"] else None
        size_in = sum(os.path.getsize(p) for p in job.inputs) / 1e6
        mkv = "%.2f" % walls["mkvmerge"] if "mkvmerge" in walls else "-"
        them_rss = rss.get("ffmpeg", rss.get("ffprobe"))
        target = 1.0 if "ffprobe" in walls else TARGET_VS_FFMPEG
        print("| %s | %.0f | %.2f | %.2f%s | %s | %.2f | %s | %s | %s | %.0f%s | %.0f |" % (
            job.name, size_in, us, them, " (ffprobe)" if "ffprobe" in walls else "", mkv, walls["cat"],
            fmt_ratio(ratio_them, target), fmt_ratio(ratio_fastest, target), fmt_ratio(ratio_cat, TARGET_VS_CAT),
            rss["us"], "" if rss["us"] < TARGET_RSS_MB else " !", them_rss), flush=True)
        misses += (ratio_them or 0) > target
        misses += (ratio_cat or 0) > TARGET_VS_CAT
        misses += rss["us"] >= TARGET_RSS_MB
    load_after = os.getloadavg()
    print()
    print("targets: us <= %.1f x ffmpeg (key frames: <= ffprobe), us <= %.1f x cat, peak RSS < %d MB; "
          "'!' marks a miss (%d)" % (TARGET_VS_FFMPEG, TARGET_VS_CAT, TARGET_RSS_MB, misses))
    print("load average (1 min) before %.1f, after %.1f; mkvmerge %s" % (
        load_before[0], load_after[0], "found" if mkvmerge else "not installed"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
