// A time value of the recorder's Util.dll interface: seconds since
// 1 January 1970 UTC with hundredths, and the time-zone index that image-file
// headers record.
#pragma once

#include <cstdint>

class CDateTime {
public:
    CDateTime();
    virtual ~CDateTime();

    // Takes the 5-byte stamp of an image-file record: 32-bit little-endian
    // seconds, then one byte of hundredths. False (value unchanged) when the
    // buffer is shorter than that.
    bool SetFromBuffer(const unsigned char* buffer, int length);

    // Seconds since 1 January 1970 UTC.
    std::int32_t GetTime() const { return m_lSeconds; }
    int GetHundredths() const { return m_nHundredths; }
    std::int32_t GetTimeZoneIndex() const { return m_lTZIndex; }

    // The time-zone index new values take; the platform's current bias in
    // minutes unless the program sets another.
    static std::int32_t m_glTZIndex;

private:
    std::int32_t m_lSeconds = 0;
    int m_nHundredths = 0;
    std::int32_t m_lTZIndex;
};
