#include "store/format/FrameHeader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

namespace {

struct Field {
    std::size_t offset;
    int width;  // 1, 2 or 4 bytes; 0 puts the marker
    std::uint32_t value;
};

std::vector<std::uint8_t> Bytes(std::size_t size, std::initializer_list<Field> fields)
{
    std::vector<std::uint8_t> bytes(size, 0);
    for (const Field& f : fields) {
        if (f.width == 0) {
            std::memcpy(bytes.data() + f.offset, "KSTX", 4);
            continue;
        }
        for (int i = 0; i < f.width; ++i)
            bytes[f.offset + i] = static_cast<std::uint8_t>(f.value >> (8 * i));
    }
    return bytes;
}

std::vector<std::uint8_t> Packed(const KeyRecord& record)
{
    std::vector<std::uint8_t> bytes(kKeyRecordSize);
    StoreKeyRecord(record, bytes.data());
    return bytes;
}

KeyRecord Sample()
{
    KeyRecord r;
    r.time = 0x11223344;
    r.hundredths = 0x55;
    std::memcpy(r.marker, "KSTX", 4);
    r.format = 6;
    r.sequence = 0x0A0B0C0D;
    r.stream = 3;
    r.flags = 1;
    r.fieldA = 0x01020304;
    r.keyValue = 0x21222324;
    r.fieldB = 0x31323334;
    r.fieldC = 0x4142;
    r.fieldD = 90;
    r.fieldE = 0x7FFFFFFF;
    return r;
}

constexpr std::uint32_t kBase = 100;  // so D = 90 is stored as 10 where it is relative

// Each key-index format, written from Sample() with base 100, and what reading
// it back keeps of the sample.
struct KeyIndexCase {
    std::uint32_t version;
    std::vector<std::uint8_t> stored;
    void (*kept)(KeyRecord&);
};

TEST(FrameHeader, KeyIndexFormatsWriteAndReadTheirLayouts)
{
    const KeyIndexCase cases[] = {
        {0x1000,
         Bytes(20, {{0, 4, 0x11223344}, {4, 1, 0x55}, {5, 2, 0x0C0D}, {7, 2, 0x4142}, {9, 2, 10},
                    {11, 4, 0x21222324}, {15, 1, 3}, {16, 2, 0x0304}, {18, 1, 1}, {19, 1, 0x31}}),
         [](KeyRecord& r) { r.sequence = 0x0C0D; r.fieldA = 0x0304; r.fieldB = 0x3107C280; r.fieldE = 0; }},
        {0x2000,
         Bytes(22, {{0, 4, 0x11223344}, {4, 1, 0x55}, {5, 2, 0x0C0D}, {7, 1, 0x83}, {8, 2, 0x0304},
                    {10, 2, 0x4142}, {12, 2, 10}, {14, 4, 0x21222324}, {18, 4, 0x31323334}}),
         [](KeyRecord& r) { r.sequence = 0x0C0D; r.fieldA = 0x0304; r.fieldE = 0; }},
        {0x2010,
         Bytes(33, {{0, 4, 0x11223344}, {4, 1, 0x55}, {5, 0, 0}, {9, 1, 3}, {10, 4, 0x0A0B0C0D}, {14, 1, 0x83},
                    {15, 2, 0x0304}, {17, 2, 0x4142}, {19, 2, 10}, {21, 4, 0x3FFFF}, {25, 4, 0x21222324},
                    {29, 4, 0x31323334}}),
         [](KeyRecord& r) { r.fieldA = 0x0304; r.fieldE = 0; }},
        {0x2015,
         Bytes(39, {{0, 4, 0x11223344}, {4, 1, 0x55}, {5, 0, 0}, {9, 1, 4}, {11, 4, 0x0A0B0C0D}, {15, 1, 3},
                    {16, 1, 1}, {17, 4, 0x01020304}, {21, 2, 0x4142}, {23, 4, 10}, {27, 4, 0x3FFFF},
                    {31, 4, 0x21222324}, {35, 4, 0x31323334}}),
         [](KeyRecord& r) { r.fieldE = 0; }},
        {0x3000,
         Bytes(39, {{0, 4, 0x11223344}, {4, 1, 0x55}, {5, 0, 0}, {9, 1, 5}, {11, 4, 0x0A0B0C0D}, {15, 1, 3},
                    {16, 1, 1}, {17, 4, 0x01020304}, {21, 2, 0x4142}, {23, 4, 90}, {27, 4, 0x7FFFFFFF},
                    {31, 4, 0x21222324}, {35, 4, 0x31323334}}),
         [](KeyRecord& r) { r.fieldE = 0; }},
    };
    for (const KeyIndexCase& c : cases) {
        SCOPED_TRACE(c.version);
        std::uint8_t out[64] = {};
        ASSERT_EQ(WriteKeyIndexRecord(Sample(), c.version, kBase, out, sizeof out), c.stored.size());
        EXPECT_EQ(std::vector<std::uint8_t>(out, out + c.stored.size()), c.stored);

        KeyRecord read;
        std::uint32_t headerSize = 0;
        ASSERT_TRUE(ConvertVideoHeader(c.stored.data(), c.stored.size(), read, kBase, headerSize, c.version));
        EXPECT_EQ(headerSize, c.stored.size());
        KeyRecord expected = Sample();
        c.kept(expected);
        EXPECT_EQ(Packed(read), Packed(expected));
    }
}

TEST(FrameHeader, StreamMinusOneInFormat2)
{
    KeyRecord r = Sample();
    r.stream = -1;
    std::uint8_t out[22] = {};
    WriteKeyIndexRecord(r, 0x2000, 0, out, sizeof out);
    EXPECT_EQ(out[7], 0xFF);
    r.flags = 0;
    WriteKeyIndexRecord(r, 0x2000, 0, out, sizeof out);
    EXPECT_EQ(out[7], 0x7F);
    EXPECT_EQ(WriteKeyIndexRecord(r, 0x3010, 0, out, sizeof out), 0u);
}

// Stored headers and what one reading of them must give.
struct ReadCase {
    const char* name;
    std::uint32_t version;
    std::vector<std::uint8_t> stored;
    std::uint32_t base;
    bool complete;
    std::uint32_t headerSize;
    void (*check)(const KeyRecord&);
};

TEST(FrameHeader, ReadingStoredHeaders)
{
    const ReadCase cases[] = {
        {"format 2 non-key is 14 bytes without key value and B", 0x2000, Bytes(14, {{7, 1, 0x7F}}), 0, true, 14,
         [](const KeyRecord& r) {
             EXPECT_EQ(r.stream, -1);
             EXPECT_EQ(r.keyValue + r.fieldB + r.flags, 0u);
             EXPECT_EQ(r.format, 6);
         }},
        {"blank format 1 record", 0x1000, Bytes(20, {{19, 1, 0x3C}}), 0, true, 20,
         [](const KeyRecord& r) { EXPECT_EQ(r.fieldB, 0x3C07C280u); }},
        {"format 1 stream 127", 0x1000, Bytes(20, {{15, 1, 127}}), 0, true, 20,
         [](const KeyRecord& r) { EXPECT_EQ(r.stream, -1); }},
        {"no base, D stored 5", 0x2000, Bytes(14, {{12, 2, 5}}), 0, true, 14,
         [](const KeyRecord& r) { EXPECT_EQ(r.fieldD, 1u); }},
        {"no base, D stored 0", 0x2000, Bytes(14, {}), 0, true, 14,
         [](const KeyRecord& r) { EXPECT_EQ(r.fieldD, 0u); }},
        {"base 100, D stored 5", 0x2000, Bytes(14, {{12, 2, 5}}), 100, true, 14,
         [](const KeyRecord& r) { EXPECT_EQ(r.fieldD, 95u); }},
        {"marked format 4 in a 0x3000 file: D relative, non-key keeps its format byte", 0x3000,
         Bytes(31, {{5, 0, 0}, {9, 1, 4}, {23, 4, 5}, {27, 4, 0x12345678}}), 100, true, 31,
         [](const KeyRecord& r) {
             EXPECT_EQ(r.fieldD, 95u);
             EXPECT_EQ(r.format, 4);
             EXPECT_EQ(r.fieldE, 0x12345678u);
         }},
        {"format 5 keeps D as is", 0x3000, Bytes(31, {{5, 0, 0}, {9, 1, 5}, {23, 4, 5}}), 100, true, 31,
         [](const KeyRecord& r) { EXPECT_EQ(r.fieldD, 5u); }},
        {"format 6 key taken as stored", 0x3010,
         Bytes(29, {{5, 0, 0}, {9, 1, 6}, {10, 1, 2}, {16, 1, 0x03}, {21, 4, 7}, {25, 4, 8}}), 100, true, 29,
         [](const KeyRecord& r) {
             EXPECT_EQ(r.flags, 0x03);
             EXPECT_EQ(r.keyValue, 7u);
             EXPECT_EQ(r.fieldB, 8u);
             EXPECT_EQ(r.fieldD, 0u);
         }},
        {"key header cut short", 0x2010, Bytes(32, {{5, 0, 0}, {9, 1, 3}, {14, 1, 0x80}}), 0, false, 33,
         [](const KeyRecord&) {}},
        {"too short for any header", 0x3010, Bytes(9, {}), 0, false, 21, [](const KeyRecord&) {}},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        KeyRecord r;
        std::uint32_t headerSize = 0;
        EXPECT_EQ(ConvertVideoHeader(c.stored.data(), c.stored.size(), r, c.base, headerSize, c.version), c.complete);
        EXPECT_EQ(headerSize, c.headerSize);
        c.check(r);
    }
}

}  // namespace
