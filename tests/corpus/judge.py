#!/usr/bin/env python3
"""End-to-end judge: runs remuxion split, merge and mix on the corpus made by
make_corpus.sh and lets ffmpeg/ffprobe say whether the outputs are right.

Video is judged on decoded pictures (one md5 per frame, in presentation
order), audio on packets (one md5 per packet; PCM by finding each output
packet's bytes in the source), sync on the time offsets of matched frames and
packets. Usage:

  judge.py --remuxion PATH --corpus DIR --work DIR [--only NAME] [--job JOB] [-j 2]
"""
import argparse
import collections
import concurrent.futures
import difflib
import json
import os
import re
import shutil
import subprocess
import sys

TOL = 0.001 + 1e-6  # 1 ms; the micro-second covers printed-time rounding
JOBS = ("split", "merge", "mix")
DUB = "dub.m4a"


# --- The corpus table -------------------------------------------------------
# One row per input: the checks expected to fail per job, so that the run is
# green before every defect is fixed (remove them as fixes land: the judge
# says XPASS when one passes), the jobs to run, and the jobs the capability
# table is expected to refuse. Checks: exit, video, decode, audio, sync,
# join, rate (and probe: an output ffprobe cannot read).
Row = collections.namedtuple("Row", "file jobs xfail refuse")


def row(file, split="", merge="", mix="", jobs=JOBS, refuse=()):
    """split/merge/mix: the checks expected to fail, separated by spaces."""
    return Row(file, tuple(jobs), {"split": set(split.split()), "merge": set(merge.split()),
                                   "mix": set(mix.split())}, set(refuse))


ROWS = [
    row("h264_aac.mp4"),
    row("h264_bframes_aac.mp4"),
    row("h264_opengop_aac.mp4"),
    row("h264_keyint_irregular_aac.mp4"),
    row("h264_2997_aac51.mp4"),
    row("h264_offset10_aac.mp4"),
    row("h264_vfr_aac.mp4"),
    row("h264_editlist_aac.mp4"),
    row("h264_aac44k.mov"),
    row("h264_bframes_pcm.mov"),
    row("h264_bframes_aac.mkv"),
    row("h264_mp3.mkv"),
    row("h264_2997_ac3.mkv"),
    row("h264_vfr_aac.mkv"),
    row("h264_bframes_aac_mkvmerge.mkv"),
    row("h264_bframes_aac.ts"),
    row("h264_ac3.ts"),
    row("h264_opengop_aac.ts"),
    row("h264_bframes_aac.m2ts"),
    row("h264_mp3.avi"),
    row("h264_pcm.avi"),
    row("h264_bframes_aac.flv"),
    row("h264_bframes_mp3.mpg"),
    row("h264_mp2.mpg"),
    row("h264_longgop_mp3.mpg"),
]


# --- Reading media with ffmpeg and ffprobe ----------------------------------
def run(cmd, binary=False, timeout=None):
    return subprocess.run(cmd, capture_output=True, text=not binary, timeout=timeout)


def ffprobe_json(path, *args):
    r = run(["ffprobe", "-v", "error", "-of", "json", *args, path])
    if r.returncode != 0:
        raise RuntimeError(f"ffprobe failed on {path}: {r.stderr.strip()}")
    return json.loads(r.stdout)


Frame = collections.namedtuple("Frame", "pts dur md5")


