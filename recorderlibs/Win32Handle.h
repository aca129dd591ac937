// Ownership of Win32 handles, visible in the type.
//
// Every handle the program opens lives in one of these owners, so that no
// path (early return, exception) can leak it and no code closes by hand.
#pragma once

#include <windows.h>

#include <utility>

namespace win32 {

template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept : m_value(Traits::Invalid()) {}
    explicit UniqueResource(Type value) noexcept : m_value(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    Type get() const noexcept { return m_value; }
    bool valid() const noexcept { return m_value != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    Type release() noexcept
    {
        Type value = m_value;
        m_value = Traits::Invalid();
        return value;
    }

    // Closes the held handle; reports whether the close itself succeeded.
    bool reset(Type value = Traits::Invalid()) noexcept
    {
        bool closed = true;
        if (valid())
            closed = Traits::Close(m_value);
        m_value = value;
        return closed;
    }

    // For out-parameters of APIs such as RegOpenKeyExA.
    Type* put() noexcept
    {
        reset();
        return &m_value;
    }

private:
    Type m_value;
};

struct KernelHandleTraits {  // events, threads, completion ports: null when absent
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type h) noexcept { return ::CloseHandle(h) != FALSE; }
};

struct FileHandleTraits {  // CreateFileA reports failure as INVALID_HANDLE_VALUE
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool Close(Type h) noexcept { return ::CloseHandle(h) != FALSE; }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool Close(Type h) noexcept { return ::FindClose(h) != FALSE; }
};

struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type h) noexcept { return ::RegCloseKey(h) == ERROR_SUCCESS; }
};

struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type h) noexcept { return ::FreeLibrary(h) != FALSE; }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueFindHandle = UniqueResource<FindHandleTraits>;
using UniqueRegKey = UniqueResource<RegKeyTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;

// While it lives, the calling thread's errors of a drive without a disk (an
// empty card reader or disc drive) come back as failures instead of a box
// that waits for someone to answer it.
class QuietDriveErrors {
public:
    QuietDriveErrors() noexcept
        : m_set(::SetThreadErrorMode(::GetThreadErrorMode() | SEM_FAILCRITICALERRORS, &m_previous) != FALSE)
    {
    }
    ~QuietDriveErrors()
    {
        if (m_set)
            ::SetThreadErrorMode(m_previous, nullptr);
    }
    QuietDriveErrors(const QuietDriveErrors&) = delete;
    QuietDriveErrors& operator=(const QuietDriveErrors&) = delete;

private:
    DWORD m_previous = 0;
    bool m_set;
};

// While it lives, the calling thread's file names in the system directory
// mean what they mean to a 64-bit program. Under WOW64 a 32-bit program's
// "System32" is otherwise its own 32-bit directory (SysWOW64), and files that
// 64-bit software installed there, or that the event log names there, are out
// of its sight. A 64-bit program, or any program on 32-bit Windows, has no
// redirection: then the call fails and nothing changes. Keep the scope to
// loads of data files: code (DLLs) must still come from the redirected side.
class NativeSystemDirectory {
public:
    NativeSystemDirectory() noexcept : m_set(::Wow64DisableWow64FsRedirection(&m_previous) != FALSE) {}
    ~NativeSystemDirectory()
    {
        if (m_set)
            ::Wow64RevertWow64FsRedirection(m_previous);
    }
    NativeSystemDirectory(const NativeSystemDirectory&) = delete;
    NativeSystemDirectory& operator=(const NativeSystemDirectory&) = delete;

private:
    void* m_previous = nullptr;
    bool m_set;
};

// A failed platform call as a value: the GetLastError() code and the call.
struct Error {
    DWORD code = ERROR_SUCCESS;
    const char* where = "";

    bool failed() const noexcept { return code != ERROR_SUCCESS; }
    static Error Last(const char* where) noexcept { return Error{::GetLastError(), where}; }
};

}  // namespace win32
