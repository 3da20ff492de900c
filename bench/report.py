"""What the bench prints: the machine, the media, each job's commands and checks, and a Markdown table."""
import json
import os
import platform
import shlex
import subprocess

import targets
from jobs import JobKind

PEERS = ("ffmpeg", "ffprobe", "mkvmerge")


def first_line(argv):
    try:
        out = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode()
    except OSError:
        return "not installed"
    return out.split("\n")[0].strip()


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.machine()


def memory_gib():
    try:
        with open("/proc/meminfo") as f:
            return int(f.readline().split()[1]) / 1024 / 1024
    except (OSError, ValueError, IndexError):
        return 0.0


def machine(mkvmerge):
    return {
        "nproc": len(os.sched_getaffinity(0)),
        "cpu": cpu_model(),
        "memory_gib": round(memory_gib(), 1),
        "kernel": platform.system() + " " + platform.release(),
        "ffmpeg": first_line(["ffmpeg", "-version"]),
        "mkvmerge": first_line([mkvmerge, "--version"]) if mkvmerge else "not installed",
    }


def machine_line(info):
    return "machine: %(nproc)d cores, %(cpu)s, %(memory_gib).0f GiB, %(kernel)s; %(ffmpeg)s; %(mkvmerge)s" % info


def load_line(when, load):
    return "load average %s: %.2f %.2f %.2f (1, 5, 15 min)" % (when, load[0], load[1], load[2])


def media_lines(media):
    lines = []
    for name, d in media.description["files"].items():
        if name[:6] in ("part_b", "part_c"):
            continue
        video = "H.264 %s, has_b_frames=%d, " % (d["profile"], d["has_b_frames"]) if d["video_packets"] else ""
        lines.append("  %-15s %6.1f MB %7.1f s %5.2f Mbit/s  %s%d video + %d audio packets (%.0f per MB)" % (
            name, d["bytes"] / 1e6, d["duration"], d["bit_rate"] / 1e6, video, d["video_packets"],
            d["audio_packets"], (d["video_packets"] + d["audio_packets"]) / (d["bytes"] / 1e6)))
    return ["media (%s; part_b and part_c are copies of part_a; the timestamps of big.mp4 were checked to run on "
            "without gaps or overlaps when it was made):" % media.folder] + lines


def job_lines(result):
    job = result.job
    lines = ["", "%s (%s)%s" % (job.name, job.id, ": " + job.note if job.note else "")]
    for name, tool_result in result.tools.items():
        tool = tool_result.tool
        command = shlex.join(tool.argv) if tool.argv else "(not made)"
        if tool.stdout_name:
            command += " > " + shlex.quote(os.path.join(job.folder(tool), tool.stdout_name))
        lines.append("  %-8s $ %s" % (name, command))
        if tool.note:
            lines.append("           (%s)" % tool.note)
        verdict = "FAILED: " + tool_result.failure if tool_result.failure else "ok: " + tool_result.check_text
        summary = tool_result.summary()
        timed = ("; median %.3f s wall, %.3f s CPU, peak RSS %.0f MB over %d runs" % (
            summary.wall, summary.cpu, summary.rss_mb, len(tool_result.samples)) if summary else "")
        lines.append("           %s%s" % (verdict, timed))
    floor = targets.floor_ratio(result)
    if floor:
        lines.append("  floor: one pass of FFmpeg's demuxer costs %.2f / %.2f of ffprobe's time (wall / CPU)" % floor)
    ratio = targets.ratio(result, "ffmpeg")
    if job.kind == JobKind.EXACT_CUT and ratio and ratio.limit is not None:
        lines.append("  target: us <= %.2f / %.2f of the full re-encode (wall / CPU): %d pictures encoded again at "
                     "ffmpeg's time per picture, plus the copy" % (ratio.limit, ratio.cpu_limit, job.reencoded))
    return lines


# --------------------------------------------------------------------------
# The table


