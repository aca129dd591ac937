// The tables of one image file in memory, and everything that fills them or
// stores them: loading the header and the table of contents, the meta data,
// rebuilding the tables by scanning the records, merging the cache journal,
// and writing back. All of it works through ByteSource and ByteSink, so a
// whole file can be loaded, scanned and written back from a byte buffer.
//
// Files reach this code because they are damaged. Every count is checked
// against the bytes really present before anything is reserved for it, every
// read is bounded by the real size behind the source (not by what the header
// claims), and every scan step moves forward by at least one record prefix.
#pragma once

#include "store/format/ByteIo.h"
#include "store/format/FrameHeader.h"
#include "store/format/ImageFormat.h"

#include <array>
#include <cstdint>
#include <vector>

// One record found by the scan. prefix carries its time, hundredths, kind,
// sequence number and stream; only the header of its kind is filled in.
struct ScannedRecord {
    int kind = 0;
    std::uint32_t length = 0;  // bytes after the record's length field
    RecordPrefix prefix;
    bool keyFrame = false;
    std::uint32_t keyValue = 0;  // video only
    KeyRecord video;
    AudioHeader audio;
    TextHeader text;
};

// Meta-data items are stored with 16-bit lengths.
inline constexpr std::uint32_t kMaxMetaDataItem = 0xFFFF;

class ImageTables {
public:
    // A meta-data item or pending text record: bytes in the shared buffer.
    struct Item {
        std::uint32_t offset = kNoPosition;  // kNoPosition: an item without data
        std::uint32_t length = 0;  // at most kMaxMetaDataItem for meta data
    };

    // Empties every table and list, leaves read mode and stops a scan.
    void Clear();
    // Reads the header in the form its version demands, then Clear().
    bool LoadHeader(ByteSource& file);
    // Reads the table of contents at the header's table offset in the layout
    // of the header's version; on failure the tables are left empty.
    bool LoadTables(ByteSource& file);
    // Loads the meta-data lists of one video stream, or of all with -1.
    bool LoadMetaData(ByteSource& file, int stream);

    void EnterWriteMode();
    void LeaveWriteMode() { m_writeMode = false; }

    // One step of rebuilding the frame and key tables from the records. False
    // at the end of the records and on any damage; a scan that ended on an
    // invalid prefix starts from the first record again when called again.
    bool ScanNext(ByteSource& file, ScannedRecord& record);

    // Merges the cache journal (write mode only, and only before any meta
    // data are in the lists).
    bool MergeJournal(ByteSource& journal);

    // Writes the pending text records, the table of contents and the header
    // in the layout of the file's own generation; empties the pending lists
    // and clears the dirty flag even when writing fails. Nothing is written
    // when the tables would reach past the end of the file.
    bool WriteBack(ByteSink& file);

    // Entries of a kind and stream, plus 2 for video: the sequence number the
    // next record of that stream carries. 0 outside the 3 kinds and 16 streams.
    std::uint32_t StreamCount(int stream, int kind) const;
    bool HasMetaData() const;

    const ImageHeader& Header() const { return m_header; }
    const std::vector<FrameEntry>& Frames(int kind, int stream) const { return m_frames[Slot(kind, stream)]; }
    const std::vector<KeyEntry>& Keys(int stream) const { return m_keys[stream]; }
    const std::vector<Item>& MetaData(int stream) const { return m_metaData[stream]; }
    const std::vector<Item>& PendingText(int stream) const { return m_pendingText[stream]; }
    // The bytes of an item (null for an item without data).
    const std::uint8_t* ItemBytes(const Item& item) const
    {
        return item.offset == kNoPosition ? nullptr : m_bytes.data() + item.offset;
    }
    std::uint16_t MetaDataLoaded() const { return m_metaDataLoaded; }
    bool IsDirty() const { return m_dirty; }
    bool IsWriteMode() const { return m_writeMode; }

private:
    static std::size_t Slot(int kind, int stream) { return static_cast<std::size_t>(kind * kStreamsPerKind + stream); }
    std::vector<FrameEntry>& FrameTable(int kind, int stream) { return m_frames[Slot(kind, stream)]; }
    bool ReadTables(ByteSource& file);
    bool ReadMetaData(ByteSource& file, std::uint16_t wanted);
    Item AddBytes(const std::uint8_t* data, std::size_t length);
    void MergePendingText();
    std::vector<std::uint8_t> EncodeTables(std::uint32_t tableOffset);
    void EncodeMetaData(std::vector<std::uint8_t>& out, std::uint32_t metaDataOffset) const;
    bool ScanRecord(ByteSource& file, ScannedRecord& record);
    bool ReadPrefixAt(ByteSource& file, std::uint64_t position, RecordPrefix& prefix, std::uint32_t& length);
    std::uint32_t ExpectedSequence(const RecordPrefix& prefix, std::uint32_t extra) const;

    ImageHeader m_header;
    std::array<std::vector<FrameEntry>, kStreamKinds * kStreamsPerKind> m_frames;
    std::array<std::vector<KeyEntry>, kStreamsPerKind> m_keys;
    std::array<std::vector<Item>, kStreamsPerKind> m_metaData;
    std::array<std::vector<Item>, kStreamsPerKind> m_pendingText;
    std::vector<std::uint8_t> m_bytes;
    std::uint16_t m_metaDataLoaded = 0;
    std::uint32_t m_scanPosition = 0;  // 0: not scanning
    WindowState m_scanWindow;  // what the scan read last, kept only while it runs
    bool m_writeMode = false;
    bool m_dirty = false;
};

// Reads count bytes at position into out; false, without reserving anything,
// when they are not all there.
bool ReadExactly(ByteSource& file, std::uint64_t position, std::uint64_t count, std::vector<std::uint8_t>& out);
