"""Mediaprep.exe /clean and /report on simulated recorders in the sandbox, checked
from Linux: the run log byte for byte, drive trees, descriptions and the registry."""

import os
import re
import stat
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402
from mptest import sandbox, tree  # noqa: E402
from recorder import (RECORDER_SETTINGS, ZERO_GUID, Recorder, awkward_names, description, guid_text,  # noqa: E402
                      parse_description, recordings, subvolume_description, write)
import volwriter  # noqa: E402

SIZE_KB = 262144  # 256 MiB drives: 12 image files of 20 MB each
LOG_HEAD = "Configuring Kestrix Drives\r\n"
# Wine's own words for the system's errors.
IN_USE, DENIED, NOT_EMPTY = "Sharing violation.", "Access denied.", "Directory is not empty."
DISK_FULL = "Disk full."
HOLDING = ".Mediaprep-deleted"
TRACE = r"C:\Windows\Kestrix\MediaprepLogs\MediaprepTrace.log"
REPORT = r"C:\Windows\Kestrix\MediaprepLogs\MediaprepReport.log"


def failure(path):
    return f"Error:Failure to initialize drive {path}.  Mediaprep not completely successful.\r\n\r\n"


def foreign(drive, files=2, **fields):
    """A volume of another database, with old recordings."""
    write(drive / "VolumeInfo.xml", description(**{"NumFiles": 12, "Position": 0, "DBGUID": guid_text(),
                                                   "VolumeGUID": guid_text(), "ActiveVolumes": 1, **fields}))
    recordings(drive, files)


def contents(drive):
    return {p: (drive / p).read_bytes() for p in tree(drive) if not p.endswith("/")}


class Scenario(unittest.TestCase):
    db_guid = None

    def setUp(self):
        self.session = sandbox.Session().__enter__()
        self.addCleanup(self.session.__exit__, None, None, None)
        self.rec = Recorder(self.session, self.db_guid)
        self.rec.add_canary(self.rec.drive("y", "removable", size_kb=None) / "export" / "clip0001.avi")

    def tearDown(self):
        self.assertEqual([], self.rec.dead_canaries())
        kestrix = [self.session.cpath("C:\\Kestrix\\" + d) for d in ("PreAlarm", "Restore")]
        self.assertEqual([[], []], [tree(d) if d.is_dir() else None for d in kestrix])

    def assertPrepared(self, letter, active_volumes, position, size_kb=SIZE_KB):
        info = self.rec.info(letter)
        expected = dict(Excluded=0, Label="", NumFiles=int(size_kb * 0.995) // 20480, FileNumOffset=0,
                        Position=position, DBGUID=self.rec.registry("GUID"), ActiveVolumes=active_volumes,
                        AllocatedSpaceKB=size_kb)
        self.assertEqual(expected, {k: info[k] for k in expected}, letter)
        self.assertRegex(info["VolumeGUID"], r"^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$")
        self.assertNotEqual(ZERO_GUID, info["VolumeGUID"])
        # The previous generation exists only if written twice since the wipe.
        found = [p for p in tree(self.session.drive(letter)) if p != "VolumeInfoOld.xml"]
        self.assertEqual(["Alarm/", "Images/", "Index/", "VolumeInfo.xml"], found, letter)
        return info