TABLE_HEADER = [
    "| job | MB in | us s | ffmpeg s | mkvmerge s | us/ffmpeg | us/mkvmerge | peak RSS MB us / ffmpeg / mkvmerge |",
    "|---|---:|---:|---:|---:|---:|---:|---:|",
]


def time_cell(result, name):
    tool_result = result.tools.get(name)
    if tool_result is None:
        return "-"
    if tool_result.failure:
        return "FAILED"
    summary = tool_result.summary()
    return "%.2f / %.2f" % (summary.wall, summary.cpu) if summary else "-"


def ratio_value(value, limit):
    if value is None:
        return "-"
    return "%.2f%s" % (value, " !" if limit is not None and value > limit else "")


def ratio_cell(ratio):
    if ratio is None or (ratio.wall is None and ratio.cpu is None):
        return "-"
    return "%s / %s" % (ratio_value(ratio.wall, ratio.limit), ratio_value(ratio.cpu, ratio.cpu_limit))


def rss_cell(result):
    cells = []
    for name in ("us", targets.ffmpeg_peer(result.job), "mkvmerge"):
        summary = result.summary(name)
        cells.append("%.0f" % summary.rss_mb if summary else "-")
    if targets.rss_missed(result):
        cells[0] += " !"
    return " / ".join(cells)


def table_row(result):
    job = result.job
    peer = targets.ffmpeg_peer(job)
    name = job.name + (" (vs ffprobe)" if peer == "ffprobe" else "")
    size = sum(os.path.getsize(p) for p in job.inputs) / 1e6
    return "| %s | %.0f | %s | %s | %s | %s | %s | %s |" % (
        name, size, time_cell(result, "us"), time_cell(result, peer), time_cell(result, "mkvmerge"),
        ratio_cell(targets.ratio(result, peer)), ratio_cell(targets.ratio(result, "mkvmerge")), rss_cell(result))


def misses(result):
    count = 1 if targets.rss_missed(result) else 0
    for peer in (targets.ffmpeg_peer(result.job), "mkvmerge"):
        ratio = targets.ratio(result, peer)
        count += ratio.misses() if ratio else 0
    return count


def table_lines(results):
    return TABLE_HEADER + [table_row(r) for r in results]


# --------------------------------------------------------------------------
# JSON


def sample_json(sample):
    return {"wall_s": sample.wall, "cpu_s": sample.cpu, "peak_rss_mb": sample.rss_mb}


def tool_json(tool_result):
    summary = tool_result.summary()
    return {
        "command": tool_result.tool.argv,
        "failure": tool_result.failure,
        "check": tool_result.check_text,
        "runs": [sample_json(s) for s in tool_result.samples],
        "median": sample_json(summary) if summary else None,
    }


def ratio_json(ratio):
    return None if ratio is None else {"wall": ratio.wall, "cpu": ratio.cpu, "target": ratio.limit,
                                       "cpu_target": ratio.cpu_limit}


def job_json(result):
    job = result.job
    return {
        "id": job.id,
        "name": job.name,
        "inputs": job.inputs,
        "input_mb": sum(os.path.getsize(p) for p in job.inputs) / 1e6,
        "note": job.note,
        "tools": {name: tool_json(t) for name, t in result.tools.items()},
        "us_over_ffmpeg": ratio_json(targets.ratio(result, targets.ffmpeg_peer(job))),
        "us_over_mkvmerge": ratio_json(targets.ratio(result, "mkvmerge")),
        "misses": misses(result),
    }


def write_json(path, machine_info, loads, media, runs, results):
    files = {name: {k: v for k, v in d.items() if k != "key_frames"} for name, d in
             media.description["files"].items()}
    document = {
        "machine": machine_info,
        "load_before": loads[0],
        "load_after": loads[1],
        "rounds": runs,
        "media": files,
        "jobs": [job_json(r) for r in results],
    }
    with open(path, "w") as f:
        json.dump(document, f, indent=1)
