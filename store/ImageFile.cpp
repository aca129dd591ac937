#include "store/ImageFile.h"

#include "fileio/AppException.h"
#include "recorderlibs/CDateTime.h"
#include "recorderlibs/CVkUtility.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>

namespace {

using Lock = std::lock_guard<CriticalSection>;

// One SequentialFile operation waits for at most 64 blocks; a megabyte
// touches at most 17.
constexpr std::uint32_t kTransferChunk = 1 << 20;

// The image file as the format code sees it.
class FileAccess : public ByteSource, public ByteSink {
public:
    explicit FileAccess(SequentialFile& file) : m_file(file) {}

    std::uint64_t Size() const override { return m_file.Size(); }

    std::uint32_t ReadAt(std::uint64_t position, void* destination, std::uint32_t count) override
    {
        if (count == 0 || position >= m_file.Size())
            return 0;
        FilePosition at(m_file);
        at.Seek(static_cast<std::int64_t>(position), 0);
        auto* out = static_cast<std::uint8_t*>(destination);
        std::uint32_t done = 0;
        while (done < count && at.Offset() < m_file.Size()) {
            const std::uint32_t want = std::min(count - done, kTransferChunk);
            const std::uint32_t got = m_file.Read(at, out + done, want);
            done += got;
            if (got < want)
                break;
        }
        return done;
    }

    bool WriteAt(std::uint64_t position, const void* source, std::uint32_t count) override
    {
        if (position > m_file.Size())
            return false;
        FilePosition at(m_file);
        if (position == m_file.Size())
            at.Seek(0, 2);
        else
            at.Seek(static_cast<std::int64_t>(position), 0);
        const auto* in = static_cast<const std::uint8_t*>(source);
        for (std::uint32_t done = 0; done < count;) {
            const std::uint32_t n = std::min(count - done, kTransferChunk);
            m_file.Write(at, in + done, n);
            done += n;
        }
        return m_file.LastWriteError() == 0;
    }

private:
    SequentialFile& m_file;
};

void TraceFailure(const char* operation, const std::string& path, const std::string& what)
{
    TraceFileIoFailure(std::string("ImageFile::") + operation + " " + path + ": " + what);
}

void TraceFailure(const char* operation, const std::string& path, const win32::Error& error)
{
    TraceFailure(operation, path, std::string(error.where) + " failed with error " + std::to_string(error.code));
}

std::string NumberedName(const std::string& base, const std::string& prefix, std::int32_t number,
                         const char* suffix)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d", static_cast<int>(number));
    return base + prefix + digits + suffix;
}

}  // namespace

ImageFile::ImageFile(std::uint32_t targetSize) : m_targetSize(targetSize) {}

ImageFile::~ImageFile()
{
    try {
        if (m_file)
            m_file->Close();
    } catch (const std::exception& e) {
        TraceFailure("~ImageFile", m_path, e.what());
    }
}

void ImageFile::SetBasePath(const std::string& path)
{
    Lock lock(m_lock);
    m_basePath = path;
}

std::string ImageFile::MakePath(std::int32_t number) const
{
    Lock lock(m_lock);
    return NumberedName(m_basePath, m_prefix, number, ("." + m_extension).c_str());
}

std::string ImageFile::MakeCachePath(std::int32_t number) const
{
    Lock lock(m_lock);
    return NumberedName(m_basePath, "CACHE", number, ".tmp");
}

bool ImageFile::Open(std::int32_t number, bool loadTables)
{
    Lock lock(m_lock);
    if (IsOpen())
        return true;
    m_number = number;
    return OpenByName(MakePath(number), loadTables);
}

bool ImageFile::OpenFile(SequentialFile& file, const std::string& path, bool readOnlyFallback)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (m_readOnly)
        return file.Open(path, OPEN_EXISTING, GENERIC_READ, share, FILE_FLAG_NO_BUFFERING);
    if (file.Open(path, OPEN_EXISTING, GENERIC_READ | GENERIC_WRITE, share, FILE_FLAG_NO_BUFFERING))
        return true;
    if (CVkUtility::SetToReadWrite(path.c_str()) &&
        file.Open(path, OPEN_EXISTING, GENERIC_READ | GENERIC_WRITE, share, FILE_FLAG_NO_BUFFERING))
        return true;
    return readOnlyFallback && file.Open(path, OPEN_EXISTING, GENERIC_READ, share, FILE_FLAG_NO_BUFFERING);
}

