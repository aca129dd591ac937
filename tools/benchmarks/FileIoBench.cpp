// fileio_bench.exe MODE PATH [CHUNK]: one timed pass over a whole file, for
// tools/bench, which runs every pass in a process of its own (so that it can
// drop the system's file cache in between) and compares them.
//
//   read-seq, read-seq-nobuf     SequentialFile reads, CHUNK bytes at a time
//   read-plain                   synchronous ReadFile of CHUNK bytes at a time
//   read-overlapped              the platform's overlapped ReadFile alone: three
//                                64 KB reads in flight on a completion port (the
//                                floor under any design with one overlapped
//                                transfer per block)
//   write-seq, write-seq-nobuf   SequentialFile writes over the existing file
//   write-plain                  synchronous WriteFile over the existing file
//
// Prints one line:
//   RESULT <mode> bytes=<n> seconds=<t> flush=<t> peak=<bytes> early=<bytes> demand=<n> ahead=<n> writes=<n>
// where peak is the process's peak working set at the end and early the peak
// after the first 64 MB (equal when nothing grows with the file size), and
// flush the time FlushFileBuffers took afterwards (writes only).
#include "fileio/SequentialFile.h"

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kEarly = 64ull << 20;

std::uint64_t PeakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

struct Pass {
    std::uint64_t bytes = 0;
    double seconds = 0;
    double flushSeconds = 0;
    std::uint64_t early = 0;
    SequentialFile::TransferCounts counts;
};

double Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// FlushFileBuffers on a handle of its own, after the file was closed.
double Flush(const std::string& path)
{
    const Clock::time_point start = Clock::now();
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::FlushFileBuffers(file);
        ::CloseHandle(file);
    }
    return Since(start);
}

bool ReadSequential(const std::string& path, DWORD flags, std::uint32_t chunk, Pass& pass)
{
    std::vector<char> buffer(chunk);
    const Clock::time_point start = Clock::now();
    SequentialFile file;
    if (!file.Open(path, OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ, flags))
        return false;
    FilePosition pos(file);
    for (std::uint32_t got; (got = file.Read(pos, buffer.data(), chunk)) != 0;) {
        pass.bytes += got;
        if (pass.early == 0 && pass.bytes >= kEarly)
            pass.early = PeakWorkingSet();
        if (pos.Offset() >= file.Size())
            break;
    }
    file.Close();
    pass.seconds = Since(start);
    pass.counts = file.GetTransferCounts();
    return true;
}

bool ReadPlain(const std::string& path, std::uint32_t chunk, Pass& pass)
{
    std::vector<char> buffer(chunk);
    const Clock::time_point start = Clock::now();
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    for (DWORD got = 0; ::ReadFile(file, buffer.data(), chunk, &got, nullptr) && got != 0;) {
        pass.bytes += got;
        if (pass.early == 0 && pass.bytes >= kEarly)
            pass.early = PeakWorkingSet();
    }
    ::CloseHandle(file);
    pass.seconds = Since(start);
    return true;
}

bool ReadOverlapped(const std::string& path, Pass& pass)
{
    constexpr DWORD kBlock = 65536;
    constexpr int kInFlight = 3;
    const Clock::time_point start = Clock::now();
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    HANDLE port = ::CreateIoCompletionPort(file, nullptr, 1, 0);
    char* memory = static_cast<char*>(::VirtualAlloc(nullptr, kBlock * kInFlight, MEM_COMMIT | MEM_RESERVE,
                                                     PAGE_READWRITE));
    OVERLAPPED transfers[kInFlight] = {};
    std::uint64_t next = 0;
    int outstanding = 0;
    auto issue = [&](int slot) {
        transfers[slot] = OVERLAPPED{};
        transfers[slot].Offset = static_cast<DWORD>(next);
        transfers[slot].OffsetHigh = static_cast<DWORD>(next >> 32);
        next += kBlock;
        if (::ReadFile(file, memory + slot * kBlock, kBlock, nullptr, &transfers[slot]) ||
            ::GetLastError() == ERROR_IO_PENDING)
            ++outstanding;
    };
    for (int slot = 0; slot < kInFlight; ++slot)
        issue(slot);
    while (outstanding > 0) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* done = nullptr;
        const BOOL ok = ::GetQueuedCompletionStatus(port, &bytes, &key, &done, INFINITE);
        if (!done)
            break;
        --outstanding;
        if (ok && bytes > 0) {
            pass.bytes += bytes;
            if (pass.early == 0 && pass.bytes >= kEarly)
                pass.early = PeakWorkingSet();
            issue(static_cast<int>(done - transfers));
        }
    }
    ::VirtualFree(memory, 0, MEM_RELEASE);
    ::CloseHandle(port);
    ::CloseHandle(file);
    pass.seconds = Since(start);
    return true;
}

