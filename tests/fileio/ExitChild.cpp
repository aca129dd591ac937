// fileio_exit_child.exe MODE PATH: ends the process while files are open and
// transfers are in flight. PATH must exist with kLength bytes.
//
//   leak         a file that is never closed or destroyed; main returns 0
//   static       a file in a static object, open at exit; main returns 0
//   reading      reads ahead, then std::exit(0) from inside a nested call
//   exitprocess  ExitProcess(7) right after the writes (no destructors run)
#include "fileio/SequentialFile.h"
#include "tests/fileio/FileIoTestFiles.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::uint32_t kLength = 8 * 65536 + 300;

// Many small sequential writes: blocks are written behind as they fill, so
// several transfers are in flight at any moment; the last block stays dirty.
void WriteAll(SequentialFile& file)
{
    const std::vector<char> data = fileiotest::Pattern(kLength, 77);
    FilePosition pos(file);
    for (std::uint32_t at = 0; at < kLength; at += 10000) {
        const std::uint32_t count = kLength - at < 10000 ? kLength - at : 10000;
        file.Write(pos, data.data() + at, count);
    }
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
    const std::string path = argv[2];
    const DWORD access = GENERIC_READ | GENERIC_WRITE;
    if (mode == "leak") {
        SequentialFile* file = new SequentialFile;
        if (!file->Open(path, OPEN_EXISTING, access, 0))
            return 3;
        WriteAll(*file);
        return 0;
    }
    if (mode == "static") {
        if (!StaticFile().Open(path, OPEN_EXISTING, access, 0, FILE_FLAG_NO_BUFFERING))
            return 3;
        WriteAll(StaticFile());
        return 0;
    }
    if (mode == "reading") {
        SequentialFile* file = new SequentialFile;
        if (!file->Open(path, OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ))
            return 3;
        FilePosition pos(*file);
        char byte = 0;
        for (int i = 0; i < 3; ++i) {
            file->Read(pos, &byte, 1);
            pos.Seek(65535, 1);
        }
        ExitFromInside();
    }
    if (mode == "exitprocess") {
        SequentialFile* file = new SequentialFile;
        if (!file->Open(path, OPEN_EXISTING, access, 0))
            return 3;
        WriteAll(*file);
        ::ExitProcess(7);
    }
    return 2;
}
