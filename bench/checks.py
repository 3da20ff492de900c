"""Whether a tool's outputs did the job: judged by ffprobe, before any time counts.

Media outputs must hold, over all files, every video and audio packet of the
source. The outputs of a split must moreover be the source cut in pieces: each
an unbroken run of its packets, together covering all of it with no gap, and
overlapping only by what a cut may repeat: the audio packet that sounds across
it, the leading pictures of an open group, and for --size pieces the overlap of
less than a key-frame interval and a second that they document. Listings must
name what the source holds.
"""
import os
import re

import placement
import probe
from jobs import JobKind

TIME_TOLERANCE = 0.002


class Verdict:
    def __init__(self, ok, text):
        self.ok = ok
        self.text = text


def passed(text):
    return Verdict(True, text)


def failed(text):
    return Verdict(False, text)


def outputs_in(folder):
    if not os.path.isdir(folder):
        return []
    return sorted(os.path.join(folder, name) for name in os.listdir(folder))


def check(job, tool, outputs, our_outputs):
    """The verdict on `outputs`, the files `tool` wrote for `job` (our own are `our_outputs`)."""
    if job.kind == JobKind.KEY_FRAMES and tool.name == "floor":
        return check_floor_count(read_text(outputs), job.expectation)
    if job.kind == JobKind.KEY_FRAMES:
        return check_key_frame_listing(tool.name, read_text(outputs), job.expectation.key_frames)
    if job.kind == JobKind.INFO:
        return check_info_listing(tool.name, read_text(outputs), job.expectation.codecs)
    if job.kind == JobKind.EXACT_CUT:
        return check_exact_clip(job, tool, outputs)
    files = job.expectation.files
    if job.kind == JobKind.SPLIT_BY_SIZE and tool.name == "ffmpeg":
        files = len(our_outputs)  # it was given our cut points
    may_cut = job.kind in (JobKind.SPLIT_AT_TIMES, JobKind.SPLIT_BY_SIZE)
    verdict = check_media_outputs(job.expectation, outputs, files, may_cut)
    if verdict.ok and may_cut:
        problem, repeats = placement.split_verdict(job.inputs[0], outputs, job.expectation.video_per_cut,
                                                   job.expectation.audio_per_cut)
        if problem:
            return failed(problem)
        verdict.text += "; in order without a gap, %s" % repeats
    return verdict


def read_text(outputs):
    if len(outputs) != 1:
        return ""
    with open(outputs[0], errors="replace") as f:
        return f.read()


# --------------------------------------------------------------------------
# Media outputs


def check_media_outputs(expectation, outputs, files, may_cut):
    if not outputs:
        return failed("wrote no file")
    if files is not None and len(outputs) != files:
        return failed("wrote %d files, not %d" % (len(outputs), files))
    totals = {"video": 0, "audio": 0}
    for path in outputs:
        try:
            counts = probe.packet_counts(path)
            starts_on_key = probe.first_video_packet_is_key(path)
        except probe.ProbeError as error:
            return failed(str(error))
        name = os.path.basename(path)
        for kind in totals:
            if counts.get(kind, 0) == 0:
                return failed("%s holds no %s" % (name, kind))
            totals[kind] += counts[kind]
        if not starts_on_key:
            return failed("%s does not start its video on a key frame" % name)
    cuts = len(outputs) - 1 if may_cut else 0
    problems = [count_problem("video", totals["video"], expectation.video, cuts * expectation.video_per_cut),
                count_problem("audio", totals["audio"], expectation.audio, cuts * expectation.audio_per_cut)]
    problems = [p for p in problems if p]
    if problems:
        return failed("; ".join(problems))
    return passed("%d file%s, %d video + %d audio packets (source %d + %d)" % (
        len(outputs), "" if len(outputs) == 1 else "s", totals["video"], totals["audio"],
        expectation.video, expectation.audio))


def count_problem(kind, found, expected, may_repeat):
    if found < expected:
        return "%d of the source's %d %s packets missing" % (expected - found, expected, kind)
    if found > expected + may_repeat:
        return "%d %s packets more than the source's %d (at most %d allowed at the cuts)" % (
            found - expected, kind, expected, may_repeat)
    return None