class OnlyGuardedDrives(Scenario):
    def test_each_guarded_drive_is_reported_and_no_link_in_the_pre_alarm_directory_followed(self):
        # Every data drive holds the program, a paging file (in its root or named in the registry) or
        # hiberfil.sys: none is touched. Each host link in the pre-alarm directory (Wine would act on
        # its target) is reported.
        s, memory = self.session, MixedRecorder.MEMORY
        s.unmap("y")
        for name in ("PagingFiles", "ExistingPageFiles"):
            saved = s.reg_get(memory, name)
            self.addCleanup(lambda n=name, v=saved: s.reg_delete(memory, n) if v is None
                            else s.reg_set(memory, n, v, "REG_MULTI_SZ"))
        # "?:" is a system-managed paging file: it names no drive by itself.
        s.reg_set(memory, "PagingFiles", r"?:\pagefile.sys\0q:\pagefile.sys 0 0", "REG_MULTI_SZ")
        s.reg_set(memory, "ExistingPageFiles", r"\??\S:\pagefile.sys", "REG_MULTI_SZ")
        program = mptest.exe("Mediaprep.exe").read_bytes()
        for letter, name in (("d", "pagefile.sys"), ("p", "tools/Mediaprep.exe"), ("q", "kept.txt"),
                             ("r", "hiberfil.sys"), ("s", "kept.txt"), ("z", "SwapFile.SYS")):
            foreign(self.rec.drive(letter))
            write(s.drive(letter) / name, program if letter == "p" else os.urandom(4096))
        before = {d: contents(s.drive(d)) for d in "dpqrsz"}
        outside = s.dir / "outside"
        self.rec.add_canary(outside / "recording.avi")
        pre_alarm = s.cpath("C:\\Kestrix\\PreAlarm")
        links = ["linked-dir", "linked-file.jpg"]
        os.symlink(outside, pre_alarm / links[0])
        os.symlink(outside / "recording.avi", pre_alarm / links[1])
        self.assertEqual(1, self.rec.run(program=r"P:\tools\Mediaprep.exe").code)  # the guard's reports are errors
        lines = self.rec.log().split("\r\n")
        self.assertEqual(["Configuring Kestrix Drives", ""], [lines[0], lines[-1]])
        self.assertEqual([f"Error:Drive {d} holds {why}; it was left alone." for d, why in (
            ("D:", "pagefile.sys"), ("P:", "the running program"), ("Q:", "a paging file"), ("R:", "hiberfil.sys"),
            ("S:", "a paging file"), ("Z:", "swapfile.sys"))], lines[1:7])
        # Each report, then its cause: a link Wine would follow is not deleted.
        self.assertEqual([f"Error:Failed to delete: C:\\Kestrix\\PreAlarm\\{n}" for n in links], sorted(lines[7:-1:2]))
        self.assertEqual([line[24:] + " cannot be " for line in lines[7:-1:2]], [line[6:line.index("be ") + 3]
                                                                                 for line in lines[8:-1:2]])
        self.assertEqual(before, {d: contents(s.drive(d)) for d in "dpqrsz"})
        self.assertEqual((["recording.avi"], links), (tree(outside), sorted(os.listdir(pre_alarm))))
        for link in links:
            os.unlink(pre_alarm / link)


