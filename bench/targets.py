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
    JobKind.EXACT_CUT: None,  # its own target: see exact_cut_limit
}


def ffmpeg_peer(job):
    """ffmpeg, or ffprobe for the listings."""
    return "ffprobe" if "ffprobe" in job.peer_names() else "ffmpeg"


def limit(job, peer):
    return MKVMERGE_LIMIT if peer == "mkvmerge" else _FFMPEG_LIMITS[job.kind]


def exact_cut_limit(result, seconds_of):
    """An exact cut may cost the pictures it encodes again at ffmpeg's time per picture (its full re-encode of
    the clip), plus the copy of a key-frame cut: that sum over the full re-encode's time."""
    full, copy = seconds_of(result.summary("ffmpeg")), seconds_of(result.summary("copy"))
    reencoded = getattr(result.job, "reencoded", None)
    if not full or copy is None or reencoded is None:
        return None
    return (reencoded * full / result.job.expectation.exact_frames + copy) / full


class Ratio:
    """us / peer for wall and CPU time; None where either side has no valid time."""

    def __init__(self, wall, cpu, limit, cpu_limit=None):
        self.wall = wall
        self.cpu = cpu
        self.limit = limit
        self.cpu_limit = limit if cpu_limit is None else cpu_limit

    def misses(self):
        pairs = ((self.wall, self.limit), (self.cpu, self.cpu_limit))
        return sum(1 for value, most in pairs if value is not None and most is not None and value > most)


def ratio(result, peer):
    ours, theirs = result.summary("us"), result.summary(peer)
    if peer not in result.tools:
        return None
    wall = ours.wall / theirs.wall if ours and theirs and theirs.wall > 0 else None
    cpu = ours.cpu / theirs.cpu if ours and theirs and theirs.cpu > 0 else None
    if result.job.kind == JobKind.EXACT_CUT:
        return Ratio(wall, cpu, exact_cut_limit(result, lambda s: s.wall if s else None),
                     exact_cut_limit(result, lambda s: s.cpu if s else None))
    return Ratio(wall, cpu, limit(result.job, peer))


def floor_ratio(result):
    """The read floor over ffprobe's time (wall, CPU), where the job measured it."""
    floor, peer = result.summary("floor"), result.summary("ffprobe")
    if not floor or not peer or peer.wall <= 0 or peer.cpu <= 0:
        return None
    return floor.wall / peer.wall, floor.cpu / peer.cpu


def rss_missed(result):
    """Copying jobs only: the exact clip holds decoded pictures and an encoder's look-ahead."""
    ours = result.summary("us")
    return result.job.kind != JobKind.EXACT_CUT and ours is not None and ours.rss_mb >= RSS_LIMIT_MB


def describe():
    return ("targets: us <= 0.9 x ffmpeg for the splits, merge and mix, <= 0.5 x ffprobe for the key-frame index "
            "(wall and CPU time each), <= 1.0 x mkvmerge for MKV jobs, our peak RSS < %d MB (copying jobs); info has no target; "
            "the exact clip: no more than the pictures it encodes again at ffmpeg's time per picture plus the copy "
            "of a key-frame cut. "
            "'!' marks a miss." % RSS_LIMIT_MB)
