"""The oldest Windows that Mediaprep.exe starts on, from its import table: every
import is in data/imports.known with the Windows that brought it, and the newest
names the first supportedOS of the manifest and the README's figure."""

import os
import re
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402

# Oldest first, with the manifest's supportedOS ids (Windows XP has none).
WINDOWS = {"XP": None, "Vista": "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "7": "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
           "8": "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "8.1": "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
           "10": "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}


def known():
    """{(dll, function): Windows version} of data/imports.known."""
    text = re.sub(r"#.*", "", (Path(__file__).parent / "data" / "imports.known").read_text())
    return {(dll, name): version or "XP" for dll, names in re.findall(r"^(\S+)(.*\n(?:[ \t].*\n)*)", text, re.M)
            for name, _, version in (word.partition(":") for word in names.split())}


def imports(dump):
    """{(dll, function)} of the import table that `objdump -p` lists."""
    blocks = re.findall(r"DLL Name: (\S+)\n\s*vma:.*\n((?:\s*[0-9a-f]+\s+\d+\s+\S+\n)*)", dump)
    return {(dll.lower(), line.split()[-1]) for dll, lines in blocks for line in lines.splitlines()}


class ImportTable(unittest.TestCase):
    def test_every_import_is_known_and_the_newest_names_the_oldest_windows(self):
        objdump = re.search(r"^CMAKE_OBJDUMP:FILEPATH=(.*)$", (mptest.BUILD / "CMakeCache.txt").read_text(), re.M)
        dump = subprocess.run([objdump.group(1), "-p", str(mptest.exe("Mediaprep.exe"))], capture_output=True,
                              text=True, check=True).stdout
        used, versions = imports(dump), known()
        self.assertEqual([], sorted(used - versions.keys()), "new imports: enter them in data/imports.known")
        order = list(WINDOWS)
        oldest = max(order.index(versions[i]) for i in used)
        manifest = (mptest.BUILD / "app" / "generated" / "Mediaprep.manifest").read_text()
        self.assertEqual([WINDOWS[v] for v in order[oldest:] if WINDOWS[v]],
                         re.findall(r'supportedOS Id="([^"]+)"', manifest))
        # Windows refuses a program whose manifest names another processor.
        self.assertIn(f'processorArchitecture="{"x86" if "(PE32)" in dump else "amd64"}"', manifest)
        readme = (mptest.REPO / "README.md").read_text()
        row = re.search(rf"^\| `build/{mptest.BUILD.name}/Mediaprep.exe` \|[^|\n]*\| ([^|\n]+) \|$", readme, re.M)
        self.assertEqual(f"Windows {order[oldest]}", row and row.group(1))


if __name__ == "__main__":
    mptest.main()
