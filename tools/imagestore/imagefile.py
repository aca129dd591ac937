"""Image files as the recorder leaves them: records packed from 48, the table
of contents at the data end in the layout that the file's generation loads,
and the header that says where everything is. Also the companion files that
follow from the records: the KEY file of the older generations and the cache
journal of the file being recorded."""

import random
import struct
from dataclasses import dataclass, field
from pathlib import Path

from .layouts import (AUDIO, FIELD_B, FIELD_C, HEADER_FORMAT, KEY_INDEX_SIZE, KIND_NAMES, STREAMS,
                      TEXT, VIDEO, MasterRecord, VideoFrame, audio_header, journal_entry,
                      key_index_record, text_header, video_header)

MIB = 1048576
FILE_SIZE = 20 * MIB
HEADER_SIZE = 48
FRESH_TABLES_END = 452
# 2024-03-01 08:00:00 UTC: recordings start on a whole second.
START_TIME = 1709280000
# The recording system's time zone (any stable index serves).
TZ_INDEX = 110
VERSIONS = tuple(HEADER_FORMAT)


@dataclass
class Layout:
    """What the recorder records: streams, frame rate and payload sizes."""
    video_streams: int = 2
    audio_streams: int = 1
    text_streams: int = 1
    fps: int = 25
    key_interval: int = 25
    key_bytes: int = 24000
    delta_bytes: int = 6000
    audio_per_second: int = 5
    audio_bytes: int = 1600
    text_every: int = 1
    meta: bool = True


# Seed files for fuzz targets: a few frames of every kind, tiny payloads.
SMALL = Layout(fps=5, key_interval=5, key_bytes=96, delta_bytes=24, audio_per_second=1,
               audio_bytes=16, text_every=1)


@dataclass
class Entry:
    pos: int
    kind: int
    stream: int
    sequence: int
    time: int
    hundredths: int
    key: bool
    key_value: int
    length: int
    a: int = 0


