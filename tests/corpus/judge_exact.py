"""The judge's `exact` job: split an H.264 or HEVC input with --exact at ten
pictures that are not key frames (a fixed seed picks them; six on HEVC, whose
encoder is slower) and check each clip with
ffmpeg: it holds exactly the pictures from its cut to the next, the copied
ones bit-identical to the source and the encoded ones (those before the first
copied key frame and from the last key frame on) above 45 dB PSNR; the count
the program reports matches; it decodes without a message, and (MP4, MOV,
Matroska) from the parameter sets of its stream description alone; its sound
is judged as in a split; the clips merged back hold every picture once. A clip
the program cuts at key frames instead must say why, with the reason the
table expects. Inputs with open groups are also cut once, so that a clip
copies from a rewritten key frame to the file's end."""
import collections
import os
import random
import re

CUTS = 10
HEVC_CUTS = 6
SEED = 20260
MIN_PSNR = 45.0

# Inputs cut with --exact: the reason a clip is expected to fall back for
# (None: every clip is cut exactly), and the checks expected to fail.
# AVI and program streams are not judged yet: their packets carry no
# presentation times, so the judge cannot place their key frames.
Expect = collections.namedtuple("Expect", "fallback xfail")
EXACT = Expect(None, "")
EXACT_INPUTS = {name: EXACT for name in (
    "h264_aac.mp4", "h264_bframes_aac.mp4", "h264_keyint_irregular_aac.mp4", "h264_2997_aac51.mp4",
    "h264_offset10_aac.mp4", "h264_editlist_aac.mp4", "h264_aac44k.mov", "h264_bframes_pcm.mov",
    "h264_bframes_aac.mkv", "h264_mp3.mkv", "h264_2997_ac3.mkv", "h264_vfr_aac.mkv", "h264_bframes_aac_mkvmerge.mkv",
    "h264_aac_ac3_srt_chapters.mkv", "h264_bframes_aac.ts", "h264_ac3.ts", "h264_bframes_aac.m2ts",
    "h264_bframes_aac.flv", "h264_vfr_aac.mp4", "h264_aac_movtext.mp4")}
EXACT_INPUTS.update({
    "h264_opengop_aac.mp4": EXACT,
    "h264_opengop_aac.ts": EXACT,
    "hevc_bframes_aac_rotated.mp4": EXACT,
    # x265's open groups: a CRA key frame with leading pictures that refer before it.
    "hevc10_hdr_eac3.mkv": EXACT,
})

# Inputs also cut once only, so that a clip copies to the file's end from a
# key frame of an open group, rewritten into an IDR picture, with every
# picture after it renumbered.
WHOLE_COPY_INPUTS = {"h264_opengop_aac.mp4", "h264_opengop_aac.ts"}

CLIP_LINE = re.compile(r"clip (\d+): (?:(\d+) frames re-encoded, (\d+) copied|cut at key frames: (.*))")


def key_frame_indices(judge, src_path, frames):
    """Indices (in presentation order) of the pictures whose packets are key
    frames, each with its leading pictures: those shown before it and decoded
    after it (an open group's), which a cut re-encodes with it."""
    info = judge.ffprobe_json(src_path, "-select_streams", "v:0", "-show_entries", "packet=pts_time,flags",
                              "-show_packets")
    index = {}
    for i, f in enumerate(frames):
        if f.pts is not None:
            index[round(f.pts, 4)] = i
    order = [(index.get(round(float(p["pts_time"]), 4)), "K" in p.get("flags", ""))
             for p in info["packets"] if "pts_time" in p]
    keys = {}
    for pos, (i, key) in enumerate(order):
        if key and i is not None:
            keys[i] = set()
            for j, _ in order[pos + 1:]:
                if j is None or j > i:
                    break
                keys[i].add(j)
    return keys


def pick_cuts(frames, keys, count):
    """`count` pictures that are no key frames, at least two pictures apart."""
    candidates = [i for i in range(2, len(frames) - 2) if i not in keys and frames[i].pts is not None]
    rng = random.Random(SEED)
    chosen = []
    for i in rng.sample(candidates, len(candidates)):
        if all(abs(i - c) > 2 for c in chosen):
            chosen.append(i)
        if len(chosen) == count:
            break
    return sorted(chosen)


def encoded_indices(a, b, keys, n):
    """Source pictures of the clip [a, b) that are expected to be encoded
    again: from its start to the first key frame after it, and from the last
    key frame before its end to its end (no tail when it ends at a key frame
    or at the file's end)."""
    inside = sorted(k for k in keys if a < k < b)
    head_end = b if a not in keys and not inside else (a if a in keys else inside[0])
    encoded = set(range(a, head_end))
    if b != n and b not in keys and head_end < b:
        tail = max([k for k in keys if head_end <= k < b], default=None)
        if tail is not None:
            encoded |= set(range(tail, b)) | {j for j in keys[tail] if j >= head_end}
    if b != n and b in keys and head_end < b:
        encoded |= {j for j in keys[b] if j >= head_end}
    return encoded


