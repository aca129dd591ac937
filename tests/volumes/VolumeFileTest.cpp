// The description file on disk: its exact bytes, its two generations, and
// what a load finds after damage or a save stopped at any step.
#include "tests/support/TestFiles.h"
#include "volumes/PlatformFile.h"
#include "volumes/VolumeInfoFile.h"
#include "volumes/VolumeInfoText.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

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
    XmlDocument document;
    document.SetText(testfiles::ReadAll(path));
    VolumeRecord scratch;
    bool whole = false;
    return testfiles::Exists(path) && ReadVolumeInfoDocument(document, scratch, &whole) && whole;
}

class VolumeFileTest : public ::testing::Test {
protected:
    void TearDown() override { PlatformFile::SetFaultHook(nullptr); }

    std::string Current() const { return dir / kVolumeInfoFileName; }
    std::string Previous() const { return dir / kVolumeInfoOldFileName; }
    static void Put(const std::string& path, const std::string* bytes)
    {
        ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(path.c_str());
        if (bytes)
            testfiles::WriteAll(path, *bytes);
    }
    void Put(const std::string* current, const std::string* previous)
    {
        Put(Current(), current);
        Put(Previous(), previous);
    }
    // What a load of the scratch directory gives, or its failure.
    ::testing::AssertionResult Loads(const VolumeRecord* expected)
    {
        VolumeRecord record;
        record.path = dir.path();
        const bool ok = LoadVolumeInfo(record);
        if (expected ? ok && record == *expected : !ok)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << (ok ? "loaded " : "failed, read ") << Text(record);
    }

    testfiles::ScratchDir dir;
};

}  // namespace

TEST_F(VolumeFileTest, EachFormIsWrittenByteForByteAndReadsBackEqual)
{
    VolumeRecord active;
    active.label = "Bay 2 left";
    active.numFiles = 11641;
    active.fileNumOffset = 3;
    active.position = 1;
    active.volumeGuid = {0x0F1E2D3C, 0x4B5A, 0x6978, {0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0}};
    active.recordFile = 4711;
    active.dbGuid = {0x00000A0B, 0x000C, 0x000D, {0x0E, 0x0F, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05}};
    active.activeVolumes = 2;
    active.allocatedSpaceKB = 2147483647;
    VolumeRecord split;
    split.subVolumes = {"\\Cameras 1-8", "\\Cameras 9-16\\Store"};
    const std::pair<const char*, VolumeRecord> forms[] = {
        {"fresh.xml", VolumeRecord{}}, {"active.xml", active}, {"subvolumes.xml", split}};
    for (const auto& [file, form] : forms) {
        SCOPED_TRACE(file);
        const std::string expected = testfiles::ReadAll(testfiles::ModuleDirectory() + "\\data\\" + file);
        ASSERT_FALSE(expected.empty());
        testfiles::ScratchDir written;
        VolumeRecord record = form;
        record.path = written.path();
        ASSERT_TRUE(SaveVolumeInfo(record));
        EXPECT_EQ(expected, testfiles::ReadAll(written / kVolumeInfoFileName));
        EXPECT_FALSE(testfiles::Exists(written / kVolumeInfoOldFileName));

        Put(&expected, nullptr);
        record.path = dir.path();
        EXPECT_TRUE(Loads(&record));
    }
    // A path ending in a backslash gets no second one; nowhere to write: false.
    ASSERT_TRUE(SaveVolumeInfo(Volume(dir.path() + "\\", 1)));
    EXPECT_EQ(Text(Volume("", 1)), testfiles::ReadAll(Current()));
    EXPECT_FALSE(SaveVolumeInfo(Volume(dir / "missing", 4)));
    EXPECT_FALSE(SaveVolumeInfo(Volume("", 4)));

    // The document layer: a save truncates what was there; a failed load
    // (one byte over the cap) leaves the text alone.
    XmlDocument document;
    document.SetText("kept");
    testfiles::WriteAll(dir / "huge.xml", std::string(XmlDocument::kMaxLoadBytes + 1, '<'));
    EXPECT_FALSE(document.Load(dir / "huge.xml"));
    EXPECT_EQ("kept", document.GetText());
    testfiles::WriteAll(dir / "limit.xml", std::string(XmlDocument::kMaxLoadBytes, '<'));
    EXPECT_TRUE(document.Load(dir / "limit.xml"));
    EXPECT_EQ(XmlDocument::kMaxLoadBytes, document.GetText().size());
    document.SetText("x");
    ASSERT_TRUE(document.Save(dir / "limit.xml"));
    EXPECT_EQ("x", testfiles::ReadAll(dir / "limit.xml"));
}