class HeldAndDenied(Scenario):
    db_guid = guid_text()

    def test_a_drive_that_cannot_be_wiped_whole_is_left_as_it_is_and_says_why(self):
        rec, s = self.rec, self.session
        deep = rec.drive("e")                                    # foreign, the held clip deep in a tree
        foreign(deep)
        clip = "Exports/2026/12/Camera 3/clip0001.avi"
        write(deep / clip, os.urandom(4096))
        write(deep / "Exports" / "kept.avi", os.urandom(256))
        os.chmod(deep / "Exports" / "kept.avi", 0o444)  # the look leaves the attribute of a drive left whole
        ours = rec.drive("f")                                    # a volume of this database
        volwriter.write_volume(ours, files=2, position=0, db_guid=self.db_guid, size_mb=1, layout=volwriter.SMALL,
                               seconds=20, active_volumes=1)
        write(ours / "Alarm" / "alarm0001.jpg", os.urandom(256))
        # Access denied: a read-only file on a read-only mount, its attribute cannot be cleared.
        denied = rec.drive("g")
        foreign(denied)
        write(denied / "Locked" / "IMG0009.AVI", os.urandom(256))
        os.chmod(denied / "Locked" / "IMG0009.AVI", 0o444)
        for options in ("bind", "remount,bind,ro"):
            subprocess.run(["mount", "-o", options, denied / "Locked", denied / "Locked"], check=True)
        rec.drive("h")                                           # blank
        kept = {d: contents(s.drive(d)) for d in "efg"}
        held = ("E:\\" + clip.replace("/", "\\"), r"F:\Alarm\alarm0001.jpg", r"C:\Kestrix\PreAlarm\cam01\pre0001.jpg")

        with rec.holding(*held):
            report = rec.run(["/report"])
            result = rec.run()

        def cause(path, why, drive=None):
            return f"Error:{path} {why}" + (f" Nothing on {drive} was deleted." if drive else "") + "\r\n"
        self.assertEqual((0, 1), (report.code, result.code))
        self.assertEqual(LOG_HEAD + failure("E:") + cause(held[0], "cannot be deleted: " + IN_USE, "E:")
                         + failure("F:") + cause(held[1], "cannot be deleted: " + IN_USE, "F:")
                         + failure("G:") + cause(r"G:\Locked\IMG0009.AVI", "cannot be deleted: " + DENIED, "G:")
                         + "Message: Data drives found: H:\r\n"
                         + "Error:Failed to delete: " + held[2] + "\r\n" + cause(held[2], "cannot be deleted: " + IN_USE)
                         + "Error:Failed to delete: " + held[2][:-12] + "\r\n"
                         + cause(held[2][:-12], "cannot be removed: " + NOT_EMPTY), rec.log())
        for d in "eg":
            self.assertEqual(kept[d], contents(s.drive(d)), d)
        self.assertEqual(0o444, stat.S_IMODE(os.stat(deep / "Exports" / "kept.avi").st_mode))
        # Ours keeps the description the run released before it prepared any drive.
        self.assertEqual({**kept["f"], "VolumeInfo.xml": 0, "VolumeInfoOld.xml": 0},
                         {**contents(ours), "VolumeInfo.xml": 0, "VolumeInfoOld.xml": 0})
        self.assertEqual({**parse_description(kept["f"]["VolumeInfo.xml"]), "DBGUID": ZERO_GUID}, rec.info("f"))
        self.assertPrepared("h", 1, 0)
        for line in [f"A run would leave E: as it is: {held[0]} is in use by another program.",
                     f"A run would leave F: as it is: {held[1]} is in use by another program.",
                     r"A run would leave G: as it is: G:\Locked\IMG0009.AVI cannot be deleted: " + DENIED,
                     "Drives a run would prepare: H:"]:
            self.assertIn("  " * (line[0] == "A") + line, report.stdout.splitlines())

        # Without the holder and the read-only mount: the log of any good run.
        subprocess.run(["umount", denied / "Locked"], check=True)
        self.assertEqual(0, rec.run().code)
        self.assertEqual(LOG_HEAD + "Message: Data drives found: E: F: G: H:\r\n", rec.log())


class HeldWithSharing(Scenario):
    def test_a_file_held_sharing_its_deletion_goes_and_the_drive_is_prepared(self):
        rec, s = self.rec, self.session
        plain, deep, root = (rec.drive(d) for d in "efg")
        for drive in (plain, deep, root):
            foreign(drive)
        write(deep / "zz" / "deep" / "scanned.avi", os.urandom(4096))
        write(root / "scanned.avi", os.urandom(4096))
        (root / "Exports").mkdir()
        # An indexer, a virus scanner and an Explorer window on the drives.
        held = (r"E:\Images\IMG0001.AVI", r"F:\zz\deep\scanned.avi", r"G:\scanned.avi", r"G:\Exports")
        with rec.holding(*held, how="share"):
            report = rec.run(["/report"])
            result = rec.run()
            # Each drive is prepared; the held entries wait in the holding directory until let go.
            for letter, count in (("e", 1), ("f", 1), ("g", 2)):
                drive = s.drive(letter)
                self.assertEqual(count, len(os.listdir(drive / HOLDING)), letter)
                self.assertEqual([HOLDING + "/", "Alarm/", "Images/", "Index/", "VolumeInfo.xml"],
                                 [p for p in tree(drive) if p == HOLDING + "/" or not p.startswith(HOLDING + "/")
                                  and p != "VolumeInfoOld.xml"], letter)
        self.assertEqual("Drives a run would prepare: E: F: G:", report.stdout.splitlines()[-1])
        self.assertEqual((0, LOG_HEAD + "Message: Data drives found: E: F: G:\r\n"), (result.code, rec.log()))
        # Each later drive goes right behind the first, which records.
        for letter, position in (("e", 0), ("f", 2), ("g", 1)):
            info = rec.info(letter)
            self.assertEqual((self.rec.registry("GUID"), 3, position), (info["DBGUID"], info["ActiveVolumes"],
                                                                        info["Position"]), letter)
        # Let go of, they are gone; the next run takes the holding directory away.
        deadline = time.time() + 10
        while any(os.listdir(s.drive(d) / HOLDING) for d in "efg") and time.time() < deadline:
            time.sleep(0.1)
        self.assertEqual([[], [], []], [os.listdir(s.drive(d) / HOLDING) for d in "efg"])
        self.assertEqual(0, rec.run().code)
        self.assertEqual(LOG_HEAD + "Message: Data drives found: E: G: F:\r\n", rec.log())
        for letter, position in (("e", 0), ("f", 1), ("g", 2)):
            self.assertPrepared(letter, 3, position)


