// The deletion steps, the look's answers and the privileges with the
// system's answers scripted: what the sandbox cannot show (POSIX semantics,
// Windows 7, ACL denials, privileges, a path that cannot be read).
#include "tests/support/TestFiles.h"
#include "volumes/BackupPrivileges.h"
#include "volumes/EntryDeletion.h"
#include "volumes/VolumeHandler.h"
#include "volumes/WidePath.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

std::string Hex(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
    return text;
}

// Gives each call the next answer scripted for its kind (success when none
// is left) and notes what was asked, the holding directory's names as
// "#<number>".
class ScriptedCalls : public FileCalls {
public:
    std::map<std::string, std::deque<DWORD>> answers;
    Calls asked;

    bool SetDispositionEx(HANDLE, DWORD flags) override { return Give("ex " + Hex(flags), "ex"); }
    bool SetDisposition(HANDLE) override { return Give("disposition", "disposition"); }
    bool SetAttributes(HANDLE, DWORD attributes) override
    {
        return Give("attributes " + std::to_string(attributes), "attributes");
    }
    bool Rename(HANDLE, const std::wstring& target) override
    {
        static const std::regex holdingName(R"(\\\d+-\d+-(\d+)$)");
        return Give("rename " + std::regex_replace(NarrowName(target), holdingName, "\\#$1"), "rename");
    }
    bool CreateDirectory(const std::wstring& path) override { return Give("mkdir " + NarrowName(path), "mkdir"); }
    void Wait(DWORD milliseconds) override { asked.push_back("wait " + std::to_string(milliseconds)); }

private:
    bool Give(const std::string& call, const std::string& kind)
    {
        asked.push_back(call);
        std::deque<DWORD>& next = answers[kind];
        const DWORD answer = next.empty() ? ERROR_SUCCESS : next.front();
        if (!next.empty())
            next.pop_front();
        ::SetLastError(answer);
        return answer == ERROR_SUCCESS;
    }
};

// The calls of a test in place of the system's while it lives.
class Installed {
public:
    explicit Installed(FileCalls& calls) { FileCalls::Replace(&calls); }
    ~Installed() { FileCalls::Replace(nullptr); }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
};

constexpr DWORD kArchive = FILE_ATTRIBUTE_ARCHIVE, kReadOnly = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
                kDirectory = FILE_ATTRIBUTE_DIRECTORY;
constexpr DWORD kUnknown = ERROR_INVALID_PARAMETER, kDenied = ERROR_ACCESS_DENIED, kNotEmpty = ERROR_DIR_NOT_EMPTY;
const char* const kMkdir = "mkdir \\\\?\\E:\\.Mediaprep-deleted";
std::string Moved(int n) { return "rename \\??\\E:\\.Mediaprep-deleted\\#" + std::to_string(n); }

}  // namespace