TEST_F(VolumeFileTest, EachSaveKeepsThePreviousGenerationAndDamageFallsBackToIt)
{
    for (int n = 1; n <= 3; ++n) {
        ASSERT_TRUE(SaveVolumeInfo(Volume(dir.path(), n)));
        EXPECT_EQ(Text(Volume(dir.path(), n)), testfiles::ReadAll(Current()));
        EXPECT_EQ(n == 1 ? "" : Text(Volume(dir.path(), n - 1)), testfiles::ReadAll(Previous()));
    }

    const VolumeRecord good = Volume(dir.path(), 7);
    const std::string goodText = Text(good), fresh = Text(Volume(dir.path(), 8));
    std::string binary, huge, quoted;  // quoted: every tag opened by a stray quote
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 7919) & 0xFF);
    while (huge.size() <= XmlDocument::kMaxLoadBytes)
        huge += fresh;
    for (char c : fresh)
        quoted += c == '<' ? "<\"" : std::string(1, c);
    const std::pair<const char*, std::string> bad[] = {
        {"empty", ""}, {"binary", binary}, {"huge", huge}, {"unterminated quotes", quoted},
        {"cut inside a tag", fresh.substr(0, fresh.find("<RecordFile") + 5)},
        {"without RecordFile", fresh.substr(0, fresh.find("<RecordFile")) + fresh.substr(fresh.find("<DBGUID"))}};
    for (const auto& [what, bytes] : bad) {
        SCOPED_TRACE(what);
        Put(&bytes, &goodText);
        EXPECT_TRUE(Loads(&good));
        Put(&bytes, nullptr);
        EXPECT_TRUE(Loads(nullptr));
    }
    Put(nullptr, &goodText);
    EXPECT_TRUE(Loads(&good));

    // Every element there, the last value only partly: not whole, so a
    // complete previous generation wins over it; alone, its value reads as 0.
    const std::string cut = fresh.substr(0, fresh.find("</AllocatedSpaceKB>") - 2);
    Put(&cut, &goodText);
    EXPECT_TRUE(Loads(&good));
    Put(&cut, nullptr);
    VolumeRecord expected = Volume(dir.path(), 8);
    expected.allocatedSpaceKB = 0;
    EXPECT_TRUE(Loads(&expected));
    // A save does not rotate it over a complete previous file.
    Put(&cut, &goodText);
    ASSERT_TRUE(SaveVolumeInfo(Volume(dir.path(), 9)));
    EXPECT_EQ(goodText, testfiles::ReadAll(Previous()));
    EXPECT_EQ(Text(Volume(dir.path(), 9)), testfiles::ReadAll(Current()));

    // Fields of a failed current file stay unless the previous one gives them.
    const std::string current = "<VolumeInformation>\r\n<NumFiles>12</NumFiles>\r\n</VolumeInformation>\r\n";
    const std::string previous = "<SubVolumes>\r\n<SubVolume>\\S</SubVolume>\r\n</SubVolumes>\r\n";
    Put(&current, &previous);
    VolumeRecord mixed;
    mixed.path = dir.path();
    mixed.numFiles = 12;
    mixed.subVolumes = {"\\S"};
    EXPECT_TRUE(Loads(&mixed));
}

