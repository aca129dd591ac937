// fileio_child.exe MODE PATH ends its process while a file is open and
// transfers are in flight. PATH must exist with 8 blocks and 300 bytes; the
// writes leave byte (i * 7 + i / 65536) & 0xFF at each offset i.
//   leak     writes through a file never closed; main returns 0
//   static   the same through a static object open at exit
//   reading  reads ahead, then std::exit(0)
//   exit     writes, then ExitProcess(7): no destructors run
#include "fileio/SequentialFile.h"

#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const std::string mode = argv[1];
    const bool isStatic = mode == "static";
    auto staticFile = []() -> SequentialFile& {  // made only when asked for
        static SequentialFile file;
        return file;
    };
    SequentialFile& file = isStatic ? staticFile() : *new SequentialFile;
    if (!file.Open(argv[2], OPEN_EXISTING, GENERIC_READ | GENERIC_WRITE, 0, isStatic ? FILE_FLAG_NO_BUFFERING : 0))
        return 3;
    FilePosition pos(file);
    char byte = 0;
    for (int i = 0; mode == "reading" && i < 3; ++i, pos.Seek(65535, 1))
        file.Read(pos, &byte, 1);
    if (mode == "reading")
        std::exit(0);
    // Many small writes: blocks go to disk as they fill, so several transfers
    // are in flight at any moment; the last block stays dirty.
    constexpr std::uint32_t kLength = 8 * 65536 + 300;
    std::string data(kLength, '\0');
    for (std::uint32_t i = 0; i < kLength; ++i)
        data[i] = static_cast<char>((i * 7 + i / 65536) & 0xFF);
    for (std::uint32_t at = 0; at < kLength; at += 10000)
        file.Write(pos, data.data() + at, kLength - at < 10000 ? kLength - at : 10000);
    if (mode == "exit")
        ::ExitProcess(7);
    return 0;
}