bool ImageFile::OpenByName(const std::string& path, bool loadTables)
{
    Lock lock(m_lock);
    if (IsOpen())
        return true;
    m_path = path;
    m_tables.Clear();
    m_tables.LeaveWriteMode();
    m_journalUnmerged = false;
    if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (m_targetSize == kSizeFromHeader || !CreatePreallocatedFile(path, true))
            return false;
    }
    try {
        // Made here, where its failure is caught: nothing above the store
        // expects an exception.
        if (!m_file)
            m_file = std::make_unique<SequentialFile>();
        if (!OpenFile(*m_file, path, true))
            return false;
        FileAccess access(*m_file);
        if (m_tables.LoadHeader(access) && (!loadTables || m_tables.LoadTables(access)))
            return true;
    } catch (const std::exception& e) {
        TraceFailure("OpenByName", path, e.what());
    }
    m_tables.Clear();
    try {
        if (m_file)
            m_file->Abort();
    } catch (const std::exception& e) {
        TraceFailure("OpenByName", path, e.what());
    }
    return false;
}

bool ImageFile::CreatePreallocatedFile(const std::string& path, bool initialize)
{
    Lock lock(m_lock);
    if (m_readOnly || m_targetSize < 1)
        return false;
    {
        win32::UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH |
                                                       FILE_FLAG_NO_BUFFERING,
                                                   nullptr));
        if (!file) {
            TraceFailure("CreatePreallocatedFile", path, win32::Error::Last("CreateFileA"));
            return false;
        }
        // The move is a signed 32-bit distance: 2 GiB and more is out of reach.
        const auto distance = static_cast<LONG>(m_targetSize);
        const DWORD reached = ::SetFilePointer(file.get(), distance, nullptr, FILE_BEGIN);
        if (distance < 0 || reached != m_targetSize) {
            TraceFailure("CreatePreallocatedFile", path, win32::Error::Last("SetFilePointer"));
            return false;
        }
        if (!::SetEndOfFile(file.get())) {
            TraceFailure("CreatePreallocatedFile", path, win32::Error::Last("SetEndOfFile"));
            return false;
        }
    }
    return !initialize || InitializeNew(path);
}

