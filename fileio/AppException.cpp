#include "fileio/AppException.h"

#include "recorderlibs/DbgLogger.h"
#include "recorderlibs/Win32Handle.h"

#include <cstdio>
#include <ostream>

namespace {

constexpr DWORD kFormatFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                               FORMAT_MESSAGE_MAX_WIDTH_MASK;
constexpr DWORD kEnglishUnitedStates = 0x409;
constexpr DWORD kUserDefaultLanguage = 0x400;

// Owner of a buffer that FormatMessageA allocated.
class LocalText {
public:
    LocalText() = default;
    ~LocalText() { ::LocalFree(m_text); }
    LocalText(const LocalText&) = delete;
    LocalText& operator=(const LocalText&) = delete;

    // FormatMessageA writes the buffer's address through an LPSTR argument.
    LPSTR Receiver() { return reinterpret_cast<LPSTR>(&m_text); }
    std::string Text(DWORD length) const { return m_text ? std::string(m_text, length) : std::string(); }

private:
    char* m_text = nullptr;
};

std::string Hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

// A message file, loaded as data, as a 64-bit program finds it: the event log
// that the registration is made for reads its names that way, and both builds
// of this program must give the same texts.
HMODULE LoadMessageFile(const char* name)
{
    const win32::NativeSystemDirectory native;
    return ::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

// The message file by the platform's search rules, else through the event-log
// registration. Loaded for every lookup: a message file installed or
// registered while the program runs is seen at once.
win32::UniqueModule OpenMessageModule()
{
    win32::UniqueModule module(LoadMessageFile(kMessageFileName));
    if (module)
        return module;

    win32::UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMessageFileKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
        ::OutputDebugStringA("Failed finding error message file in registry\n");
        return module;
    }
    char path[256 + 1] = {};  // 256 bytes of value, and a terminator it may lack
    DWORD size = 256;
    if (::RegQueryValueExA(key.get(), kMessageFileValue, nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size) !=
        ERROR_SUCCESS) {
        ::OutputDebugStringA("Failed finding error message location in registry\n");
        return module;
    }
    key.reset();
    path[size] = '\0';
    module.reset(LoadMessageFile(path));
    if (!module)
        ::OutputDebugStringA("Failed opening error message file\n");
    return module;
}

}  // namespace

AppException::AppException(const std::string& message, std::uint32_t appCode, std::uint32_t sysError)
    : std::runtime_error(message), m_sysError(sysError), m_appCode(appCode)
{
}

AppException::AppException(const std::string& message, std::uint32_t appCode, std::uint32_t sysError,
                           const char* sourceFile, int line)
    : std::runtime_error(message),
      m_sysError(sysError),
      m_appCode(appCode),
      m_location(std::string(" FILE: ") + (sourceFile ? sourceFile : "") + " LINE: " + std::to_string(line))
{
}

AppException::~AppException() = default;

std::string AppException::BuildDescription() const
{
    std::string description;
    if (m_appCode != 0) {
        std::string text;
        GetAppErrorText(m_appCode, text);
        description += "App Error 0x" + Hex(m_appCode) + ": " + text;
    }
    if (m_sysError != 0) {
        description += "Sys error 0x" + Hex(m_sysError);
        if (m_sysError != 1) {
            const std::string text = GetSystemErrorText(m_sysError);
            if (!text.empty())
                description += ": " + text;
        }
    }
    description += " " + m_location + " - " + Message();
    return description;
}

const char* AppException::what() const noexcept
{
    try {
        m_description = BuildDescription();
        return m_description.c_str();
    } catch (...) {
        return "Exception constructing AppException message";
    }
}

bool GetAppErrorText(std::uint32_t code, std::string& text)
{
    win32::UniqueModule module = OpenMessageModule();
    if (module) {
        LocalText message;
        const DWORD length = ::FormatMessageA(kFormatFlags | FORMAT_MESSAGE_FROM_HMODULE, module.get(), code,
                                              kUserDefaultLanguage, message.Receiver(), 0, nullptr);
        if (length != 0) {
            text = message.Text(length);
            return true;
        }
    }
    text = kTextNotFound;
    return false;
}

std::string GetSystemErrorText(std::uint32_t sysError)
{
    LocalText message;
    const DWORD length = ::FormatMessageA(kFormatFlags | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, sysError,
                                          kEnglishUnitedStates, message.Receiver(), 0, nullptr);
    return length != 0 ? message.Text(length) : std::string();
}

void TraceFileIoFailure(const std::string& text) noexcept
{
    try {
        if (DbgLogger::GetDebugLevel("Mediaprep") >= 1)
            *DbgLogger::GetLog("Mediaprep") << text << std::endl;
    } catch (...) {
    }
}

void AppCheck(bool condition, const std::string& message, std::uint32_t appCode)
{
    if (!condition)
        throw AppException(message, appCode, 0);
}

void AppCheck(bool condition, const std::string& message, std::uint32_t appCode, std::uint32_t sysError)
{
    if (!condition)
        throw AppException(message, appCode, sysError);
}

void RuntimeCheck(bool condition, const std::string& message)
{
    if (!condition)
        throw std::runtime_error(message);
}

void RangeCheck(bool condition, const std::string& message)
{
    if (!condition)
        throw std::range_error(message);
}

void IndexCheck(bool condition, const std::string& message)
{
    if (!condition)
        throw std::out_of_range(message);
}

void ArgumentCheck(bool condition, const std::string& message)
{
    if (!condition)
        throw std::invalid_argument(message);
}
