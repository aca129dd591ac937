"""A short run of tools/bench: every pass runs and reports a speed."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402


class BenchSmoke(unittest.TestCase):
    def test_every_pass_runs_and_is_reported(self):
        r = subprocess.run([sys.executable, str(mptest.REPO / "tools" / "bench"), "--build", str(mptest.BUILD),
                            "--no-build", "--no-drop", "--size-mb", "8"], capture_output=True, text=True, timeout=600)
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        speeds = {line.split()[0]: float(line.split()[1]) for line in r.stdout.splitlines()[2:] if line.strip()}
        self.assertEqual(8, len(speeds), r.stdout)
        self.assertTrue(all(speed > 0 for speed in speeds.values()), r.stdout)


if __name__ == "__main__":
    mptest.main()
