#!/usr/bin/env python3
"""Writes recorder volumes and image store files as the Kestrix recorder
leaves them, for tests, the demo, benchmarks and fuzz seeds.

    tools/volwriter.py volume DIR [--files N] [--version V] [--damage N:DAMAGE] ...
    tools/volwriter.py image PATH [--version V] [--size-mb N] [--seconds S] [--damage DAMAGE]
    tools/volwriter.py fresh PATH [--size-mb N]
    tools/volwriter.py corpus DIR [--target NAME]

`--manifest FILE` (or `-` for standard output) writes what was written as
JSON. As a module: `import volwriter` with tools/ on the path gives
write_volume, write_image, write_corpus and the byte layouts."""

import argparse
import json
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from imagestore import *  # noqa: E402,F401,F403
from imagestore import DAMAGES, MIB, SMALL, Layout, fresh_image_bytes, write_image, write_volume  # noqa: E402
from imagestore.corpus import TARGETS, write_corpus  # noqa: E402,F401


def _number(text):
    return int(text, 0)


def _jsonable(value):
    if isinstance(value, bytes):
        return value.hex()
    if isinstance(value, dict):
        return {str(k): _jsonable(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_jsonable(v) for v in value]
    return value


def _emit(manifest, where):
    if not where:
        return
    text = json.dumps(_jsonable(manifest), indent=1)
    if where == "-":
        print(text)
    else:
        Path(where).write_text(text + "\n")


def _summary(m):
    streams = ", ".join(f"{kind} {s}: {v['records']}" for kind, per in m["streams"].items() for s, v in per.items())
    damage = f", damaged: {m['damage']}" if m.get("damage") else ""
    return f"{m['path']}: version {m['version']:#x}, {m['records']} records ({streams}), data end {m['header']['data_end']}{damage}"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--version", type=_number, default=0x3010)
    common.add_argument("--size-mb", type=int, default=20)
    common.add_argument("--seconds", type=int, help="record at most this many seconds per file")
    common.add_argument("--seed", type=int, default=0)
    common.add_argument("--small", action="store_true", help="a few small frames a second")
    common.add_argument("--manifest", help="write the manifest as JSON to this file ('-': standard output)")

    v = sub.add_parser("volume", parents=[common], help="a whole volume")
    v.add_argument("dir")
    v.add_argument("--files", type=int, default=3)
    v.add_argument("--num-files", type=int)
    v.add_argument("--offset", type=int, default=0, help="FileNumOffset")
    v.add_argument("--position", type=int, default=0)
    v.add_argument("--active-volumes", type=int, default=1)
    v.add_argument("--db-guid")
    v.add_argument("--image-path", default="\\Images\\")
    v.add_argument("--index-path", default="\\Index\\")
    v.add_argument("--damage", action="append", default=[], metavar="N:DAMAGE",
                   help=f"damage file N ({', '.join(DAMAGES)})")
    v.add_argument("--no-journal", action="store_true")

    i = sub.add_parser("image", parents=[common], help="one image file (KEY file and journal beside it)")
    i.add_argument("path")
    i.add_argument("--number", type=int)
    i.add_argument("--damage", choices=[d for d in DAMAGES if d != "stale-summary"])

    f = sub.add_parser("fresh", help="a freshly initialised, empty image file")
    f.add_argument("path")
    f.add_argument("--size-mb", type=int, default=20)

    c = sub.add_parser("corpus", help="seed files for the fuzz targets")
    c.add_argument("dir")
    c.add_argument("--target", action="append", choices=list(TARGETS))

    args = parser.parse_args(argv)
    if args.command == "corpus":
        written = write_corpus(args.dir, args.target)
        for target, paths in written.items():
            print(f"{target}: {len(paths)} seed files")
        return 0
    if args.command == "fresh":
        with open(args.path, "wb") as out:
            out.write(fresh_image_bytes(args.size_mb * MIB))
            out.truncate(args.size_mb * MIB)
        return 0
    layout = SMALL if args.small else Layout()
    try:
        manifest = _write(args, layout)
    except ValueError as error:
        parser.error(str(error))
    _emit(manifest, args.manifest)
    return 0


def _write(args, layout):
    if args.command == "volume":
        manifest = write_volume(args.dir, files=args.files, version=args.version, num_files=args.num_files,
                                file_num_offset=args.offset, position=args.position,
                                active_volumes=args.active_volumes, db_guid=args.db_guid,
                                image_path=args.image_path, index_path=args.index_path, size_mb=args.size_mb,
                                seconds=args.seconds, layout=layout, damages=args.damage,
                                journal=not args.no_journal, seed=args.seed)
        for m in manifest["files"]:
            print(_summary(m))
    else:
        manifest, _ = write_image(args.path, version=args.version, size=args.size_mb * MIB, number=args.number,
                                  seconds=args.seconds, layout=layout, seed=args.seed, damage=args.damage,
                                  key_index=True, journal=True)
        print(_summary(manifest))
    return manifest


if __name__ == "__main__":
    sys.exit(main())
