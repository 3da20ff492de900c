#!/usr/bin/env python3
"""End-to-end judge: runs remuxion split, merge and mix on the corpus made by
make_corpus.sh and lets ffmpeg/ffprobe say whether the outputs are right.

Every stream of the source is judged, matched to the output's by kind and
order: video on decoded pictures (one md5 per frame, in presentation order),
audio and subtitles on packets (one md5 per packet; PCM by finding each output
packet's bytes in the source), sync on the time offsets of matched frames and
packets, and what the file says about itself (languages, titles, dispositions,
file title, chapters, colours, rotation, aspect) by ffprobe. Usage:

  judge.py --remuxion PATH --corpus DIR --work DIR [--only NAME] [--job JOB] [-j 2]
"""
import argparse
import collections
import concurrent.futures
import difflib
import fractions
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys

import judge_exact

TOL = 0.001 + 1e-6  # 1 ms; the micro-second covers printed-time rounding
JOBS = ("split", "size", "merge", "mix", "exact")
DUB = "dub.m4a"


# --- The corpus table -------------------------------------------------------
# One row per input: the checks expected to fail per job, so that the run is
# green before every defect is fixed (remove them as fixes land: the judge
# says XPASS when one passes), the jobs to run, and the jobs the capability
# table is expected to refuse. Checks: exit, streams (every source stream is
# in the output), video, decode, audio, subtitle, sync, join, rate, meta (and
# probe: an output ffprobe cannot read). Sound alone has nothing to mix with:
# its rows leave mix out.
Row = collections.namedtuple("Row", "file jobs xfail refuse")


def row(file, split="", size="", merge="", mix="", jobs=JOBS, refuse=()):
    """split/size/merge/mix: the checks expected to fail, separated by spaces.
    The exact job runs on the inputs judge_exact names; a clip it expects to
    be cut at key frames is a known limitation (fallback)."""
    if file not in judge_exact.EXACT_INPUTS:
        jobs = tuple(j for j in jobs if j != "exact")
    exact = judge_exact.EXACT_INPUTS[file].xfail if file in judge_exact.EXACT_INPUTS else ""
    return Row(file, tuple(jobs), {"split": set(split.split()), "size": set(size.split()),
                                   "merge": set(merge.split()), "mix": set(mix.split()),
                                   "exact": set(exact.split())}, set(refuse))


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
    row("h264_aac_ac3_srt_chapters.mkv"),
    row("h264_aac_movtext.mp4"),
    row("hevc_bframes_aac_rotated.mp4"),
    row("hevc10_hdr_eac3.mkv"),
    row("vp9_opus.webm"),
    row("av1_aac.mp4"),
    row("mpeg2_mp2.mpg"),
    row("mjpeg_pcm.avi"),
    row("aac_only.m4a", jobs=("split", "size", "merge")),
    row("flac_only.flac", jobs=("split", "size", "merge")),
]


# --- Reading media with ffmpeg and ffprobe ----------------------------------
KINDS = ("video", "audio", "subtitle")


def run(cmd, binary=False, timeout=None):
    return subprocess.run(cmd, capture_output=True, text=not binary, timeout=timeout)


def ffprobe_json(path, *args):
    r = run(["ffprobe", "-v", "error", "-of", "json", *args, path])
    if r.returncode != 0:
        raise RuntimeError(f"ffprobe failed on {path}: {r.stderr.strip()}")
    return json.loads(r.stdout)


class Probe:
    """One ffprobe pass over a file: its format, chapters, streams by kind (in
    order; cover pictures are no video) and every packet with its md5."""

    def __init__(self, path):
        info = ffprobe_json(path, "-show_entries",
                            "format=format_name,start_time,duration:format_tags=title:stream:stream_tags:"
                            "stream_disposition:stream_side_data_list:chapter=start_time,end_time:chapter_tags=title:"
                            "packet=stream_index,pts_time,duration_time,size,flags,data_hash,pos",
                            "-show_data_hash", "md5", "-show_packets")
        self.format = info.get("format", {})
        self.chapters = info.get("chapters", [])
        streams = info.get("streams", [])
        self.kinds = {k: [s for s in streams if s.get("codec_type") == k and
                          not s.get("disposition", {}).get("attached_pic")] for k in KINDS}
        self.packets = collections.defaultdict(list)
        for p in info.get("packets", []):
            self.packets[p["stream_index"]].append(p)

    def count(self, kind):
        return len(self.kinds[kind])

    def stream(self, kind, k):
        streams = self.kinds[kind]
        return streams[k] if k < len(streams) else None

    def stream_packets(self, kind, k):
        s = self.stream(kind, k)
        return self.packets[s["index"]] if s else []


Frame = collections.namedtuple("Frame", "pts dur md5")


