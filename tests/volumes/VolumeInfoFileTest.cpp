#include "tests/support/TestFiles.h"
#include "tests/volumes/RecordPrinter.h"
#include "volumes/PlatformFile.h"
#include "volumes/VolumeInfoFile.h"
#include "volumes/VolumeInfoText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string DataFile(const char* name)
{
    return testfiles::ReadAll(testfiles::ModuleDirectory() + "\\data\\" + name);
}

GUID Guid(std::uint32_t a, std::uint16_t b, std::uint16_t c, const std::uint8_t (&d)[8])
{
    GUID guid{};
    guid.Data1 = a;
    guid.Data2 = b;
    guid.Data3 = c;
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = d[i];
    return guid;
}

VolumeRecord Volume(const std::string& path, int numFiles)
{
    VolumeRecord record;
    record.path = path;
    record.numFiles = numFiles;
    record.label = "gen " + std::to_string(numFiles);
    record.position = numFiles % 3;
    record.allocatedSpaceKB = 1000000 + numFiles;
    return record;
}

std::string Text(const VolumeRecord& record)
{
    XmlDocument document;
    WriteVolumeInfoDocument(document, record);
    return document.GetText();
}

// Whether a file holds a complete description (not merely every element).
bool Whole(const std::string& path)
{
    if (!testfiles::Exists(path))
        return false;
    XmlDocument document;
    document.SetText(testfiles::ReadAll(path));
    VolumeRecord scratch;
    bool whole = false;
    return ReadVolumeInfoDocument(document, scratch, &whole) && whole;
}

VolumeRecord Loaded(const std::string& path, bool& ok)
{
    VolumeRecord record;
    record.path = path;
    ok = LoadVolumeInfo(record);
    return record;
}

class VolumeInfoFileTest : public ::testing::Test {
protected:
    void TearDown() override { PlatformFile::SetFaultHook(nullptr); }

    std::string Current() const { return dir / kVolumeInfoFileName; }
    std::string Previous() const { return dir / kVolumeInfoOldFileName; }
    void Put(const std::string& path, const std::string* bytes)
    {
        ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(path.c_str());
        if (bytes)
            testfiles::WriteAll(path, *bytes);
    }

    testfiles::ScratchDir dir;
};

}  // namespace

TEST_F(VolumeInfoFileTest, EachFormIsWrittenByteForByteAndReadsBackEqual)
{
    VolumeRecord fresh;
    VolumeRecord active;
    active.label = "Bay 2 left";
    active.numFiles = 11641;
    active.fileNumOffset = 3;
    active.position = 1;
    active.volumeGuid = Guid(0x0F1E2D3C, 0x4B5A, 0x6978, {0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0});
    active.recordFile = 4711;
    active.dbGuid = Guid(0x00000A0B, 0x000C, 0x000D, {0x0E, 0x0F, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05});
    active.activeVolumes = 2;
    active.allocatedSpaceKB = 2147483647;
    VolumeRecord split;
    split.subVolumes = {"\\Cameras 1-8", "\\Cameras 9-16\\Store"};

    const struct {
        const char* file;
        VolumeRecord record;
    } forms[] = {{"fresh.xml", fresh}, {"active.xml", active}, {"subvolumes.xml", split}};
    for (const auto& form : forms) {
        SCOPED_TRACE(form.file);
        const std::string expected = DataFile(form.file);
        ASSERT_FALSE(expected.empty());

        testfiles::ScratchDir written;
        VolumeRecord record = form.record;
        record.path = written.path();
        ASSERT_TRUE(SaveVolumeInfo(record));
        EXPECT_EQ(expected, testfiles::ReadAll(written / kVolumeInfoFileName));
        EXPECT_FALSE(testfiles::Exists(written / kVolumeInfoOldFileName));

        testfiles::ScratchDir handWritten;
        testfiles::WriteAll(handWritten / kVolumeInfoFileName, expected);
        record.path = handWritten.path() + "\\";  // a path that ends in a backslash gets no second one
        bool ok = false;
        EXPECT_EQ(record, Loaded(record.path, ok));
        EXPECT_TRUE(ok);
    }
}

TEST_F(VolumeInfoFileTest, EachSaveKeepsThePreviousGeneration)
{
    const VolumeRecord first = Volume(dir.path(), 1);
    const VolumeRecord second = Volume(dir.path(), 2);
    const VolumeRecord third = Volume(dir.path(), 3);
    ASSERT_TRUE(SaveVolumeInfo(first));
    EXPECT_FALSE(testfiles::Exists(Previous()));
    ASSERT_TRUE(SaveVolumeInfo(second));
    EXPECT_EQ(Text(first), testfiles::ReadAll(Previous()));
    EXPECT_EQ(Text(second), testfiles::ReadAll(Current()));
    ASSERT_TRUE(SaveVolumeInfo(third));
    EXPECT_EQ(Text(second), testfiles::ReadAll(Previous()));
    EXPECT_EQ(Text(third), testfiles::ReadAll(Current()));

    // Nowhere to write: false, nothing created.
    EXPECT_FALSE(SaveVolumeInfo(Volume(dir / "missing", 4)));
    EXPECT_FALSE(SaveVolumeInfo(Volume("", 4)));
}