class Video:
    """Decoded frames of the first video stream in presentation order, with
    their own timestamps (-copyts keeps the file's times, the input time base
    keeps them exact) and the decoder's error lines."""

    def __init__(self, path, input_options=()):
        # The first audio stream is decoded along: with video alone, ffmpeg
        # moves the times of a TS whose video starts after its audio to 0.
        r = run(["ffmpeg", "-nostdin", "-v", "error", "-copyts", *input_options, "-i", path,
                 "-map", "0:v:0", "-map", "0:a:0?",
                 "-fps_mode", "passthrough", "-enc_time_base:v", "-1", "-f", "framemd5", "-"])
        # Without the decoder's address, so that runs print the same text.
        self.errors = [re.sub(r" @ 0x[0-9a-f]+", "", l) for l in r.stderr.splitlines() if l.strip()]
        if r.returncode != 0:
            self.errors.append(f"ffmpeg exit {r.returncode}")
        tb, self.frames = 1.0, []
        for line in r.stdout.splitlines():
            m = re.match(r"#tb 0: (\d+)/(\d+)", line)
            if m:
                tb = int(m.group(1)) / int(m.group(2))
            elif line.startswith("0,"):
                f = [x.strip() for x in line.split(",")]
                self.frames.append(Frame(int(f[2]) * tb, int(f[3]) * tb, f[5]))
        rate = ffprobe_json(path, "-select_streams", "v:0", "-show_entries", "stream=avg_frame_rate")
        self.avg_frame_rate = (rate["streams"] or [{}])[0].get("avg_frame_rate")
        # Program streams give a time to some packets only; the decoder's
        # guesses for the others are no measure of sync, so they are dropped.
        # (AVI gives none: its times count frames, which is exact there.)
        # Nor is a time that several pictures share: the library's parser
        # hands a PES packet's time to every picture it finds the end of
        # after reading that PES packet, so a small picture can carry the
        # time of the next.
        # The times are the decoder's own: where they do not rise, ffmpeg's
        # output moves them.
        pkts = ffprobe_json(path, "-select_streams", "v:0", "-show_entries", "packet=pts")["packets"]
        if any("pts" not in p for p in pkts) and any("pts" in p for p in pkts):
            shown = ffprobe_json(path, "-select_streams", "v:0", "-show_entries", "frame=pts,pts_time",
                                 "-show_frames")
            times = [f.get("pts") for f in shown["frames"]]
            shared = {t for t, n in collections.Counter(times).items() if n > 1}
            if len(times) == len(self.frames):
                self.frames = [f._replace(pts=float(g["pts_time"]) if t is not None and t not in shared else None)
                               for f, g, t in zip(self.frames, shown["frames"], times)]


class Audio:
    """Packets of the first audio stream as the demuxer gives them (times
    after edit lists). Compressed audio is matched by packet md5; PCM, which
    containers may regroup into other packet sizes, by its bytes."""

    def __init__(self, path):
        info = ffprobe_json(path, "-select_streams", "a:0", "-show_entries",
                            "format=format_name:stream=codec_name,sample_rate,channels,bits_per_sample:"
                            "packet=pts_time,duration_time,size,flags,data_hash,pos",
                            "-show_data_hash", "md5", "-show_packets")
        self.stream = (info.get("streams") or [None])[0]
        self.packets = info.get("packets", [])
        # A program stream times only the packet that begins a PES packet
        # (ffprobe gives it the PES packet's position); the reader times the
        # others as following on without gap, which is no measure of sync
        # where two clips meet. They are dropped as the video's are.
        self.pes_timed = info.get("format", {}).get("format_name") == "mpeg"
        self.pcm = bool(self.stream) and self.stream["codec_name"].startswith("pcm_")
        self.data = b""
        if self.pcm:
            self.rate = int(self.stream["sample_rate"])
            self.frame_bytes = self.stream["channels"] * self.stream["bits_per_sample"] // 8
            r = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-c", "copy",
                     "-f", "data", "-"], binary=True)
            self.data = r.stdout

    def times(self):
        return [float(p["pts_time"]) if "pts_time" in p and ("pos" in p or not self.pes_timed) else None
                for p in self.packets]


