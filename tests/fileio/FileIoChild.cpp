// fileio_child.exe MODE PATH: ends its process while a file is open and
// transfers are in flight. PATH must exist with kExitLength bytes; the writes
// leave ExitByte(i) there.
//
//   leak     writes through a file never closed; main returns 0
//   static   the same through a static object open at exit
//   reading  reads ahead, then std::exit(0) from inside a nested call
//   exit     writes, then ExitProcess(7): no destructors run
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
    SequentialFile& file = mode == "static" ? StaticFile() : *new SequentialFile;
    const DWORD flags = mode == "static" ? FILE_FLAG_NO_BUFFERING : 0;
    if (!file.Open(argv[2], OPEN_EXISTING, GENERIC_READ | GENERIC_WRITE, 0, flags))
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