bool ImageFile::InitializeNew(const std::string& path)
{
    Lock lock(m_lock);
    if (m_readOnly)
        return false;
    std::unique_ptr<SequentialFile> made;
    try {
        made = std::make_unique<SequentialFile>();
        SequentialFile& file = *made;
        if (!OpenFile(file, path, false))
            return false;
        FileAccess access(file);
        std::uint32_t size = m_targetSize;
        if (size == kSizeFromHeader) {
            ImageTables existing;
            if (!existing.LoadHeader(access)) {
                file.Abort();
                return false;
            }
            size = existing.Header().fileSize;
        }
        std::vector<std::uint8_t> bytes = EncodeHeader(MakeFreshHeader(size, CDateTime().GetTimeZoneIndex()));
        const std::vector<std::uint8_t> table = MakeFreshTable();
        bytes.insert(bytes.end(), table.begin(), table.end());
        const bool written = access.WriteAt(0, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        file.Close();
        return written && file.LastWriteError() == 0;
    } catch (const std::exception& e) {
        TraceFailure("InitializeNew", path, e.what());
    }
    try {
        if (made)
            made->Abort();
    } catch (const std::exception&) {
    }
    return false;
}

bool ImageFile::SetWriteMode(bool on, bool load)
{
    Lock lock(m_lock);
    if (on == m_tables.IsWriteMode())
        return true;
    if (!IsOpen())
        return false;
    if (!on) {
        const bool written = !m_tables.IsDirty() || WriteBack();
        DropCacheFile(false);
        m_tables.LeaveWriteMode();
        return written;
    }
    m_tables.EnterWriteMode();
    return !load || LoadMetaData(-1);
}

bool ImageFile::ScanNextRecord(ScannedRecord& record)
{
    Lock lock(m_lock);
    if (!IsOpen())
        return false;
    try {
        FileAccess access(*m_file);
        return m_tables.ScanNext(access, record);
    } catch (const std::exception& e) {
        TraceFailure("ScanNextRecord", m_path, e.what());
    }
    return false;
}

bool ImageFile::ScanNextRecord(int& kind, KeyRecord& video, AudioHeader& audio, TextHeader& text,
                               std::uint32_t& length)
{
    ScannedRecord record;
    if (!ScanNextRecord(record))
        return false;
    kind = record.kind;
    video = record.video;
    audio = record.audio;
    text = record.text;
    length = record.length;
    return true;
}

bool ImageFile::LoadCacheJournal()
{
    Lock lock(m_lock);
    if (m_readOnly || !IsOpen() || !m_tables.IsWriteMode() || m_tables.HasMetaData() || m_number < 0)
        return false;
    const std::string path = MakeCachePath(m_number);
    if (!m_cache.IsOpen()) {
        const win32::Error error = m_cache.Open(path);
        if (error.failed()) {
            TraceFailure("LoadCacheJournal", path, error);
            return false;
        }
    }
    try {
        return m_tables.MergeJournal(m_cache);
    } catch (const std::exception& e) {
        TraceFailure("LoadCacheJournal", path, e.what());
    }
    return false;
}

bool ImageFile::LoadMetaData(int stream)
{
    Lock lock(m_lock);
    if (!IsOpen())
        return false;
    try {
        FileAccess access(*m_file);
        return m_tables.LoadMetaData(access, stream);
    } catch (const std::exception& e) {
        TraceFailure("LoadMetaData", m_path, e.what());
    }
    return false;
}

bool ImageFile::HasMetaData() const
{
    Lock lock(m_lock);
    return m_tables.HasMetaData();
}

std::uint32_t ImageFile::GetStreamCount(int stream, int kind) const
{
    Lock lock(m_lock);
    return m_tables.StreamCount(stream, kind);
}

std::uint32_t ImageFile::GetVersion() const
{
    Lock lock(m_lock);
    return m_tables.Header().version;
}

ImageHeader ImageFile::GetHeader() const
{
    Lock lock(m_lock);
    return m_tables.Header();
}

bool ImageFile::WriteBack()
{
    // What a read-only file changed stays in memory: nothing is lost by that.
    if (m_readOnly)
        return true;
    bool written = false;
    try {
        FileAccess access(*m_file);
        written = m_tables.WriteBack(access);
    } catch (const std::exception& e) {
        TraceFailure("Close", m_path, e.what());
    }
    // Until its entries are in the file, the journal is the only place that
    // holds them: it stays for the recorder, or a later check, to merge.
    m_journalUnmerged = !written;
    DropCacheFile(true);
    return written;
}

void ImageFile::DropCacheFile(bool always)
{
    if (m_readOnly)
        return;
    if (m_journalUnmerged) {
        m_cache.Close();
        return;
    }
    // The journal is in the tables now, or was empty: it has served.
    if (always || m_cache.IsOpen()) {
        m_cache.Close();
        if (m_number >= 0)
            ::DeleteFileA(MakeCachePath(m_number).c_str());
    }
}

bool ImageFile::Close()
{
    Lock lock(m_lock);
    if (m_tables.IsDirty() && IsOpen() && !WriteBack())
        return false;
    DropCacheFile(false);
    m_tables.LeaveWriteMode();
    if (!IsOpen())
        return true;
    bool closed = true;
    try {
        m_file->Close();
        closed = m_file->LastWriteError() == 0;
    } catch (const std::exception& e) {
        TraceFailure("Close", m_path, e.what());
        closed = false;
    }
    return closed;
}
