"""The timed jobs: for each, our command line and those of the peers doing the same work."""
import enum
import os

import media as media_files
import placement

# A split may write the audio packet that sounds across a cut on both sides of it.
AUDIO_REPEATS_PER_CUT = 1
# Cut points lie this far before a key frame.
CUT_BEFORE_KEY_FRAME = 0.3
# --size pieces start at the whole second at or before the previous piece's end,
# moved back to a key frame: they overlap by less than a key-frame interval and a second.
SIZE_OVERLAP_SECONDS = media_files.KEY_FRAME_INTERVAL / media_files.FRAME_RATE + 1.0


class JobKind(enum.Enum):
    SPLIT_AT_TIMES = ("split", "split 4 clips")
    SPLIT_BY_SIZE = ("size", "split by size")
    MERGE = ("merge", "merge 3 files")
    MIX = ("mix", "mix video + audio")
    KEY_FRAMES = ("keyframes", "key-frame index")
    INFO = ("info", "info")
    EXACT_CUT = ("exact", "exact clip")

    @property
    def key(self):
        return self.value[0]

    @property
    def title(self):
        return self.value[1]


class Tool:
    """One program's command line for a job; `derive` builds it from our outputs when it depends on them."""

    def __init__(self, name, argv=None, stdout_name=None, derive=None, note=""):
        self.name = name
        self.argv = argv
        self.stdout_name = stdout_name
        self.derive = derive
        self.note = note


class Expectation:
    """What every tool's outputs must hold: the source's packets, give or take what a cut may repeat."""

    def __init__(self, video=0, audio=0, files=None, video_per_cut=0, audio_per_cut=0, key_frames=None,
                 codecs=None, exact_frames=None):
        self.video = video
        self.audio = audio
        self.files = files  # a fixed number of outputs, or None when the tool chooses
        self.video_per_cut = video_per_cut
        self.audio_per_cut = audio_per_cut
        self.key_frames = key_frames  # KEY_FRAMES: the source's key-frame times
        self.codecs = codecs  # INFO: the codecs the listing must name
        self.exact_frames = exact_frames  # EXACT_CUT: the pictures of the clip asked for


class Job:
    def __init__(self, kind, container, inputs, tools, expectation, out_root, note=""):
        self.kind = kind
        self.container = container
        self.inputs = inputs
        self.tools = tools
        self.expectation = expectation
        self.out_root = out_root
        self.note = note

    @property
    def id(self):
        return "%s-%s" % (self.kind.key, self.container)

    @property
    def name(self):
        return "%s %s" % (self.kind.title, self.container)

    def folder(self, tool):
        return os.path.join(self.out_root, tool.name)

    def peer_names(self):
        return [tool.name for tool in self.tools if tool.name != "us"]

    def matches(self, words):
        return any(word in (self.id, self.kind.key, self.container) for word in words)


FFMPEG = ["ffmpeg", "-nostdin", "-v", "error"]


def seconds_list(times):
    return ",".join("%.3f" % t for t in times)


def cut_times(description, parts=4):
    """Just before the first key frame at or after each quarter: every tool then cuts at the same key frame,
    whichever way it rounds (ours: to the nearest; ffmpeg and mkvmerge: to the next)."""
    keys = description["key_frames"]
    times = []
    for k in range(1, parts):
        quarter = description["duration"] * k / parts
        key = next(t for t in keys if t >= quarter - 1e-6)
        times.append(key - CUT_BEFORE_KEY_FRAME)
    return times


def segment_muxer(source, times, folder, stem):
    ext = os.path.splitext(source)[1]
    return FFMPEG + ["-i", source, "-map", "0", "-c", "copy", "-f", "segment", "-segment_times", seconds_list(times),
                     "-reset_timestamps", "1", os.path.join(folder, stem + "_%03d" + ext)]


def split_at_times_job(remuxion, media, ext, out, mkvmerge):
    source = media.sources[ext]
    described = media.described(source)
    times = cut_times(described)
    job = Job(JobKind.SPLIT_AT_TIMES, ext, [source], [], Expectation(
        video=described["video_packets"], audio=described["audio_packets"], files=len(times) + 1,
        video_per_cut=described["leading_pictures"], audio_per_cut=AUDIO_REPEATS_PER_CUT), out)
    us = Tool("us")
    us.argv = [remuxion, "split", source, "-o", job.folder(us), "--at", seconds_list(times), "--quiet"]
    job.tools.append(us)
    ffmpeg = Tool("ffmpeg")
    ffmpeg.argv = segment_muxer(source, times, job.folder(ffmpeg), "clip")
    job.tools.append(ffmpeg)
    if mkvmerge and ext == "mkv":
        tool = Tool("mkvmerge")
        tool.argv = [mkvmerge, "-q", "-o", os.path.join(job.folder(tool), "clip.mkv"),
                     "--split", "timestamps:" + ",".join("%.3fs" % t for t in times), source]
        job.tools.append(tool)
    job.note = "cuts %.1f s before the first key frame after each quarter, so that every tool cuts at the same " \
               "key frames" % CUT_BEFORE_KEY_FRAME
    return job