class FullDrive(Scenario):
    def test_a_drive_without_room_for_its_description_is_reported_and_left_no_volume(self):
        rec, s = self.rec, self.session
        full = rec.drive("e", size_kb=205832)  # blank, just at the minimum size
        rec.drive("f")
        # Shadow copies and restore points take every page of E:.
        filler = full / "System Volume Information" / "{3808876b-c176-4e48-b7ae-04046e6cc752}"
        filler.parent.mkdir()
        with open(filler, "wb") as f:
            os.posix_fallocate(f.fileno(), 0, os.statvfs(full).f_bavail * os.statvfs(full).f_frsize)
        self.assertEqual(0, os.statvfs(full).f_bavail)
        cause = (r"E:\VolumeInfo.xml cannot be written: " + DISK_FULL
                 + " Everything on E: was deleted; it is not a volume of the database.")

        report = rec.run(["/report"]).stdout.splitlines()
        result = rec.run()

        self.assertEqual("Drives a run would prepare: F:", report[-1])
        self.assertIn("  A run would try to prepare it and fail after deleting 0 files (0 bytes): " + cause, report)
        self.assertEqual((1, LOG_HEAD + failure("E:") + "Error:" + cause + "\r\n" + "Message: Data drives found: F:\r\n"),
                         (result.code, rec.log()))
        # F: is the only volume; E: holds no directory of the database and names none.
        self.assertPrepared("f", 1, 0)
        self.assertEqual([], [p for p in tree(full) if not p.startswith("System Volume Information")
                              and not p.startswith("VolumeInfo")])
        self.assertIsNone(rec.info("e"))

        # Room made, the next run prepares it.
        filler.unlink()
        filler.parent.rmdir()
        self.assertEqual(0, rec.run().code)
        self.assertEqual(LOG_HEAD + "Message: Data drives found: F: E:\r\n", rec.log())
        self.assertPrepared("e", 2, 1, size_kb=205832)


class UnreleasableVolume(Scenario):
    db_guid = guid_text()

    def test_missing_placeholders_are_reported_with_an_empty_path(self):
        # A volume whose description is held keeps its claim of three: the two Missing ones are reported, path empty.
        ours = self.rec.drive("e")
        claim = description(NumFiles=12, Position=0, VolumeGUID=guid_text(), StartFile=0, RecordFile=0,
                            DBGUID=self.db_guid, ActiveVolumes=3, AllocatedSpaceKB=SIZE_KB)
        write(ours / "VolumeInfo.xml", claim)
        write(ours / "VolumeInfoOld.xml", claim)
        recordings(ours, 2)
        before = tree(ours)
        with self.rec.holding(r"E:\VolumeInfo.xml"):
            self.rec.run()
        cause = f"Error:E:\\VolumeInfo.xml cannot be written: {IN_USE} E: still claims volumes that no drive holds.\r\n"
        self.assertEqual(LOG_HEAD + (failure("") + cause) * 2 + "Message: Data drives found:\r\n", self.rec.log())
        self.assertEqual((before, claim), (tree(ours), (ours / "VolumeInfoOld.xml").read_bytes()))