TEST(EntryDeletion, EachSystemsWayAndWhereEachAnswerLeads)
{
    using Way = EntryDeletion::Way;
    const struct {
        const char* system;
        std::map<std::string, std::deque<DWORD>> answers;
        bool wipe;                                       // unprotect, retry and a holding directory, as the wipe
        std::vector<std::pair<DWORD, DWORD>> entries;    // attributes, the deletion's answer
        Calls asked;                                     // "ex": FileDispositionInfoEx with these flags
        Way way;
    } cases[] = {
        {"Windows 10 from 1809: attributes left alone", {}, true, {{kReadOnly, 0}, {kDirectory, 0}},
         {"ex 0x13", "ex 0x13"}, Way::PosixIgnoringReadOnly},
        {"Windows 10 before 1809: read-only cleared first, hidden kept", {{"ex", {kUnknown}}}, true,
         {{kReadOnly, 0}, {kArchive, 0}, {kReadOnly, 0}},
         {"ex 0x13", "attributes 2", "ex 0x3", "ex 0x3", "attributes 2", "ex 0x3"}, Way::Posix},
        {"Windows 7: moved aside first", {{"ex", {kUnknown, kUnknown}}}, true, {{kArchive, 0}, {kReadOnly, 0}},
         {"ex 0x13", "ex 0x3", kMkdir, Moved(1), "disposition", "attributes 2", Moved(2), "disposition"}, Way::Old},
        {"FAT on Windows 10: no POSIX semantics", {{"ex", {kUnknown, ERROR_NOT_SUPPORTED}}}, true, {{kArchive, 0}},
         {"ex 0x13", "ex 0x3", kMkdir, Moved(1), "disposition"}, Way::Old},
        {"a name taken takes the next; a refused move deletes in place",
         {{"ex", {kUnknown, kUnknown}}, {"rename", {ERROR_ALREADY_EXISTS, 0, kDenied}}}, true,
         {{kArchive, 0}, {kArchive, 0}},
         {"ex 0x13", "ex 0x3", kMkdir, Moved(1), Moved(2), "disposition", Moved(3), "disposition"}, Way::Old},
        {"no holding directory: in place", {{"ex", {kUnknown, kUnknown}}, {"mkdir", {kDenied}}}, true,
         {{kArchive, 0}, {kArchive, 0}}, {"ex 0x13", "ex 0x3", kMkdir, "disposition", "disposition"}, Way::Old},
        {"a failed deletion is put back where and as it was",
         {{"ex", {kUnknown, kUnknown}}, {"disposition", {kDenied}}}, true, {{kReadOnly, kDenied}},
         {"ex 0x13", "attributes 2", "ex 0x3", kMkdir, Moved(1), "disposition", "rename \\??\\E:\\Images\\IMG0001.AVI",
          "attributes 3"},
         Way::Old},
        {"the entry's own answer tries no other way", {{"ex", {ERROR_SHARING_VIOLATION}}}, true,
         {{kArchive, ERROR_SHARING_VIOLATION}}, {"ex 0x13"}, Way::PosixIgnoringReadOnly},
        {"a directory not empty yet: half a second at most, a file never waited for",
         {{"ex", std::deque<DWORD>(7, kNotEmpty)}}, true, {{kDirectory, kNotEmpty}, {kArchive, kNotEmpty}},
         {"ex 0x13", "wait 16", "ex 0x13", "wait 32", "ex 0x13", "wait 64", "ex 0x13", "wait 128", "ex 0x13", "wait 256",
          "ex 0x13", "ex 0x13"},
         Way::PosixIgnoringReadOnly},
        {"the old way: moved once, then tried until it goes",
         {{"ex", {kUnknown, kUnknown}}, {"disposition", {kNotEmpty, kNotEmpty}}}, true, {{kDirectory, 0}},
         {"ex 0x13", "ex 0x3", kMkdir, Moved(1), "disposition", "wait 16", "disposition", "wait 32", "disposition"},
         Way::Old},
        // The clearing of the pre-alarm and restore directories reports read-only files.
        {"clearing: the system refuses read-only", {{"ex", {kDenied}}}, false, {{kReadOnly, kDenied}}, {"ex 0x3"},
         Way::Posix},
        {"clearing, old way: in place, no retry", {{"ex", {kUnknown}}, {"disposition", {kNotEmpty}}}, false,
         {{kDirectory, kNotEmpty}}, {"ex 0x3", "disposition"}, Way::Old},
    };
    for (const auto& c : cases) {
        ScriptedCalls calls;
        calls.answers = c.answers;
        const Installed installed(calls);
        EntryDeletion deletion(c.wipe ? L"\\\\?\\E:\\.Mediaprep-deleted" : L"", c.wipe, c.wipe);
        for (const auto& [attributes, answer] : c.entries)
            EXPECT_EQ(answer, deletion.Delete(reinterpret_cast<HANDLE>(0x1234), L"\\\\?\\E:\\Images\\IMG0001.AVI",
                                              attributes))
                << c.system;
        EXPECT_EQ(c.asked, calls.asked) << c.system;
        EXPECT_EQ(c.way, deletion.way()) << c.system;
    }
}

namespace {

std::wstring NameOf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

// The system's answers, but for the entries named: their opening is denied
// (whole, or the right to write attributes), their path cannot be read, or
// they have become junctions; links hide (Wine) or not (Windows); listing
// classes may be refused. `holdLater` is held from the deletion's open on
// (the only one that shares nothing); `held` must not be renamed while
// anything below it is opened.
class AclCalls : public FileCalls {
public:
    std::set<std::wstring> denied, attributesDenied, unreadable, junctions;
    std::set<FILE_INFO_BY_HANDLE_CLASS> refused;
    DWORD listingAnswer = 0;  // ERROR_FILE_NOT_FOUND: nothing listed; ERROR_INVALID_DATA: a record overruns
    bool hide = true;
    int pathsRead = 0, renamed = 0;
    std::wstring holdLater, held;
    win32::UniqueFileHandle holder;