std::uint64_t LengthOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool WriteSequential(const std::string& path, DWORD flags, std::uint32_t chunk, Pass& pass)
{
    std::vector<char> buffer(chunk);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<char>(i * 31 + 7);
    const std::uint64_t length = LengthOf(path);
    const Clock::time_point start = Clock::now();
    {
        SequentialFile file;
        if (!file.Open(path, OPEN_EXISTING, GENERIC_READ | GENERIC_WRITE, 0, flags))
            return false;
        FilePosition pos(file);
        while (pass.bytes < length) {
            const std::uint32_t count =
                static_cast<std::uint32_t>(length - pass.bytes < chunk ? length - pass.bytes : chunk);
            file.Write(pos, buffer.data(), count);
            pass.bytes += count;
            if (pass.early == 0 && pass.bytes >= kEarly)
                pass.early = PeakWorkingSet();
        }
        file.Close();
        pass.counts = file.GetTransferCounts();
    }
    pass.seconds = Since(start);
    pass.flushSeconds = Flush(path);
    return true;
}

bool WritePlain(const std::string& path, std::uint32_t chunk, Pass& pass)
{
    std::vector<char> buffer(chunk);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<char>(i * 31 + 7);
    const std::uint64_t length = LengthOf(path);
    const Clock::time_point start = Clock::now();
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    while (pass.bytes < length) {
        const DWORD count = static_cast<DWORD>(length - pass.bytes < chunk ? length - pass.bytes : chunk);
        DWORD written = 0;
        if (!::WriteFile(file, buffer.data(), count, &written, nullptr) || written != count)
            break;
        pass.bytes += count;
        if (pass.early == 0 && pass.bytes >= kEarly)
            pass.early = PeakWorkingSet();
    }
    ::CloseHandle(file);
    pass.seconds = Since(start);
    pass.flushSeconds = Flush(path);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: fileio_bench MODE PATH [CHUNK]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::string path = argv[2];
    const std::uint32_t chunk = argc > 3 ? static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 0)) : 65536;
    Pass pass;
    bool ok = false;
    if (mode == "read-seq")
        ok = ReadSequential(path, FILE_ATTRIBUTE_NORMAL, chunk, pass);
    else if (mode == "read-seq-nobuf")
        ok = ReadSequential(path, FILE_FLAG_NO_BUFFERING, chunk, pass);
    else if (mode == "read-plain")
        ok = ReadPlain(path, chunk, pass);
    else if (mode == "read-overlapped")
        ok = ReadOverlapped(path, pass);
    else if (mode == "write-seq")
        ok = WriteSequential(path, FILE_ATTRIBUTE_NORMAL, chunk, pass);
    else if (mode == "write-seq-nobuf")
        ok = WriteSequential(path, FILE_FLAG_NO_BUFFERING, chunk, pass);
    else if (mode == "write-plain")
        ok = WritePlain(path, chunk, pass);
    else
        return 2;
    if (!ok) {
        std::fprintf(stderr, "fileio_bench: cannot open %s (%lu)\n", path.c_str(), ::GetLastError());
        return 1;
    }
    std::printf("RESULT %s bytes=%llu seconds=%.6f flush=%.6f peak=%llu early=%llu demand=%llu ahead=%llu "
                "writes=%llu\n",
                mode.c_str(), static_cast<unsigned long long>(pass.bytes), pass.seconds, pass.flushSeconds,
                static_cast<unsigned long long>(PeakWorkingSet()),
                static_cast<unsigned long long>(pass.early ? pass.early : PeakWorkingSet()),
                static_cast<unsigned long long>(pass.counts.demandReads),
                static_cast<unsigned long long>(pass.counts.readAheads),
                static_cast<unsigned long long>(pass.counts.writes));
    return 0;
}