class MixedRecorder(Scenario):
    db_guid = guid_text()
    MEMORY = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Memory Management"

    def test_statuses_positions_failures_and_report(self):
        rec, s = self.rec, self.session
        awkward_names(self.session.cpath("C:\\Kestrix\\PreAlarm"))
        rec.add_canary(self.session.dir / "録画0001.avi")  # beside the drives, under a name they hold
        rec.drive("e", size_kb=205832)                           # blank, just at the minimum size
        old = rec.drive("f")                                     # old recordings, no description
        recordings(old, 3, images=".", index=".")
        foreign(rec.drive("g"), 4, Position=1, ActiveVolumes=3, AllocatedSpaceKB=SIZE_KB)
        awkward_names(self.session.drive("g"))
        ours = rec.drive("h", "network")                         # an active volume of this database
        write(ours / "VolumeInfo.xml", description(NumFiles=12, Position=0, VolumeGUID=guid_text(), StartFile=0,
                                                   RecordFile=3, DBGUID=self.db_guid, ActiveVolumes=1,
                                                   AllocatedSpaceKB=SIZE_KB))
        recordings(ours, 4)
        rec.add_canary(rec.drive("j", "cdrom", size_kb=None) / "disc.txt")
        small = rec.drive("k", size_kb=205828)                   # just below the minimum size
        rec.add_canary(rec.drive("l") / "kept.txt")
        self.session.make_readonly("l")
        split = rec.drive("m")                                   # a drive of subvolumes
        write(split / "VolumeInfo.xml", subvolume_description("\\Vol1", "\\Vol2"))
        for sub in ("Vol1", "Vol2"):
            (split / sub).mkdir()
        old_tree = tree(old)

        # Its progress goes into a pipe that nobody reads: the run goes on all the same.
        piped = s.run(mptest.exe("mptesthelper.exe"), ["pipe", "B:\\Mediaprep.exe", "/clean"], timeout=300)
        self.assertEqual("exit 0", piped.stdout.strip())

        # After the releasing rescan: M: -1, H: 0, G: 1, then the blank drives, each right behind M:.
        self.assertEqual(LOG_HEAD + "Message: Data drives found: M: H: G: E:\r\n", rec.log())
        for letter, position, start in (("m", 0, 0), ("e", 1, -1), ("g", 2, -1), ("h", 3, -1)):
            info = self.assertPrepared(letter, 4, position, size_kb=205832 if letter == "e" else SIZE_KB)
            self.assertEqual((start, start), (info["StartFile"], info["RecordFile"]), letter)
        self.assertEqual(4, len({rec.info(d)["VolumeGUID"] for d in "eghm"}))
        self.assertEqual((self.db_guid, 1), (rec.registry("GUID"), rec.registry("MultipleDir")))
        # Old files without a description are kept, with a fresh description.
        self.assertEqual(sorted(old_tree + ["VolumeInfo.xml"]), tree(old))
        self.assertEqual(description(), (old / "VolumeInfo.xml").read_bytes())
        self.assertEqual([[], ["kept.txt"]], [tree(small), tree(s.drive("l"))])


class PreviewAndRun(Scenario):
    db_guid = guid_text()

    def test_the_preview_foretells_the_runs_log_whatever_the_directories(self):
        rec, small = self.rec, dict(db_guid=self.db_guid, size_mb=1, layout=volwriter.SMALL, seconds=20)
        # A run makes AlarmPath, IndexPath and ImagePath in that order.
        for alarm, index, image, pair in (("Alarm", "Index", "Images", "ef"), ("Index", "Index", "Images", "gh"),
                                          ("Data\\Index\\Alarm", "Data\\Index", "Data", "ij"),
                                          ("Data", "Data\\Index", "Data\\Index\\Images", "kl")):
            with self.subTest(alarm=alarm, index=index, image=image):
                drives = [rec.drive(d) for d in pair]  # fresh ones, beside the drives already prepared
                paths = dict(AlarmPath=f"\\{alarm}\\", IndexPath=f"\\{index}\\", ImagePath=f"\\{image}\\")
                rec.forget_settings()
                rec.set_settings({**RECORDER_SETTINGS, **paths}, self.db_guid)
                volwriter.write_volume(drives[0], image_path=paths["ImagePath"], index_path=paths["IndexPath"], **small)
                foreign(drives[1])
                write(drives[1] / "System Volume Information" / "tracking.log", b"on every NTFS drive")
                report = rec.run(["/report"]).stdout.splitlines()
                rec.forget_log()
                rec.run()
                foretold = report[report.index("The run's log would read:") + 1:-1]
                self.assertEqual([LOG_HEAD.strip()] + [line.strip() for line in foretold],
                                 [line for line in rec.log().splitlines() if line])


