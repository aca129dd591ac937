"""Whole recorder volumes: the description file, the image and index
directories with image files of consecutive times, their KEY files, the
cache journal of the file being recorded and MASTER.NDX, plus the damages
that a recorder's drive suffers."""

import itertools
import random
import struct
import uuid
from pathlib import Path

from .imagefile import FILE_SIZE, MIB, START_TIME, TZ_INDEX, ImageFile, Layout
from .layouts import KEY_INDEX_SIZE, VIDEO, MasterRecord, master_header, master_offset

ZERO_GUID = "{00000000-0000-0000-0000-000000000000}"
FIELDS = ["Excluded", "Label", "NumFiles", "FileNumOffset", "Position", "VolumeGUID", "StartFile",
          "RecordFile", "DBGUID", "ActiveVolumes", "AllocatedSpaceKB"]
DAMAGES = ("torn-toc", "stale-summary", "truncated", "garbage-header", "missing-key-index",
           "oversized-journal")


def guid_text(rng=None):
    value = uuid.UUID(int=rng.getrandbits(128), version=4) if rng else uuid.uuid4()
    return "{" + str(value).upper() + "}"


def description(**values):
    """The bytes of a single-volume VolumeInfo.xml; missing fields take the
    values of a fresh record."""
    fresh = {"Excluded": 0, "Label": "", "NumFiles": -1, "FileNumOffset": 0, "Position": -1,
             "VolumeGUID": ZERO_GUID, "StartFile": -1, "RecordFile": -1, "DBGUID": ZERO_GUID,
             "ActiveVolumes": -1, "AllocatedSpaceKB": -1}
    fresh.update(values)
    lines = ["<VolumeInformation>"] + [f"<{k}>{fresh[k]}</{k}>" for k in FIELDS] + ["</VolumeInformation>"]
    return "".join(line + "\r\n" for line in lines).encode()


def subvolume_description(*entries):
    lines = ["<SubVolumes>"] + [f"<SubVolume>{e}</SubVolume>" for e in entries] + ["</SubVolumes>"]
    return "".join(line + "\r\n" for line in lines).encode()


def allocated_kb_for(num_files, size_mb=20):
    """The smallest drive size in KB for which the preparation counts
    num_files image files (99.5 % of it, in whole files)."""
    kb = int(num_files * size_mb * 1024 / 0.995)
    while int(kb * 0.995) // (size_mb * 1024) < num_files:
        kb += 1
    return kb


def directory(root, setting):
    """The directory that a database path setting such as "\\Images\\" names
    on the volume at root."""
    parts = [p for p in setting.replace("/", "\\").split("\\") if p and p != "."]
    return Path(root).joinpath(*parts)


def parse_damages(damages):
    """{number: damage} from a dict or from "N:damage" texts."""
    if isinstance(damages, dict):
        found = dict(damages)
    else:
        found = {}
        for text in damages or ():
            number, _, name = str(text).partition(":")
            found[int(number)] = name
    for name in found.values():
        if name not in DAMAGES:
            raise ValueError(f"unknown damage {name!r} (known: {', '.join(DAMAGES)})")
    return found


def scanned_despite_header(image, header):
    """The records that a scan takes when the file's header is replaced by
    `header`: it starts at 48 whatever the header says, but stops at the file
    size that the header's form gives, and before the generation that added
    audio and text every header counts as video, so the first record of
    another kind ends it. None when it takes nothing (the file is replaced)."""
    version = struct.unpack_from("<I", header)[0]
    claimed = struct.unpack_from("<I", header, 16 if version > 0x3000 else 12)[0]
    taken = image.scanned_entries(min(claimed, image.size, image.data_end()))
    if version < 0x3000:
        taken = list(itertools.takewhile(lambda e: e.kind == VIDEO, taken))
    return taken or None


def damage_image(image, path, damage, manifest):
    """Damages one written image file in place; records in the manifest what
    a rebuild can still find."""
    data_end = image.data_end()
    rebuilt = image.scanned_entries()
    if damage == "torn-toc":
        # The write of the tables stopped half-way through the video frame
        # table; the pre-allocated zeros stay behind it.
        toc, _ = image.tables()
        video_table = 4 + 16 * 4 + 12 * sum(1 for e in image.entries if e.kind == 0)
        if image.version <= 0x3000:
            video_table = 4 + 16 * 4 + 4 * sum(1 for e in image.entries if e.kind == 0)
        cut = data_end + video_table // 2
        with open(path, "r+b") as f:
            f.seek(cut)
            f.write(bytes(data_end + len(toc) - cut))
        manifest["damage_at"] = cut
    elif damage == "truncated":
        cut = 48 + (data_end - 48) // 2
        with open(path, "r+b") as f:
            f.truncate(cut)
        rebuilt = image.scanned_entries(cut)
        manifest["damage_at"] = cut
    elif damage == "garbage-header":
        garbage = random.Random(image.number).randbytes(48)
        with open(path, "r+b") as f:
            f.write(garbage)
        rebuilt = scanned_despite_header(image, garbage)
        manifest["damage_at"] = 0
    elif damage not in DAMAGES:
        raise ValueError(f"unknown damage {damage!r}")
    manifest["damage"] = damage
    return rebuilt