class Video:
    """Decoded frames of video stream k in presentation order, with their own
    timestamps (-copyts keeps the file's times, the input time base keeps them
    exact) and the decoder's error lines."""

    def __init__(self, path, probe, k=0, input_options=()):
        # The first audio stream is decoded along: with video alone, ffmpeg
        # moves the times of a TS whose video starts after its audio to 0.
        r = run(["ffmpeg", "-nostdin", "-v", "error", "-copyts", *input_options, "-i", path,
                 "-map", f"0:v:{k}", "-map", "0:a:0?",
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
        self.stream = probe.stream("video", k)
        self.avg_frame_rate = (self.stream or {}).get("avg_frame_rate")
        # Program streams give a time to some packets only; the decoder's
        # guesses for the others are no measure of sync, so they are dropped.
        # (AVI gives none: its times count frames, which is exact there.)
        # Nor is a time that several pictures share: the library's parser
        # hands a PES packet's time to every picture it finds the end of
        # after reading that PES packet, so a small picture can carry the
        # time of the next.
        # The times are the decoder's own: where they do not rise, ffmpeg's
        # output moves them.
        pkts = probe.stream_packets("video", k)
        if any("pts_time" not in p for p in pkts) and any("pts_time" in p for p in pkts):
            shown = ffprobe_json(path, "-select_streams", f"v:{k}", "-show_entries", "frame=pts,pts_time",
                                 "-show_frames")
            times = [f.get("pts") for f in shown["frames"]]
            shared = {t for t, n in collections.Counter(times).items() if n > 1}
            if len(times) == len(self.frames):
                self.frames = [f._replace(pts=float(g["pts_time"]) if t is not None and t not in shared else None)
                               for f, g, t in zip(self.frames, shown["frames"], times)]


def flac_header_length(frame):
    """Bytes of a FLAC frame header, its CRC-8 included."""
    first = frame[4]
    coded = 1 if first < 0x80 else next(n for n in range(2, 8) if not first & (0x80 >> n))
    block, rate = frame[2] >> 4, frame[2] & 0x0F
    return 4 + coded + {6: 1, 7: 2}.get(block, 0) + {12: 1, 13: 2, 14: 2}.get(rate, 0) + 1


class Audio:
    """Packets of audio stream k as the demuxer gives them (times after edit
    lists). Compressed audio is matched by packet md5; PCM, which containers
    may regroup into other packet sizes, by its bytes."""

    def __init__(self, path, probe, k=0):
        self.stream = probe.stream("audio", k)
        self.packets = probe.stream_packets("audio", k)
        # A program stream times only the packet that begins a PES packet
        # (ffprobe gives it the PES packet's position); the reader times the
        # others as following on without gap, which is no measure of sync
        # where two clips meet. They are dropped as the video's are.
        self.pes_timed = probe.format.get("format_name") == "mpeg"
        self.pcm = bool(self.stream) and self.stream["codec_name"].startswith("pcm_")
        flac = bool(self.stream) and self.stream["codec_name"] == "flac"
        self.data = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", f"0:a:{k}", "-c", "copy",
                         "-f", "data", "-"], binary=True).stdout if self.pcm or flac else b""
        if flac:
            self.hash_flac_bodies(self.data)
        if self.pcm:
            self.rate = int(self.stream["sample_rate"])
            self.frame_bytes = self.stream["channels"] * self.stream["bits_per_sample"] // 8

    def hash_flac_bodies(self, data):
        """A FLAC frame's header holds its place in the stream, which a cut or
        a join renumbers: frames are matched by what follows the header,
        without the closing CRC."""
        pos = 0
        for p in self.packets:
            frame = data[pos:pos + int(p["size"])]
            pos += len(frame)
            if len(frame) > 6:
                p["data_hash"] = hashlib.md5(frame[flac_header_length(frame):-2]).hexdigest()

    def times(self):
        return [float(p["pts_time"]) if "pts_time" in p and ("pos" in p or not self.pes_timed) else None
                for p in self.packets]


class Subtitles:
    """Packets of subtitle stream k: one cue each, matched by md5. Payloads
    that repeat (the empty samples MP4 fills the gaps between cues with) tell
    nothing apart and are not judged."""

    def __init__(self, probe, k=0):
        self.stream = probe.stream("subtitle", k)
        self.packets = probe.stream_packets("subtitle", k)
        counts = collections.Counter(p["data_hash"] for p in self.packets)
        self.cue_of = {p["data_hash"]: i for i, p in enumerate(self.packets) if counts[p["data_hash"]] == 1}
        self.repeated = {h for h, n in counts.items() if n > 1}

    def span(self, i):
        p = self.packets[i]
        start = float(p.get("pts_time", "nan"))
        return start, start + float(p.get("duration_time", 0))


