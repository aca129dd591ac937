"""Writes the recorder image files that store_tests reads, and expected.txt:
per file its name, number, version, last record's kind and stream, pending
journal text records, then kind, stream and record count of every stream."""

import json
import subprocess
import sys
from pathlib import Path

KINDS = {"video": 0, "audio": 1, "text": 2}
out, writer = Path(sys.argv[1]), sys.argv[2]
out.mkdir(parents=True, exist_ok=True)
lines = []
for number, version in ((1, "0x3010"), (2, "0x3000"), (3, "0x2015")):
    name, manifest = f"IMG{number:04d}.AVI", out / f"manifest{number}.json"
    subprocess.run([sys.executable, writer, "image", str(out / name), "--version", version, "--size-mb", "1",
                    "--seconds", "4", "--number", str(number), "--manifest", str(manifest)],
                   check=True, stdout=subprocess.DEVNULL)
    m = json.loads(manifest.read_text())
    last, journal = m["last_record"], m.get("journal") or {}
    fields = [name, number, int(version, 16), KINDS[last["kind"]], last["stream"], journal.get("pending_text", 0)]
    fields += [f"{KINDS[k]} {stream} {s['records']}" for k, streams in m["streams"].items()
               for stream, s in streams.items()]
    lines.append(" ".join(map(str, fields)))
(out / "expected.txt").write_text("\n".join(lines) + "\n")