def write_image(path, version=0x3010, size=FILE_SIZE, number=None, start_time=START_TIME, seconds=None,
                layout=None, tz_index=TZ_INDEX, seed=0, key_index=None, journal=None, damage=None,
                capacity=None):
    """Writes one image file and, when paths are given (True: beside the
    image file), its KEY file and cache journal. Returns (manifest, ImageFile)."""
    path = Path(path)
    if number is None:
        digits = "".join(c for c in path.stem if c.isdigit())
        number = int(digits) if digits else 0
    if key_index is True:
        key_index = path.with_name(f"KEY{number:04d}.NDX")
    if journal is True:
        journal = path.with_name(f"CACHE{number:04d}.tmp")
    image = ImageFile(version=version, size=size, number=number, start_time=start_time, tz_index=tz_index,
                      layout=layout or Layout(), seed=seed).record(seconds)
    if damage == "missing-key-index" and version not in KEY_INDEX_SIZE:
        raise ValueError(f"version {version:#x} has no key index to lose")
    if damage == "stale-summary" and capacity is None:
        raise ValueError("stale-summary damages MASTER.NDX: write a volume")
    path.parent.mkdir(parents=True, exist_ok=True)
    image.write(path)
    manifest = image.manifest()
    manifest.update(path=str(path), damage=None, key_index=None, journal=None)
    capacity = size if capacity is None else capacity
    rebuilt = image.scanned_entries()
    if damage and damage not in ("missing-key-index", "stale-summary", "oversized-journal"):
        rebuilt = damage_image(image, path, damage, manifest)
    manifest["damage"] = damage
    if key_index and version in KEY_INDEX_SIZE and damage != "missing-key-index":
        Path(key_index).parent.mkdir(parents=True, exist_ok=True)
        Path(key_index).write_bytes(image.key_index_bytes())
        manifest["key_index"] = {"path": str(key_index), "records": len(image.key_frames()),
                                 "record_size": KEY_INDEX_SIZE[version], "base": number}
    if journal and (version >= 0x3010 or damage == "oversized-journal"):
        data, info = image.journal(oversized=damage == "oversized-journal")
        Path(journal).parent.mkdir(parents=True, exist_ok=True)
        Path(journal).write_bytes(data)
        manifest["journal"] = dict(info, path=str(journal), size=len(data))
    master = image.master(capacity)
    manifest["master"] = master.as_dict()
    manifest["master_bytes"] = master.to_bytes()
    stale = image.master(capacity, [e for e in image.entries if e.time < manifest["last_time"]])
    manifest["stale_master"] = stale.as_dict() if damage == "stale-summary" else None
    if damage == "stale-summary":
        manifest["master_bytes"] = stale.to_bytes()
    manifest["rebuilt_master"] = None if rebuilt is None else image.master(capacity, rebuilt).as_dict()
    return manifest, image


def write_volume(root, files=3, version=0x3010, num_files=None, file_num_offset=0, position=0,
                 active_volumes=1, db_guid=None, volume_guid=None, image_path="\\Images\\",
                 index_path="\\Index\\", size_mb=20, start_time=START_TIME, seconds=None, layout=None,
                 damages=None, journal=True, allocated_kb=None, start_file=None, record_file=None,
                 seed=0, label="", tz_index=TZ_INDEX):
    """Writes a recorder volume at root: files image files numbered from
    file_num_offset, each starting the second after the previous one ended,
    with KEY files (older versions), a cache journal for the newest file
    (0x3010), MASTER.NDX and VolumeInfo.xml. Returns the manifest."""
    root = Path(root)
    rng = random.Random(seed)
    damages = parse_damages(damages)
    num_files = max(files, 1) if num_files is None else num_files
    image_dir, index_dir = directory(root, image_path), directory(root, index_path)
    image_dir.mkdir(parents=True, exist_ok=True)
    index_dir.mkdir(parents=True, exist_ok=True)
    capacity = size_mb * MIB
    numbers = list(range(file_num_offset, file_num_offset + files))
    newest = numbers[-1] if numbers else -1
    manifests, t = [], start_time
    for n in numbers:
        damage = damages.get(n)
        m, image = write_image(image_dir / f"IMG{n:04d}.AVI", version=version, size=capacity, number=n,
                               start_time=t, seconds=seconds, layout=layout, tz_index=tz_index, seed=seed,
                               key_index=index_dir / f"KEY{n:04d}.NDX",
                               journal=image_dir / f"CACHE{n:04d}.tmp" if (journal and n == newest)
                               or damage == "oversized-journal" else None,
                               damage=damage, capacity=capacity)
        manifests.append(m)
        t = (m["last_time"] if m["last_time"] is not None else t) + 1
    master_path = index_dir / "MASTER.NDX"
    with open(master_path, "wb") as f:
        f.write(master_header(file_num_offset))
        for n, m in zip(numbers, manifests):
            f.seek(master_offset(n, file_num_offset))
            f.write(m["master_bytes"])
    info = {"Excluded": 0, "Label": label, "NumFiles": num_files, "FileNumOffset": file_num_offset,
            "Position": position, "VolumeGUID": volume_guid or guid_text(rng),
            "StartFile": (file_num_offset if numbers else -1) if start_file is None else start_file,
            "RecordFile": newest if record_file is None else record_file,
            "DBGUID": db_guid or guid_text(rng), "ActiveVolumes": active_volumes,
            "AllocatedSpaceKB": allocated_kb_for(num_files, size_mb) if allocated_kb is None else allocated_kb}
    (root / "VolumeInfo.xml").write_bytes(description(**info))
    return {"root": str(root), "description": info, "image_dir": str(image_dir), "index_dir": str(index_dir),
            "master_path": str(master_path), "version": version, "files": manifests}


def empty_master_record(capacity=0):
    return MasterRecord(capacity).to_bytes()
