#include "store/format/FrameHeader.h"

// Placeholder until the six formats are in.
bool ConvertVideoHeader(const std::uint8_t* /*data*/, std::size_t /*size*/, KeyRecord& record,
                        std::uint32_t /*numberBase*/, std::uint32_t& headerSize, std::uint32_t /*fileVersion*/)
{
    record = KeyRecord{};
    headerSize = 0;
    return false;
}
