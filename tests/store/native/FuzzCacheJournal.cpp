// Any bytes merged as the cache journal of an image file of a few frames, the tables written back and loaded.
#include "store/format/CacheJournal.h"
#include "tests/store/ImageBuilder.h"

#include <algorithm>

using namespace imagebuilder;

// The input is a list of pieces, so that a few bytes stand for an entry of 128 KiB near the size limit:
//   even byte, n, n bytes                                      copied as they are
//   odd byte t, kind, stream, 24-bit length, fill, m, m bytes  an entry tagged (t >> 1) ^ 1, its data the
//                                                              m bytes and then fill
// Data go only one byte past the limit (a longer entry ends the journal by its head alone), and the journal
// stops a little past one entry at the limit. Kept from input to input: fresh pages would cost more.
static std::vector<std::uint8_t> out;
static std::uint32_t fitting;  // bytes of entries short enough for the tables

static void Expand(const std::uint8_t* data, std::size_t size)
{
    out.clear();
    fitting = 0;
    for (std::size_t at = 0; at + 2 <= size && out.size() < kMaxJournalEntry + 0x8000;) {
        const std::uint8_t token = data[at];
        if ((token & 1) == 0) {
            const std::size_t n = std::min<std::size_t>(data[at + 1], size - at - 2);
            out.insert(out.end(), data + at + 2, data + at + 2 + n);
            at += 2 + n;
            continue;
        }
        if (at + 9 > size)
            break;
        const std::uint8_t* p = data + at + 1;
        const std::uint32_t length = p[2] | p[3] << 8 | p[4] << 16;
        const std::size_t literal = std::min<std::size_t>({p[6], size - at - 8, length});
        out.insert(out.end(), {static_cast<std::uint8_t>((token >> 1) ^ 1), p[0], p[1]});
        le::AppendU32(out, length);
        out.insert(out.end(), p + 7, p + 7 + literal);
        if (length <= kMaxJournalEntry + 1)
            out.insert(out.end(), length - literal, p[5]);
        if (length <= kMaxJournalEntry)
            fitting += length + 16;
        at += 8 + literal;
    }
}

struct JournalView : ByteSource {
    std::uint64_t Size() const override { return out.size(); }
    std::uint32_t ReadAt(std::uint64_t position, void* destination, std::uint32_t count) override
    {
        const std::uint64_t n = position < out.size() ? std::min<std::uint64_t>(count, out.size() - position) : 0;
        if (n != 0)
            std::memcpy(destination, out.data() + position, n);
        return static_cast<std::uint32_t>(n);
    }
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Expand(data, size);
    // Room to write back whatever of the journal the tables can take.
    BufferFile file(BuildFile(0x3010, {V(0, 2, true), V(1, 2, true), T(0, 0), V(0, 3), V(1, 3), V(0, 4)},
                              2 * fitting + 8192));
    static ImageTables tables;  // reused as in FuzzRecordScan; loading keeps write mode on
    tables.LeaveWriteMode();
    BufferFile empty;
    CHECK(tables.LoadHeader(file) && !tables.MergeJournal(empty));  // read mode
    tables.EnterWriteMode();
    JournalView journal;
    CHECK(ScanAll(tables, file) == 5 && tables.MergeJournal(journal));
    for (int stream = 0; stream < kStreamsPerKind; ++stream) {
        CHECK(tables.MetaData(stream).size() == tables.Frames(kVideo, stream).size());
        for (const ImageTables::Item& item : tables.PendingText(stream))
            CHECK(item.length >= kRecordPrefixSize &&
                  le::Load32(tables.ItemBytes(item) + 11) < tables.Frames(kText, stream).size());
    }
    CHECK(WriteBackLoadsAgain(tables, file));
    return 0;
}