TEST_F(VolumeInfoFileTest, AnUnusableCurrentFileFallsBackToThePreviousOne)
{
    const VolumeRecord good = Volume(dir.path(), 7);
    const std::string goodText = Text(good);
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 7919) & 0xFF);
    std::string huge;
    while (huge.size() <= XmlDocument::kMaxLoadBytes)
        huge += Text(Volume(dir.path(), 8));
    std::string quoted;  // every tag opened by a stray quote
    for (char c : Text(Volume(dir.path(), 8))) {
        quoted += c;
        if (c == '<')
            quoted += '"';
    }
    const std::string fresh = Text(Volume(dir.path(), 8));
    const std::vector<std::pair<const char*, std::string>> bad = {
        {"empty", ""},
        {"binary", binary},
        {"huge", huge},
        {"unterminated quotes", quoted},
        {"cut inside a tag", fresh.substr(0, fresh.find("<RecordFile") + 5)},
        {"without RecordFile", fresh.substr(0, fresh.find("<RecordFile")) + fresh.substr(fresh.find("<DBGUID"))},
    };
    for (const auto& [what, bytes] : bad) {
        SCOPED_TRACE(what);
        Put(Current(), &bytes);
        Put(Previous(), &goodText);
        bool ok = false;
        EXPECT_EQ(good, Loaded(dir.path(), ok));
        EXPECT_TRUE(ok);
        Put(Previous(), nullptr);
        Loaded(dir.path(), ok);
        EXPECT_FALSE(ok);
    }
    Put(Current(), nullptr);
    Put(Previous(), &goodText);
    bool ok = false;
    EXPECT_EQ(good, Loaded(dir.path(), ok));
    EXPECT_TRUE(ok);
}

