"""Where the packets of each output of a split lie in its source, found by their sizes.

Packet counts alone miss a gap at one cut made up for by an overlap at another;
placing every output shows both. The picture is made of copies of one encode
and repeats, but the sound is encoded at full length with noise and does not:
the sound places an output, and its picture is the matching run nearest the
sound's time.
"""
import functools
import os

import probe

SIGNATURE_PACKETS = 16


class PlacementError(Exception):
    pass


class Track:
    def __init__(self, packets):
        self.sizes = [p.size for p in packets]
        self.times = [p.pts if p.pts is not None else p.dts for p in packets]
        self.decode_times = [p.dts if p.dts is not None else p.pts for p in packets]


@functools.lru_cache(maxsize=4)
def source_tracks(path):
    return Track(probe.packets(path, "v:0")), Track(probe.packets(path, "a:0"))


def runs_of(source, sizes):
    """Every index where `sizes` lies in the source as an unbroken run."""
    if not sizes:
        return []
    head = sizes[:SIGNATURE_PACKETS]
    first, length = head[0], len(head)
    found = []
    for i, size in enumerate(source.sizes):
        if size == first and source.sizes[i:i + length] == head and source.sizes[i:i + len(sizes)] == sizes:
            found.append(i)
    return found


class Placement:
    """An output's video and audio as [start, end) packet ranges of the source's streams."""

    def __init__(self, path, video, audio, video_time):
        self.path = path
        self.video = video
        self.audio = audio
        self.video_time = video_time  # source time of its first video packet


def place(source, output):
    video, audio = source_tracks(source)
    out_video, out_audio = (Track(probe.packets(output, s)) for s in ("v:0", "a:0"))
    name = os.path.basename(output)
    audio_starts = runs_of(audio, out_audio.sizes)
    if len(audio_starts) != 1:
        raise PlacementError("the sound of %s is %s in the source" % (
            name, "not found as one run" if not audio_starts else "found at %d places" % len(audio_starts)))
    sound_time = audio.times[audio_starts[0]]
    video_starts = runs_of(video, out_video.sizes)
    if not video_starts:
        raise PlacementError("the pictures of %s are not found as one run in the source" % name)
    start = min(video_starts, key=lambda i: abs(video.times[i] - sound_time))
    return Placement(output, (start, start + len(out_video.sizes)),
                     (audio_starts[0], audio_starts[0] + len(out_audio.sizes)), video.times[start])


def place_all(source, outputs):
    return [place(source, path) for path in outputs]


class Coverage:
    """How the outputs' ranges of one stream cover the source: the first problem, and what the cuts repeat."""

    def __init__(self, problem=None, repeated=0):
        self.problem = problem
        self.repeated = repeated


def coverage(kind, ranges, track, may_repeat_per_cut):
    """Whether `ranges`, in cut order, cover the whole track, overlapping only at cuts as allowed."""
    end, repeated = 0, 0
    for number, (start, stop) in enumerate(ranges):
        if start > end:
            return Coverage("%d %s packets of the source (%.2f s from %.2f s) are in no output, before output %d" % (
                start - end, kind, track.decode_times[start] - track.decode_times[end], track.decode_times[end],
                number + 1))
        if end - start > may_repeat_per_cut:
            return Coverage("outputs %d and %d share %d %s packets (at most %d allowed at a cut)" % (
                number, number + 1, end - start, kind, may_repeat_per_cut))
        repeated += end - start
        end = max(end, stop)
    if end != len(track.sizes):
        return Coverage("the last %d %s packets of the source are in no output" % (len(track.sizes) - end, kind))
    return Coverage(repeated=repeated)


def split_verdict(source, outputs, video_per_cut, audio_per_cut):
    """(problem or None, what the cuts repeat) for the outputs of a split of `source`."""
    try:
        placed = place_all(source, outputs)
    except PlacementError as error:
        return str(error), ""
    video, audio = source_tracks(source)
    placed.sort(key=lambda p: p.video[0])
    pictures = coverage("video", [p.video for p in placed], video, video_per_cut)
    sound = coverage("audio", [p.audio for p in placed], audio, audio_per_cut)
    problem = pictures.problem or sound.problem
    return problem, "the cuts repeat %d video + %d audio packets" % (pictures.repeated, sound.repeated)


def piece_start_times(source, pieces, start_time):
    """Start-relative source times of the key frames that begin the 2nd, 3rd, ... piece."""
    placed = sorted(place_all(source, pieces), key=lambda p: p.video[0])
    return [p.video_time - start_time for p in placed[1:]]