namespace {

struct SimulatedCrash {};

// One save with a fault at step `faultAt` (none when -1): the process stops
// dead there (crash) or that one call fails (error).
struct FaultRun {
    std::vector<std::pair<FileStep, std::string>> steps;
    bool crashed = false, result = false;
};

FaultRun SaveWithFault(const VolumeRecord& record, int faultAt, bool crash)
{
    FaultRun run;
    PlatformFile::SetFaultHook([&run, faultAt, crash](FileStep step, const std::string& path) {
        run.steps.emplace_back(step, path);
        if (static_cast<int>(run.steps.size()) - 1 == faultAt) {
            if (crash)
                throw SimulatedCrash{};
            throw PlatformFileError(ERROR_DISK_FULL, "injected", path);
        }
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
TEST_F(VolumeFileTest, ASaveStoppedAtAnyStepLeavesACompleteDescription)
{
    const VolumeRecord previous = Volume(dir.path(), 11), next = Volume(dir.path(), 13);
    const std::string olderText = Text(Volume(dir.path(), 10)), previousText = Text(previous), nextText = Text(next);
    const std::string interrupted = Text(Volume(dir.path(), 12));
    const std::string torn = interrupted.substr(0, 150);
    const std::string cutLast = interrupted.substr(0, interrupted.find("</AllocatedSpaceKB>") - 3);
    const std::tuple<const char*, const std::string*, const std::string*> states[] = {
        {"two generations", &previousText, &olderText}, {"an earlier save torn", &torn, &previousText},
        {"an earlier save cut in its last value", &cutLast, &previousText}, {"one generation", &previousText, nullptr},
        {"an earlier save stopped after its rotation", nullptr, &previousText}};
    const std::vector<std::string> tears = {"", nextText.substr(0, nextText.size() / 2),
                                            nextText.substr(0, nextText.size() - 4),
                                            nextText.substr(0, 200) + std::string(nextText.size() - 200, '\0'),
                                            nextText};
    const auto is = [&](const auto& s, FileStep step) { return s.first == step && s.second == Current(); };

    for (const auto& [name, current, old] : states) {
        SCOPED_TRACE(name);
        Put(current, old);
        const FaultRun clean = SaveWithFault(next, -1, false);
        ASSERT_TRUE(clean.result);
        // Success is reported only once the new file is on the disk.
        bool flushedAfterWrite = false, written = false;
        for (const auto& s : clean.steps) {
            written = written || is(s, FileStep::Write);
            flushedAfterWrite = flushedAfterWrite || (written && is(s, FileStep::Flush));
        }
        EXPECT_TRUE(flushedAfterWrite);
        EXPECT_EQ(nextText, testfiles::ReadAll(Current()));
        EXPECT_EQ(previousText, testfiles::ReadAll(Previous()));

        for (int crash = 0; crash < 2; ++crash) {
            for (int at = 0; at < static_cast<int>(clean.steps.size()); ++at) {
                SCOPED_TRACE((crash ? "crash at " : "error at ") + std::to_string(at));
                Put(current, old);
                const FaultRun run = SaveWithFault(next, at, crash != 0);
                ASSERT_LT(at, static_cast<int>(run.steps.size()));
                ASSERT_EQ(crash != 0, run.crashed);
                const auto& stopped = run.steps[static_cast<std::size_t>(at)];
                bool unflushed = false;  // written to the new file, not flushed when the crash came
                for (int i = 0; i < at; ++i) {
                    const auto& earlier = run.steps[static_cast<std::size_t>(i)];
                    unflushed = is(earlier, FileStep::Write) || (unflushed && !is(earlier, FileStep::Flush));
                }
                if (!crash) {
                    // The new file's own steps fail the save; its Close follows its Flush.
                    const bool savingNew = is(stopped, FileStep::Create) || is(stopped, FileStep::Write) ||
                                           is(stopped, FileStep::Flush) ||
                                           (is(stopped, FileStep::Close) && at > 0 &&
                                            run.steps[static_cast<std::size_t>(at - 1)].first == FileStep::Flush);
                    EXPECT_EQ(!savingNew, run.result);
                    EXPECT_TRUE(!run.result || nextText == testfiles::ReadAll(Current()));
                }
                const bool currentExists = testfiles::Exists(Current());
                for (const std::string& onDisk :
                     crash && unflushed ? tears : std::vector<std::string>{testfiles::ReadAll(Current())}) {
                    if (currentExists)
                        Put(Current(), &onDisk);
                    EXPECT_TRUE(Whole(Current()) || Whole(Previous()));
                    EXPECT_TRUE(Loads(&previous) || Loads(&next));
                }
            }
        }
    }
}
