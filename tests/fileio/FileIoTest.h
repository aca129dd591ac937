// Chores shared by the file-layer tests.
#pragma once

#include "fileio/AppException.h"
#include "fileio/SequentialFile.h"
#include "tests/support/TestFiles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
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

inline bool AllFree(const FileBufferPool& read, const FileBufferPool& write)
{
    return read.FreeBufferCount() == read.BufferCount() && write.FreeBufferCount() == write.BufferCount();
}

template <typename Action>
AppException CatchApp(Action&& action)
{
    try {
        action();
        ADD_FAILURE() << "no exception";
    } catch (const AppException& e) {
        return e;
    }
    return AppException("", 0, 0);
}

}  // namespace fileiotest
