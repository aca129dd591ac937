#include "volumes/PlatformFile.h"

#include <utility>

namespace {

PlatformFile::FaultHook& Hook()
{
    static PlatformFile::FaultHook hook;
    return hook;
}

void BeforeStep(FileStep step, const std::string& path)
{
    if (Hook())
        Hook()(step, path);
}

[[noreturn]] void ThrowLastError(const char* operation, const std::string& path)
{
    throw PlatformFileError(::GetLastError(), operation, path);
}

// Whole files are small; writes go in pieces that a DWORD can count.
constexpr std::size_t kMaxChunk = 1u << 30;

}  // namespace

PlatformFileError::PlatformFileError(DWORD error, const char* operation, std::string path)
    : m_dwError(error), m_pszOperation(operation), m_strPath(std::move(path))
{
    m_strMessage = std::string(m_pszOperation) + " failed with error " + std::to_string(m_dwError) + ": " + m_strPath;
}

PlatformFile::PlatformFile(const std::string& path, Mode mode) : m_strPath(path)
{
    if (mode == Mode::Read) {
        BeforeStep(FileStep::Open, m_strPath);
        m_hFile.reset(::CreateFileA(m_strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    } else {
        BeforeStep(FileStep::Create, m_strPath);
        m_hFile.reset(::CreateFileA(m_strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
    }
    if (!m_hFile)
        ThrowLastError("CreateFileA", m_strPath);
}

unsigned long long PlatformFile::GetLength() const
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(m_hFile.get(), &size))
        ThrowLastError("GetFileSizeEx", m_strPath);
    return static_cast<unsigned long long>(size.QuadPart);
}

void PlatformFile::Read(void* buffer, std::size_t size)
{
    BeforeStep(FileStep::Read, m_strPath);
    char* next = static_cast<char*>(buffer);
    while (size > 0) {
        const DWORD wanted = static_cast<DWORD>(size < kMaxChunk ? size : kMaxChunk);
        DWORD got = 0;
        if (!::ReadFile(m_hFile.get(), next, wanted, &got, nullptr))
            ThrowLastError("ReadFile", m_strPath);
        if (got == 0)  // the file shrank under us: what we have is not the file
            throw PlatformFileError(ERROR_HANDLE_EOF, "ReadFile", m_strPath);
        next += got;
        size -= got;
    }
}

void PlatformFile::Write(const void* data, std::size_t size)
{
    BeforeStep(FileStep::Write, m_strPath);
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD wanted = static_cast<DWORD>(size < kMaxChunk ? size : kMaxChunk);
        DWORD written = 0;
        if (!::WriteFile(m_hFile.get(), next, wanted, &written, nullptr))
            ThrowLastError("WriteFile", m_strPath);
        if (written == 0)
            throw PlatformFileError(ERROR_WRITE_FAULT, "WriteFile", m_strPath);
        next += written;
        size -= written;
    }
}

void PlatformFile::Flush()
{
    BeforeStep(FileStep::Flush, m_strPath);
    if (!::FlushFileBuffers(m_hFile.get()))
        ThrowLastError("FlushFileBuffers", m_strPath);
}

void PlatformFile::Close()
{
    BeforeStep(FileStep::Close, m_strPath);
    if (!m_hFile.reset())
        ThrowLastError("CloseHandle", m_strPath);
}

void PlatformFile::MoveReplacing(const std::string& from, const std::string& to)
{
    BeforeStep(FileStep::Move, from);
    if (!::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        ThrowLastError("MoveFileExA", from);
}

void PlatformFile::SetFaultHook(FaultHook hook)
{
    Hook() = std::move(hook);
}
