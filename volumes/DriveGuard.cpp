#include "volumes/DriveGuard.h"

#include "recorderlibs/TextCase.h"
#include "recorderlibs/Win32Handle.h"

namespace {

bool IsOnDrive(const std::string& path, char letter)
{
    return letter != 0 && DriveLetterOf(path) == letter;
}

// A buffer-filling call of the platform (GetWindowsDirectoryA and the like):
// 0 is failure, a result of at least the buffer's size asks for more room.
template <typename Call>
std::string PlatformText(Call call)
{
    std::string text(MAX_PATH + 1, '\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length = call(text.data(), static_cast<DWORD>(text.size()));
        if (length == 0)
            return std::string();
        if (length < text.size()) {
            text.resize(length);
            return text;
        }
        text.assign(text.size() * 4, '\0');
    }
    return std::string();
}

std::vector<std::string> PagingFilesInRegistry()
{
    const char* const kKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";
    win32::UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return {};
    std::vector<std::string> entries;
    for (const char* name : {"PagingFiles", "ExistingPageFiles"}) {
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            continue;
        if (type != REG_MULTI_SZ && type != REG_SZ && type != REG_EXPAND_SZ)
            continue;
        std::string data(size, '\0');
        if (::RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
            ERROR_SUCCESS)
            continue;
        data.resize(size < data.size() ? size : data.size());
        for (std::string& entry : SplitMultiString(data))
            entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace

char DriveLetterOf(std::string_view path)
{
    while (!path.empty() && path.front() == ' ')
        path.remove_prefix(1);
    // The platform's own spellings of the same drive: the long-path and
    // device prefixes of Win32, and the NT name space the registry uses.
    for (std::string_view prefix : {"\\\\?\\", "\\\\.\\", "\\??\\", "\\DosDevices\\", "\\Global??\\"}) {
        if (StartsWithNoCase(path, prefix)) {
            path.remove_prefix(prefix.size());
            break;
        }
    }
    if (path.size() < 2 || path[1] != ':')
        return 0;
    const char letter = AsciiUpper(path[0]);
    return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

std::vector<std::string> SplitMultiString(std::string_view data)
{
    std::vector<std::string> strings;
    while (!data.empty()) {
        const std::string_view::size_type end = data.find('\0');
        const std::string_view one = data.substr(0, end);
        if (!one.empty())
            strings.emplace_back(one);
        if (end == std::string_view::npos)
            break;
        data.remove_prefix(end + 1);
    }
    return strings;
}

std::string DriveProtection(char letter, const SystemPlaces& places, const std::string& rootSystemFile)
{
    letter = AsciiUpper(letter);
    if (IsOnDrive(places.windowsDirectory, letter))
        return "the Windows directory";
    if (IsOnDrive(places.systemDirectory, letter))
        return "the system directory";
    if (IsOnDrive(places.programFile, letter))
        return "the running program";
    // A system-managed paging file ("?:") names no drive: the one the system
    // made is in ExistingPageFiles and in that drive's root.
    for (const std::string& entry : places.pagingFiles) {
        if (IsOnDrive(entry, letter))
            return "a paging file";
    }
    return rootSystemFile;
}

std::string ProtectedDriveReport(const ProtectedDrive& drive)
{
    return "Drive " + drive.path + " holds " + drive.reason + "; it was left alone.";
}

SystemPlaces GatherSystemPlaces()
{
    SystemPlaces places;
    places.windowsDirectory = PlatformText([](char* buffer, DWORD size) { return ::GetWindowsDirectoryA(buffer, size); });
    places.systemDirectory = PlatformText([](char* buffer, DWORD size) { return ::GetSystemDirectoryA(buffer, size); });
    places.programFile =
        PlatformText([](char* buffer, DWORD size) { return ::GetModuleFileNameA(nullptr, buffer, size); });
    places.pagingFiles = PagingFilesInRegistry();
    return places;
}

std::string RootSystemFileOn(char letter)
{
    for (const char* name : {"pagefile.sys", "swapfile.sys", "hiberfil.sys"}) {
        const std::string path = std::string(1, letter) + ":\\" + name;
        WIN32_FIND_DATAA entry{};
        // Listing, not opening: the system holds these files without sharing.
        win32::UniqueFindHandle found(::FindFirstFileA(path.c_str(), &entry));
        if (found)
            return name;
    }
    return std::string();
}