def split_by_size_job(remuxion, media, ext, out, mkvmerge, piece_size):
    source = media.sources[ext]
    described = media.described(source)
    rate = media_files.AUDIO_RATE / media_files.AUDIO_FRAME
    expectation = Expectation(
        video=described["video_packets"], audio=described["audio_packets"],
        video_per_cut=described["leading_pictures"] + int(SIZE_OVERLAP_SECONDS * media_files.FRAME_RATE),
        audio_per_cut=AUDIO_REPEATS_PER_CUT + int(SIZE_OVERLAP_SECONDS * rate + 1))
    job = Job(JobKind.SPLIT_BY_SIZE, ext, [source], [], expectation, out)
    us = Tool("us")
    us.argv = [remuxion, "split", source, "-o", job.folder(us), "--size", piece_size, "--quiet"]
    job.tools.append(us)
    ffmpeg = Tool("ffmpeg", note="ffmpeg cannot cut by size: its segment muxer is given the times of the key "
                                 "frames where our pieces start, read from our own outputs")

    def derive(our_outputs):
        times = placement.piece_start_times(source, our_outputs, described["start_time"])
        half_frame = 0.5 / media_files.FRAME_RATE
        return segment_muxer(source, [t - half_frame for t in times], job.folder(ffmpeg), "piece")

    ffmpeg.derive = derive
    job.tools.append(ffmpeg)
    if mkvmerge and ext == "mkv":
        tool = Tool("mkvmerge")
        tool.argv = [mkvmerge, "-q", "-o", os.path.join(job.folder(tool), "piece.mkv"),
                     "--split", "size:" + piece_size, source]
        job.tools.append(tool)
    job.note = "pieces of %s" % piece_size
    return job


def merge_job(remuxion, media, ext, out, mkvmerge, listing_folder):
    parts = media.parts[ext]
    described = [media.described(p) for p in parts]
    job = Job(JobKind.MERGE, ext, parts, [], Expectation(
        video=sum(d["video_packets"] for d in described), audio=sum(d["audio_packets"] for d in described),
        files=1), out)
    name = "merged." + ext
    us = Tool("us")
    us.argv = [remuxion, "merge"] + parts + ["-o", os.path.join(job.folder(us), name), "--quiet"]
    job.tools.append(us)
    listing = os.path.join(listing_folder, "merge_%s.txt" % ext)
    media_files.write_listing(listing, parts)
    ffmpeg = Tool("ffmpeg")
    ffmpeg.argv = FFMPEG + ["-f", "concat", "-safe", "0", "-i", listing, "-map", "0", "-c", "copy",
                            os.path.join(job.folder(ffmpeg), name)]
    job.tools.append(ffmpeg)
    if mkvmerge and ext == "mkv":
        tool = Tool("mkvmerge")
        joined = [parts[0]]
        for part in parts[1:]:
            joined += ["+", part]
        tool.argv = [mkvmerge, "-q", "-o", os.path.join(job.folder(tool), name)] + joined
        job.tools.append(tool)
    return job


def mix_job(remuxion, media, out):
    video, audio = media.video_only, media.audio_only
    job = Job(JobKind.MIX, "mp4", [video, audio], [], Expectation(
        video=media.described(video)["video_packets"], audio=media.described(audio)["audio_packets"], files=1), out)
    us = Tool("us")
    us.argv = [remuxion, "mix", video, audio, "-o", os.path.join(job.folder(us), "mixed.mp4"), "--quiet"]
    ffmpeg = Tool("ffmpeg")
    ffmpeg.argv = FFMPEG + ["-i", video, "-i", audio, "-map", "0:v", "-map", "1:a", "-c", "copy",
                            os.path.join(job.folder(ffmpeg), "mixed.mp4")]
    job.tools += [us, ffmpeg]
    return job