    HANDLE OpenEntry(const std::wstring& path, DWORD access, DWORD share, DWORD flags) override
    {
        const std::wstring name = NameOf(path);
        if (name == holdLater && share == 0 && !holder)
            holder.reset(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!held.empty() && path.rfind(held + L"\\", 0) == 0)
            renamed += ::MoveFileW(held.c_str(), (held + L"-moved").c_str());
        const bool refuse = denied.count(name) || (attributesDenied.count(name) && (access & FILE_WRITE_ATTRIBUTES));
        if (refuse)
            ::SetLastError(ERROR_ACCESS_DENIED);
        return refuse ? INVALID_HANDLE_VALUE : FileCalls::OpenEntry(path, access, share, flags);
    }
    bool FinalPath(HANDLE handle, std::wstring& path) override
    {
        ++pathsRead;
        const bool read = FileCalls::FinalPath(handle, path);
        if (read && unreadable.count(NameOf(path)))
            ::SetLastError(ERROR_NOT_SUPPORTED);  // as some redirectors and RAM disks answer
        return read && !unreadable.count(NameOf(path));
    }
    bool AttributeTag(HANDLE handle, FILE_ATTRIBUTE_TAG_INFO& info) override
    {
        std::wstring path;
        const bool known = FileCalls::AttributeTag(handle, info) && FileCalls::FinalPath(handle, path);
        if (known && junctions.count(NameOf(path)))
            info = {info.FileAttributes | FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_MOUNT_POINT};
        return known;
    }
    bool ReadDirectory(HANDLE directory, FILE_INFO_BY_HANDLE_CLASS listing, void* buffer, DWORD size) override
    {
        if (refused.count(listing) || listingAnswer == ERROR_FILE_NOT_FOUND) {
            ::SetLastError(listingAnswer ? listingAnswer : ERROR_INVALID_PARAMETER);  // as some SMB servers answer
            return false;
        }
        const bool read = FileCalls::ReadDirectory(directory, listing, buffer, size);
        if (read && listingAnswer == ERROR_INVALID_DATA)
            static_cast<FILE_FULL_DIR_INFO*>(buffer)->NextEntryOffset = 2 * size;
        return read;
    }
    bool LinksMayHide() override { return hide; }
};

}  // namespace

TEST(WipeLook, AccessDeniedUnreadablePathsAndLinksStopTheLookWithTheSystemsOwnReason)
{
    const testfiles::ScratchDir tree;
    ::CreateDirectoryA((tree / "Images").c_str(), nullptr);
    for (const char* name : {"Images\\plain.avi", "Images\\denied.avi", "Images\\attributes.avi",
                             "Images\\readonly.avi", "Images\\unreadable.avi"})
        testfiles::WriteAll(tree / name, name);
    ::SetFileAttributesA((tree / "Images\\readonly.avi").c_str(), FILE_ATTRIBUTE_READONLY);
    const std::wstring leaf = NameOf(std::wstring(tree.path().begin(), tree.path().end()));
    AclCalls calls;
    const Installed installed(calls);
    VolumeHandler handler{DatabaseSettings(), GUID{}};
    const struct {
        std::set<std::wstring> AclCalls::*set;
        const wchar_t* name;
        bool hide;           // Wine's answer; else Windows'
        const char* blocker;  // null: the look passes
        DWORD code;
    } cases[] = {
        {&AclCalls::denied, L"denied.avi", false, "Images\\denied.avi", ERROR_ACCESS_DENIED},
        {&AclCalls::attributesDenied, L"readonly.avi", false, "Images\\readonly.avi", ERROR_ACCESS_DENIED},
        // Not ERROR_CANT_ACCESS_FILE: the path could not be read, it was not found outside.
        {&AclCalls::unreadable, L"unreadable.avi", true, "Images\\unreadable.avi", ERROR_NOT_SUPPORTED},
        {&AclCalls::unreadable, L"Images", false, "Images", ERROR_NOT_SUPPORTED},
        {&AclCalls::junctions, L"Images", false, "Images", ERROR_CANT_ACCESS_FILE},  // a link since it was listed
        {&AclCalls::unreadable, leaf.c_str(), true, "", ERROR_NOT_SUPPORTED},       // the tree itself
        // On Windows a file below a held directory lies inside: its path is not read.
        {&AclCalls::unreadable, L"unreadable.avi", false, nullptr, 0},
    };
    for (const auto& c : cases) {
        calls.denied = calls.unreadable = calls.junctions = {};
        calls.attributesDenied = {L"attributes.avi"};  // a file that is not read-only needs no attribute written
        (calls.*c.set).insert(c.name);
        calls.hide = c.hide;
        calls.pathsRead = 0;
        FailureCause cause;
        std::uint64_t bytes = 0;
        EXPECT_EQ(c.blocker ? -1 : 5, handler.CountFiles(tree.path(), bytes, &cause)) << NarrowName(c.name);
        EXPECT_EQ(c.blocker ? (*c.blocker ? tree / c.blocker : tree.path()) : "", cause.path);
        EXPECT_EQ(c.code, cause.code) << NarrowName(c.name);
    }
    EXPECT_EQ(3, calls.pathsRead);  // of the tree and its two directories, no file's
    // A record that reaches beyond its batch is a listing gone wrong; one that finds nothing at once, an empty
    // directory (a root has not even "." and "..").
    for (const DWORD answer : {DWORD{ERROR_INVALID_DATA}, DWORD{ERROR_FILE_NOT_FOUND}}) {
        calls.listingAnswer = answer;
        FailureCause cause;
        std::uint64_t bytes = 0;
        EXPECT_EQ(answer == ERROR_INVALID_DATA ? -1 : 0, handler.CountFiles(tree.path(), bytes, &cause));
        EXPECT_EQ(answer == ERROR_INVALID_DATA ? answer : DWORD{0}, cause.code);
    }
    calls.listingAnswer = 0;

    // With the access the privileges give, where the first listing class is refused: a file held once the look
    // has passed stops the deletion, which has begun. Then, where both are refused and directories are listed by
    // path, everything goes. No directory is renamed while the wipe is below it.
    calls.refused = {FileFullDirectoryInfo};
    calls.holdLater = L"plain.avi";
    calls.held = JoinPath(LongPathForm(std::wstring(tree.path().begin(), tree.path().end())), L"Images");
    std::int32_t deleted = 0;
    FailureCause cause;
    bool leftWhole = true;
    EXPECT_FALSE(handler.DeleteVolumeContents(tree.path(), deleted, &cause, &leftWhole));
    EXPECT_FALSE(leftWhole);
    EXPECT_EQ((std::vector<std::string>{tree / "Images\\plain.avi", "cannot be deleted"}),
              (std::vector<std::string>{cause.path, cause.failure}));
    EXPECT_EQ(DWORD{ERROR_SHARING_VIOLATION}, cause.code);
    calls.holder.reset();
    calls.holdLater.clear();
    calls.refused.insert(FileIdBothDirectoryInfo);
    ::SetFileAttributesA((tree / "Images").c_str(), FILE_ATTRIBUTE_READONLY);  // removed all the same
    EXPECT_TRUE(handler.DeleteVolumeContents(tree.path(), deleted));
    EXPECT_EQ(5, deleted);
    EXPECT_FALSE(testfiles::Exists(tree / "Images"));
    EXPECT_EQ(0, calls.renamed);
}