def snapshot(roots):
    """Every entry below the roots: contents, mode and the times a writer changes (not the last
    access, which Wine's hosts record on reads)."""
    found = {}
    for root in roots:
        for path in [Path(root)] + [Path(d) / n for d, ds, fs in os.walk(root) for n in ds + fs]:
            st = os.lstat(path)
            found[str(path)] = (None if path.is_dir() else path.read_bytes(), st.st_mode, st.st_mtime_ns, st.st_ctime_ns)
    return found


class RegistryViews(Scenario):
    def test_the_view_that_holds_the_settings_is_read_and_written(self):
        e = self.rec.drive("e")
        # Without settings every directory is a root: E: fails at its own, C: is never cleared, the 32-bit view used.
        for views, used in (((32,), 32), ((64,), 64), ((32, 64), 32), ((), 32)):
            with self.subTest(views=views):
                self.rec.forget_settings()
                self.rec.forget_log()
                # A GUID only where both views hold one, else the run makes it.
                for view in views:
                    settings = {**RECORDER_SETTINGS, "ImagePath": f"\\Images{view}\\",
                                "IndexPath": f"\\Index{view}\\", "AlarmPath": f"\\Alarm{view}\\"}
                    self.rec.set_settings(settings, guid_text() if len(views) > 1 else None, view=view)
                predicted = [line for line in self.rec.run(["/report"]).stdout.splitlines() if line[2:7] in ("Error", "Messa")]
                self.rec.run()
                self.assertEqual(predicted, ["  " + line for line in self.rec.log().splitlines()[1:] if line])
                if views:
                    self.assertEqual(LOG_HEAD + "Message: Data drives found: E:\r\n", self.rec.log())
                    self.assertEqual([f"Alarm{used}/", f"Images{used}/", f"Index{used}/", "VolumeInfo.xml"],
                                     [p for p in tree(e) if p != "VolumeInfoOld.xml"])
                    self.assertEqual(self.rec.registry("GUID", view=used), self.rec.info("e")["DBGUID"])
                else:
                    self.assertEqual(LOG_HEAD + failure("E:") + "Error:E:\\ cannot be created: File already exists. "
                                     "Everything on E: was deleted; it is not a volume of the database.\r\n"
                                     "Message: Data drives found:\r\n"
                                     + "Error:Attempting to delete C:\\\r\n" * 2, self.rec.log())
                    self.assertEqual([], tree(e))
                    self.assertEqual((None, str), (self.rec.registry("ImagePath", view=used),
                                                   type(self.rec.registry("GUID", view=used))))
                self.assertEqual((1, None), (self.rec.registry("MultipleDir", view=used),
                                             self.rec.registry("MultipleDir", view=96 - used)))
                if len(views) < 2:
                    self.assertIsNone(self.rec.registry("GUID", view=96 - used))


