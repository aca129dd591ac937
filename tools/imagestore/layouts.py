"""Byte layouts of the recorder's image store: the frame headers of every
generation, the audio and text headers, key index records, cache journal
entries and the master index summary record. Pure byte code: no files."""

import struct
from dataclasses import dataclass

MARKER = b"KSTX"
VIDEO, AUDIO, TEXT = 0, 1, 2
KIND_NAMES = ("video", "audio", "text")
STREAMS = 16
NO_EARLIEST = 2085724800
NO_LATEST = 115200
MASTER_RECORD_SIZE = 688
MASTER_FORMAT = 48
JOURNAL_LIMIT = 0x20000

# Video header format of each image-file generation.
HEADER_FORMAT = {0x1000: 1, 0x2000: 2, 0x2010: 3, 0x2015: 4, 0x3000: 5, 0x3010: 6}
# (non-key size, key size) of each video header format.
HEADER_SIZES = {1: (20, 20), 2: (14, 22), 3: (25, 33), 4: (31, 39), 5: (31, 39), 6: (21, 29)}
# Generations that keep their key frames in a KEY file, and its record size.
KEY_INDEX_SIZE = {0x1000: 20, 0x2000: 22, 0x2010: 33, 0x2015: 39, 0x3000: 39}

# Format 1 keeps only the top byte of B; this value survives a round trip.
FIELD_B = 0x3C07C280
FIELD_C = 0x0160


@dataclass
class VideoFrame:
    """A video frame header in its in-memory (key record) terms."""
    time: int
    hundredths: int
    sequence: int
    stream: int
    key: bool
    a: int = 0
    key_value: int = 0
    b: int = 0
    c: int = 0
    d: int = 0
    e: int = 0


def video_header(fmt, f, base=0, key_form=None):
    """The stored header of format fmt. Relative D fields are stored as base
    minus D. key_form forces the long (key) form, as key index records have
    it whatever the frame's flag; by default the frame's key flag decides."""
    full = f.key if key_form is None else key_form
    key_bit = 0x80 if f.key else 0
    rel = (base - f.d) & 0xFFFFFFFF
    head = struct.pack("<IB", f.time & 0xFFFFFFFF, f.hundredths)
    if fmt == 1:
        h = bytearray(head + struct.pack("<HHHIBH", f.sequence & 0xFFFF, f.c & 0xFFFF, rel & 0xFFFF,
                                         f.key_value, f.stream & 0xFF, f.a & 0xFFFF))
        return bytes(h + bytes([1 if f.key else 0, (f.b >> 24) & 0xFF]))
    if fmt == 2:
        h = head + struct.pack("<HBHHH", f.sequence & 0xFFFF, (f.stream & 0x7F) | key_bit,
                               f.a & 0xFFFF, f.c & 0xFFFF, rel & 0xFFFF)
    elif fmt == 3:
        h = head + MARKER + struct.pack("<BIBHHHI", 3, f.sequence, (f.stream & 0x7F) | key_bit,
                                        f.a & 0xFFFF, f.c & 0xFFFF, rel & 0xFFFF, f.e & 0x3FFFF)
    elif fmt in (4, 5):
        d, e = (rel, f.e & 0x3FFFF) if fmt == 4 else (f.d, f.e)
        h = head + MARKER + struct.pack("<BBIBBIHII", fmt, VIDEO, f.sequence, f.stream & 0xFF,
                                        1 if f.key else 0, f.a, f.c & 0xFFFF, d, e)
    elif fmt == 6:
        h = head + MARKER + struct.pack("<BBIBBI", 6, VIDEO, f.sequence, f.stream & 0xFF,
                                        1 if f.key else 0, f.a)
    else:
        raise ValueError(f"no video header format {fmt}")
    return h + struct.pack("<II", f.key_value, f.b) if full else h


def prefix(time, hundredths, fmt, kind, sequence, stream):
    return struct.pack("<IB4sBBIB", time, hundredths, MARKER, fmt, kind, sequence, stream)


def audio_header(time, hundredths, sequence, stream, payload_size, rate=8000, width=8):
    return prefix(time, hundredths, 1, AUDIO, sequence, stream) + struct.pack("<III", rate, width, payload_size)


def text_header(time, hundredths, sequence, stream, payload_size, fmt=2):
    h = prefix(time, hundredths, fmt, TEXT, sequence, stream) + struct.pack("<IHH", payload_size, 16, 16)
    return h + struct.pack("<IH", 0x00FFFFFF, 0) if fmt == 2 else h


def key_index_record(version, f, base):
    """One record of the KEY file of an image file of that generation."""
    if version not in KEY_INDEX_SIZE:
        raise ValueError(f"version {version:#x} keeps no key index")
    return video_header(HEADER_FORMAT[version], f, base, key_form=True)


def journal_entry(kind, stream, data):
    return struct.pack("<BBBI", 1, kind, stream, len(data)) + data


class MasterRecord:
    """The 688-byte summary of one image file, accumulated entry by entry as
    the rebuild does."""

    def __init__(self, capacity=0):
        self.earliest, self.latest, self.used, self.capacity = NO_EARLIEST, NO_LATEST, 0, capacity
        self.present = [0, 0, 0]
        self.mask = [0, 0, 0]
        self.sequence = [[1] * STREAMS, [-1] * STREAMS, [-1] * STREAMS]
        self.first = [[NO_EARLIEST] * STREAMS for _ in range(3)]
        self.last = [[NO_LATEST] * STREAMS for _ in range(3)]
        self.key = [0] * STREAMS

    def add(self, channel, kind, sequence, time, key_value, size):
        self.earliest = min(self.earliest, time)
        self.latest = max(self.latest, time)
        if kind in (VIDEO, AUDIO, TEXT):
            self.present[kind] = 1
            self.mask[kind] |= 1 << channel
            self.sequence[kind][channel] = sequence
            if kind == VIDEO and key_value:
                self.key[channel] = 1
            self.first[kind][channel] = min(self.first[kind][channel], time)
            self.last[kind][channel] = max(self.last[kind][channel], time)
            self.used = (self.used + size + 32) & 0xFFFFFFFF

    def to_bytes(self):
        b = bytearray(MASTER_RECORD_SIZE)
        struct.pack_into("<iiIIii", b, 0, self.earliest, self.latest, self.used, self.capacity, 0, -1)
        for kind, at in ((VIDEO, 24), (AUDIO, 288), (TEXT, 488)):
            struct.pack_into("<IH", b, at, self.present[kind], self.mask[kind])
            struct.pack_into("<16i", b, at + 8, *self.sequence[kind])
            struct.pack_into("<16i", b, at + 72, *self.first[kind])
            struct.pack_into("<16i", b, at + 136, *self.last[kind])
        struct.pack_into("<16i", b, 224, *self.key)
        return bytes(b)

    def as_dict(self):
        return {"earliest": self.earliest, "latest": self.latest, "bytes_used": self.used,
                "capacity": self.capacity, "present": list(self.present), "mask": list(self.mask),
                "sequence": [list(s) for s in self.sequence], "first": [list(s) for s in self.first],
                "last": [list(s) for s in self.last], "key": list(self.key)}


def master_header(first_number):
    return struct.pack("<Hi", MASTER_FORMAT, first_number)


def master_offset(number, first_number):
    return 6 + (number - first_number) * MASTER_RECORD_SIZE
