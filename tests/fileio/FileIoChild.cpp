// fileio_child.exe leak|exit PATH ends its process with a file open and transfers in flight: leak returns
// from main, exit calls ExitProcess(7) (no destructors). PATH must exist with 8 blocks and 300 bytes; the writes
// leave byte (i * 7 + i / 65536) & 0xFF at each offset i.
#include "fileio/SequentialFile.h"

#include <windows.h>

#include <string>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    SequentialFile& file = *new SequentialFile;
    if (!file.Open(argv[2], OPEN_EXISTING, GENERIC_READ | GENERIC_WRITE, 0))
        return 3;
    FilePosition pos(file);
    // Many small writes: blocks go to disk as they fill, so several transfers
    // are in flight at any moment; the last block stays dirty.
    constexpr std::uint32_t kLength = 8 * 65536 + 300;
    std::string data(kLength, '\0');
    for (std::uint32_t i = 0; i < kLength; ++i)
        data[i] = static_cast<char>((i * 7 + i / 65536) & 0xFF);
    for (std::uint32_t at = 0; at < kLength; at += 10000)
        file.Write(pos, data.data() + at, kLength - at < 10000 ? kLength - at : 10000);
    if (std::string(argv[1]) == "exit")
        ::ExitProcess(7);
    return 0;
}
