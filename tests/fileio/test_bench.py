"""A short run of tools/bench: it builds nothing, keeps the file cache and
times nothing; it only shows that every pass runs and reports."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402


class BenchSmoke(unittest.TestCase):
    def test_every_pass_runs_and_is_reported(self):
        r = subprocess.run([sys.executable, str(mptest.REPO / "tools" / "bench"), "--build", str(mptest.BUILD),
                            "--no-build", "--no-drop", "--size-mb", "8"],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=600)
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        lines = {line.split()[0]: line.split() for line in r.stdout.splitlines()[2:] if line.strip()}
        for mode in ("dd", "read-plain", "read-overlapped", "read-seq", "read-seq-nobuf", "write-plain", "write-seq",
                     "write-seq-nobuf"):
            self.assertIn(mode, lines, r.stdout)
            self.assertGreater(float(lines[mode][1]), 0, r.stdout)


if __name__ == "__main__":
    mptest.main()
