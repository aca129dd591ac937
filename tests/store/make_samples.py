"""Writes the recorder image files that store_image_tests reads, with what the
tests expect of them in a plain text file (one line per file and per stream):
  file <name> <number> <version>
  stream <kind> <stream> <records>
  last <kind> <stream>
  pending <text records in the journal>"""

import json
import subprocess
import sys
from pathlib import Path

KINDS = {"video": 0, "audio": 1, "text": 2}


def main(out_dir, writer):
    out = Path(out_dir)
    out.mkdir(parents=True, exist_ok=True)
    lines = []
    for number, version in ((1, "0x3010"), (2, "0x3000"), (3, "0x2015")):
        name = f"IMG{number:04d}.AVI"
        manifest = out / f"manifest{number}.json"
        subprocess.run([sys.executable, writer, "image", str(out / name), "--version", version, "--size-mb", "1",
                        "--seconds", "4", "--number", str(number), "--manifest", str(manifest)],
                       check=True, stdout=subprocess.DEVNULL)
        m = json.loads(manifest.read_text())
        lines.append(f"file {name} {number} {int(version, 16)}")
        for kind, streams in m["streams"].items():
            for stream, s in streams.items():
                lines.append(f"stream {KINDS[kind]} {stream} {s['records']}")
        last = m["last_record"]
        lines.append(f"last {KINDS[last['kind']]} {last['stream']}")
        journal = m.get("journal") or {}
        lines.append(f"pending {journal.get('pending_text', 0)}")
    (out / "expected.txt").write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
