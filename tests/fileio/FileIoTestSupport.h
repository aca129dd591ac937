// Chores shared by the file-layer tests: text checks for exceptions, and the
// file chores of FileIoTestFiles.h.
#pragma once

#include "fileio/AppException.h"
#include "tests/fileio/FileIoTestFiles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

namespace fileiotest {

// The directory of the running test program, with a trailing backslash.
inline std::string ProgramDirectory()
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path);
    return directory.substr(0, directory.find_last_of('\\') + 1);
}

// what() with the line number of the location replaced by "#".
inline std::string Described(const std::exception& e)
{
    static const std::regex line(R"( LINE: \d+ - )");
    return std::regex_replace(std::string(e.what()), line, " LINE: # - ");
}

inline std::string AppText(std::uint32_t code)
{
    std::string text;
    GetAppErrorText(code, text);
    return text;
}

// Runs a statement that must throw an AppException and hands it back.
template <typename Action>
AppException CatchApp(Action&& action)
{
    try {
        action();
    } catch (const AppException& e) {
        return e;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "another exception: " << e.what();
        return AppException("", 0, 0);
    }
    ADD_FAILURE() << "no exception";
    return AppException("", 0, 0);
}

}  // namespace fileiotest