TEST_F(VolumeInfoFileTest, FieldsOfAFailedCurrentFileStayUnlessThePreviousGivesThem)
{
    const std::string current = "<VolumeInformation>\r\n<NumFiles>12</NumFiles>\r\n</VolumeInformation>\r\n";
    const std::string previous = "<SubVolumes>\r\n<SubVolume>\\S</SubVolume>\r\n</SubVolumes>\r\n";
    Put(Current(), &current);
    Put(Previous(), &previous);
    bool ok = false;
    const VolumeRecord record = Loaded(dir.path(), ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(12, record.numFiles);
    EXPECT_EQ(std::vector<std::string>{"\\S"}, record.subVolumes);
}

TEST_F(VolumeInfoFileTest, ACurrentFileCutShortAfterItsLastElementYieldsToACompletePreviousOne)
{
    const VolumeRecord previous = Volume(dir.path(), 5);
    const VolumeRecord next = Volume(dir.path(), 6);
    const std::string previousText = Text(previous);
    const std::string nextText = Text(next);
    // Every element is there, the last value only partly.
    const std::string cut = nextText.substr(0, nextText.find("</AllocatedSpaceKB>") - 2);
    Put(Current(), &cut);
    Put(Previous(), &previousText);
    bool ok = false;
    EXPECT_EQ(previous, Loaded(dir.path(), ok));
    EXPECT_TRUE(ok);

    // Without a complete previous file the cut one is all there is.
    Put(Previous(), nullptr);
    // Its last element has no text behind it up to the next tag: it reads as
    // empty, so 0, whatever digits are left.
    VolumeRecord expected = next;
    expected.allocatedSpaceKB = 0;
    EXPECT_EQ(expected, Loaded(dir.path(), ok));
    EXPECT_TRUE(ok);

    // And a save does not rotate it over a complete previous file.
    Put(Previous(), &previousText);
    ASSERT_TRUE(SaveVolumeInfo(Volume(dir.path(), 9)));
    EXPECT_EQ(previousText, testfiles::ReadAll(Previous()));
    EXPECT_EQ(Text(Volume(dir.path(), 9)), testfiles::ReadAll(Current()));
}

namespace {

struct SimulatedCrash {};

struct Step {
    FileStep step;
    std::string path;
};

// Runs one save with a fault at step `faultAt` (none when -1): the process
// stops dead there (crash) or that one call fails (error).
struct FaultRun {
    std::vector<Step> steps;
    bool crashed = false;
    bool result = false;
};

FaultRun SaveWithFault(const VolumeRecord& record, int faultAt, bool crash)
{
    FaultRun run;
    PlatformFile::SetFaultHook([&run, faultAt, crash](FileStep step, const std::string& path) {
        run.steps.push_back({step, path});
        if (static_cast<int>(run.steps.size()) - 1 != faultAt)
            return;
        if (crash)
            throw SimulatedCrash{};
        throw PlatformFileError(ERROR_DISK_FULL, "injected", path);
    });
    try {
        run.result = SaveVolumeInfo(record);
    } catch (const SimulatedCrash&) {
        run.crashed = true;
    }
    PlatformFile::SetFaultHook(nullptr);
    return run;
}

}  // namespace

// A save stopped at any step, by a crash or by a failing call, leaves at
// least one complete description, and a load finds either the previous
// description or the new one, never a mixture or a cut one. Data written but
// not yet flushed when the crash came may reach the disk in any part.
TEST_F(VolumeInfoFileTest, ASaveStoppedAtAnyStepLeavesACompleteDescription)
{
    const VolumeRecord older = Volume(dir.path(), 10);
    const VolumeRecord previous = Volume(dir.path(), 11);
    const VolumeRecord interrupted = Volume(dir.path(), 12);
    const VolumeRecord next = Volume(dir.path(), 13);
    const std::string olderText = Text(older), previousText = Text(previous), nextText = Text(next);
    const std::string torn = Text(interrupted).substr(0, 150);
    const std::string cutLast = Text(interrupted).substr(0, Text(interrupted).find("</AllocatedSpaceKB>") - 3);

    const struct {
        const char* name;
        const std::string* current;
        const std::string* old;
    } states[] = {
        {"two complete generations", &previousText, &olderText},
        {"an earlier save torn", &torn, &previousText},
        {"an earlier save cut in its last value", &cutLast, &previousText},
        {"no previous generation yet", &previousText, nullptr},
        {"an earlier save stopped after its rotation", nullptr, &previousText},
    };
    const std::string tears[] = {"", nextText.substr(0, nextText.size() / 2),
                                 nextText.substr(0, nextText.size() - 4),
                                 nextText.substr(0, 200) + std::string(nextText.size() - 200, '\0'), nextText};

    for (const auto& state : states) {
        Put(Current(), state.current);
        Put(Previous(), state.old);
        const FaultRun clean = SaveWithFault(next, -1, false);
        ASSERT_TRUE(clean.result) << state.name;
        // Success is reported only once the new file is on the disk.
        std::size_t written = clean.steps.size(), flushed = clean.steps.size();
        for (std::size_t i = 0; i < clean.steps.size(); ++i) {
            if (clean.steps[i].path == Current() && clean.steps[i].step == FileStep::Write)
                written = i;
            if (clean.steps[i].path == Current() && clean.steps[i].step == FileStep::Flush && i > written)
                flushed = i;
        }
        EXPECT_LT(flushed, clean.steps.size()) << state.name << ": the new file is never flushed";
        EXPECT_EQ(nextText, testfiles::ReadAll(Current())) << state.name;
        EXPECT_EQ(previousText, testfiles::ReadAll(Previous())) << state.name;

        for (int crash = 0; crash < 2; ++crash) {
            for (int at = 0; at < static_cast<int>(clean.steps.size()); ++at) {
                Put(Current(), state.current);
                Put(Previous(), state.old);
                const FaultRun run = SaveWithFault(next, at, crash != 0);
                ASSERT_LT(at, static_cast<int>(run.steps.size()));
                const Step& stopped = run.steps[static_cast<std::size_t>(at)];
                const std::string where = std::string(state.name) + (crash ? ", crash" : ", error") +
                                          " at step " + std::to_string(at) + " on " + stopped.path;
                ASSERT_EQ(crash != 0, run.crashed) << where;
                // Written to the new file and not yet flushed when the crash came.
                bool unflushed = false;
                for (int i = 0; i < at; ++i) {
                    const Step& earlier = run.steps[static_cast<std::size_t>(i)];
                    if (earlier.path == Current() && earlier.step == FileStep::Write)
                        unflushed = true;
                    if (earlier.path == Current() && earlier.step == FileStep::Flush)
                        unflushed = false;
                }
                if (!crash) {
                    // The new file's own steps; its Close follows its Flush.
                    const bool savingNew =
                        stopped.path == Current() &&
                        (stopped.step == FileStep::Create || stopped.step == FileStep::Write ||
                         stopped.step == FileStep::Flush ||
                         (stopped.step == FileStep::Close && at > 0 &&
                          run.steps[static_cast<std::size_t>(at - 1)].step == FileStep::Flush));
                    EXPECT_EQ(!savingNew, run.result) << where;
                    if (run.result) {
                        EXPECT_EQ(nextText, testfiles::ReadAll(Current())) << where;
                    }
                }
                // After a crash before the flush, the disk may hold any part
                // of what was written.
                const std::vector<std::string> outcomes =
                    crash && unflushed ? std::vector<std::string>(std::begin(tears), std::end(tears))
                                        : std::vector<std::string>{testfiles::ReadAll(Current())};
                const bool currentExists = testfiles::Exists(Current());
                for (const std::string& onDisk : outcomes) {
                    if (currentExists)
                        Put(Current(), &onDisk);
                    EXPECT_TRUE(Whole(Current()) || Whole(Previous())) << where;
                    bool ok = false;
                    const VolumeRecord found = Loaded(dir.path(), ok);
                    EXPECT_TRUE(ok) << where;
                    EXPECT_TRUE(found == previous || found == next)
                        << where << ": loaded " << found.numFiles << " with " << found.allocatedSpaceKB << " KB";
                }
            }
        }
    }
}
