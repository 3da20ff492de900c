#!/usr/bin/env python3
"""Prints, as a markdown table, which codecs each output container takes
according to the capability table (src/caps/LossLess_xml.xml).

  scripts/codec_table.py [TABLE]            print the table
  scripts/codec_table.py --check README.md  fail when the README's copy differs

Extensions that take the same codecs share a row. In the README the table
sits between the two marker lines below and is never edited by hand.
"""
import argparse
import difflib
import pathlib
import sys
import xml.etree.ElementTree as ElementTree

ROOT = pathlib.Path(__file__).resolve().parent.parent
BEGIN = "<!-- codec table: made by scripts/codec_table.py -->"
END = "<!-- end of codec table -->"

# Short name -> (column, name people know it by).
CODECS = {
    "H264": ("video", "H.264"),
    "HEVC": ("video", "HEVC"),
    "AV1": ("video", "AV1"),
    "VP9": ("video", "VP9"),
    "VP8": ("video", "VP8"),
    "MPEG1": ("video", "MPEG-1"),
    "MPEG2": ("video", "MPEG-2"),
    "MPEG4": ("video", "MPEG-4 Part 2"),
    "MJPEG": ("video", "Motion JPEG"),
    "PRORES": ("video", "ProRes"),
    "AAC": ("audio", "AAC"),
    "MP3": ("audio", "MP3"),
    "MP2": ("audio", "MP2"),
    "AC3": ("audio", "AC-3"),
    "EAC3": ("audio", "E-AC-3"),
    "DTS": ("audio", "DTS"),
    "TRUEHD": ("audio", "TrueHD"),
    "OPUS": ("audio", "Opus"),
    "VORBIS": ("audio", "Vorbis"),
    "FLAC": ("audio", "FLAC"),
    "ALAC": ("audio", "ALAC"),
    "PCM": ("audio", "PCM"),
    "MOVTEXT": ("subtitles", "MPEG-4 timed text"),
    "SUBRIP": ("subtitles", "SubRip"),
    "ASS": ("subtitles", "ASS/SSA"),
    "WEBVTT": ("subtitles", "WebVTT"),
    "PGS": ("subtitles", "PGS"),
    "DVBSUB": ("subtitles", "DVB"),
    "DVDSUB": ("subtitles", "DVD"),
}
COLUMNS = ("video", "audio", "subtitles")


def read_table(path):
    """Extension -> codec short names in table order, entries of one name pooled."""
    root = ElementTree.parse(path).getroot()
    table = {}
    for entry in root.find("OUTPUT_MAP"):
        names = table.setdefault(entry.tag, [])
        for group in entry:
            for codec in group:
                if codec.tag not in names:
                    names.append(codec.tag)
    return table


def markdown(table):
    rows = {}  # codec list -> extensions, in table order
    for extension, names in table.items():
        unknown = [name for name in names if name not in CODECS]
        if unknown:
            sys.exit(f"{extension} lists codecs this script does not know: {', '.join(unknown)}")
        rows.setdefault(tuple(names), []).append("." + extension.lower())
    lines = ["| output extension | " + " | ".join(COLUMNS) + " |", "|---" * (len(COLUMNS) + 1) + "|"]
    for names, extensions in rows.items():
        cells = [", ".join(CODECS[n][1] for n in names if CODECS[n][0] == column) or "-" for column in COLUMNS]
        lines.append("| " + ", ".join(extensions) + " | " + " | ".join(cells) + " |")
    return "\n".join(lines) + "\n"


def readme_copy(readme):
    text = pathlib.Path(readme).read_text(encoding="utf-8")
    if BEGIN not in text or END not in text:
        sys.exit(f"{readme} has no lines {BEGIN!r} and {END!r}")
    return text.split(BEGIN, 1)[1].split(END, 1)[0].strip("\n") + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("table", nargs="?", default=ROOT / "src/caps/LossLess_xml.xml")
    parser.add_argument("--check", metavar="README", help="compare with the copy in this file")
    args = parser.parse_args()
    made = markdown(read_table(args.table))
    if not args.check:
        sys.stdout.write(made)
        return 0
    copy = readme_copy(args.check)
    if copy == made:
        return 0
    sys.stdout.writelines(difflib.unified_diff(copy.splitlines(True), made.splitlines(True), args.check, "made"))
    print(f"{args.check}: the codec table differs from the capability table; paste in scripts/codec_table.py's output")
    return 1


if __name__ == "__main__":
    sys.exit(main())
