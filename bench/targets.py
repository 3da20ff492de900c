"""The targets our times are held against, and the ratios that measure them."""
from jobs import JobKind

RSS_LIMIT_MB = 64
MKVMERGE_LIMIT = 1.0
_FFMPEG_LIMITS = {
    JobKind.SPLIT_AT_TIMES: 0.9,
    JobKind.SPLIT_BY_SIZE: 0.9,
    JobKind.MERGE: 0.9,
    JobKind.MIX: 0.9,
    JobKind.KEY_FRAMES: 0.5,
    JobKind.INFO: None,  # no target: shown for comparison
}


def ffmpeg_peer(job):
    """ffmpeg, or ffprobe for the listings."""
    return "ffprobe" if "ffprobe" in job.peer_names() else "ffmpeg"


def limit(job, peer):
    return MKVMERGE_LIMIT if peer == "mkvmerge" else _FFMPEG_LIMITS[job.kind]


class Ratio:
    """us / peer for wall and CPU time; None where either side has no valid time."""

    def __init__(self, wall, cpu, limit):
        self.wall = wall
        self.cpu = cpu
        self.limit = limit

    def misses(self):
        if self.limit is None:
            return 0
        return sum(1 for value in (self.wall, self.cpu) if value is not None and value > self.limit)


def ratio(result, peer):
    ours, theirs = result.summary("us"), result.summary(peer)
    if peer not in result.tools:
        return None
    wall = ours.wall / theirs.wall if ours and theirs and theirs.wall > 0 else None
    cpu = ours.cpu / theirs.cpu if ours and theirs and theirs.cpu > 0 else None
    return Ratio(wall, cpu, limit(result.job, peer))


def rss_missed(result):
    ours = result.summary("us")
    return ours is not None and ours.rss_mb >= RSS_LIMIT_MB


def describe():
    return ("targets: us <= 0.9 x ffmpeg for the splits, merge and mix, <= 0.5 x ffprobe for the key-frame index "
            "(wall and CPU time each), <= 1.0 x mkvmerge for MKV jobs, our peak RSS < %d MB; info has no target. "
            "'!' marks a miss." % RSS_LIMIT_MB)