def reencoded_pictures(report_text):
    """From our report 'clip 1: R frames re-encoded, C copied': R, or None."""
    found = re.search(r"clip 1: (\d+) frames re-encoded, (\d+) copied", report_text)
    return int(found.group(1)) if found else None


def check_exact_clip(job, tool, outputs):
    """The exact cut and the full re-encode hold the pictures asked for, no more; the key-frame cut holds them
    and what its key frames add; all of them hold sound."""
    media = [path for path in outputs if not path.endswith(".txt")]
    if len(media) != 1:
        return failed("wrote %d media files, not 1" % len(media))
    try:
        counts = probe.packet_counts(media[0])
    except probe.ProbeError as error:
        return failed(str(error))
    want = job.expectation.exact_frames
    video, audio = counts.get("video", 0), counts.get("audio", 0)
    if audio == 0:
        return failed("holds no audio")
    if tool.name == "copy":
        if video < want:
            return failed("%d pictures, fewer than the %d asked for" % (video, want))
        return passed("%d pictures (%d asked for), cut at key frames" % (video, want))
    if video != want:
        return failed("%d pictures, not the %d asked for" % (video, want))
    text = "%d pictures" % video
    if tool.name == "us":
        reencoded = reencoded_pictures(read_text([p for p in outputs if p.endswith(".txt")]))
        if reencoded is None:
            return failed("does not say how many pictures it encoded again")
        job.reencoded = reencoded
        text += ", %d of them encoded again" % reencoded
    return passed(text)


# --------------------------------------------------------------------------
# Listings


def key_frame_times(tool_name, text):
    if tool_name == "us":
        # rows: number, [HH:]MM:SS.mmm, seconds, frame
        return [float(m.group(1)) for m in re.finditer(r"^\s*\d+\s+\S+\s+(-?\d+\.\d+)\s+\d+\s*$", text, re.M)]
    # ffprobe: [PACKET] pts_time=... flags=K_ [/PACKET]
    times = []
    for block in text.split("[/PACKET]"):
        pts = re.search(r"pts_time=(\S+)", block)
        flags = re.search(r"flags=(\S+)", block)
        if pts and flags and flags.group(1).startswith("K") and pts.group(1) != "N/A":
            times.append(float(pts.group(1)))
    return times


def from_first(times):
    return [t - times[0] for t in times] if times else []


def check_key_frame_listing(tool_name, text, expected):
    found = key_frame_times(tool_name, text)
    if len(found) != len(expected):
        return failed("lists %d key frames, the source has %d" % (len(found), len(expected)))
    off = [(a, b) for a, b in zip(from_first(found), from_first(expected)) if abs(a - b) > TIME_TOLERANCE]
    if off:
        return failed("%d key-frame times differ from the source's, e.g. %.3f s for %.3f s" % (
            len(off), off[0][0], off[0][1]))
    return passed("%d key frames at the source's times" % len(found))


def check_floor_count(text, expectation):
    found = re.match(r"(\d+) packets, (\d+) key", text)
    if not found:
        return failed("printed no count")
    packets, keys = int(found.group(1)), int(found.group(2))
    if packets != expectation.video or keys != len(expectation.key_frames):
        return failed("read %d packets, %d key; the source has %d, %d key" % (
            packets, keys, expectation.video, len(expectation.key_frames)))
    return passed("read the %d video packets, %d key" % (packets, keys))


def listed_codecs(tool_name, text):
    if tool_name == "us":
        return re.findall(r"stream #\d+\s+(?:video|audio)\s+(\S+)", text)
    return re.findall(r"^codec_name=(\S+)", text, re.M)


def check_info_listing(tool_name, text, codecs):
    found = listed_codecs(tool_name, text)
    if sorted(found) != sorted(codecs):
        return failed("lists streams %s, the source holds %s" % (", ".join(found) or "none", ", ".join(codecs)))
    return passed("lists the %s streams" % " and ".join(codecs))
