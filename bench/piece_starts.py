"""Where our --size pieces start in their source, found from the pieces themselves.

Our pieces restart their timestamps at 0 and may overlap, so neither their times
nor their running packet counts say where they begin. Each later piece starts at
a key frame no later than where the one before ended; the first few video packet
sizes of the piece tell which. The media is made of repeated copies of one
encode, so only key frames near the previous piece's end are considered.
"""
import probe

SIGNATURE_PACKETS = 8


class LocateError(Exception):
    pass


def start_times(source, described, pieces, most_overlap_frames):
    """Start-relative times of the key frames that begin the 2nd, 3rd, ... piece."""
    video = probe.packets(source, "v:0")
    sizes = [p.size for p in video]
    keys = [i for i, p in enumerate(video) if p.key]
    window = 2 * most_overlap_frames
    start, length = 0, len(probe.packets(pieces[0], "v:0"))
    found = []
    for number, piece in enumerate(pieces[1:], 2):
        packets = probe.packets(piece, "v:0")
        head = [p.size for p in packets[:SIGNATURE_PACKETS]]
        end = start + length
        candidates = [k for k in keys if end - window <= k <= end and sizes[k:k + len(head)] == head]
        if not candidates:
            raise LocateError("piece %d does not start at a key frame within %d frames before the end of piece %d"
                              % (number, window, number - 1))
        start, length = max(candidates), len(packets)
        found.append(video[start].pts - described["start_time"])
    return found
