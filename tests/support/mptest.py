"""Common ground of the Python tests: the build directory and the sandbox module."""

import argparse
import os
import sys
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tools"))

import sandbox  # noqa: E402  (tools/sandbox.py)

BUILD = Path(os.environ.get("SANDBOX_BUILD", REPO / "build" / "mingw")).resolve()
DATABASE_KEY = r"HKLM\Software\Corvane-VG\Kestrix\Database"
RUN_LOG = r"C:\Windows\Kestrix\MediaprepLogs\Mediaprep.log"


def exe(name):
    return BUILD / name


def main():
    """unittest.main that first takes --build DIR off the command line."""
    global BUILD
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--build")
    args, rest = parser.parse_known_args()
    if args.build:
        BUILD = Path(args.build).resolve()
        os.environ["SANDBOX_BUILD"] = str(BUILD)
    unittest.main(argv=[sys.argv[0], "-v", *rest])


def forget_settings(session):
    """No settings key in either view: the program picks its view by where the key is."""
    for view in (32, 64):
        session.reg_delete(DATABASE_KEY, view=view)


def tree(directory):
    """Sorted relative paths below `directory` (directories end in '/')."""
    found = []
    for dirpath, dirnames, filenames in os.walk(directory):
        rel = Path(dirpath).relative_to(directory)
        found += [(rel / d).as_posix() + "/" for d in dirnames] + [(rel / f).as_posix() for f in filenames]
    return sorted(found)