def psnr_per_frame(judge, clip_path, src_path, a, b):
    """PSNR of each picture of the clip against source pictures a .. b-1."""
    graph = (f"[0:v:0]setpts=N/TB[c];[1:v:0]select='between(n\\,{a}\\,{b - 1})',setpts=N/TB[r];"
             "[c][r]psnr=stats_file=-")
    r = judge.run(["ffmpeg", "-nostdin", "-v", "error", "-i", clip_path, "-i", src_path, "-lavfi", graph,
                   "-f", "null", "-"])
    values = []
    for line in r.stdout.splitlines():
        m = re.search(r"psnr_avg:(\S+)", line)
        if m:
            values.append(float("inf") if m.group(1) == "inf" else float(m.group(1)))
    return values


def warnings_of(judge, path, known=frozenset()):
    """What ffmpeg -v warning says decoding the file, pictures kept as they
    come (a short clip's guessed frame rate would make ffmpeg's own output
    retime them); less what it also says of the source (`known`, digits left
    out), which belongs to the container."""
    r = judge.run(["ffmpeg", "-nostdin", "-v", "warning", "-i", path, "-fps_mode", "passthrough", "-enc_time_base:v", "-1",
                   "-f", "null", "-"])
    lines = [re.sub(r" @ 0x[0-9a-f]+", "", l) for l in r.stderr.splitlines() if l.strip()]
    return [l for l in lines if re.sub(r"\d+", "#", l) not in known]


def decodes_from_description(judge, clip_path, work, hevc):
    """MP4, MOV and Matroska keep parameter sets in the stream description;
    a player may read them there only. The clip's pictures, with the
    parameter sets in its packets taken out, must decode as they do with
    them. Empty when they do (or the container keeps no description)."""
    ext = os.path.splitext(clip_path)[1]
    if ext not in (".mp4", ".mov", ".mkv"):
        return []
    stripped = os.path.join(work, "stripped" + ext)
    sets = "32|33|34" if hevc else "7|8"
    judge.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", clip_path, "-map", "0:v:0", "-c", "copy",
               "-bsf:v", f"filter_units=remove_types={sets}", stripped])
    frames = [judge.run(["ffmpeg", "-nostdin", "-v", "error", "-i", p, "-map", "0:v:0", "-f", "framemd5", "-"]).stdout
              for p in (clip_path, stripped)]
    hashes = [[l.split(",")[-1] for l in f.splitlines() if l.startswith("0,")] for f in frames]
    os.remove(stripped)
    if hashes[0] != hashes[1] or not hashes[0]:
        return [f"without the parameter sets in its packets, {len(hashes[1])} of {len(hashes[0])} pictures decode "
                "the same: the stream description lacks the encoded pictures' sets"]
    return []


def check_clip(judge, ctx, src_path, clip_path, media, a, b, keys, reported, known):
    """The checks of one exactly cut clip of source pictures [a, b)."""
    fails = {"frames": [], "psnr": [], "report": [], "decode": []}
    src = ctx.src_video
    n = len(src.frames)
    got = media.videos[0].frames if media.videos else []
    label = f"clip of frames {a}..{b - 1}"
    if len(got) != b - a:
        fails["frames"].append(f"{label}: {len(got)} frames, expected {b - a}")
        return fails
    encoded = encoded_indices(a, b, keys, n)
    copied_wrong = [a + i for i, f in enumerate(got) if a + i not in encoded and f.md5 != src.frames[a + i].md5]
    if copied_wrong:
        fails["frames"].append(f"{label}: {len(copied_wrong)} copied frames differ from the source "
                               f"(first: frame {copied_wrong[0]})")
    if encoded or got[0].md5 != src.frames[a].md5:
        values = psnr_per_frame(judge, clip_path, src_path, a, b)
        if len(values) != b - a:
            fails["psnr"].append(f"{label}: PSNR for {len(values)} frames, expected {b - a}")
        low = [(a + i, v) for i, v in enumerate(values) if v < MIN_PSNR]
        if low:
            fails["psnr"].append(f"{label}: {len(low)} frames below {MIN_PSNR} dB (first: frame {low[0][0]}, "
                                 f"{low[0][1]:.1f} dB)")
    if reported != (len(encoded), b - a - len(encoded)):
        fails["report"].append(f"{label}: reported {reported[0]} re-encoded, {reported[1]} copied; expected "
                               f"{len(encoded)}, {b - a - len(encoded)}")
    if w := warnings_of(judge, clip_path, known):
        fails["decode"].append(f"{label}: ffmpeg -v warning says {len(w)} lines (first: {w[0]})")
    if encoded:
        fails["decode"] += [f"{label}: {f}" for f in decodes_from_description(
            judge, clip_path, os.path.dirname(clip_path), os.path.basename(src_path).startswith("hevc"))]
    return fails


