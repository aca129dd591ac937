#include "recorderlibs/CDateTime.h"

#include <windows.h>

namespace {

std::int32_t CurrentTimeZoneBias()
{
    TIME_ZONE_INFORMATION info{};
    return ::GetTimeZoneInformation(&info) == TIME_ZONE_ID_INVALID ? 0 : static_cast<std::int32_t>(info.Bias);
}

}  // namespace

std::int32_t CDateTime::m_glTZIndex = CurrentTimeZoneBias();

CDateTime::CDateTime() : m_lTZIndex(m_glTZIndex) {}

CDateTime::~CDateTime() = default;

bool CDateTime::SetFromBuffer(const unsigned char* buffer, int length)
{
    if (!buffer || length < 5)
        return false;
    const std::uint32_t seconds = static_cast<std::uint32_t>(buffer[0]) | (static_cast<std::uint32_t>(buffer[1]) << 8) |
                                  (static_cast<std::uint32_t>(buffer[2]) << 16) |
                                  (static_cast<std::uint32_t>(buffer[3]) << 24);
    m_lSeconds = static_cast<std::int32_t>(seconds);
    m_nHundredths = buffer[4];
    return true;
}