class DamagedRecorder(Scenario):
    db_guid = guid_text()

    def test_the_report_changes_nothing_then_damaged_files_are_rebuilt_and_the_drives_prepared_twice(self):
        rec, s = self.rec, self.session
        s.reg_set(r"HKLM\Software\Corvane-VG\Kestrix\DbgLogger", "Mediaprep", 3)
        small = dict(db_guid=self.db_guid, size_mb=1, layout=volwriter.SMALL, seconds=20, active_volumes=2)
        e = rec.drive("e")
        volwriter.write_volume(e, files=4, position=0, **small, damages={
            3: "oversized-journal", 2: "torn-toc", 1: "stale-summary", 0: "garbage-header"})
        # Its summary says recorded, the file holds nothing: nothing to rebuild from.
        write(e / "Images" / "IMG0001.AVI", volwriter.fresh_image_bytes(volwriter.MIB))
        os.remove(volwriter.write_volume(rec.drive("f"), files=3, file_num_offset=4, position=1, version=0x2015,
                                         start_file=-1, record_file=-1, **small, damages={
                                             6: "missing-key-index", 5: "truncated", 4: "stale-summary"})["master_path"])
        volwriter.write_volume(rec.drive("g", "network"), files=2, position=0, **dict(small, db_guid=guid_text()))
        write(s.drive("g") / "Recordings" / "System Volume Information" / "keep.dat", b"system")
        rec.drive("h")                                             # blank
        write(rec.drive("j") / "old" / "clip.avi", os.urandom(512))  # data without a description
        write(rec.drive("k", size_kb=200 * 1024) / "VolumeInfo.xml.bak", description())  # too small
        # Excluded from the database: never examined, never prepared.
        excluded = rec.drive("l")
        info = volwriter.write_volume(excluded, files=2, position=2, **small, damages={1: "torn-toc"})
        write(excluded / "VolumeInfo.xml", description(**dict(info["description"], Excluded=1)))
        roots = [s.drive(d) for d in "efghjkly"] + [s.cpath("C:\\Kestrix")]
        kept = {d: contents(s.drive(d)) for d in "gl"}  # left whole, excluded

        def registry():
            return {(n, view): rec.registry(n, view=view) for n in ["GUID", "MultipleDir", *RECORDER_SETTINGS]
                    for view in (32, 64)}
        before, values = snapshot(roots), registry()

        usage = rec.run(["-clean", "/?"])                          # help wins, and only helps
        self.assertEqual(0, usage.code)
        self.assertIn("  1  the run reported at least one error", usage.stdout)
        self.assertEqual((before, None), (snapshot(roots), rec.log()))
        result = rec.run(["/Report", "-clean"])                    # report wins
        self.assertEqual((before, values, None), (snapshot(roots), registry(), rec.log()))
        text = s.cpath(REPORT).read_text()
        self.assertEqual(text.splitlines(), result.stdout.splitlines())
        # Each drive's block: its "Drive" line and the indented lines below it.
        blocks = {m[1]: m[0] for m in re.finditer(r"^Drive (\S+).*(?:\n  .*)*", text, re.M)}
        for drive, expected in {
            "E:": ["Scan status: Active", "Damaged image file 2: a run would rebuild its summary",
                   "Damaged image file 1: a run would replace it", "A run would prepare it: delete 7 files"],
            "F:": ["Scan status: Active", "A run would prepare it"],
            "G:": ["Drive G: network", "volume of another database", "Scan status: Foreign",
                   "A run would leave G: as it is: G:\\Recordings cannot be removed"],
            "H:": ["Description: none", "Scan status: Blank", "delete 0 files (0 bytes)"],
            "J:": ["Scan status: BlankWithData", "leave it alone: it holds files but no description"],
            "K:": ["Candidate: no, too small"],
            "Y:": ["Drive Y: removable", "Candidate: no, removable drives are never examined"],
        }.items():
            for line in expected:
                self.assertIn(line, blocks[drive], drive)
        self.assertIn("Pre-alarm directory C:\\Kestrix\\PreAlarm\\: a run would empty it: 2 files", text)
        self.assertIn("Restore directory C:\\Kestrix\\Restore\\: missing; a run would create it", text)
        self.assertEqual("Drives a run would prepare: E: F: H:", text.splitlines()[-1])
        # Without a database GUID the preview makes one in memory only.
        s.reg_delete(mptest.DATABASE_KEY, "GUID")
        self.assertIn("none in the registry", rec.run(["-REPORT"]).stdout)
        self.assertIsNone(rec.registry("GUID"))
        rec.set_settings({}, self.db_guid)
        self.assertEqual(before, snapshot(roots))

        trace = s.cpath(TRACE)
        trace.unlink(missing_ok=True)
        rec.run()
        self.assertEqual([f"File {n} corrupted, rebuilding." for n in (2, 1, 0, 6, 5, 4)],
                         [line.split("] ", 1)[1] for line in trace.read_text().splitlines() if "corrupted" in line])
        left = failure("G:") + "Error:G:\\Recordings cannot be removed: Directory is not empty. Nothing on G: was deleted.\r\n"
        self.assertEqual(LOG_HEAD + left + "Message: Data drives found: E: F: H:\r\n", rec.log())
        first = {d: self.assertPrepared(d, 3, position) for d, position in (("e", 0), ("f", 2), ("h", 1))}
        self.assertEqual(kept, {d: contents(s.drive(d)) for d in "gl"})

        # Released and prepared again in the order of the old positions, untraced.
        s.reg_delete(r"HKLM\Software\Corvane-VG\Kestrix\DbgLogger", "Mediaprep")
        write(s.drive("e") / "Images" / "IMG0000.AVI", b"recorded since")
        rec.run()
        self.assertEqual(LOG_HEAD + left + "Message: Data drives found: E: H: F:\r\n", rec.log())
        for d, position in (("e", 0), ("f", 1), ("h", 2)):  # each right behind E:, the one that records
            self.assertNotEqual(first[d]["VolumeGUID"], self.assertPrepared(d, 3, position)["VolumeGUID"])
        self.assertEqual((self.db_guid, kept), (rec.registry("GUID"), {d: contents(s.drive(d)) for d in "gl"}))