def job_exact(judge, ctx, src_path, work):
    name = os.path.basename(src_path)
    keys = key_frame_indices(judge, src_path, ctx.src_video.frames)
    runs = [pick_cuts(ctx.src_video.frames, keys, HEVC_CUTS if name.startswith("hevc") else CUTS)]
    if name in WHOLE_COPY_INPUTS:
        # Before the key frame with the most leading pictures: they are left
        # out of the copy, and the numbers after them change.
        ordered = sorted(keys)
        widest = max(ordered[1:], key=lambda k: (len(keys[k]), -k))
        leading = set().union(*keys.values())
        previous = ordered[ordered.index(widest) - 1]
        runs.append([next(i for i in range(previous + 2, widest) if i not in keys and i not in leading)])
    results, texts = {}, []
    for k, cuts in enumerate(runs):
        run_work = os.path.join(work, f"run{k}")
        os.makedirs(run_work, exist_ok=True)
        res, text = exact_run(judge, ctx, src_path, run_work, keys, cuts)
        for check, fails in res.items():
            results.setdefault(check, []).extend(fails)
        texts.append(text)
    return results, "; ".join(texts)


def exact_run(judge, ctx, src_path, work, keys, cuts):
    name = os.path.basename(src_path)
    expected_reason = EXACT_INPUTS[name].fallback
    known = {re.sub(r"\d+", "#", l) for l in warnings_of(judge, src_path)}
    src = ctx.src_video
    n = len(src.frames)
    start = float(ctx.media.probe.format["start_time"])
    at = ",".join(f"{src.frames[i].pts - start:.6f}" for i in cuts)
    out, fails = judge.run_cli([ctx.remuxion, "split", src_path, "-o", work, "--at", at, "--exact"])
    if out is None:
        return {"exit": fails}, ""
    lines = {int(m.group(1)): m for m in map(CLIP_LINE.match, out.splitlines()) if m}
    stem, ext = os.path.splitext(name)
    pat = re.compile(re.escape(stem) + r"_\d+_(\d+)" + re.escape(ext) + "$")
    numbered = sorted((int(m.group(1)), nm) for nm in os.listdir(work) if (m := pat.match(nm)))
    names = [nm for _, nm in numbered]
    res = {"exit": [], "frames": [], "psnr": [], "report": [], "decode": [], "audio": [], "sync": [],
           "merge": [], "fallback": []}
    bounds = list(zip([0] + cuts, cuts + [n]))
    if len(names) != len(bounds) or len(lines) != len(bounds):
        res["exit"].append(f"{len(names)} clips and {len(lines)} clip lines for {len(bounds)} clips")
        return res, f"--at {at}"
    clips = [(nm, judge.Media(os.path.join(work, nm), ctx.media)) for nm in names]
    fell_back = []
    pairs = [{} for _ in clips]
    for j, ((nm, media), (a, b)) in enumerate(zip(clips, bounds), 1):
        m = lines[j]
        if m.group(4) is not None:
            fell_back.append(j)
            if not expected_reason or expected_reason not in m.group(4):
                res["exit"].append(f"clip {j} cut at key frames: {m.group(4)}")
            continue
        for check, f in check_clip(judge, ctx, src_path, os.path.join(work, nm), media, a, b, keys,
                                   (int(m.group(2)), int(m.group(3))), known).items():
            res[check] += f
        if media.videos:
            pairs[j - 1]["video"] = judge.video_pairs(src, media.videos[0])
    if fell_back and expected_reason:
        res["fallback"].append(f"{len(fell_back)} of {len(bounds)} clips cut at key frames, as expected: "
                               f"the key frame after the cut {expected_reason} (open group of pictures)")
    if fell_back:
        return res, f"--at {at}"
    if ctx.src_audio:
        located = [judge.locate_audio(ctx.src_audio, m.audios[0]) if m.audios else [] for _, m in clips]
        res["audio"] += judge.check_audio_cover(ctx.src_audio, sum(located, []), 1, "in no clip")
        for p, loc in zip(pairs, located):
            p["audio"] = [(o, s) for o, s, _, _ in loc]
    for j, p in enumerate(pairs, 1):
        res["sync"] += judge.check_offsets(f"clip {j}", p)[0]
    merged = os.path.join(work, "merged" + ext)
    try:
        out, fails = judge.run_cli([ctx.remuxion, "merge", *[os.path.join(work, nm) for nm in names], "-o", merged,
                                    "--quiet"])
    except judge.Refused as e:
        out, fails = None, [f"merge refused: {e}"]
    if out is None:
        res["merge"] += fails
    else:
        whole = judge.Media(merged, ctx.media)
        want = [f.md5 for _, m in clips for f in m.videos[0].frames]
        got = [f.md5 for f in whole.videos[0].frames]
        if got != want:
            res["merge"].append(f"merged clips: {len(got)} frames, expected the clips' {len(want)} in order")
        if w := warnings_of(judge, merged, known):
            res["merge"].append(f"merged clips: ffmpeg -v warning says {len(w)} lines (first: {w[0]})")
    return res, f"--at {at}, {len(clips)} clips"
