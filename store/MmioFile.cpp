#include "store/MmioFile.h"

#include "recorderlibs/CVkUtility.h"

#include <cstdio>
#include <limits>
#include <mutex>

namespace {

// The recorder copies the path into a MAX_PATH buffer before opening.
constexpr std::size_t kMaxPathLength = MAX_PATH - 1;

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

win32::UniqueFileHandle OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition)
{
    return win32::UniqueFileHandle(
        ::CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

MmioFile::~MmioFile()
{
    // The handle owner closes the file even when the flush fails: nothing
    // could close it later once this object is gone.
    if (IsOpen())
        Flush();
}

MmioResult MmioFile::InitializeContents()
{
    return kMmioOk;
}

std::string MmioFile::MakePath(const char* prefix, const char* extension, std::int32_t number) const
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d", static_cast<int>(number));
    return m_basePath + prefix + digits + "." + extension;
}

MmioResult MmioFile::Create(const char* prefix, const char* extension, std::int32_t number)
{
    return CreateByName(MakePath(prefix, extension, number));
}

MmioResult MmioFile::CreateByName(const std::string& path)
{
    if (IsOpen()) {
        const MmioResult closed = Close();
        if (closed != kMmioOk)
            return closed;
    }
    if (path.size() > kMaxPathLength)
        return kMmioCannotOpen;
    m_file = OpenFile(path, GENERIC_READ | GENERIC_WRITE, kShareReadWrite, CREATE_ALWAYS);
    if (!m_file)
        return Fail(kMmioCannotOpen, "CreateFileA (create)");
    m_unflushed = false;
    if (InitializeContents() != kMmioOk) {
        m_file.reset();
        return kMmioInitFailed;
    }
    if (Close() != kMmioOk) {
        m_file.reset();
        return kMmioCloseFailed;
    }
    return kMmioOk;
}

MmioResult MmioFile::Open(const char* prefix, const char* extension, std::int32_t number)
{
    return OpenByName(MakePath(prefix, extension, number));
}

MmioResult MmioFile::OpenByName(const std::string& path)
{
    if (IsOpen())
        return kMmioOk;
    if (path.size() > kMaxPathLength)
        return kMmioCannotOpen;

    // The existence test: no access asked, so neither sharing nor the
    // read-only attribute can make an existing file look missing.
    if (!OpenFile(path, 0, kShareReadWrite | FILE_SHARE_DELETE, OPEN_EXISTING)) {
        const DWORD error = ::GetLastError();
        return Fail(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kMmioMissing : kMmioCannotOpen,
                    "CreateFileA (exists)");
    }

    m_file = OpenFile(path, GENERIC_READ | GENERIC_WRITE, kShareReadWrite, OPEN_EXISTING);
    if (!m_file && CVkUtility::SetToReadWrite(path.c_str()))
        m_file = OpenFile(path, GENERIC_READ | GENERIC_WRITE, kShareReadWrite, OPEN_EXISTING);
    if (!m_file)
        m_file = OpenFile(path, GENERIC_READ, kShareReadWrite, OPEN_EXISTING);
    if (!m_file)
        return Fail(kMmioCannotOpen, "CreateFileA (open)");
    m_unflushed = false;
    return kMmioOk;
}

MmioResult MmioFile::OpenReadOnlyByName(const std::string& path)
{
    if (IsOpen())
        return kMmioOk;
    if (path.size() > kMaxPathLength)
        return kMmioCannotOpen;
    m_file = OpenFile(path, GENERIC_READ, kShareReadWrite | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (!m_file) {
        const DWORD error = ::GetLastError();
        return Fail(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kMmioMissing : kMmioCannotOpen,
                    "CreateFileA (read-only)");
    }
    m_unflushed = false;
    return kMmioOk;
}

MmioResult MmioFile::Close()
{
    if (!IsOpen())
        return kMmioOk;
    const MmioResult flushed = Flush();
    if (flushed != kMmioOk)
        return flushed;
    if (!m_file.reset())
        return Fail(kMmioCloseFailed, "CloseHandle");
    return kMmioOk;
}

MmioResult MmioFile::Append(const void* buffer, std::uint32_t length, std::int32_t& position)
{
    std::lock_guard<CriticalSection> hold(m_lock);
    LONGLONG end = 0;
    if (!SeekTo(0, FILE_END, &end))
        return Fail(kMmioWriteFailed, "SetFilePointerEx (append)");
    if (end > std::numeric_limits<std::int32_t>::max())
        return kMmioWriteFailed;
    position = static_cast<std::int32_t>(end);
    if (!WriteAll(buffer, length))
        return Fail(kMmioWriteFailed, "WriteFile (append)");
    return kMmioOk;
}

MmioResult MmioFile::WriteAt(const void* buffer, std::uint32_t length, std::int32_t position)
{
    std::lock_guard<CriticalSection> hold(m_lock);
    if (position < 0 || !SeekTo(position, FILE_BEGIN, nullptr))
        return Fail(kMmioWriteFailed, "SetFilePointerEx (write)");
    if (!WriteAll(buffer, length))
        return Fail(kMmioWriteFailed, "WriteFile");
    return kMmioOk;
}

MmioResult MmioFile::ReadAt(void* buffer, std::uint32_t length, std::int32_t position, std::uint32_t& countRead)
{
    std::lock_guard<CriticalSection> hold(m_lock);
    if (position < 0 || !SeekTo(position, FILE_BEGIN, nullptr))
        return Fail(kMmioReadFailed, "SetFilePointerEx (read)");
    return Read(buffer, length, countRead);
}

MmioResult MmioFile::Read(void* buffer, std::uint32_t length, std::uint32_t& countRead)
{
    std::lock_guard<CriticalSection> hold(m_lock);
    DWORD done = 0;
    if (!IsOpen() || !::ReadFile(m_file.get(), buffer, length, &done, nullptr)) {
        countRead = 0;
        return Fail(kMmioReadFailed, "ReadFile");
    }
    countRead = done;
    return kMmioOk;
}

MmioResult MmioFile::Flush()
{
    std::lock_guard<CriticalSection> hold(m_lock);
    if (!IsOpen())
        return kMmioFlushFailed;
    // A file opened read-only has nothing to flush, and FlushFileBuffers
    // refuses such handles; only written data is pushed to the disk.
    if (m_unflushed && !::FlushFileBuffers(m_file.get()))
        return Fail(kMmioFlushFailed, "FlushFileBuffers");
    m_unflushed = false;
    return kMmioOk;
}

bool MmioFile::IsOpen() const
{
    return m_file.valid();
}

std::int32_t MmioFile::GetLength()
{
    std::lock_guard<CriticalSection> hold(m_lock);
    LONGLONG current = 0;
    LONGLONG end = 0;
    if (!SeekTo(0, FILE_CURRENT, &current))
        return 0;
    if (!SeekTo(0, FILE_END, &end))
        return 0;
    SeekTo(current, FILE_BEGIN, nullptr);
    if (end > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(end);
}

void MmioFile::SetBasePath(const std::string& path)
{
    m_basePath = path;
}

MmioResult MmioFile::Fail(MmioResult result, const char* where)
{
    m_lastError = win32::Error::Last(where);
    return result;
}

bool MmioFile::SeekTo(LONGLONG distance, DWORD method, LONGLONG* position)
{
    if (!IsOpen())
        return false;
    LARGE_INTEGER move;
    move.QuadPart = distance;
    LARGE_INTEGER reached;
    if (!::SetFilePointerEx(m_file.get(), move, &reached, method))
        return false;
    if (position)
        *position = reached.QuadPart;
    return true;
}

bool MmioFile::WriteAll(const void* buffer, std::uint32_t length)
{
    if (!IsOpen())
        return false;
    DWORD done = 0;
    if (!::WriteFile(m_file.get(), buffer, length, &done, nullptr) || done != length)
        return false;
    m_unflushed = true;
    return true;
}
