#include "volumes/BackupPrivileges.h"

bool PrivilegeCalls::OpenToken(HANDLE& token)
{
    return ::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token) != FALSE;
}

bool PrivilegeCalls::Lookup(const char* name, LUID& luid)
{
    return ::LookupPrivilegeValueA(nullptr, name, &luid) != FALSE;
}

DWORD PrivilegeCalls::Adjust(HANDLE token, const LUID& luid, DWORD attributes, DWORD& previous)
{
    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Luid = luid;
    wanted.Privileges[0].Attributes = attributes;
    TOKEN_PRIVILEGES before{};
    DWORD size = sizeof before;
    // It succeeds when the token lacks the privilege too, saying so in the last error.
    if (!::AdjustTokenPrivileges(token, FALSE, &wanted, sizeof before, &before, &size)) {
        const DWORD error = ::GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
    }
    const DWORD error = ::GetLastError();
    previous = before.PrivilegeCount == 1 ? before.Privileges[0].Attributes : attributes;
    return error;
}

PrivilegeCalls& PrivilegeCalls::System()
{
    static PrivilegeCalls system;
    return system;
}

BackupPrivileges::BackupPrivileges(PrivilegeCalls& calls) : m_calls(calls)
{
    HANDLE token = nullptr;
    if (!m_calls.OpenToken(token))
        return;
    m_token.reset(token);
    Enable("SeBackupPrivilege", m_backup);
    Enable("SeRestorePrivilege", m_restore);
}

BackupPrivileges::~BackupPrivileges()
{
    DWORD ignored = 0;
    for (const Privilege* privilege : {&m_restore, &m_backup})
        if (privilege->enabled && !(privilege->previous & SE_PRIVILEGE_ENABLED))
            m_calls.Adjust(m_token.get(), privilege->luid, privilege->previous, ignored);
}

void BackupPrivileges::Enable(const char* name, Privilege& privilege)
{
    privilege.enabled = m_calls.Lookup(name, privilege.luid) &&
                        m_calls.Adjust(m_token.get(), privilege.luid, SE_PRIVILEGE_ENABLED, privilege.previous) ==
                            ERROR_SUCCESS;
}
