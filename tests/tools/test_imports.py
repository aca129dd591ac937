"""The oldest Windows of the program's import table (tools/imports, which fails on an import it
does not know) is the first of the manifest's supportedOS list and the README's figure."""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402


class ImportTable(unittest.TestCase):
    def test_the_manifest_and_the_readme_name_the_oldest_windows_of_the_import_table(self):
        r = subprocess.run([str(mptest.REPO / "tools" / "imports"), str(mptest.BUILD)], capture_output=True, text=True)
        self.assertEqual(0, r.returncode, r.stderr)
        windows, ids, processor = r.stdout.splitlines()
        manifest = (mptest.BUILD / "app" / "generated" / "Mediaprep.manifest").read_text()
        self.assertEqual(ids.split(), re.findall(r'supportedOS Id="([^"]+)"', manifest))
        # Windows refuses a program whose manifest names another processor.
        self.assertIn(f'processorArchitecture="{processor}"', manifest)
        row = re.search(rf"^\| `build/{mptest.BUILD.name}/Mediaprep.exe` \|[^|\n]*\| ([^|\n]+) \|$",
                        (mptest.REPO / "README.md").read_text(), re.M)
        self.assertEqual(windows, row and row.group(1))


if __name__ == "__main__":
    mptest.main()
