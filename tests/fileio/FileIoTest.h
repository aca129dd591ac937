// Chores shared by the file-layer tests.
#pragma once

#include "fileio/AppException.h"
#include "fileio/SequentialFile.h"
#include "tests/support/TestFiles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <regex>
#include <string>

namespace fileiotest {

constexpr std::uint32_t kBlock = 65536;
constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

inline std::string Pattern(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    std::mt19937 random(seed);
    for (char& b : bytes)
        b = static_cast<char>(random() & 0xFF);
    return bytes;
}

// A file of the given length and contents `Pattern(length, seed)`.
inline std::string MakeFile(const testfiles::ScratchDir& dir, const std::string& name, std::size_t length,
                            unsigned seed = 1)
{
    const std::string path = dir / name;
    testfiles::WriteAll(path, Pattern(length, seed));
    return path;
}

// Where two byte strings first differ ("" when they do not): gtest would
// print both whole.
inline std::string Mismatch(const std::string& expected, const std::string& actual)
{
    if (expected == actual)
        return "";
    const auto at = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end()).first;
    return "sizes " + std::to_string(expected.size()) + " and " + std::to_string(actual.size()) +
           ", first difference at " + std::to_string(at - expected.begin());
}

// what() with the line number of the location replaced by "#".
inline std::string Described(const std::exception& e)
{
    static const std::regex line(R"( LINE: \d+ - )");
    return std::regex_replace(std::string(e.what()), line, " LINE: # - ");
}

// The description of a write refused with `error` by a file layer call.
inline std::string WriteFailure(DWORD error, const std::string& where)
{
    std::string text;
    GetAppErrorText(kAppErrorWrite, text);
    char code[16];
    std::snprintf(code, sizeof code, "%lx", static_cast<unsigned long>(error));
    return "App Error 0xc00403f5: " + text + "Sys error 0x" + code + ": " + GetSystemErrorText(error) +
           "  FILE: SequentialFile.cpp LINE: # - " + where;
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
