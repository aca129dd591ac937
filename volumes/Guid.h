// The 16-byte identity of a volume or a database.
//
// On Windows this is the platform's GUID; the text handling of the volume
// model is also built natively for sanitizer runs, where a stand-in with the
// same layout takes its place.
#pragma once

#include <cstring>

#if defined(_WIN32)
#include <guiddef.h>
#else
#include <cstdint>
struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
#endif

static_assert(sizeof(GUID) == 16, "a GUID is 16 bytes on disk and in the registry");

// Byte-for-byte equality, as the volume descriptions compare identities.
inline bool SameGuid(const GUID& a, const GUID& b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