@dataclass
class ImageFile:
    version: int = 0x3010
    size: int = FILE_SIZE
    number: int = 0
    start_time: int = START_TIME
    tz_index: int = TZ_INDEX
    layout: Layout = field(default_factory=Layout)
    seed: int = 0
    extension: bytes = bytes(16)
    flags: int = 0

    def __post_init__(self):
        if self.version not in HEADER_FORMAT:
            raise ValueError(f"unknown image file version {self.version:#x}")
        self.rng = random.Random(self.seed * 7919 + self.number)
        self.pool = self.rng.randbytes(65536 + 4096)
        self.entries = []
        self.records = bytearray()
        self.meta = [[] for _ in range(STREAMS)]
        self.tables_end = FRESH_TABLES_END
        self.frames = [0] * STREAMS
        self.counts = {}

    # Older generations record video only: their loader has no audio or
    # text tables and their scan takes every header for video.
    def kinds(self):
        lay = self.layout
        old = self.version < 0x3000
        return lay.video_streams, 0 if old else lay.audio_streams, 0 if old else lay.text_streams

    def has_meta_table(self):
        return self.version >= 0x3010 and self.layout.meta

    def data_end(self):
        return HEADER_SIZE + len(self.records)

    def count(self, kind, stream):
        return self.counts.get((kind, stream), 0)

    def payload(self, size):
        start = self.rng.randrange(4096)
        out = self.pool[start:start + size]
        while len(out) < size:
            out += self.pool[:size - len(out)]
        return out

    def _second(self, t):
        """The records of one second in the order the recorder writes them."""
        lay = self.layout
        video, audio, text = self.kinds()
        events = []
        for f in range(lay.fps):
            events += [((f * 100) // lay.fps, 0, VIDEO, s) for s in range(video)]
        for i in range(audio and lay.audio_per_second):
            events += [((i * 100) // lay.audio_per_second, 1, AUDIO, s) for s in range(audio)]
        if text and (t - self.start_time) % lay.text_every == 0:
            events += [(0, 2, TEXT, s) for s in range(text)]
        return [(t, h, kind, s) for h, _, kind, s in sorted(events)]

    def _record(self, t, h, kind, s, pending=False):
        lay = self.layout
        seq = self.count(kind, s) + (2 if kind == VIDEO else 0)
        pos = self.data_end()
        key_value = 0
        if kind == VIDEO:
            n = self.frames[s]
            key = n % lay.key_interval == 0
            size = lay.key_bytes if key else lay.delta_bytes + self.rng.randrange(lay.delta_bytes // 4 + 1)
            key_value = pos if key else 0
            frame = VideoFrame(t, h, seq, s, key, a=size, key_value=key_value, b=FIELD_B if key else 0,
                               c=FIELD_C, d=0, e=0 if key else n)
            head = video_header(HEADER_FORMAT[self.version], frame)
        elif kind == AUDIO:
            key, size = True, lay.audio_bytes
            head = audio_header(t, h, seq, s, size)
        else:
            key = True
            text = f"CAM{s + 1:02d} {t}.{h:02d}".encode()
            size = len(text)
            head = text_header(t, h, seq, s, size)
            return Entry(pos, kind, s, seq, t, h, key, 0, len(head) + size), head + text
        return Entry(pos, kind, s, seq, t, h, key, key_value, len(head) + size, size), head + self.payload(size)

    def _append(self, entry, body):
        self.records += struct.pack("<I", len(body)) + body
        self.entries.append(entry)
        self.counts[entry.kind, entry.stream] = self.count(entry.kind, entry.stream) + 1
        self.tables_end += entry.length + 16
        if entry.kind == VIDEO:
            self.frames[entry.stream] += 1
            if entry.key:
                self.tables_end += 8
            if self.has_meta_table():
                item = b"motion 0x0003" if entry.key and entry.stream == 0 else b""
                self.meta[entry.stream].append(item)
                self.tables_end += len(item) + 2

    def record(self, seconds=None):
        """Records whole seconds until the file is full (its tables would not
        fit) or `seconds` seconds are recorded."""
        t = self.start_time
        while seconds is None or t < self.start_time + seconds:
            saved = (self.rng.getstate(), list(self.frames), dict(self.counts), len(self.entries),
                     len(self.records), self.tables_end, [len(m) for m in self.meta])
            for event in self._second(t):
                self._append(*self._record(*event))
            if self.tables_end > self.size:
                self._undo(saved)
                break
            t += 1
        return self

    def _undo(self, saved):
        state, frames, counts, entries, records, tables_end, meta = saved
        self.rng.setstate(state)
        self.frames, self.counts = frames, counts
        del self.entries[entries:]
        del self.records[records:]
        self.tables_end = tables_end
        for m, n in zip(self.meta, meta):
            del m[n:]

    # -- table of contents and header ------------------------------------

    def tables(self):
        """(table of contents, offset of the meta-data table within it or None)."""
        out = bytearray()
        by_stream = {}
        for e in self.entries:
            by_stream.setdefault((e.kind, e.stream), []).append(e)
        if self.version <= 0x3000:
            out += struct.pack("<I", 16)
            for s in range(STREAMS):
                frames = by_stream.get((VIDEO, s), [])
                out += struct.pack(f"<I{len(frames)}I", len(frames), *(e.pos for e in frames))
        full_kinds = (VIDEO, AUDIO, TEXT) if self.version >= 0x3010 else (AUDIO, TEXT) if self.version > 0x2015 else ()
        for kind in full_kinds:
            out += struct.pack("<I", 16)
            for s in range(STREAMS):
                frames = by_stream.get((kind, s), [])
                out += struct.pack("<I", len(frames))
                out += b"".join(struct.pack("<IIHH", e.pos, e.time, e.hundredths * 10, 1 if e.key else 0)
                                for e in frames)
        if self.version < 0x3010:
            return bytes(out), None
        out += struct.pack("<I", 16)
        for s in range(STREAMS):
            keys = [(e.key_value, i) for i, e in enumerate(by_stream.get((VIDEO, s), [])) if e.key]
            out += struct.pack("<I", len(keys)) + b"".join(struct.pack("<II", *k) for k in keys)
        if not any(self.meta):
            return bytes(out), None
        meta_at = len(out)
        lists = [struct.pack("<I", len(m)) + b"".join(struct.pack("<H", len(i)) + i for i in m)
                 for m in self.meta]
        positions, p = [], 0
        for chunk in lists:
            positions.append(p)
            p += len(chunk)
        base = self.data_end() + meta_at + 68
        out += struct.pack("<I16I", 16, *(base + q for q in positions)) + b"".join(lists)
        return bytes(out), meta_at

    def header(self, table_offset=None, meta_offset=0):
        table_offset = self.data_end() if table_offset is None else table_offset
        if self.version >= 0x3010:
            return struct.pack("<6Ii16sI", self.version, table_offset, meta_offset, self.data_end(),
                               self.size, self.tables_end, self.tz_index, self.extension, self.flags)
        head = struct.pack("<5Ii", self.version, table_offset, self.data_end(), self.size,
                           self.tables_end, self.tz_index)
        return head + bytes(HEADER_SIZE - len(head))

    def image_bytes(self):
        """Header, records and table of contents (the file without its
        unused pre-allocated tail)."""
        toc, meta_at = self.tables()
        meta_offset = 0 if meta_at is None else self.data_end() + meta_at
        return self.header(meta_offset=meta_offset) + bytes(self.records) + toc

    def write(self, path):
        data = self.image_bytes()
        if len(data) > self.size:
            raise ValueError(f"{len(data)} bytes do not fit in a {self.size}-byte image file")
        Path(path).parent.mkdir(parents=True, exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
            f.truncate(self.size)

    # -- companions --------------------------------------------------------

    def key_frames(self):
        return [e for e in self.entries if e.kind == VIDEO and e.key]

    def key_index_bytes(self, base=None):
        """The KEY file: one record per video key frame, in record order."""
        base = self.number if base is None else base
        records = []
        for e in self.key_frames():
            frame = VideoFrame(e.time, e.hundredths, e.sequence, e.stream, True, a=e.a,
                               key_value=e.key_value, b=FIELD_B, c=FIELD_C)
            records.append(key_index_record(self.version, frame, base))
        return b"".join(records)

    def journal(self, pending_text=2, extension=None, flags=0, oversized=False):
        """The cache journal of a file being recorded: a meta-data item for
        every video frame, text records not yet in the file, and a header
        extension. With `oversized`, an entry one byte over the limit sits
        after the meta-data items, so that everything behind it is lost."""
        extension = extension or bytes(range(0xA0, 0xB0))
        entries, seen = [], [0] * STREAMS
        for e in self.entries:
            if e.kind == VIDEO:
                items = self.meta[e.stream]
                entries.append(journal_entry(0, e.stream, items[seen[e.stream]] if items else b""))
                seen[e.stream] += 1
        info = {"meta_items": len(entries), "pending_text": 0, "extension": extension.hex(), "flags": flags,
                "lost_entries": 0}
        tail = []
        last = max((e.time for e in self.entries), default=self.start_time)
        for i in range(pending_text if self.kinds()[2] else 0):
            seq = self.count(TEXT, 0) + i
            text = f"CAM01 pending {i}".encode()
            tail.append(journal_entry(1, 0, text_header(last + 1 + i, 0, seq, 0, len(text)) + text))
            info["pending_text"] += 1
        head = bytearray(self.header())
        head[28:44] = extension
        struct.pack_into("<I", head, 44, flags)
        tail.append(journal_entry(2, 0, bytes(head)))
        if oversized:
            entries.append(journal_entry(0, 0, bytes(0x20001)))
            info["lost_entries"] = len(tail)
            info["pending_text"], info["extension"], info["flags"] = 0, None, None
        info["entries"] = len(entries) + len(tail)
        return b"".join(entries + tail), info

    # -- what was written --------------------------------------------------

    def master(self, capacity, entries=None):
        record = MasterRecord(capacity)
        for e in self.entries if entries is None else entries:
            record.add(e.stream, e.kind, e.sequence, e.time, e.key_value if e.kind == VIDEO else 0, e.length)
        return record

    def scanned_entries(self, available=None):
        """The records that a scan of the file takes: each one whose follower
        has a whole, valid prefix within the first `available` bytes, so the
        last record before the tables is never among them."""
        available = self.data_end() if available is None else available
        taken = []
        for e, nxt in zip(self.entries, self.entries[1:]):
            if nxt.pos + 4 + min(nxt.length, 16) > available:
                break
            taken.append(e)
        return taken

    def manifest(self):
        toc, meta_at = self.tables()
        streams = {}
        for e in self.entries:
            s = streams.setdefault(KIND_NAMES[e.kind], {}).setdefault(e.stream, {
                "records": 0, "key_frames": 0, "first_sequence": e.sequence, "first_time": [e.time, e.hundredths],
                "bytes": 0})
            s["records"] += 1
            s["key_frames"] += e.kind == VIDEO and e.key
            s["last_sequence"] = e.sequence
            s["last_time"] = [e.time, e.hundredths]
            s["bytes"] += e.length
        last = self.entries[-1] if self.entries else None
        return {
            "version": self.version, "number": self.number, "file_size": self.size,
            "header": {"table_offset": self.data_end(), "data_end": self.data_end(),
                       "meta_offset": 0 if meta_at is None else self.data_end() + meta_at,
                       "file_size": self.size, "tables_end": self.tables_end, "tz_index": self.tz_index,
                       "flags": self.flags, "extension": self.extension.hex()},
            "toc_size": len(toc), "records": len(self.entries), "streams": streams,
            "meta_items": {s: sum(1 for i in m if i) for s, m in enumerate(self.meta) if m},
            "last_record": None if last is None else {"kind": KIND_NAMES[last.kind], "stream": last.stream,
                                                      "pos": last.pos},
            "first_time": self.entries[0].time if self.entries else None,
            "last_time": last.time if last else None,
            "key_index_records": len(self.key_frames()) if self.version in KEY_INDEX_SIZE else None,
        }


def fresh_image_bytes(size=FILE_SIZE, tz_index=TZ_INDEX):
    """A freshly initialised image file's header and empty tables (404 bytes,
    with a meta-data table that the header does not point at)."""
    empty = struct.pack("<I16I", 16, *[0] * 16)
    meta = struct.pack("<I16I16I", 16, *range(388, 452, 4), *[0] * 16)
    header = struct.pack("<6Ii16sI", 0x3010, 48, 0, 48, size, FRESH_TABLES_END, tz_index, bytes(16), 0)
    return header + empty * 4 + meta
