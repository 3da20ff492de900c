"""What ffprobe says about a file: the judge of every output the bench times."""
import json
import subprocess

FFPROBE = ["ffprobe", "-v", "error", "-of", "json"]


def probe_json(path, *entries):
    result = subprocess.run(FFPROBE + list(entries) + [path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if result.returncode != 0:
        raise ProbeError("ffprobe cannot read %s: %s" % (path, result.stderr.decode(errors="replace").strip()))
    return json.loads(result.stdout or b"{}")


class ProbeError(Exception):
    pass


def file_format(path):
    """duration and start_time in seconds, bit_rate in bit/s, size in bytes."""
    fmt = probe_json(path, "-show_entries", "format=duration,start_time,bit_rate,size")["format"]
    return {key: float(fmt.get(key, "nan")) for key in ("duration", "start_time", "bit_rate", "size")}


def streams(path):
    """codec_type, codec_name, profile, has_b_frames and bit_rate of every stream."""
    wanted = "stream=codec_type,codec_name,profile,has_b_frames,bit_rate,sample_rate,channels,width,height"
    return probe_json(path, "-show_entries", wanted)["streams"]


def packet_counts(path):
    """Packets per stream kind, by reading the whole file: {'video': n, 'audio': m}."""
    found = probe_json(path, "-count_packets", "-show_entries", "stream=codec_type,nb_read_packets")["streams"]
    counts = {}
    for stream in found:
        kind = stream.get("codec_type", "other")
        counts[kind] = counts.get(kind, 0) + int(stream.get("nb_read_packets", 0))
    return counts


class Packet:
    __slots__ = ("pts", "dts", "duration", "size", "key")

    def __init__(self, pts, dts, duration, size, key):
        self.pts, self.dts, self.duration, self.size, self.key = pts, dts, duration, size, key


def _number(text):
    try:
        return float(text)
    except (TypeError, ValueError):
        return None


def packets(path, selector):
    """Every packet of the streams `selector` picks ('v:0', 'a:0'), in file order, times in seconds."""
    found = probe_json(path, "-select_streams", selector, "-show_entries",
                       "packet=pts_time,dts_time,duration_time,size,flags")["packets"]
    return [Packet(_number(p.get("pts_time")), _number(p.get("dts_time")), _number(p.get("duration_time")),
                   int(p.get("size", 0)), p.get("flags", "").startswith("K")) for p in found]


def first_video_packet_is_key(path):
    found = probe_json(path, "-select_streams", "v:0", "-read_intervals", "%+#1",
                       "-show_entries", "packet=flags")["packets"]
    return bool(found) and found[0].get("flags", "").startswith("K")