def files(kb):  # image files in 99.5 % of kb
    return int(kb * 0.995) // 20480


class BigDrives(Scenario):
    db_guid = guid_text()
    TIB = 1 << 30  # in KB; tmpfs sizes are whole pages: 2 TiB - 4 KB is the largest at the 2**31 - 1 KB limit
    SIZES = {"e": 5 * TIB, "f": 2 * TIB - 4, "g": 2 * TIB, "h": 20 * TIB, "i": 307200}

    def prepared(self, init_order, position_order):
        """A run after the report predicted its list; every description byte for byte."""
        found = " ".join(p for d in init_order for p in self.paths[d])
        self.assertEqual("Drives a run would prepare: " + found, self.rec.run(["/report"]).stdout.splitlines()[-1])
        self.rec.run()
        self.assertEqual(LOG_HEAD + "Message: Data drives found: " + found + "\r\n", self.rec.log())
        volumes = [(d, p, kb) for d in position_order for p, kb in zip(self.paths[d], self.shares[d])]
        for n, (d, path, kb) in enumerate(volumes):
            root = self.session.drive(d) / path[3:]
            self.assertEqual(["Alarm/", "Images/", "Index/", "VolumeInfo.xml"],
                             [p for p in tree(root) if p != "VolumeInfoOld.xml"], path)
            self.guids.add(guid := parse_description(data := (root / "VolumeInfo.xml").read_bytes())["VolumeGUID"])
            self.assertEqual(description(NumFiles=files(kb), Position=n, VolumeGUID=guid, StartFile=-min(n, 1),
                                         RecordFile=-min(n, 1), DBGUID=self.db_guid, ActiveVolumes=18,
                                         AllocatedSpaceKB=kb), data, path)
        for d, paths in self.paths.items():
            if len(paths) > 1:
                self.assertEqual(subvolume_description(*(p[2:] for p in paths)),
                                 (self.session.drive(d) / "VolumeInfo.xml").read_bytes())
        return [f"{p} 0 {n} {kb} {files(kb)}" for n, (_, p, kb) in enumerate(volumes)]

    def test_drives_beyond_one_description_become_subvolumes_the_recorder_reads_back(self):
        self.shares = {d: [kb // k + (n < kb % k) for n in range(k)] for d, kb in self.SIZES.items()
                       for k in [-(-kb // (2**31 - 1))]}
        self.paths = {d: [d.upper() + ":" + (f"\\Vol{n + 1}" if len(s) > 1 else "") for n in range(len(s))]
                      for d, s in self.shares.items()}
        self.guids = set()
        for letter, kb in self.SIZES.items():
            self.rec.drive(letter, size_kb=kb)
        self.assertLessEqual({f"Drive {d.upper()}: fixed, {kb} KB" for d, kb in self.SIZES.items()} | {
            f"    {p}: {kb} KB, {files(kb)} image files" for d in "egh" for p, kb in zip(self.paths[d], self.shares[d])},
            set(self.rec.run(["/report"]).stdout.splitlines()))
        # Each later drive goes right behind the recording E:\\Vol1 and the rest of E:.
        expected = self.prepared("efghi", "eihgf")
        # The recorder's scan, which splits the drives: every volume in its place.
        scan = self.session.run(mptest.exe("volumes_wipe_tool.exe"), ["scan", TRACE.rsplit("\\", 1)[0]], timeout=300)
        self.assertEqual(expected, scan.stdout.splitlines())
        # Again, in the order of the scan that judges every drive whole: new GUIDs throughout.
        self.prepared("eghif", "efihg")
        self.assertEqual(36, len(self.guids))


if __name__ == "__main__":
    mptest.main()