class Media:
    """A file's streams as the judge reads them; `most` caps the streams read
    per kind (an output's beyond the source's are matched to nothing)."""

    def __init__(self, path, most=None):
        self.path = path
        self.probe = Probe(path)
        n = {k: min(self.probe.count(k), most.probe.count(k)) if most else self.probe.count(k) for k in KINDS}
        self.videos = [Video(path, self.probe, k) for k in range(n["video"])]
        self.audios = [Audio(path, self.probe, k) for k in range(n["audio"])]
        self.subtitles = [Subtitles(self.probe, k) for k in range(n["subtitle"])]


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


def check_audio_cover(src, located, times, label, name="audio"):
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
        fails.append(f"{name}: {len(short)} of {len(units)} source {what} {label} (first at "
                     f"{unit_time(src, short[0]):.3f} s)")
    if unknown:
        fails.append(f"{name}: {unknown} output packets not in the source")
    if times > 1:
        per_packet = (len(units) // max(1, len(src.packets))) if src.pcm else 1
        extra = sum(c - times for c in cover if c > times)
        if extra > (times - 1) * per_packet:
            fails.append(f"{name}: {extra} {what} beyond {times} copies (at most one packet per join)")
    return fails


def offsets(pairs):
    return [o - s for o, s in pairs if o is not None and s is not None]


def check_offsets(label, pairs, sync_tol=TOL):
    """One output (or one merge copy): each stream moved by one constant
    offset, and every stream by the video's (or, without video, the first
    stream's) within sync_tol (1 ms). `pairs`: (output time, source time)
    lists by stream name, in stream order."""
    fails, mid = [], {}
    for kind, ps in pairs.items():
        o = offsets(ps)
        if not o:
            continue
        spread = max(o) - min(o)
        if spread > TOL:
            fails.append(f"{label}: {kind} offsets vary by {ms(spread)} ({ms(min(o))} .. {ms(max(o))})")
        mid[kind] = sorted(o)[len(o) // 2]
    ref = reference(mid)
    for kind, m in mid.items():
        if kind != ref and abs(m - mid[ref]) > sync_tol:
            fails.append(f"{label}: {kind} {ms(m - mid[ref])} against {ref} "
                         f"(offsets {ms(mid[ref])} {ref}, {ms(m)} {kind})")
    return fails, mid


def reference(mid):
    """The stream the others are measured against: the video, else the first."""
    return "video" if "video" in mid else next(iter(mid), None)


def video_pairs(src, v):
    index = {f.md5: f.pts for f in src.frames}
    return [(f.pts, index.get(f.md5)) for f in v.frames]


def stream_name(kind, k):
    """The first stream of a kind goes by the kind's name, the others by their number."""
    return kind if k == 0 else f"{kind} {k + 1}"


def check_streams(src, outs):
    """Every stream of the source is in each output, and nothing more."""
    fails = []
    for name, m in outs:
        wrong = [f"{m.probe.count(k)} of {src.probe.count(k)} {k}" for k in KINDS
                 if m.probe.count(k) != src.probe.count(k)]
        if wrong:
            fails.append(f"streams: {name} holds {', '.join(wrong)} streams")
    return fails


def locate_subtitles(src, out):
    """(out_time, src_time, src_cue) per output packet: src_cue None for bytes
    not in the source; packets whose payload repeats are left out."""
    found = []
    for p in out.packets:
        if p["data_hash"] in src.repeated:
            continue
        i = src.cue_of.get(p["data_hash"])
        t = float(p["pts_time"]) if "pts_time" in p else None
        found.append((t, src.span(i)[0] if i is not None else None, i))
    return found


def check_split_subtitles(name, src, located, starts):
    """Each cue is in the clip it starts in, once; a cue that runs on across a
    cut may be in the clips it reaches too; in no other. `starts`: the source
    time each clip starts at (None: not known, as for the first clip). Returns
    the failures and, per clip, the (output, source) times of the cues it
    starts in."""
    def after(j, t):  # clip j starts at or before source time t
        return starts[j] is None or starts[j] <= t + TOL
    counts = [collections.Counter(i for _, _, i in loc if i is not None) for loc in located]
    unknown = sum(1 for loc in located for _, _, i in loc if i is None)
    missing, twice, stray = [], [], []
    for i in sorted(src.cue_of.values()):
        s, e = src.span(i)
        home = max(j for j in range(len(starts)) if after(j, s))
        for j, c in enumerate(counts):
            if j == home and c[i] == 0:
                missing.append(s)
            elif c[i] > 1:
                twice.append(s)
            elif c[i] and j != home and (j < home or not after(j, e - 2 * TOL)):
                stray.append(s)
    fails = []
    cues = len(src.cue_of)
    if missing:
        fails.append(f"{name}: {len(missing)} of {cues} cues not in the clip they start in (first at "
                     f"{missing[0]:.3f} s)")
    if twice:
        fails.append(f"{name}: {len(twice)} cues twice in one clip (first at {twice[0]:.3f} s)")
    if stray:
        fails.append(f"{name}: {len(stray)} cues in a clip they do not reach (first at {stray[0]:.3f} s)")
    if unknown:
        fails.append(f"{name}: {unknown} output packets not in the source")
    homes = [[(o, s) for o, s, i in loc if i is not None and after(j, s)] for j, loc in enumerate(located)]
    return fails, homes


def check_merge_subtitles(name, src, loc, times):
    """Each cue `times` times over, nothing that is not in the source."""
    counts = collections.Counter(i for _, _, i in loc if i is not None)
    wrong = [src.span(i)[0] for i in sorted(src.cue_of.values()) if counts[i] != times]
    unknown = sum(1 for _, _, i in loc if i is None)
    fails = []
    if wrong:
        fails.append(f"{name}: {len(wrong)} of {len(src.cue_of)} cues not there {times} times (first at "
                     f"{wrong[0]:.3f} s)")
    if unknown:
        fails.append(f"{name}: {unknown} output packets not in the source")
    return fails


# --- What a file says about itself -------------------------------------------
DISPOSITIONS = ("default", "forced", "hearing_impaired")
COLOURS = ("color_range", "color_space", "color_transfer", "color_primaries")
HDR = ("Mastering display metadata", "Content light level metadata")


def says_default(probe):
    """Whether the container has a default flag per track (Matroska, MP4);
    the others leave it to the player, and ffprobe says 0 for them."""
    return any(f in probe.format.get("format_name", "") for f in ("matroska", "mov"))


def stream_meta(s, with_default=True):
    """What the judge compares of a stream. Colours, rotation, aspect and HDR
    only where they are said: an output need not say what the source leaves
    open."""
    tags = {k.lower(): v for k, v in s.get("tags", {}).items()}
    d = s.get("disposition", {})
    meta = {"language": tags.get("language", "und"), "title": tags.get("title")}
    meta.update({k: d.get(k, 0) for k in DISPOSITIONS if with_default or k != "default"})
    if s.get("codec_type") != "video":
        return meta
    meta.update({k: s[k] for k in COLOURS if s.get(k) not in (None, "unknown")})
    if s.get("sample_aspect_ratio") not in (None, "0:1", "1:1"):
        meta["sample_aspect_ratio"] = s["sample_aspect_ratio"]
    for side in s.get("side_data_list", []):
        kind = side.get("side_data_type")
        if kind == "Display Matrix":
            meta["rotation"] = side.get("rotation")
        elif kind in HDR:
            meta[kind] = {k: number(v) for k, v in side.items() if k != "side_data_type"}
    return meta


def number(v):
    """A rational as ffprobe prints it, to nine digits: containers keep these
    as fixed point or float, so the same value comes back as other fractions."""
    return float(f"{float(fractions.Fraction(v)):.9g}") if isinstance(v, (int, str)) else v


def check_stream_meta(label, src_stream, out_stream, with_default=True):
    want, got = stream_meta(src_stream, with_default), stream_meta(out_stream)
    # A source without a sample aspect ratio of its own is square.
    got.setdefault("sample_aspect_ratio", want.get("sample_aspect_ratio") and "1:1")
    wrong = [f"{k} {got.get(k)!r}, source {v!r}" for k, v in want.items() if got.get(k) != v]
    return [f"meta: {label}: {'; '.join(wrong)}"] if wrong else []


def check_streams_meta(name, src_probe, out_probe):
    fails = []
    for kind in KINDS:
        for k, (s, o) in enumerate(zip(src_probe.kinds[kind], out_probe.kinds[kind])):
            fails += check_stream_meta(f"{name} {stream_name(kind, k)}", s, o, says_default(src_probe))
    return fails


def file_title(probe):
    return {k.lower(): v for k, v in probe.format.get("tags", {}).items()}.get("title")


def chapter(c):
    return float(c["start_time"]), float(c["end_time"]), c.get("tags", {}).get("title")


def check_chapters(name, out_probe, expected):
    """`expected`: (earliest start, latest start, end, end slack, title) in
    output time: a chapter cut short by a clip's start may start anywhere up
    to the clip's first picture, one cut short by the clip's end may end
    within a frame of it."""
    got = [chapter(c) for c in out_probe.chapters]
    if len(got) != len(expected):
        return [f"meta: {name}: {len(got)} chapters, expected {len(expected)} "
                f"({', '.join(repr(t) for *_, t in expected) or 'none'})"]
    fails = []
    for (gs, ge, gt), (lo, hi, ee, slack, et) in zip(got, expected):
        if gt != et or not lo - TOL <= gs <= hi + TOL or abs(ge - ee) > slack + TOL:
            at = f"{lo:.3f}" if hi - lo < TOL else f"{lo:.3f}..{hi:.3f}"
            fails.append(f"meta: {name}: chapter {gt!r} at {gs:.3f}-{ge:.3f} s, expected {et!r} at {at}-{ee:.3f} s")
    return fails


# --- Jobs -------------------------------------------------------------------
class Refused(Exception):
    pass


# The capability table's refusals: a stream it cannot copy, a container it
# cannot write, an input whose streams no output takes.
REFUSAL = re.compile(r"cannot (copy|write|split|merge|mix) ")


def run_cli(cmd):
    """Runs the program: (its output, []) on success, else (None, why). A
    failure must say why in one line; "cannot copy" and the like are the
    capability table's refusals."""
    try:
        r = run(cmd, timeout=120)  # a hang fails the job, not the whole run
    except subprocess.TimeoutExpired:
        return None, ["exit: no end after 120 s"]
    if r.returncode != 0:
        lines = [l for l in r.stderr.splitlines() if l.strip()]
        msg = lines[-1] if lines else "(no message)"
        if REFUSAL.search(msg) and len(lines) == 1:
            raise Refused(msg)
        count = "" if len(lines) == 1 else f" ({len(lines)} error lines, not one)"
        return None, [f"exit: status {r.returncode}{count}: {msg}"]
    return r.stdout, []


def named(kind, k, fails):
    """Failure texts of a stream after the first of its kind say which."""
    return [f"{stream_name(kind, k)}: {f}" for f in fails] if k else fails


def judged(src, outs, kind):
    """The source's streams of a kind that every output holds: a stream
    missing from one fails `streams`, not the checks of its content."""
    return [k for k in range(src.probe.count(kind)) if all(k < o.probe.count(kind) for _, o in outs)]


def expected_chapters(src_probe, out_probe, a, b, off, slack):
    """The source's chapters within [a, b) (source time, None: no limit),
    moved by `off` into the output's time; see check_chapters."""
    out_start = float(out_probe.format.get("start_time", 0))
    expected = []
    for s, e, t in map(chapter, src_probe.chapters):
        if (b is not None and s >= b - TOL) or (a is not None and e <= a + TOL):
            continue
        lo, hi = (min(out_start, a + off), a + off) if a is not None and s < a - TOL else (s + off, s + off)
        end, end_slack = (b + off, slack) if b is not None and e > b + TOL else (e + off, 0.0)
        expected.append((lo, hi, end, end_slack, t))
    return expected


def declared_excess(probe):
    """The file's declared duration less the span of its packets: what an
    edit list hides or a start offset adds; a header copied from elsewhere
    (a FLAC sample count) shows here too."""
    timed = [(float(p["pts_time"]), float(p.get("duration_time") or 0))
             for ps in probe.packets.values() for p in ps if "pts_time" in p]
    if not timed or "duration" not in probe.format:
        return 0.0
    return float(probe.format["duration"]) - (max(t + d for t, d in timed) - min(t for t, _ in timed))


def check_file_meta(name, src, out):
    fails = check_streams_meta(name, src.probe, out.probe)
    excess, allowed = declared_excess(out.probe), max(abs(declared_excess(src.probe)), 0.1)
    if abs(excess) > allowed + TOL:
        fails.append(f"meta: {name}: declares {ms(excess)} more than its packets span (source: "
                     f"{ms(declared_excess(src.probe))})")
    if file_title(out.probe) != file_title(src.probe):
        fails.append(f"meta: {name}: title {file_title(out.probe)!r}, source {file_title(src.probe)!r}")
    return fails


def job_size(ctx, src_path, work):
    """--size: pieces of a third of the file, cut while copying."""
    return job_split(ctx, src_path, work, ["--size", str(max(1, os.path.getsize(src_path) // 3))])


def job_split(ctx, src_path, work, size_args=None):
    src = ctx.media
    # Cuts at a third and two thirds of the pictures (of the sound, without
    # pictures), in seconds from the file's first timestamp (ffmpeg's -ss
    # counts the same way).
    start = float(src.probe.format["start_time"])
    if ctx.src_video:
        times = [f.pts for f in ctx.src_video.frames if f.pts is not None]
        span = times[-1] - times[0] + ctx.frame_dur
    else:
        times = [t for t in ctx.src_audio.times() if t is not None]
        span = times[-1] - times[0] + ctx.packet_dur
    v0 = times[0] - start
    at = f"{v0 + span / 3:.2f},{v0 + 2 * span / 3:.2f}"
    out, fails = run_cli([ctx.remuxion, "split", src_path, "-o", work] + (size_args or ["--at", at]))
    if out is None:
        return {"exit": fails}, ""
    moved = re.search(r"cut at the nearest key frames: (.*)", out)
    cuts = " ".join(size_args) if size_args else f"--at {at}" + (f" (moved to {moved.group(1)})" if moved else "")
    stem, ext = os.path.splitext(os.path.basename(src_path))
    pat = re.compile(re.escape(stem) + r"_\d+_(\d+)" + re.escape(ext) + "$")
    names = sorted((int(m.group(1)), n) for n in os.listdir(work) if (m := pat.match(n)))
    # A file of one group of pictures is one piece, whatever the size.
    if len(names) < (1 if size_args else 2):
        return {"exit": [f"exit: status 0 but {len(names)} clips for {cuts}"]}, ""
    clips = [(n, Media(os.path.join(work, n), src)) for _, n in names]
    res = {"streams": check_streams(src, [(f"clip {j}", m) for j, (_, m) in enumerate(clips, 1)]),
           "decode": [], "video": [], "audio": [], "subtitle": [], "sync": [], "meta": []}
    # Per clip, (output time, source time) of what it holds, by stream.
    pairs = [{} for _ in clips]
    for k in judged(src, clips, "video"):
        outs = [(n, m.videos[k]) for n, m in clips]
        res["decode"] += check_decode(outs[:1]) + check_decode(outs[1:], HARMLESS_AT_CUT)
        res["video"] += named("video", k, check_split_frames(src.videos[k], outs))
        for p, (_, v) in zip(pairs, outs):
            p[stream_name("video", k)] = video_pairs(src.videos[k], v)
    for k in judged(src, clips, "audio"):
        located = [locate_audio(src.audios[k], m.audios[k]) for _, m in clips]
        res["audio"] += check_audio_cover(src.audios[k], sum(located, []), 1, "in no clip", stream_name("audio", k))
        for p, loc in zip(pairs, located):
            p[stream_name("audio", k)] = [(o, s) for o, s, _, _ in loc]
    # Where each clip starts in the source: its first picture, or its first
    # sound without pictures.
    ref = next(iter(pairs[0]), None)
    starts = [None] + [min((s for _, s in p.get(ref, []) if s is not None), default=None) for p in pairs[1:]]
    for k in judged(src, clips, "subtitle"):
        located = [locate_subtitles(src.subtitles[k], m.subtitles[k]) for _, m in clips]
        f, homes = check_split_subtitles(stream_name("subtitle", k), src.subtitles[k], located, starts)
        res["subtitle"] += f
        for p, h in zip(pairs, homes):
            p[stream_name("subtitle", k)] = h
    # AVI places pictures on whole frame steps after sound that starts at 0:
    # a clip whose sound starts between two steps is off by up to half a frame.
    sync_tol = ctx.frame_dur / 2 + TOL if ext == ".avi" else TOL
    offs = []
    for j, p in enumerate(pairs, 1):
        f, mid = check_offsets(f"clip {j}", p, sync_tol)
        res["sync"] += f
        offs.append(mid.get(reference(mid), 0.0))
    slack = ctx.frame_dur if ctx.src_video else ctx.packet_dur
    for j, ((_, m), a, b, off) in enumerate(zip(clips, starts, starts[1:] + [None], offs), 1):
        res["meta"] += check_file_meta(f"clip {j}", src, m)
        res["meta"] += check_chapters(f"clip {j}", m.probe, expected_chapters(src.probe, m.probe, a, b, off, slack))
    res["rejoin"] = check_rejoin(ctx, src, clips, os.path.join(work, "rejoined" + ext))
    return res, f"{cuts}, {len(clips)} clips"


def check_rejoin(ctx, src, clips, rejoined):
    """People join the clips they cut: the merge takes them back, and the
    pictures come out as the source's, in order, none lost or wrong; a
    picture the clips share at a cut may show twice."""
    try:
        out, fails = run_cli([ctx.remuxion, "merge"] + [m.path for _, m in clips] + ["-o", rejoined, "--quiet"])
    except Refused as refusal:
        return [f"the clips do not merge back: {refusal}"]
    if out is None:
        return [f"the clips do not merge back: {f}" for f in fails]
    probe = Probe(rejoined)
    problems = []
    for k in judged(src, clips, "video"):
        if k >= probe.count("video"):
            problems.append(f"merged back: no {stream_name('video', k)}")
            continue
        index = {f.md5: i for i, f in enumerate(src.videos[k].frames)}
        shown = [index.get(f.md5) for f in Video(rejoined, probe, k).frames]
        known = [i for i in shown if i is not None]
        lost = len(index) - len(set(known))
        backward = sum(1 for a, b in zip(known, known[1:]) if b < a)
        repeated = len(known) - len(set(known))
        if shown.count(None) or lost or backward or repeated > len(clips) - 1:
            problems.append(f"merged back, {stream_name('video', k)}: {len(shown)} pictures, {shown.count(None)} "
                            f"not in the source, {lost} of its {len(index)} lost, {repeated} shown twice")
    return problems


def job_exact(ctx, src_path, work):
    return judge_exact.job_exact(sys.modules[__name__], ctx, src_path, work)


def job_merge(ctx, src_path, work):
    src = ctx.media
    ext = os.path.splitext(src_path)[1]
    merged = os.path.join(work, "merged" + ext)
    out, fails = run_cli([ctx.remuxion, "merge", src_path, src_path, "-o", merged, "--quiet"])
    if out is None:
        return {"exit": fails}, ""
    m = Media(merged, src)
    outs = [("merged", m)]
    res = {"streams": check_streams(src, outs), "decode": [], "video": [], "audio": [], "subtitle": [], "sync": [],
           "join": [], "rate": [], "meta": check_file_meta("merged", src, m)}
    # Per stream: (output time, source time) of each packet or frame, and the
    # runs of them that make the two copies.
    streams = {}
    for k in judged(src, outs, "video"):
        sv, v = src.videos[k], m.videos[k]
        res["decode"] += check_decode([("merged", v)])
        res["video"] += named("video", k, check_frames_sequence(sv, v, 2, ctx.preroll if k == 0 else ()))
        # Copies are told apart by the source frame each output frame shows:
        # a source frame without a time of its own still has its place.
        index = {f.md5: i for i, f in enumerate(sv.frames)}
        vruns = copies([index.get(f.md5) for f in v.frames])
        streams[stream_name("video", k)] = (video_pairs(sv, v), vruns)
        if k:
            continue
        # A file whose sound starts before its first picture (AAC priming)
        # keeps that lead at the join: the picture before it is held that long.
        lead = ctx.video_lead
        frames = 2 * len(sv.frames) + len(ctx.preroll)
        held = f"{frames * 1000}/{round((frames * ctx.frame_dur + lead) * 1000)}"
        if not same_rate(v.avg_frame_rate, sv.avg_frame_rate, ctx.vfr) and not (
                lead > TOL and same_rate(v.avg_frame_rate, held, True, 0.001)):
            res["rate"].append(f"rate: avg_frame_rate {v.avg_frame_rate}, source {sv.avg_frame_rate}")
        res["join"] += join_gap("video", [(f.pts, f.dur) for f in v.frames], vruns, lead, 0)
    for k in judged(src, outs, "audio"):
        name, a = stream_name("audio", k), m.audios[k]
        loc = locate_audio(src.audios[k], a)
        res["audio"] += check_audio_cover(src.audios[k], loc, 2, "not there twice", name)
        aruns = copies([u0 if u1 else None for _, _, u0, u1 in loc])
        streams[name] = ([l[:2] for l in loc], aruns)
        if len(aruns) >= 2:
            ap = [(t, float(p.get("duration_time", 0))) for (t, _, _, _), p in zip(loc, a.packets)]
            adur = max((d for _, d in ap), default=0)
            res["join"] += join_gap(name, ap, aruns, adur, adur)
    for k in judged(src, outs, "subtitle"):
        name = stream_name("subtitle", k)
        loc = locate_subtitles(src.subtitles[k], m.subtitles[k])
        res["subtitle"] += check_merge_subtitles(name, src.subtitles[k], loc, 2)
        streams[name] = ([l[:2] for l in loc], copies([i for _, _, i in loc]))
    if not streams:
        return res, ""
    ref, (_, ref_runs) = next(iter(streams.items()))
    if len(ref_runs) != 2:
        res["join"].append(f"join: {ref} holds {len(ref_runs)} copies of the source, not 2")
    offs = []
    for c in range(min(2, len(ref_runs))):
        pairs = {name: [items[i] for i in runs[c]] if c < len(runs) else [] for name, (items, runs) in streams.items()}
        f, mid = check_offsets(f"copy {c + 1}", pairs)
        res["sync"] += f
        offs.append(mid.get(reference(mid), 0.0))
    expected = [x for off in offs for x in expected_chapters(src.probe, m.probe, None, None, off, 0.0)]
    res["meta"] += check_chapters("merged", m.probe, expected)
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
    # Matroska for Matroska sources (WebM takes no AAC dub), else MP4.
    out_ext = ".mkv" if src_path.endswith((".mkv", ".webm")) else ".mp4"
    mixed = os.path.join(work, "mixed" + out_ext)
    vindex = ctx.video_index
    out, fails = run_cli([ctx.remuxion, "mix", src_path, "--stream", str(vindex), ctx.dub_path, "--stream", "0",
                          "-o", mixed, "--quiet"])
    if out is None:
        return {"exit": fails}, ""
    probe = Probe(mixed)
    v, a = Video(mixed, probe), Audio(mixed, probe)
    loc = locate_audio(ctx.dub, a)
    res = {"decode": check_decode([("mixed", v)]), "video": check_frames_sequence(src, v, 1),
           "audio": check_audio_cover(ctx.dub, loc, 1, f"of {DUB} missing"), "sync": [], "meta": []}
    vp = video_pairs(src, v)
    # The dub and the video both start at 0 in the output.
    first = next(f.pts for f in src.frames if f.pts is not None)
    o = [out_t - (src_t - first) for out_t, src_t in vp if None not in (out_t, src_t)]
    f, mid = check_offsets("mix", {"video": [(x, 0.0) for x in o], "audio": [l[:2] for l in loc]})
    res["sync"] += f
    # Matroska holds no time before 0: the dub's priming moves both streams by
    # its length, as it does in ffmpeg's own mix.
    priming = max(0.0, -min(float(p["pts_time"]) for p in ctx.dub.packets)) if out_ext == ".mkv" else 0.0
    if "video" in mid and abs(mid["video"] - priming) > TOL:
        res["sync"].append(f"mix: video starts at {ms(mid['video'])}, not {ms(priming)}")
    if "audio" in mid and abs(mid["audio"] - priming) > TOL:
        res["sync"].append(f"mix: {DUB} starts at {ms(mid['audio'])}, not {ms(priming)}")
    # Each stream says of itself what it said in its own file; the mix takes
    # neither file's title nor chapters.
    for label, want, got, probe in (("mixed video", src.stream, v.stream, ctx.media.probe),
                                    ("mixed audio", ctx.dub.stream, a.stream, ctx.dub_probe)):
        if want and got:
            res["meta"] += check_stream_meta(label, want, got, says_default(probe))
    return res, ""


class Source:
    """What the judge knows about one input before running any job."""

    def __init__(self, args, path, dub):
        self.remuxion, self.dub_path = args.remuxion, dub.path
        self.dub, self.dub_probe = dub.audios[0], dub.probe
        self.media = Media(path)
        probe = self.media.probe
        self.src_video = self.media.videos[0] if self.media.videos else None
        self.src_audio = self.media.audios[0] if self.media.audios else None
        self.video_index = self.src_video.stream["index"] if self.src_video else None
        f = self.src_video.frames if self.src_video else []
        steps = sorted(b.pts - a.pts for a, b in zip(f, f[1:]) if None not in (a.pts, b.pts))
        self.frame_dur = steps[len(steps) // 2] if steps else 0.04
        self.vfr = bool(steps) and steps[-1] - steps[0] > TOL
        apackets = self.src_audio.packets if self.src_audio else []
        durs = sorted(float(p.get("duration_time", 0)) for p in apackets)
        self.packet_dur = durs[len(durs) // 2] if durs else 0.0
        # Pictures an MP4 edit list hides before the first shown one (the
        # demuxer marks their packets for discarding).
        self.preroll = []
        vpackets = probe.stream_packets("video", 0)
        if path.endswith((".mp4", ".mov")) and any("D" in p.get("flags", "") for p in vpackets):
            known = {x.md5 for x in f}
            for x in Video(path, probe, 0, ("-ignore_editlist", "1")).frames:
                if x.md5 in known:
                    break
                self.preroll.append(x.md5)
        # How long a merge holds the last picture before a join: from the
        # copy's start (the file's start, or its first sound packet but for
        # that packet's length, whichever is earlier) to its first picture,
        # hidden pre-roll included.
        start = probe.format.get("start_time")
        vtimes = [float(p["pts_time"]) for p in vpackets if p.get("pts_time") not in (None, "N/A")]
        atimes = [(float(p["pts_time"]), float(p.get("duration_time", 0))) for p in apackets
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
    for v in src.media.videos:
        if v.errors or not v.frames:
            return [(r.file, "-", "FAIL", [f"source does not decode cleanly: {v.errors[:1]}"])]
        if len({f.md5 for f in v.frames}) != len(v.frames):
            return [(r.file, "-", "FAIL", ["source has repeated pictures: frames cannot be told apart"])]
    if not src.media.videos and not src.media.audios:
        return [(r.file, "-", "FAIL", ["source has neither pictures nor sound"])]
    lines = []
    for job in JOBS:
        if args.job and job != args.job:
            continue
        if job not in r.jobs:
            lines.append((r.file, job, "SKIP", ["not run for this input"]))
            continue
        work = os.path.join(args.work, job, os.path.splitext(r.file)[0] + "_" + r.file.rsplit(".", 1)[1])
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        refused, extra = None, ""
        try:
            fails, extra = {"split": job_split, "size": job_size, "merge": job_merge, "mix": job_mix,
                            "exact": job_exact}[job](src, path, work)
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
    dub = Media(os.path.join(args.corpus, DUB))
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