def locate_audio(src, out):
    """Where each output packet comes from: a list of (out_time, src_time,
    unit_from, unit_to) with None for src_time when not found. Units are
    source packets, or samples for PCM."""
    found = []
    if src.pcm:
        t0 = float(src.packets[0]["pts_time"]) if src.packets else 0.0
        pos = 0
        for p, t in zip(out.packets, out.times()):
            n = int(p["size"])
            chunk = out.data[pos:pos + n]
            pos += n
            at = src.data.find(chunk)
            while at >= 0 and at % src.frame_bytes:
                at = src.data.find(chunk, at + 1)
            if at < 0:
                found.append((t, None, 0, 0))
            else:
                s = at // src.frame_bytes
                found.append((t, t0 + s / src.rate, s, s + n // src.frame_bytes))
        return found
    where = collections.defaultdict(list)
    for i, p in enumerate(src.packets):
        where[p["data_hash"]].append(i)
    # Packets dropped before an edit list's start are not presented: their
    # times say nothing about where the presented ones belong.
    src_times = [None if "D" in p.get("flags", "") else t for p, t in zip(src.packets, src.times())]
    for p, t in zip(out.packets, out.times()):
        idx = where.get(p["data_hash"], [])
        # A packet whose bytes repeat in the source tells nothing about time.
        st = src_times[idx[0]] if len(idx) == 1 else None
        found.append((t, st, idx[0], idx[0] + 1) if idx else (t, None, 0, 0))
    return found


def audio_units(src):
    """The source's units that must reach the outputs; packets the demuxer
    marks for discarding (before an edit list's start) are not presented."""
    if src.pcm:
        return list(range(len(src.data) // src.frame_bytes))
    return [i for i, p in enumerate(src.packets) if "D" not in p.get("flags", "")]


def unit_time(src, u):
    if src.pcm:
        return float(src.packets[0]["pts_time"]) + u / src.rate
    return float(src.packets[u].get("pts_time", "nan"))


# --- Checks: each returns a list of failure texts (empty: passed) -----------
def ms(x):
    return f"{x * 1000:.2f} ms"


def copies(positions):
    """Splits a sequence of source positions into runs that rise; a merge
    output starts its second copy where the position drops."""
    runs, last = [[]], None
    for i, p in enumerate(positions):
        if p is not None and last is not None and p < last:
            runs.append([])
        if p is not None:
            last = p
        runs[-1].append(i)
    return runs


# A clip that starts at a key frame of an open group lacks the leading
# pictures that referred to the group before; a later picture's order to
# unmark one of them finds nothing, and the decoder says so. It costs no
# picture: the frame checks prove every one bit-exact.
HARMLESS_AT_CUT = {"[h264] mmco: unref short failure"}


def check_decode(outs, harmless=frozenset()):
    bad = [(name, e) for name, v in outs if (e := [l for l in v.errors if l not in harmless])]
    return [f"decode errors: {len(e)} in {n} (first: {e[0]})" for n, e in bad]


def check_frames_sequence(src, outs, times, preroll=()):
    """Merge and mix: the output's frames are the source's frames `times` times
    over, nothing lost, added or changed; each copy after the first starts
    with the pre-roll pictures the source's edit list hides (`preroll`, md5s),
    which a container cannot hide after a join."""
    index = {f.md5: i for i, f in enumerate(src.frames)}
    index.update({m: -2 - k for k, m in enumerate(preroll)})
    shown = list(range(len(src.frames)))
    expected = shown + (list(range(-2, -2 - len(preroll), -1)) + shown) * (times - 1)
    actual = [index.get(f.md5, -1) for f in outs.frames]
    lost = extra = 0
    for op, a0, a1, b0, b1 in difflib.SequenceMatcher(None, expected, actual, autojunk=False).get_opcodes():
        if op != "equal":
            lost += a1 - a0
            extra += b1 - b0
    unknown = actual.count(-1)
    if lost or extra:
        return [f"video frames: expected {len(expected)}, got {len(actual)}: {lost} lost, "
                f"{extra} extra ({unknown} not in the source)"]
    return []


def frame_name(src, i):
    t = src.frames[i].pts
    return f"frame {i}" + (f" at {t:.3f} s" if t is not None else "")


def check_split_frames(src, clips):
    """The clips' frames, one after another, are the source's frames: each
    clip a contiguous run, at most one frame shared at each cut, none lost."""
    index = {f.md5: i for i, f in enumerate(src.frames)}
    fails, count = [], [0] * len(src.frames)
    prev_end = 0
    for k, (name, v) in enumerate(clips, 1):
        pos = [index.get(f.md5) for f in v.frames]
        unknown = pos.count(None)
        known = [p for p in pos if p is not None]
        for p in known:
            count[p] += 1
        if unknown:
            fails.append(f"clip {k}: {unknown} of {len(pos)} frames not in the source")
        jumps = [(a, b) for a, b in zip(known, known[1:]) if b != a + 1]
        if jumps:
            fails.append(f"clip {k}: frames not contiguous, {len(jumps)} jumps (first: frame {jumps[0][0]} "
                         f"to {jumps[0][1]})")
        if known and k > 1 and known[0] < prev_end - 1:
            fails.append(f"clip {k}: starts at frame {known[0]}, {prev_end - known[0]} frames before the "
                         f"previous clip's end ({prev_end})")
        if known:
            prev_end = known[-1] + 1
    lost = [i for i, c in enumerate(count) if c == 0]
    dup = sum(c - 1 for c in count if c > 1)
    if lost:
        fails.append(f"video: {len(lost)} of {len(count)} source frames in no clip (first: "
                     f"{frame_name(src, lost[0])})")
    if dup > len(clips) - 1:
        fails.append(f"video: {dup} frames in two clips (at most {len(clips) - 1}, one per cut)")
    return fails


def check_audio_cover(src, located, times, label):
    """Every source unit reaches the outputs at least `times` times; at most
    one packet more per join (merge); nothing that is not in the source."""
    units = audio_units(src)
    if not units:
        return []
    cover = [0] * (max(units) + 2)
    unknown = 0
    for _, st, u0, u1 in located:
        if u1 == 0:
            unknown += 1
        for u in range(u0, u1):
            cover[u] += 1
    short = [u for u in units if cover[u] < times]
    fails = []
    what = "samples" if src.pcm else "packets"
    if short:
        fails.append(f"audio: {len(short)} of {len(units)} source {what} {label} (first at "
                     f"{unit_time(src, short[0]):.3f} s)")
    if unknown:
        fails.append(f"audio: {unknown} output packets not in the source")
    if times > 1:
        per_packet = (len(units) // max(1, len(src.packets))) if src.pcm else 1
        extra = sum(c - times for c in cover if c > times)
        if extra > (times - 1) * per_packet:
            fails.append(f"audio: {extra} {what} beyond {times} copies (at most one packet per join)")
    return fails


def offsets(pairs):
    return [o - s for o, s in pairs if o is not None and s is not None]


def check_offsets(label, vpairs, apairs, sync_tol=TOL):
    """One output (or one merge copy): video and audio each moved by one
    constant offset, and by the same one within sync_tol (1 ms)."""
    fails, mid = [], {}
    for kind, pairs in (("video", vpairs), ("audio", apairs)):
        o = offsets(pairs)
        if not o:
            continue
        spread = max(o) - min(o)
        if spread > TOL:
            fails.append(f"{label}: {kind} offsets vary by {ms(spread)} ({ms(min(o))} .. {ms(max(o))})")
        mid[kind] = sorted(o)[len(o) // 2]
    if len(mid) == 2 and abs(mid["audio"] - mid["video"]) > sync_tol:
        fails.append(f"{label}: audio {ms(mid['audio'] - mid['video'])} against video "
                     f"(offsets {ms(mid['video'])} video, {ms(mid['audio'])} audio)")
    return fails, mid


def video_pairs(src, v):
    index = {f.md5: f.pts for f in src.frames}
    return [(f.pts, index.get(f.md5)) for f in v.frames]


# --- Jobs -------------------------------------------------------------------
class Refused(Exception):
    pass


def run_cli(cmd):
    """Runs the program: (its output, []) on success, else (None, why). A
    failure must say why in one line; "cannot copy" is the capability
    table's refusal."""
    try:
        r = run(cmd, timeout=120)  # a hang fails the job, not the whole run
    except subprocess.TimeoutExpired:
        return None, ["exit: no end after 120 s"]
    if r.returncode != 0:
        lines = [l for l in r.stderr.splitlines() if l.strip()]
        msg = lines[-1] if lines else "(no message)"
        if "cannot copy" in msg and len(lines) == 1:
            raise Refused(msg)
        count = "" if len(lines) == 1 else f" ({len(lines)} error lines, not one)"
        return None, [f"exit: status {r.returncode}{count}: {msg}"]
    return r.stdout, []


def job_split(ctx, src_path, work):
    src = ctx.src_video
    # Cuts at a third and two thirds of the pictures, in seconds from the
    # file's first timestamp (ffmpeg's -ss counts the same way).
    start = float(ffprobe_json(src_path, "-show_entries", "format=start_time")["format"]["start_time"])
    times = [f.pts for f in src.frames if f.pts is not None]
    v0, span = times[0] - start, times[-1] - times[0] + ctx.frame_dur
    at = f"{v0 + span / 3:.2f},{v0 + 2 * span / 3:.2f}"
    out, fails = run_cli([ctx.remuxion, "split", src_path, "-o", work, "--at", at])
    if out is None:
        return {"exit": fails}, ""
    moved = re.search(r"cut at the nearest key frames: (.*)", out)
    cuts = f"--at {at}" + (f" (moved to {moved.group(1)})" if moved else "")
    stem, ext = os.path.splitext(os.path.basename(src_path))
    pat = re.compile(re.escape(stem) + r"_\d+_(\d+)" + re.escape(ext) + "$")
    names = sorted((int(m.group(1)), n) for n in os.listdir(work) if (m := pat.match(n)))
    if len(names) < 2:
        return {"exit": [f"exit: status 0 but {len(names)} clips for {cuts}"]}, ""
    clips = [(n, Video(os.path.join(work, n))) for _, n in names]
    res = {"decode": check_decode(clips[:1]) + check_decode(clips[1:], HARMLESS_AT_CUT),
           "video": check_split_frames(src, clips), "audio": [], "sync": []}
    located = []
    # AVI places pictures on whole frame steps after sound that starts at 0:
    # a clip whose sound starts between two steps is off by up to half a frame.
    sync_tol = ctx.frame_dur / 2 + TOL if ext == ".avi" else TOL
    for k, (n, v) in enumerate(clips, 1):
        a = Audio(os.path.join(work, n)) if ctx.src_audio.stream else None
        loc = locate_audio(ctx.src_audio, a) if a else []
        located += loc
        f, _ = check_offsets(f"clip {k}", video_pairs(src, v), [(o, s) for o, s, _, _ in loc], sync_tol)
        res["sync"] += f
    if ctx.src_audio.stream:
        res["audio"] = check_audio_cover(ctx.src_audio, located, 1, "in no clip")
    return res, f"{cuts}, {len(clips)} clips"


def job_merge(ctx, src_path, work):
    src = ctx.src_video
    ext = os.path.splitext(src_path)[1]
    merged = os.path.join(work, "merged" + ext)
    out, fails = run_cli([ctx.remuxion, "merge", src_path, src_path, "-o", merged, "--quiet"])
    if out is None:
        return {"exit": fails}, ""
    v = Video(merged)
    res = {"decode": check_decode([("merged", v)]), "video": check_frames_sequence(src, v, 2, ctx.preroll),
           "audio": [], "sync": [], "join": [], "rate": []}
    # A file whose sound starts before its first picture (AAC priming) keeps
    # that lead at the join: the picture before it is held that long.
    lead = ctx.video_lead
    frames = 2 * len(src.frames) + len(ctx.preroll)
    held = f"{frames * 1000}/{round((frames * ctx.frame_dur + lead) * 1000)}"
    if not same_rate(v.avg_frame_rate, src.avg_frame_rate, ctx.vfr) and not (
            lead > TOL and same_rate(v.avg_frame_rate, held, True, 0.001)):
        res["rate"].append(f"rate: avg_frame_rate {v.avg_frame_rate}, source {src.avg_frame_rate}")
    vp = video_pairs(src, v)
    # Copies are told apart by the source frame each output frame shows: a
    # source frame without a time of its own still has its place.
    index = {f.md5: i for i, f in enumerate(src.frames)}
    vruns = copies([index.get(f.md5) for f in v.frames])
    loc, a = [], None
    if ctx.src_audio.stream:
        a = Audio(merged)
        loc = locate_audio(ctx.src_audio, a)
        res["audio"] = check_audio_cover(ctx.src_audio, loc, 2, "not there twice")
    aruns = copies([u0 if u1 else None for _, _, u0, u1 in loc])
    if len(vruns) != 2:
        res["join"].append(f"join: video holds {len(vruns)} copies of the source, not 2")
    for k, vr in enumerate(vruns[:2], 1):
        ar = aruns[k - 1] if k <= len(aruns) else []
        f, _ = check_offsets(f"copy {k}", [vp[i] for i in vr], [loc[i][:2] for i in ar])
        res["sync"] += f
    res["join"] += join_gap("video", [(v.frames[i].pts, v.frames[i].dur) for i in range(len(v.frames))], vruns,
                            lead, 0)
    if ctx.src_audio.stream and len(aruns) >= 2:
        ap = [(t, float(p.get("duration_time", 0))) for (t, _, _, _), p in zip(loc, a.packets)]
        adur = max((d for _, d in ap), default=0)
        res["join"] += join_gap("audio", ap, aruns, adur, adur)
    return res, ""


def same_rate(a, b, vfr, within=0.01):
    """Equal frame rates; with uneven frame spacing the average depends on
    where the stream's end is put, so 1 % is close enough."""
    if a == b:
        return True
    num = lambda r: int(r.split("/")[0]) / max(1, int(r.split("/")[1]))
    return vfr and a and b and abs(num(a) / max(1e-9, num(b)) - 1) < within


def join_gap(kind, items, runs, allow_gap, allow_overlap):
    """From the end of the first copy's last frame (or packet) to the start
    of the second copy's first: at most one frame of gap, and `allow_overlap`
    of overlap."""
    if len(runs) < 2 or not runs[0] or not runs[1]:
        return []
    first = [items[i] for i in runs[0]]
    second = [items[i] for i in runs[1]]
    known = [k for k, (t, _) in enumerate(first) if t is not None]
    if not known or all(t is None for t, _ in second):
        return []
    # Frames (or packets) without a time at either side of the join, as
    # program streams have them, are counted by their durations from the
    # nearest timed one.
    last = max(known, key=lambda k: first[k][0] + first[k][1])
    end = first[last][0] + sum(d for _, d in first[last:])
    lead = next(k for k, (t, _) in enumerate(second) if t is not None)
    start = second[lead][0] - sum(d for _, d in second[:lead])
    gap = start - end
    if gap > allow_gap + TOL or gap < -allow_overlap - TOL:
        return [f"join: {kind} {'gap' if gap > 0 else 'overlap'} of {ms(abs(gap))} between the copies "
                f"(allowed {ms(allow_gap)} gap, {ms(allow_overlap)} overlap)"]
    return []


def job_mix(ctx, src_path, work):
    src = ctx.src_video
    out_ext = ".mkv" if src_path.endswith(".mkv") else ".mp4"
    mixed = os.path.join(work, "mixed" + out_ext)
    vindex = ctx.video_index
    out, fails = run_cli([ctx.remuxion, "mix", src_path, "--stream", str(vindex), ctx.dub_path, "--stream", "0",
                          "-o", mixed, "--quiet"])
    if out is None:
        return {"exit": fails}, ""
    v, a = Video(mixed), Audio(mixed)
    loc = locate_audio(ctx.dub, a)
    res = {"decode": check_decode([("mixed", v)]), "video": check_frames_sequence(src, v, 1),
           "audio": check_audio_cover(ctx.dub, loc, 1, f"of {DUB} missing"), "sync": []}
    vp = video_pairs(src, v)
    # The dub and the video both start at 0 in the output.
    first = next(f.pts for f in src.frames if f.pts is not None)
    o = [out_t - (src_t - first) for out_t, src_t in vp if None not in (out_t, src_t)]
    f, mid = check_offsets("mix", [(x, 0.0) for x in o], [l[:2] for l in loc])
    res["sync"] += f
    # Matroska holds no time before 0: the dub's priming moves both streams by
    # its length, as it does in ffmpeg's own mix.
    priming = max(0.0, -min(float(p["pts_time"]) for p in ctx.dub.packets)) if out_ext == ".mkv" else 0.0
    if "video" in mid and abs(mid["video"] - priming) > TOL:
        res["sync"].append(f"mix: video starts at {ms(mid['video'])}, not {ms(priming)}")
    if "audio" in mid and abs(mid["audio"] - priming) > TOL:
        res["sync"].append(f"mix: {DUB} starts at {ms(mid['audio'])}, not {ms(priming)}")
    return res, ""


class Source:
    """What the judge knows about one input before running any job."""

    def __init__(self, args, path, dub):
        self.remuxion, self.dub_path, self.dub = args.remuxion, os.path.join(args.corpus, DUB), dub
        self.src_video = Video(path)
        self.src_audio = Audio(path)
        streams = ffprobe_json(path, "-show_entries", "stream=index,codec_type")["streams"]
        self.video_index = next(s["index"] for s in streams if s["codec_type"] == "video")
        f = self.src_video.frames
        steps = sorted(b.pts - a.pts for a, b in zip(f, f[1:]) if None not in (a.pts, b.pts))
        self.frame_dur = steps[len(steps) // 2] if steps else 0.04
        self.vfr = bool(steps) and steps[-1] - steps[0] > TOL
        # Pictures an MP4 edit list hides before the first shown one.
        self.preroll = []
        if path.endswith((".mp4", ".mov")):
            known = {x.md5 for x in f}
            for x in Video(path, ("-ignore_editlist", "1")).frames:
                if x.md5 in known:
                    break
                self.preroll.append(x.md5)
        # How long a merge holds the last picture before a join: from the
        # copy's start (the file's start, or its first sound packet but for
        # that packet's length, whichever is earlier) to its first picture,
        # hidden pre-roll included.
        start = ffprobe_json(path, "-show_entries", "format=start_time")["format"].get("start_time")
        vp = ffprobe_json(path, "-select_streams", "v:0", "-show_entries", "packet=pts_time")["packets"]
        vtimes = [float(p["pts_time"]) for p in vp if p.get("pts_time") not in (None, "N/A")]
        atimes = [(float(p["pts_time"]), float(p.get("duration_time", 0))) for p in self.src_audio.packets
                  if p.get("pts_time") not in (None, "N/A")]
        self.video_lead = 0.0
        if start and vtimes:
            copy_start = float(start)
            if atimes:
                copy_start = min(copy_start, sum(min(atimes)))
            self.video_lead = max(0.0, min(vtimes) - copy_start)


def verdict(r, job, fails, refused):
    failing = {c for c, f in fails.items() if f}
    expected = r.xfail.get(job, set())
    if refused is not None:
        if job in r.refuse:
            return "REFUSED", [refused]
        return "FAIL", [f"refused unexpectedly: {refused}"]
    notes = [m for c in sorted(failing) for m in fails[c]]
    if job in r.refuse:
        notes.append("ran although the table expects a refusal: trim the table")
    if not failing:
        return ("XPASS", notes + [f"expected to fail {sorted(expected)}: trim the table"]) if expected else (
            "PASS", notes)
    if failing <= expected:
        if expected - failing:
            notes.append(f"now passing {sorted(expected - failing)}: trim the table")
        return "XFAIL", notes
    return "FAIL", notes + [f"unexpected: {sorted(failing - expected)}"]


def judge_row(args, r, dub):
    path = os.path.join(args.corpus, r.file)
    if not os.path.exists(path):
        return [(r.file, "-", "SKIP", ["not in the corpus"])]
    src = Source(args, path, dub)
    if src.src_video.errors or not src.src_video.frames:
        return [(r.file, "-", "FAIL", [f"source does not decode cleanly: {src.src_video.errors[:1]}"])]
    if len({f.md5 for f in src.src_video.frames}) != len(src.src_video.frames):
        return [(r.file, "-", "FAIL", ["source has repeated pictures: frames cannot be told apart"])]
    lines = []
    for job in r.jobs:
        if args.job and job != args.job:
            continue
        work = os.path.join(args.work, job, os.path.splitext(r.file)[0] + "_" + r.file.rsplit(".", 1)[1])
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        refused, extra = None, ""
        try:
            fails, extra = {"split": job_split, "merge": job_merge, "mix": job_mix}[job](src, path, work)
        except Refused as e:
            fails, refused = {}, str(e)
        except Exception as e:  # an output ffprobe cannot read, for one
            fails = {"probe": [f"probe: {type(e).__name__}: {e}"]}
        status, notes = verdict(r, job, fails, refused)
        if extra:
            notes = [extra] + notes
        lines.append((r.file, job, status, notes))
    return lines


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--remuxion", required=True)
    p.add_argument("--corpus", required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--only", help="inputs whose name contains this")
    p.add_argument("--job", choices=JOBS)
    p.add_argument("-j", type=int, default=2)
    args = p.parse_args()
    rows = [r for r in ROWS if not args.only or args.only in r.file]
    dub = Audio(os.path.join(args.corpus, DUB))
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.j)) as pool:
        results = list(pool.map(lambda r: judge_row(args, r, dub), rows))
    counts, trim = collections.Counter(), 0
    for lines in results:
        for file, job, status, notes in lines:
            counts[status] += 1
            # A check that passes against the table's word is as loud as a failure.
            stale = any("trim the table" in n for n in notes)
            trim += stale
            loud = "  <<< " if status in ("XPASS", "FAIL") or stale else ""
            print(f"{status:8} {file:32} {job:6} {'; '.join(notes)}{loud}")
    print("refused: " + (", ".join(f"{f} {j}" for ls in results for f, j, s, _ in ls if s == "REFUSED") or "none"))
    print(", ".join(f"{counts[s]} {s}" for s in ("PASS", "XFAIL", "XPASS", "REFUSED", "FAIL", "SKIP")) +
          (f"; {trim} table rows to trim (checks now passing)" if trim else ""))
    failed = counts["FAIL"]
    passed = sum(counts.values()) - failed - counts["SKIP"]
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
