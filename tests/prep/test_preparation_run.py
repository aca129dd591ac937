"""The preparation run end to end: the real Mediaprep.exe /clean on simulated
recorders in the Wine sandbox, checked from Linux: the run log byte for byte,
every drive's tree, every description file and the registry."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402
from mptest import sandbox, tree  # noqa: E402
from recorder import (RECORDER_SETTINGS, ZERO_GUID, Recorder, awkward_names, description, guid_text,  # noqa: E402
                      prepared_description_checks, recordings, subvolume_description, write)

SIZE_KB = 262144  # 256 MiB drives: 12 image files of 20 MB each
LOG_HEAD = "Configuring Kestrix Drives\r\n"
DIRECTORIES = ["Alarm/", "Images/", "Index/"]
TRACE = r"C:\Windows\Kestrix\MediaprepLogs\MediaprepTrace.log"


def failure(path):
    return f"Error:Failure to initialize drive {path}.  Mediaprep not completely successful.\r\n\r\n"


class Scenario(unittest.TestCase):
    db_guid = None
    settings = "recorder"

    def setUp(self):
        self.session = sandbox.Session().__enter__()
        self.addCleanup(self.session.__exit__, None, None, None)
        self.rec = Recorder(self.session, self.db_guid,
                            RECORDER_SETTINGS if self.settings == "recorder" else None)
        self.removable = self.rec.drive("y", "removable", size_kb=None)
        self.rec.add_canary(self.removable / "clip0001.avi")
        self.rec.add_canary(self.removable / "export" / "notes.txt")

    def tearDown(self):
        self.assertEqual([], self.rec.dead_canaries())
        if self.settings == "recorder":
            self.assertEqual({"PreAlarm": [], "Restore": []}, self.rec.kestrix_directories())

    def assertPrepared(self, letter, active_volumes, position=None):
        info = self.rec.info(letter)
        prepared_description_checks(self, info, self.rec.registry("GUID"), active_volumes, SIZE_KB)
        if position is not None:
            self.assertEqual(position, info["Position"], letter)
        # The previous generation exists when the description was written more
        # than once since the wipe (not for the last volume prepared).
        found = [p for p in tree(self.session.drive(letter)) if p != "VolumeInfoOld.xml"]
        self.assertEqual(sorted(DIRECTORIES + ["VolumeInfo.xml"]), found, letter)
        return info


class OnlyTheSystemDrive(Scenario):
    def test_no_report_but_directories_and_flag(self):
        self.session.unmap("y")  # nothing but C: at all
        self.rec.run()
        self.assertEqual(LOG_HEAD, self.rec.log())
        self.assertEqual(1, self.rec.registry("MultipleDir"))

    def test_links_in_the_pre_alarm_directory_are_never_followed(self):
        # Host links that Wine shows inside C:\Kestrix\PreAlarm: one to a
        # directory and one to a file, both outside it. Wine cannot remove such
        # a link without acting on its target, so each one is reported.
        outside = self.session.dir / "outside"
        self.rec.add_canary(outside / "recording.avi")
        pre_alarm = self.session.cpath("C:\\Kestrix\\PreAlarm")
        os.symlink(outside, pre_alarm / "linked-dir")
        os.symlink(outside / "recording.avi", pre_alarm / "linked-file.jpg")
        self.rec.run()
        lines = self.rec.log().split("\r\n")
        self.assertEqual(["Configuring Kestrix Drives", ""], [lines[0], lines[-1]])
        self.assertEqual(sorted(f"Error:Failed to delete: C:\\Kestrix\\PreAlarm\\{name}"
                                for name in ("linked-dir", "linked-file.jpg")), sorted(lines[1:-1]))
        self.assertEqual(["recording.avi"], tree(outside))
        self.assertEqual(["linked-dir", "linked-file.jpg"], sorted(os.listdir(pre_alarm)))
        for link in ("linked-dir", "linked-file.jpg"):
            os.unlink(pre_alarm / link)
        self.assertRegex(self.rec.registry("GUID"), r"^\{[0-9A-F-]{36}\}$")


class MixedRecorder(Scenario):
    db_guid = guid_text()

    def test_statuses_positions_and_report(self):
        other_db = guid_text()
        rec = self.rec
        rec.drive("e")                                           # blank
        old = rec.drive("f")                                     # old recordings, no description
        recordings(old, 3, images=".", index=".")
        foreign = rec.drive("g")                                 # a volume of another database
        write(foreign / "VolumeInfo.xml", description(NumFiles=12, Position=1, VolumeGUID=guid_text(),
                                                      DBGUID=other_db, ActiveVolumes=3, AllocatedSpaceKB=SIZE_KB))
        recordings(foreign, 4)
        ours = rec.drive("h", "network")                         # an active volume of this database
        write(ours / "VolumeInfo.xml", description(NumFiles=12, Position=0, VolumeGUID=guid_text(), StartFile=0,
                                                   RecordFile=3, DBGUID=self.db_guid, ActiveVolumes=1,
                                                   AllocatedSpaceKB=SIZE_KB))
        recordings(ours, 4)
        optical = rec.drive("j", "cdrom", size_kb=None)
        rec.add_canary(optical / "disc.txt")
        small = rec.drive("k", size_kb=200 * 1024)               # below the minimum size
        readonly = rec.drive("l")
        rec.add_canary(readonly / "kept.txt")
        self.session.make_readonly("l")
        split = rec.drive("m")                                   # a drive of subvolumes
        write(split / "VolumeInfo.xml", subvolume_description("\\Vol1", "\\Vol2"))
        (split / "Vol1").mkdir()
        (split / "Vol2").mkdir()
        old_tree = tree(old)

        rec.run()

        # After the releasing rescan the list reads: foreign volumes by position
        # (M: -1, H: 0, G: 1), then the blank drives; each initialisation puts its
        # volume right behind the recording one (M:, at position 0).
        self.assertEqual(LOG_HEAD + "Message: Data drives found: M: H: G: E:\r\n", rec.log())
        m = self.assertPrepared("m", 4, position=0)
        self.assertEqual((0, 0), (m["StartFile"], m["RecordFile"]))
        for letter, position in (("e", 1), ("g", 2), ("h", 3)):
            info = self.assertPrepared(letter, 4, position)
            self.assertEqual((-1, -1), (info["StartFile"], info["RecordFile"]), letter)
        guids = {rec.info(d)["VolumeGUID"] for d in "eghm"}
        self.assertEqual(4, len(guids))
        self.assertEqual(self.db_guid, rec.registry("GUID"))
        self.assertEqual(1, rec.registry("MultipleDir"))

        # The drive with old files but no description keeps them; the scan
        # left it a fresh description.
        self.assertEqual(sorted(old_tree + ["VolumeInfo.xml"]), tree(old))
        self.assertEqual(description(), (old / "VolumeInfo.xml").read_bytes())
        self.assertEqual([], tree(small))
        self.assertEqual(["kept.txt"], tree(readonly))


class DefaultSettings(Scenario):
    settings = None

    def test_every_drive_fails_at_its_root_and_c_is_protected(self):
        blank = self.rec.drive("e")
        foreign = self.rec.drive("f")
        write(foreign / "VolumeInfo.xml", description(NumFiles=12, Position=0, DBGUID=guid_text(),
                                                      VolumeGUID=guid_text(), ActiveVolumes=1))
        recordings(foreign, 2, images=".", index=".")
        self.rec.run()
        self.assertEqual(LOG_HEAD + failure("F:") + failure("E:") + "Message: Data drives found:\r\n"
                         + "Error:Attempting to delete C:\\\r\n" * 2, self.rec.log())
        # Both were emptied before the directory creation failed.
        self.assertEqual([], tree(blank))
        self.assertEqual([], tree(foreign))
        # Without settings in either view, what the run writes goes where a
        # 32-bit recorder will create its settings.
        self.assertEqual(1, self.rec.registry("MultipleDir", view=32))
        self.assertIsNotNone(self.rec.registry("GUID", view=32))
        self.assertIsNone(self.rec.registry("ImagePath", view=32))
        self.assertEqual([None, None], [self.rec.registry(n, view=64) for n in ("GUID", "MultipleDir")])


class RegistryViews(Scenario):
    def test_the_view_that_holds_the_settings_is_read_and_written(self):
        e = self.rec.drive("e")
        for views, used, other in (((32,), 32, 64), ((64,), 64, 32), ((32, 64), 32, 64)):
            with self.subTest(views=views):
                self.rec.forget_settings()
                self.rec.forget_log()
                # Directory names that tell the views apart; a GUID is given
                # only where both views hold one, else the run makes it.
                for view in views:
                    settings = {**RECORDER_SETTINGS, "ImagePath": f"\\Images{view}\\",
                                "IndexPath": f"\\Index{view}\\", "AlarmPath": f"\\Alarm{view}\\"}
                    self.rec.set_settings(settings, guid_text() if len(views) > 1 else None, view=view)
                self.rec.run()
                self.assertEqual(LOG_HEAD + "Message: Data drives found: E:\r\n", self.rec.log())
                self.assertEqual([f"Alarm{used}/", f"Images{used}/", f"Index{used}/", "VolumeInfo.xml"],
                                 [p for p in tree(e) if p != "VolumeInfoOld.xml"])
                self.assertEqual(self.rec.registry("GUID", view=used), self.rec.info("e")["DBGUID"])
                self.assertEqual(1, self.rec.registry("MultipleDir", view=used))
                self.assertIsNone(self.rec.registry("MultipleDir", view=other))
                if len(views) == 1:
                    self.assertIsNone(self.rec.registry("GUID", view=other))


class SystemDrives(Scenario):
    db_guid = guid_text()
    MEMORY = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Memory Management"

    def test_drives_holding_the_program_a_paging_or_hibernation_file_are_left_alone(self):
        saved = self.session.reg_get(self.MEMORY, "PagingFiles")
        self.addCleanup(self.restore_paging_files, saved)
        # "?:" is a system-managed paging file: it names no drive by itself.
        self.session.reg_set(self.MEMORY, "PagingFiles", r"?:\pagefile.sys\0f:\pagefile.sys 0 0", "REG_MULTI_SZ")
        other_db = guid_text()
        program = self.rec.drive("e")                            # the technician's copy runs from here
        write(program / "tools" / "Mediaprep.exe", mptest.exe("Mediaprep.exe").read_bytes())
        self.rec.drive("f")                                      # blank: would get a description
        hibernation = self.rec.drive("g")
        write(hibernation / "hiberfil.sys", os.urandom(4096))
        for drive in (program, hibernation):                     # foreign volumes: would be wiped
            write(drive / "VolumeInfo.xml", description(NumFiles=12, Position=0, VolumeGUID=guid_text(),
                                                        DBGUID=other_db, ActiveVolumes=1))
            recordings(drive, 2)
        before = self.contents("efg")
        self.rec.drive("h")

        result = self.session.run("E:\\tools\\Mediaprep.exe", ["/clean"], timeout=300)
        self.assertFalse(result.timed_out)

        self.assertEqual(LOG_HEAD + "".join(f"Error:Drive {d} holds {why}; it was left alone.\r\n" for d, why in (
            ("E:", "the running program"), ("F:", "a paging file"), ("G:", "hiberfil.sys")))
            + "Message: Data drives found: H:\r\n", self.rec.log())
        self.assertEqual(before, self.contents("efg"))
        self.assertPrepared("h", 1, position=0)

    def contents(self, letters):
        root = self.session.drive
        return {d: {p: None if p.endswith("/") else (root(d) / p).read_bytes() for p in tree(root(d))}
                for d in letters}

    def restore_paging_files(self, saved):
        if saved is None:
            self.session.reg_delete(self.MEMORY, "PagingFiles")
        else:
            self.session.reg_set(self.MEMORY, "PagingFiles", saved, "REG_SZ")


class UndeletableFile(Scenario):
    db_guid = guid_text()

    def test_the_drive_is_reported_and_the_run_goes_on(self):
        held = self.rec.drive("e")
        write(held / "VolumeInfo.xml", description(NumFiles=12, Position=0, DBGUID=guid_text(),
                                                   VolumeGUID=guid_text(), ActiveVolumes=1))
        recordings(held, 3)
        self.rec.drive("f")
        self.rec.run_holding(r"E:\Images\IMG0001.AVI")
        self.assertEqual(LOG_HEAD + failure("E:") + "Message: Data drives found: F:\r\n", self.rec.log())
        self.assertTrue((held / "Images" / "IMG0001.AVI").exists())
        self.assertPrepared("f", 1, position=0)


class AwkwardNames(Scenario):
    db_guid = guid_text()

    def test_a_drive_and_the_pre_alarm_directory_are_emptied_whatever_the_names(self):
        # tearDown checks that the pre-alarm directory ends empty.
        awkward_names(self.session.cpath("C:\\Kestrix\\PreAlarm"))
        drive = self.rec.drive("e")
        write(drive / "VolumeInfo.xml", description(NumFiles=12, Position=0, DBGUID=guid_text(),
                                                    VolumeGUID=guid_text(), ActiveVolumes=1))
        recordings(drive, 2)
        awkward_names(drive)
        self.rec.add_canary(self.session.dir / "録画0001.avi")  # beside the drive, under a name it holds
        self.rec.run()
        self.assertEqual(LOG_HEAD + "Message: Data drives found: E:\r\n", self.rec.log())
        self.assertPrepared("e", 1, position=0)


class UnreleasableVolume(Scenario):
    db_guid = guid_text()

    def test_missing_placeholders_are_reported_with_an_empty_path(self):
        # A volume of this database whose description cannot be rewritten (it
        # is held open; the previous generation still reads) keeps its claim
        # of three active volumes: the two positions no drive supplies stay
        # Missing, and the run reports them with their empty path.
        ours = self.rec.drive("e")
        claim = description(NumFiles=12, Position=0, VolumeGUID=guid_text(), StartFile=0, RecordFile=0,
                            DBGUID=self.db_guid, ActiveVolumes=3, AllocatedSpaceKB=SIZE_KB)
        write(ours / "VolumeInfo.xml", claim)
        write(ours / "VolumeInfoOld.xml", claim)
        recordings(ours, 2)
        before = tree(ours)
        self.rec.run_holding(r"E:\VolumeInfo.xml")
        self.assertEqual(LOG_HEAD + failure("") * 2 + "Message: Data drives found:\r\n", self.rec.log())
        self.assertEqual(before, tree(ours))
        self.assertEqual(claim, (ours / "VolumeInfoOld.xml").read_bytes())


class SecondRun(Scenario):
    db_guid = guid_text()

    def test_active_volumes_are_released_and_prepared_again(self):
        for letter in "efg":
            self.rec.drive(letter)
        self.rec.run()
        first = {d: self.rec.info(d) for d in "efg"}
        self.assertEqual({0, 1, 2}, {info["Position"] for info in first.values()})
        write(self.session.drive("e") / "Images" / "IMG0000.AVI", b"recorded since")

        self.rec.run()
        second = {d: self.rec.info(d) for d in "efg"}
        for d in "efg":
            self.assertPrepared(d, 3)
            self.assertNotEqual(first[d]["VolumeGUID"], second[d]["VolumeGUID"])
        self.assertEqual(self.db_guid, self.rec.registry("GUID"))
        # Prepared again in the order of the old positions: 0 keeps 0, the one
        # at 1 goes to 2 when the one at 2 is placed behind the recording volume.
        by_old = sorted("efg", key=lambda d: first[d]["Position"])
        self.assertEqual([0, 2, 1], [second[d]["Position"] for d in by_old])
        self.assertEqual(LOG_HEAD + "Message: Data drives found: "
                         + " ".join(f"{d.upper()}:" for d in by_old) + "\r\n", self.rec.log())


class Placement(Scenario):
    db_guid = guid_text()

    def test_three_blank_drives_without_active_volumes(self):
        for letter in "efg":
            self.rec.drive(letter)
        self.rec.run()
        log = self.rec.log()
        self.assertTrue(log.startswith(LOG_HEAD + "Message: Data drives found: "), log)
        order = [p[0].lower() for p in log.splitlines()[1].split(": ", 2)[2].split()]
        self.assertEqual(["e", "f", "g"], sorted(order))
        # First 0 (with the record and start files), second 1, third also 1,
        # which moves the second to 2.
        self.assertEqual([0, 2, 1], [self.rec.info(d)["Position"] for d in order])
        first = self.rec.info(order[0])
        self.assertEqual((0, 0), (first["StartFile"], first["RecordFile"]))


class MinimumSize(Scenario):
    db_guid = guid_text()

    def test_the_boundary_of_the_minimum_size(self):
        # 205,829 KB is the minimum for 20 MB files; tmpfs sizes come in 4 KB pages.
        below = self.rec.drive("e", size_kb=205828)
        self.rec.drive("f", size_kb=205832)
        self.rec.run()
        self.assertEqual(LOG_HEAD + "Message: Data drives found: F:\r\n", self.rec.log())
        self.assertEqual([], tree(below))
        info = self.rec.info("f")
        self.assertEqual(205832, info["AllocatedSpaceKB"])
        self.assertEqual(int(205832 * 0.995) // 20480, info["NumFiles"])


class DamagedRecorder(Scenario):
    db_guid = guid_text()

    def test_damaged_files_are_examined_and_reported_then_prepared(self):
        import volwriter
        trace_key, trace = r"HKLM\Software\Corvane-VG\Kestrix\DbgLogger", self.session.cpath(TRACE)
        self.session.reg_set(trace_key, "Mediaprep", 3)
        trace.unlink(missing_ok=True)
        small = dict(db_guid=self.db_guid, size_mb=1, layout=volwriter.SMALL, seconds=20, active_volumes=2)
        volwriter.write_volume(self.rec.drive("e"), files=4, position=0, **small, damages={
            3: "oversized-journal", 2: "torn-toc", 1: "stale-summary", 0: "garbage-header"})
        volwriter.write_volume(self.rec.drive("f"), files=3, file_num_offset=4, position=1, version=0x2015,
                               start_file=-1, record_file=-1, **small,
                               damages={6: "missing-key-index", 5: "truncated", 4: "stale-summary"})
        # Excluded from the database: never examined, never prepared.
        excluded = self.rec.drive("g")
        info = volwriter.write_volume(excluded, files=2, position=2, **small, damages={1: "torn-toc"})
        write(excluded / "VolumeInfo.xml", description(**dict(info["description"], Excluded=1)))
        before = {p: (excluded / p).read_bytes() for p in tree(excluded) if not p.endswith("/")}

        self.rec.run()

        lines = trace.read_text().splitlines()
        self.assertEqual([f"File {n} corrupted, rebuilding." for n in (2, 1, 0, 6, 5, 4)],
                         [line.split("] ", 1)[1] for line in lines if "corrupted" in line])
        self.assertEqual(LOG_HEAD + "Message: Data drives found: E: F:\r\n", self.rec.log())
        self.assertPrepared("e", 2, position=0)
        self.assertPrepared("f", 2, position=1)
        self.assertEqual(before, {p: (excluded / p).read_bytes() for p in tree(excluded) if not p.endswith("/")})


if __name__ == "__main__":
    mptest.main()
