"""Seed files for the fuzz targets: small but well-formed inputs of every
kind the store reads, and the damaged forms that it must survive."""

import struct
from pathlib import Path

from .imagefile import SMALL, ImageFile, fresh_image_bytes
from .layouts import (HEADER_FORMAT, JOURNAL_LIMIT, KEY_INDEX_SIZE, FIELD_B, FIELD_C, VideoFrame,
                      journal_entry, video_header)
from .volume import write_image

SEED_SIZE = 65536
SEED_SECONDS = 2


def _write(path, data):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)
    return path


def _small_image(version, number=7):
    return ImageFile(version=version, size=SEED_SIZE, number=number, layout=SMALL).record(SEED_SECONDS)


def image_seeds(target):
    """Image files of every generation, fresh and damaged."""
    written = [_write(target / "fresh.img", fresh_image_bytes(SEED_SIZE))]
    for version in HEADER_FORMAT:
        path = target / f"v{version:04x}.img"
        write_image(path, version=version, size=SEED_SIZE, number=7, seconds=SEED_SECONDS, layout=SMALL)
        written.append(path)
    for damage in ("torn-toc", "truncated", "garbage-header"):
        for version in (0x3010, 0x3000):
            path = target / f"v{version:04x}-{damage}.img"
            write_image(path, version=version, size=SEED_SIZE, number=7, seconds=SEED_SECONDS, layout=SMALL,
                        damage=damage)
            written.append(path)
    return written


def scan_seeds(target):
    """Scannable generations, plus one file whose records break the
    sequence (one number skipped) and one cut off inside a record."""
    written = []
    for version in (0x3010, 0x3000, 0x2015):
        path = target / f"v{version:04x}.img"
        _small_image(version).write(path)
        written.append(path)
    image = _small_image(0x3010)
    data = bytearray(image.image_bytes())
    middle = image.entries[len(image.entries) // 2]
    struct.pack_into("<I", data, middle.pos + 4 + 11, middle.sequence + 1)
    written.append(_write(target / "sequence-gap.img", bytes(data)))
    written.append(_write(target / "cut-in-record.img", image.image_bytes()[:middle.pos + 10]))
    return written


def _raw_pieces(data):
    return b"".join(bytes([0, len(data[i:i + 255])]) + data[i:i + 255] for i in range(0, len(data), 255))


def fuzz_journal(raw):
    """A journal as the input of FuzzCacheJournal: each whole entry whose
    data end in a run of one byte becomes a short piece that the target
    expands again; the rest is copied as it is."""
    out, at = bytearray(), 0
    while at + 7 <= len(raw):
        tag, kind, stream, length = struct.unpack_from("<BBBI", raw, at)
        data = raw[at + 7:at + 7 + length]
        literal = data[:255]
        rest = data[len(literal):]
        if len(data) != length or length > 0xFFFFFF or (rest and rest.count(rest[:1]) != len(rest)):
            break
        out += bytes([((tag ^ 1) << 1) | 1, kind, stream]) + length.to_bytes(3, "little")
        out += bytes([rest[0] if rest else 0, len(literal)]) + literal
        at += 7 + length
    return bytes(out + _raw_pieces(raw[at:]))


def journal_seeds(target):
    image = _small_image(0x3010)
    normal, _ = image.journal()
    oversized, _ = image.journal(oversized=True)
    at_limit = journal_entry(0, 0, bytes(JOURNAL_LIMIT)) + journal_entry(2, 0, image.header())
    other = journal_entry(5, 3, b"skipped") + normal
    bad_tag = b"\x02" + normal[1:]
    return [_write(target / name, fuzz_journal(data)) for name, data in (
        ("journal.tmp", normal), ("oversized.tmp", oversized), ("at-limit.tmp", at_limit),
        ("unknown-kind.tmp", other), ("bad-tag.tmp", bad_tag), ("short-head.tmp", normal[:5]))]


def header_seeds(target):
    """Single stored headers of all six formats, key and non-key, and a KEY
    file of every generation that has one."""
    written = []
    for version, fmt in HEADER_FORMAT.items():
        for key in (True, False):
            frame = VideoFrame(1709280000, 44, 1234 if key else 1235, 1, key, a=5000, key_value=4096 if key else 0,
                               b=FIELD_B if key else 0, c=FIELD_C, d=3, e=0 if key else 17)
            name = f"format{fmt}-{'key' if key else 'delta'}.bin"
            written.append(_write(target / name, video_header(fmt, frame, base=7)))
    for version in KEY_INDEX_SIZE:
        image = _small_image(version)
        written.append(_write(target / f"keyindex-v{version:04x}.ndx", image.key_index_bytes()))
    return written


TARGETS = {"FuzzImageLoad": image_seeds, "FuzzRecordScan": scan_seeds, "FuzzCacheJournal": journal_seeds,
           "FuzzFrameHeaders": header_seeds}


def write_corpus(root, targets=None):
    """Writes DIR/<target>/ seed files; returns {target: [paths]}."""
    root = Path(root)
    return {name: [str(p) for p in TARGETS[name](root / name)] for name in (targets or TARGETS)}
