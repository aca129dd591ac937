// One image file of a data volume (IMG%04d.AVI): a fixed-size, pre-allocated
// container of length-prefixed frame records followed by a table of contents.
//
// This class does the file work: naming, pre-allocation, opening through a
// SequentialFile, the cache journal beside it, locking. The formats and the
// decisions over the bytes are ImageTables' (store/format/), which reads and
// writes through this class's file.
//
// Every operation gives false on failure and leaves the object usable; an
// exception from the file layer is traced (level 1) and turns into false.
#pragma once

#include "fileio/SequentialFile.h"
#include "recorderlibs/CriticalSection.h"
#include "store/CacheFile.h"
#include "store/format/ImageTables.h"

#include <cstdint>
#include <memory>
#include <string>

class ImageFile {
public:
    // A target size that makes a missing file stay missing and takes the
    // size of an existing one from its header.
    static constexpr std::uint32_t kSizeFromHeader = 0xFFFFFFFF;

    // targetSize: the pre-allocated size in bytes, or kSizeFromHeader.
    explicit ImageFile(std::uint32_t targetSize);
    // Closes an open file without writing the tables back.
    virtual ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    // A read-only image file only ever reads: a missing file stays missing,
    // the file is opened for reading alone (its attributes untouched), the
    // tables are never written back, and the cache file is neither opened
    // nor deleted. Set before Open.
    void SetReadOnly(bool readOnly) { m_readOnly = readOnly; }

    // The directory of the image and cache files, ending in a backslash
    // (default "C:\").
    void SetBasePath(const std::string& path);
    // IMG%04d.AVI and CACHE%04d.tmp of a number, in the base path.
    std::string MakePath(std::int32_t number) const;
    std::string MakeCachePath(std::int32_t number) const;

    // Opens image file number (remembered for the cache file) and reads its
    // header and, with loadTables, its tables; without them the tables are
    // empty. A missing file is created first unless the target size is
    // kSizeFromHeader. True when already open.
    bool Open(std::int32_t number, bool loadTables);
    bool OpenByName(const std::string& path, bool loadTables);

    // Creates path at the target size, replacing any file there, and with
    // initialize writes an empty image file into it (InitializeNew). Sizes
    // of 0 and of 2 GiB or more fail.
    bool CreatePreallocatedFile(const std::string& path, bool initialize);
    // Writes the header and empty tables of a new file into an existing one.
    bool InitializeNew(const std::string& path);

    // Write mode allows the tables to be rebuilt and the journal merged;
    // leaving it writes changed tables back without closing. load: read the
    // meta data on entering.
    bool SetWriteMode(bool on, bool load);
    // The next record of a scan from the first record, rebuilding the frame
    // and key tables; false at the end of the records.
    bool ScanNextRecord(ScannedRecord& record);
    bool ScanNextRecord(int& kind, KeyRecord& video, AudioHeader& audio, TextHeader& text, std::uint32_t& length);
    // Merges CACHE%04d.tmp of the current number (write mode, no meta data yet).
    bool LoadCacheJournal();
    bool LoadMetaData(int stream);  // -1: all 16 video streams
    bool HasMetaData() const;

    // Entries of that kind's table for the stream, plus 2 for video: the
    // sequence number of the stream's next record. 0 outside 0 to 15.
    std::uint32_t GetStreamCount(int stream, int kind) const;
    std::uint32_t GetVersion() const;
    ImageHeader GetHeader() const;
    bool IsOpen() const { return m_file && m_file->IsOpen(); }
    std::int32_t GetNumber() const { return m_number; }
    const std::string& GetPath() const { return m_path; }
    // The tables as they are; for inspection while no other thread works
    // on the file.
    const ImageTables& Tables() const { return m_tables; }

    // Writes changed tables back, deletes the cache file and closes. False
    // when writing back failed; the file then stays open and the cache file
    // is kept, whatever is done with the file afterwards.
    bool Close();

private:
    bool OpenFile(SequentialFile& file, const std::string& path, bool readOnlyFallback);
    bool WriteBack();
    void DropCacheFile(bool always);

    mutable CriticalSection m_lock;
    std::uint32_t m_targetSize;
    ImageTables m_tables;
    std::unique_ptr<SequentialFile> m_file;  // made on the first open
    CacheFile m_cache;
    std::string m_basePath = "C:\\";
    std::string m_prefix = "IMG";
    std::string m_extension = "AVI";
    std::int32_t m_number = -1;
    std::string m_path;
    bool m_readOnly = false;
    bool m_journalUnmerged = false;  // a write-back failed: the cache file is kept
};
