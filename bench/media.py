"""The bench's input media: made once per size and kept under BUILD/bench/.

A 1080p25 H.264 High-profile picture with B-frames at about 5 Mbit/s (the rate
and packet density of ordinary files, so per-packet costs show), a key frame
every 2 s, and AAC stereo at 48 kHz. Encoding hundreds of seconds of 1080p
would take most of an hour on a small machine, so a short piece of picture is
encoded and copies of it are joined with the concat demuxer (-c copy); the
sound is encoded at full length, since joined AAC pieces would overlap by their
priming samples. The result's timestamps are checked to run on without gaps.
"""
import json
import math
import os
import shutil
import subprocess
import sys

import probe

FRAME_RATE = 25
KEY_FRAME_INTERVAL = 50
AUDIO_RATE = 48000
AUDIO_FRAME = 1024
AUDIO_BITS_PER_SECOND = 128_000
MEDIA_VERSION = "h264high-bf3-5M"


def log(text):
    print(text, file=sys.stderr, flush=True)


def run_ffmpeg(args):
    cmd = ["ffmpeg", "-nostdin", "-v", "error", "-y"] + args
    result = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if result.returncode != 0:
        raise SystemExit("making media failed (%d): %s\n%s" % (result.returncode, " ".join(cmd),
                                                              result.stderr.decode(errors="replace")))


class Media:
    """Paths of the media files and, once made, what ffprobe found in them."""

    def __init__(self, folder):
        self.folder = folder
        self.sources = {ext: os.path.join(folder, "big." + ext) for ext in ("mp4", "mkv", "ts")}
        self.parts = {ext: [os.path.join(folder, "part_%s.%s" % (c, ext)) for c in "abc"] for ext in ("mp4", "mkv")}
        self.video_only = os.path.join(folder, "video_only.mp4")
        self.audio_only = os.path.join(folder, "audio_only.m4a")
        self.description_path = os.path.join(folder, "media.json")
        self.description = None

    def complete(self):
        return os.path.exists(self.description_path)

    def load(self):
        with open(self.description_path) as f:
            self.description = json.load(f)

    def described(self, path):
        return self.description["files"][os.path.basename(path)]


# --------------------------------------------------------------------------
# Encoding and joining


def encode_picture(path, seconds):
    # Light temporal noise keeps the encoder busy for its bits, as real footage does.
    run_ffmpeg(["-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=%d,noise=alls=3:allf=t" % FRAME_RATE,
                "-t", str(seconds), "-an",
                "-c:v", "libx264", "-preset", "veryfast", "-profile:v", "high", "-pix_fmt", "yuv420p",
                "-bf", "3", "-g", str(KEY_FRAME_INTERVAL), "-keyint_min", str(KEY_FRAME_INTERVAL),
                "-sc_threshold", "0", "-b:v", "5M", "-maxrate", "6M", "-bufsize", "10M", path])


def encode_sound(path, seconds):
    # Two tones with a little noise, different in each channel.
    left = "0.3*sin(440*2*PI*t)+0.03*(random(0)*2-1)"
    right = "0.3*sin(660*2*PI*t)+0.03*(random(1)*2-1)"
    run_ffmpeg(["-f", "lavfi", "-i", "aevalsrc=%s|%s:s=%d" % (left, right, AUDIO_RATE), "-t", str(seconds),
                "-c:a", "aac", "-b:a", str(AUDIO_BITS_PER_SECOND), "-ac", "2", path])


def write_listing(listing, files):
    with open(listing, "w") as f:
        for name in files:
            f.write("file '%s'\n" % os.path.abspath(name))


def join_copies(picture, copies, sound, out):
    """`copies` copies of the picture one after another, with the sound beside them."""
    listing = out + ".list.txt"
    write_listing(listing, [picture] * copies)
    run_ffmpeg(["-f", "concat", "-safe", "0", "-i", listing, "-i", sound,
                "-map", "0:v", "-map", "1:a", "-c", "copy", out])
    os.remove(listing)


def remux(source, out, *select):
    run_ffmpeg(["-i", source] + list(select or ("-map", "0")) + ["-c", "copy", out])


def copies_for(megabytes, picture_bytes, piece_seconds):
    piece_bytes = picture_bytes + piece_seconds * AUDIO_BITS_PER_SECOND / 8
    return max(1, math.ceil(megabytes * 1_000_000 / piece_bytes))


# --------------------------------------------------------------------------
# What was made


def steps(times):
    ordered = [t for t in times if t is not None]
    return [b - a for a, b in zip(ordered, ordered[1:])]