namespace {

// A token that holds the privileges named, disabled unless named as enabled.
class TokenCalls : public PrivilegeCalls {
public:
    bool opens = true;
    std::set<std::string> held, enabledBefore;
    Calls adjusted;

    bool OpenToken(HANDLE& token) override
    {
        if (!opens) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        token = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);  // a handle to close
        return true;
    }
    bool Lookup(const char* name, LUID& luid) override
    {
        luid.LowPart = static_cast<DWORD>(m_names.size());
        luid.HighPart = 0;
        m_names.push_back(name);
        return true;
    }
    DWORD Adjust(HANDLE, const LUID& luid, DWORD attributes, DWORD& previous) override
    {
        const std::string& name = m_names.at(luid.LowPart);
        adjusted.push_back(name + " " + std::to_string(attributes));
        if (!held.count(name))
            return ERROR_NOT_ALL_ASSIGNED;
        previous = enabledBefore.count(name) ? SE_PRIVILEGE_ENABLED : 0;
        return ERROR_SUCCESS;
    }

private:
    std::vector<std::string> m_names;
};

}  // namespace

TEST(BackupPrivileges, EnabledWhereTheTokenHasThemAndPutBackAfterwards)
{
    const std::string backup = "SeBackupPrivilege", restore = "SeRestorePrivilege";
    const struct {
        const char* token;
        bool opens;
        std::set<std::string> held, enabledBefore;
        std::pair<bool, bool> enabled;  // backup, restore
        Calls adjusted;
    } cases[] = {
        {"an administrator's", true, {backup, restore}, {}, {true, true},
         {backup + " 2", restore + " 2", restore + " 0", backup + " 0"}},
        {"without restore, backup enabled already", true, {backup}, {backup}, {true, false},
         {backup + " 2", restore + " 2"}},
        {"one that cannot be opened", false, {}, {}, {false, false}, {}},
    };
    for (const auto& c : cases) {
        TokenCalls calls;
        calls.opens = c.opens;
        calls.held = c.held;
        calls.enabledBefore = c.enabledBefore;
        {
            const BackupPrivileges privileges(calls);
            EXPECT_EQ(c.enabled, std::make_pair(privileges.backup(), privileges.restore())) << c.token;
        }
        EXPECT_EQ(c.adjusted, calls.adjusted) << c.token;
    }
    // The system's own: Wine's token, as an administrator's, has both.
    const BackupPrivileges system;
    EXPECT_TRUE(system.backup() && system.restore());
}
