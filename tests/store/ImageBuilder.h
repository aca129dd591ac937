// Bytes for the store tests and fuzz targets: hex, small image files record by record, and written tables
// loaded again.
#pragma once

#include "store/format/ImageFormat.h"
#include "store/format/ImageTables.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

// For the fuzz targets: aborts, so that libFuzzer keeps the input.
#define CHECK(condition) \
    ((condition) ? void() : (std::fprintf(stderr, "check failed: %s\n", #condition), std::abort()))
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace imagebuilder {

// "44332211 55 @19 3C": hex bytes, blanks only for reading, "@N" goes on at offset N; zeros up to size.
inline std::vector<std::uint8_t> Hex(const char* text, std::size_t size = 0)
{
    std::vector<std::uint8_t> bytes(size, 0);
    std::istringstream in(text);
    std::size_t at = 0;
    for (std::string token; in >> token;) {
        if (token[0] == '@')
            at = std::stoul(token.substr(1));
        for (std::size_t i = 0; token[0] != '@' && i + 1 < token.size(); i += 2, ++at) {
            bytes.resize(std::max(bytes.size(), at + 1));
            bytes[at] = static_cast<std::uint8_t>(std::stoul(token.substr(i, 2), nullptr, 16));
        }
    }
    return bytes;
}

struct Rec {
    int kind, stream;
    std::uint32_t sequence, time = 1000;
    bool key = false;
};

inline Rec V(int stream, std::uint32_t sequence, bool key = false) { return Rec{kVideo, stream, sequence, 1000, key}; }
inline Rec A(int stream, std::uint32_t sequence) { return Rec{kAudio, stream, sequence}; }
inline Rec T(int stream, std::uint32_t sequence) { return Rec{kText, stream, sequence}; }

// The record after its length field: the newest header of its kind and a few payload bytes.
inline std::vector<std::uint8_t> RecordBody(const Rec& r)
{
    const std::uint32_t headerSize = r.kind == kVideo ? (r.key ? 29 : 21) : (r.kind == kAudio ? 28 : 30);
    std::vector<std::uint8_t> body(headerSize + 7, 0xA5);
    std::memset(body.data(), 0, headerSize);
    le::Store32(&body[0], r.time);
    body[4] = 50;
    std::memcpy(&body[5], "KSTX", 4);
    body[9] = r.kind == kVideo ? 6 : (r.kind == kAudio ? 1 : 2);
    body[10] = static_cast<std::uint8_t>(r.kind);
    le::Store32(&body[11], r.sequence);
    body[15] = static_cast<std::uint8_t>(r.stream);
    if (r.kind == kVideo) {
        body[16] = r.key ? 1 : 0;
        le::Store32(&body[21], r.key ? 0x1000 + r.sequence : 0);
    }
    return body;
}

// A file of fileSize bytes (0: just large enough): the header, the records from 48, an empty table of contents.
inline std::vector<std::uint8_t> BuildFile(std::uint32_t version, const std::vector<Rec>& records,
                                           std::uint32_t fileSize = 0)
{
    std::vector<std::uint8_t> file(kImageHeaderSize, 0);
    for (const Rec& r : records) {
        const std::vector<std::uint8_t> body = RecordBody(r);
        le::AppendU32(file, static_cast<std::uint32_t>(body.size()));
        file.insert(file.end(), body.begin(), body.end());
    }
    ImageHeader header = MakeFreshHeader(fileSize, 0);
    header.version = version;
    header.dataEnd = header.tableOffset = static_cast<std::uint32_t>(file.size());
    const std::vector<std::uint8_t> table = MakeFreshTable();
    file.insert(file.end(), table.begin(), table.end());
    if (fileSize == 0)
        header.fileSize = static_cast<std::uint32_t>(file.size());
    file.resize(header.fileSize, 0);
    const std::vector<std::uint8_t> bytes = EncodeHeader(header);
    std::memcpy(file.data(), bytes.data(), bytes.size());
    return file;
}

inline int ScanAll(ImageTables& tables, ByteSource& file)
{
    ScannedRecord record;
    int taken = 0;
    while (tables.ScanNext(file, record))
        ++taken;
    return taken;
}

// For the fuzz targets: what write-back stores into a copy of the file loads back as it was, as far as the
// file's generation stores it.
inline bool WriteBackLoadsAgain(ImageTables tables, BufferFile file)
{
    ImageTables loaded;
    if (!tables.WriteBack(file))
        return true;
    if (!loaded.LoadHeader(file) || !loaded.LoadTables(file) || !loaded.LoadMetaData(file, -1) ||
        loaded.Header().version != tables.Header().version || loaded.Header().tableOffset != tables.Header().tableOffset)
        return false;
    const TableLayout layout = LayoutOf(tables.Header().version);
    for (int kind = 0; kind < kStreamKinds; ++kind) {
        const bool full = kind >= layout.firstFullKind;
        const auto same = [full](const FrameEntry& a, const FrameEntry& b) {
            return a.position == b.position &&
                   (!full || (a.time == b.time && a.thousandths == b.thousandths && a.keyFlag == b.keyFlag));
        };
        for (int stream = 0; stream < kStreamsPerKind; ++stream) {
            const auto& before = tables.Frames(kind, stream);
            const auto& after = loaded.Frames(kind, stream);
            if (full || (kind == kVideo && layout.videoPositions)
                    ? !std::equal(before.begin(), before.end(), after.begin(), after.end(), same)
                    : !after.empty())
                return false;
        }
    }
    const auto sameItem = [&](const ImageTables::Item& a, const ImageTables::Item& b) {
        return a.length == b.length &&
               (a.length == 0 || std::memcmp(tables.ItemBytes(a), loaded.ItemBytes(b), a.length) == 0);
    };
    for (int stream = 0; stream < kStreamsPerKind; ++stream) {
        const auto& before = tables.MetaData(stream);
        const auto& after = loaded.MetaData(stream);
        if (loaded.Keys(stream).size() != (layout.keyTable ? tables.Keys(stream).size() : 0) ||
            (layout.metaData && !std::equal(before.begin(), before.end(), after.begin(), after.end(), sameItem)))
            return false;
    }
    return true;
}

}  // namespace imagebuilder
