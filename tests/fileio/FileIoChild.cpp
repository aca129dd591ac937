// fileio_child.exe MODE ARG, for the tests that need a process of their own.
//
//   errtext CODE  looks CODE's text up as AppException does; exit code 1 when
//                 found, 0 when not (run from a directory without the message
//                 file, so only the registry can lead to it)
//   leak PATH     writes PATH through a file never closed; main returns 0
//   static PATH   the same through a static object open at exit
//   reading PATH  reads ahead, then std::exit(0) from inside a nested call
//   exit PATH     writes, then ExitProcess(7): no destructors run
// PATH must exist with kExitLength bytes; the writes leave ExitByte(i) there.
#include "fileio/AppException.h"
#include "fileio/SequentialFile.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

constexpr std::uint32_t kExitLength = 8 * 65536 + 300;

char ExitByte(std::uint32_t i)
{
    return static_cast<char>((i * 7 + i / 65536) & 0xFF);
}

// Many small writes: blocks go to disk as they fill, so several transfers are
// in flight at any moment; the last block stays dirty.
void WriteAll(SequentialFile& file)
{
    std::string data(kExitLength, '\0');
    for (std::uint32_t i = 0; i < kExitLength; ++i)
        data[i] = ExitByte(i);
    FilePosition pos(file);
    for (std::uint32_t at = 0; at < kExitLength; at += 10000)
        file.Write(pos, data.data() + at, kExitLength - at < 10000 ? kExitLength - at : 10000);
}

SequentialFile& StaticFile()
{
    static SequentialFile file;
    return file;
}

[[noreturn]] void ExitFromInside()
{
    std::exit(0);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const std::string mode = argv[1];
    const std::string arg = argv[2];
    if (mode == "errtext") {
        std::string text;
        return GetAppErrorText(static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 0)), text) ? 1 : 0;
    }
    SequentialFile& file = mode == "static" ? StaticFile() : *new SequentialFile;
    const DWORD flags = mode == "static" ? FILE_FLAG_NO_BUFFERING : 0;
    if (!file.Open(arg, OPEN_EXISTING, GENERIC_READ | GENERIC_WRITE, 0, flags))
        return 3;
    if (mode == "reading") {
        FilePosition pos(file);
        char byte = 0;
        for (int i = 0; i < 3; ++i) {
            file.Read(pos, &byte, 1);
            pos.Seek(65535, 1);
        }
        ExitFromInside();
    }
    WriteAll(file);
    if (mode == "exit")
        ::ExitProcess(7);
    return 0;
}
