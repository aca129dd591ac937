// A Win32 critical section usable with std::lock_guard and std::unique_lock.
//
// Critical sections are re-entrant: the thread that holds one may take it
// again, which the volume handler relies on when its operations call each other.
#pragma once

#include <windows.h>

class CriticalSection {
public:
    CriticalSection() noexcept { ::InitializeCriticalSection(&m_section); }
    ~CriticalSection() { ::DeleteCriticalSection(&m_section); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void lock() noexcept { ::EnterCriticalSection(&m_section); }
    void unlock() noexcept { ::LeaveCriticalSection(&m_section); }
    bool try_lock() noexcept { return ::TryEnterCriticalSection(&m_section) != FALSE; }

private:
    CRITICAL_SECTION m_section;
};
