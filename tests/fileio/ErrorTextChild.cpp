// errtext_child.exe CODE: looks the text of an application code up the way
// AppException does and prints it; exit code 1 when found, 0 when not. The
// message tests run it under the debugging interface to collect what the
// lookup sends to the debugger output.
#include "fileio/AppException.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    // Like the tests: only the directory of the program and the registry can
    // provide the message file, never the directory the test started in.
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (char* slash = std::strrchr(path, '\\'))
        *slash = '\0';
    ::SetCurrentDirectoryA(path);

    std::string text;
    const bool found = GetAppErrorText(static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 0)), text);
    std::printf("%s\n", text.c_str());
    return found ? 1 : 0;
}