def check_continuous(path):
    """Fails unless the pictures follow one another at the frame rate and the sound without gaps or overlaps."""
    video = probe.packets(path, "v:0")
    audio = probe.packets(path, "a:0")
    frame = 1.0 / FRAME_RATE
    picture_steps = steps(sorted(p.pts for p in video if p.pts is not None))
    bad = [s for s in picture_steps if abs(s - frame) > 1e-3]
    if bad or len(picture_steps) != len(video) - 1:
        raise SystemExit("%s: picture times jump (%d steps off %.3f s, e.g. %s)" % (path, len(bad), frame, bad[:3]))
    sound_frame = AUDIO_FRAME / AUDIO_RATE
    bad = [s for s in steps([p.dts for p in audio]) if abs(s - sound_frame) > 1e-4]
    if bad:
        raise SystemExit("%s: sound times jump (%d steps off %.4f s, e.g. %s)" % (path, len(bad), sound_frame, bad[:3]))


def leading_pictures(video):
    """Most pictures that follow a key frame in the file but are shown before it (open-GOP leading pictures)."""
    most, key_pts, count = 0, None, 0
    for packet in video:
        if packet.key:
            most, key_pts, count = max(most, count), packet.pts, 0
        elif key_pts is not None and packet.pts is not None and packet.pts < key_pts:
            count += 1
    return max(most, count)


def describe_file(path):
    video = probe.packets(path, "v:0")
    audio = probe.packets(path, "a:0")
    fmt = probe.file_format(path)
    kinds = {s["codec_type"]: s for s in probe.streams(path)}
    return {
        "bytes": os.path.getsize(path),
        "duration": fmt["duration"],
        "start_time": fmt["start_time"],
        "bit_rate": fmt["bit_rate"],
        "video_packets": len(video),
        "audio_packets": len(audio),
        "key_frames": [p.pts - fmt["start_time"] for p in video if p.key],
        "leading_pictures": leading_pictures(video),
        "has_b_frames": int(kinds.get("video", {}).get("has_b_frames", 0)),
        "profile": kinds.get("video", {}).get("profile", "?"),
        "video_bit_rate": float(kinds.get("video", {}).get("bit_rate", "nan")),
    }


def describe(media):
    files = list(media.sources.values()) + [media.parts["mp4"][0], media.parts["mkv"][0],
                                            media.video_only, media.audio_only]
    description = {"version": MEDIA_VERSION, "files": {os.path.basename(f): describe_file(f) for f in files}}
    for ext in ("mp4", "mkv"):
        for other in media.parts[ext][1:]:
            description["files"][os.path.basename(other)] = description["files"][os.path.basename(media.parts[ext][0])]
    return description


def check_same_packets(media):
    """The MKV and TS copies and the mix inputs must hold the very packets of the MP4."""
    reference = media.described(media.sources["mp4"])
    for path in list(media.sources.values()):
        found = media.described(path)
        for kind in ("video_packets", "audio_packets"):
            if found[kind] != reference[kind]:
                raise SystemExit("%s has %d %s, the MP4 %d" % (path, found[kind], kind, reference[kind]))
    if media.described(media.video_only)["video_packets"] != reference["video_packets"] or \
            media.described(media.audio_only)["audio_packets"] != reference["audio_packets"]:
        raise SystemExit("the video-only and audio-only files do not hold all packets of %s" % media.sources["mp4"])


# --------------------------------------------------------------------------


def make_media(root, megabytes, piece_seconds):
    media = Media(os.path.join(root, "media-%s-%dMB" % (MEDIA_VERSION, megabytes)))
    if media.complete():
        media.load()
        return media
    shutil.rmtree(media.folder, ignore_errors=True)
    os.makedirs(media.folder)
    log("making test media in %s (once; the encode takes a few minutes)" % media.folder)
    picture = os.path.join(media.folder, "picture.mp4")
    encode_picture(picture, piece_seconds)
    copies = copies_for(megabytes, os.path.getsize(picture), piece_seconds)
    sound = os.path.join(media.folder, "sound.m4a")
    encode_sound(sound, copies * piece_seconds)
    join_copies(picture, copies, sound, media.sources["mp4"])
    check_continuous(media.sources["mp4"])
    remux(media.sources["mp4"], media.sources["mkv"])
    remux(media.sources["mp4"], media.sources["ts"])

    part_copies = max(1, math.ceil(copies / 3))
    encode_sound(sound, part_copies * piece_seconds)
    join_copies(picture, part_copies, sound, media.parts["mp4"][0])
    remux(media.parts["mp4"][0], media.parts["mkv"][0])
    for ext in ("mp4", "mkv"):
        for other in media.parts[ext][1:]:
            shutil.copyfile(media.parts[ext][0], other)

    remux(media.sources["mp4"], media.video_only, "-map", "0:v")
    remux(media.sources["mp4"], media.audio_only, "-map", "0:a")
    os.remove(picture)
    os.remove(sound)

    media.description = describe(media)
    check_same_packets(media)
    with open(media.description_path, "w") as f:
        json.dump(media.description, f)
    return media
