// The backup and restore privileges, enabled while the drives are examined,
// looked at and wiped.
//
// With them, every open with FILE_FLAG_BACKUP_SEMANTICS (all of the wipe's,
// and Windows' own directory listings) passes the access checks of the
// entry's ACL: SeBackupPrivilege for reading and listing, SeRestorePrivilege
// for deleting and writing attributes. So a file whose ACL denies
// administrators, or a tree owned by TrustedInstaller, no longer leaves its
// drive whole. Windows gives both to administrators, disabled; a program has
// to enable them. A token without them (a user who is no administrator) is
// left as it is: the wipe then meets the ACLs as before.
#pragma once

#include "recorderlibs/Win32Handle.h"

#include <windows.h>

// The token calls, as the system answers them; tests put others in their place.
class PrivilegeCalls {
public:
    virtual ~PrivilegeCalls() = default;
    // OpenProcessToken of this process for adjusting and querying privileges.
    virtual bool OpenToken(HANDLE& token);
    virtual bool Lookup(const char* name, LUID& luid);
    // AdjustTokenPrivileges of one privilege to `attributes`: ERROR_SUCCESS,
    // ERROR_NOT_ALL_ASSIGNED when the token lacks it, or the call's error;
    // `previous` gets the attributes it had.
    virtual DWORD Adjust(HANDLE token, const LUID& luid, DWORD attributes, DWORD& previous);

    static PrivilegeCalls& System();
};

// Enables both where the token has them, for its lifetime; each goes back to
// what it was when the object goes.
class BackupPrivileges {
public:
    explicit BackupPrivileges(PrivilegeCalls& calls = PrivilegeCalls::System());
    ~BackupPrivileges();
    BackupPrivileges(const BackupPrivileges&) = delete;
    BackupPrivileges& operator=(const BackupPrivileges&) = delete;

    bool backup() const { return m_backup.enabled; }
    bool restore() const { return m_restore.enabled; }

private:
    struct Privilege {
        LUID luid{};
        bool enabled = false;
        DWORD previous = 0;
    };
    void Enable(const char* name, Privilege& privilege);

    PrivilegeCalls& m_calls;
    win32::UniqueHandle m_token;
    Privilege m_backup;
    Privilege m_restore;
};
