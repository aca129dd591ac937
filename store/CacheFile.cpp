#include "store/CacheFile.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr DWORD kBufferSize = 65536;

}  // namespace

win32::Error CacheFile::Open(const std::string& path)
{
    Close();
    m_handle.reset(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!m_handle)
        return win32::Error::Last("CreateFileA");
    return {};
}

void CacheFile::Close()
{
    m_handle.reset();
    m_buffer.clear();
    m_bufferStart = 0;
}

std::uint64_t CacheFile::Size() const
{
    LARGE_INTEGER size{};
    if (!m_handle || !::GetFileSizeEx(m_handle.get(), &size) || size.QuadPart < 0)
        return 0;
    return static_cast<std::uint64_t>(size.QuadPart);
}

bool CacheFile::Fill(std::uint64_t position)
{
    m_buffer.resize(kBufferSize);
    LARGE_INTEGER distance{};
    distance.QuadPart = static_cast<LONGLONG>(position);
    DWORD read = 0;
    if (!::SetFilePointerEx(m_handle.get(), distance, nullptr, FILE_BEGIN) ||
        !::ReadFile(m_handle.get(), m_buffer.data(), kBufferSize, &read, nullptr)) {
        m_buffer.clear();
        return false;
    }
    m_buffer.resize(read);
    m_bufferStart = position;
    return read != 0;
}

std::uint32_t CacheFile::ReadAt(std::uint64_t position, void* destination, std::uint32_t count)
{
    if (!m_handle || position > static_cast<std::uint64_t>(INT64_MAX) - count)
        return 0;
    auto* out = static_cast<std::uint8_t*>(destination);
    std::uint32_t done = 0;
    while (done < count) {
        const std::uint64_t at = position + done;
        if (at < m_bufferStart || at >= m_bufferStart + m_buffer.size()) {
            if (!Fill(at))
                break;
        }
        const auto offset = static_cast<std::size_t>(at - m_bufferStart);
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count - done, m_buffer.size() - offset));
        std::memcpy(out + done, m_buffer.data() + offset, n);
        done += n;
    }
    return done;
}