def key_frames_job(remuxion, media, ext, out, read_floor=None):
    source = media.sources[ext]
    described = media.described(source)
    job = Job(JobKind.KEY_FRAMES, ext, [source], [], Expectation(
        video=described["video_packets"], key_frames=described["key_frames"]), out)
    job.tools.append(Tool("us", [remuxion, "keyframes", source, "--quiet"], stdout_name="listing.txt"))
    job.tools.append(Tool("ffprobe", ["ffprobe", "-v", "error", "-select_streams", "v",
                                      "-show_entries", "packet=pts_time,flags", source], stdout_name="listing.txt"))
    if read_floor:
        job.tools.append(Tool("floor", [read_floor, source], stdout_name="listing.txt",
                              note="one pass of FFmpeg's demuxer over the video packets, nothing else: the least "
                                   "a listing read through FFmpeg costs"))
    return job


def info_job(remuxion, media, ext, out):
    source = media.sources[ext]
    job = Job(JobKind.INFO, ext, [source], [], Expectation(codecs=["h264", "aac"]), out)
    job.tools.append(Tool("us", [remuxion, "info", source], stdout_name="listing.txt"))
    job.tools.append(Tool("ffprobe", ["ffprobe", "-v", "error", "-show_streams", "-show_format", source],
                          stdout_name="listing.txt"))
    return job


# The exact clip: it starts this far after a key frame, ends this far after
# another, and lasts at least EXACT_CLIP_SECONDS.
EXACT_START_AFTER_KEY = 0.52
EXACT_END_AFTER_KEY = 1.0
EXACT_CLIP_SECONDS = 20
# Our encoder's quality for the pictures it encodes again; the full re-encode uses the same.
EXACT_CRF = "14"
EXACT_REPORT = "report.txt"


def exact_clip(description):
    """Start and length (s) of a clip that starts and ends inside groups of pictures, from 40 % of the file."""
    keys = description["key_frames"]
    k = next(i for i, t in enumerate(keys) if t >= description["duration"] * 0.4)
    start = keys[k] + EXACT_START_AFTER_KEY
    end = next(t for t in keys if t >= start + EXACT_CLIP_SECONDS) + EXACT_END_AFTER_KEY
    return start, end - start


def exact_cut_job(remuxion, media, out):
    source = media.sources["mp4"]
    start, length = exact_clip(media.described(source))
    frames = round(length * media_files.FRAME_RATE)
    job = Job(JobKind.EXACT_CUT, "mp4", [source], [], Expectation(exact_frames=frames), out)
    clip = "%.3f+%.3f" % (start, length)
    us = Tool("us", stdout_name=EXACT_REPORT)
    us.argv = [remuxion, "split", source, "-o", job.folder(us), "--clip", clip, "--exact"]
    job.tools.append(us)
    ffmpeg = Tool("ffmpeg", note="the whole clip encoded again by libx264 at our encoder's quality")
    ffmpeg.argv = FFMPEG + ["-ss", "%.3f" % start, "-i", source, "-t", "%.3f" % length, "-map", "0:v", "-map", "0:a",
                            "-c:v", "libx264", "-crf", EXACT_CRF, "-c:a", "copy",
                            os.path.join(job.folder(ffmpeg), "clip.mp4")]
    job.tools.append(ffmpeg)
    copy = Tool("copy", note="the same clip cut at key frames: the copy that an exact cut adds its encoding to")
    copy.argv = [remuxion, "split", source, "-o", job.folder(copy), "--clip", clip, "--quiet"]
    job.tools.append(copy)
    job.note = "%d pictures from %.2f s, starting and ending inside groups of pictures; target: no more than the " \
               "pictures we encode x ffmpeg's time per picture + the copy" % (frames, start)
    return job


def all_jobs(remuxion, media, out, mkvmerge, piece_size, listing_folder, read_floor=None):
    jobs = [split_at_times_job(remuxion, media, ext, out, mkvmerge) for ext in ("mp4", "mkv", "ts")]
    jobs += [split_by_size_job(remuxion, media, ext, out, mkvmerge, piece_size) for ext in ("mp4", "mkv", "ts")]
    jobs += [merge_job(remuxion, media, ext, out, mkvmerge, listing_folder) for ext in ("mp4", "mkv")]
    jobs.append(mix_job(remuxion, media, out))
    jobs += [key_frames_job(remuxion, media, ext, out, read_floor) for ext in ("mp4", "mkv", "ts")]
    jobs += [info_job(remuxion, media, ext, out) for ext in ("mp4", "mkv", "ts")]
    jobs.append(exact_cut_job(remuxion, media, out))
    return jobs
