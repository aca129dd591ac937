"""The oldest Windows that Mediaprep.exe starts on, read off its import table
(the newest imported function decides): every import is known here, so that a
new one cannot raise that floor unnoticed, and the manifest's supportedOS list
and the README's table of the builds begin there."""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402

# The Windows versions the manifest can name, oldest first, with their ids.
WINDOWS = [("Windows XP", None), ("Windows Vista", "{e2011457-1546-43c5-a5fe-008deee3d3f0}"),
           ("Windows 7", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), ("Windows 8", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"),
           ("Windows 8.1", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"), ("Windows 10", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}")]
# The imports of either build that Windows XP (x64: Server 2003) lacks. A new
# import goes into KNOWN, and here with the oldest Windows whose DLL exports it
# when that is a later one. Recorders run for a decade: a call newer than
# Windows 7 needs more than convenience.
NEWER = {"Windows Vista": "CancelIoEx GetFileInformationByHandleEx GetFinalPathNameByHandleW GetTickCount64 "
                          "SetFileInformationByHandle Wow64DisableWow64FsRedirection Wow64RevertWow64FsRedirection",
         "Windows 7": "GetThreadErrorMode SetThreadErrorMode"}
# Every function that Mediaprep.exe of either build imports.
KNOWN = {
    "advapi32.dll": "RegCloseKey RegCreateKeyExA RegOpenKeyExA RegQueryValueExA RegSetValueExA",
    "comctl32.dll": "InitCommonControlsEx",
    "gdi32.dll": """CreateFontIndirectA DeleteObject GetDeviceCaps GetStockObject SelectObject SetBkMode
    SetDCBrushColor SetTextColor""",
    "kernel32.dll": """__C_specific_handler AddVectoredExceptionHandler AttachConsole CancelIoEx CloseHandle
    CreateDirectoryA CreateEventA CreateFileA CreateFileW CreateIoCompletionPort CreateSemaphoreA
    DeleteCriticalSection DeleteFileA DuplicateHandle EnterCriticalSection FindClose FindFirstFileA FindFirstFileW
    FindNextFileW FlushFileBuffers FormatMessageA FreeLibrary GetACP GetCurrentProcess GetCurrentProcessId
    GetCurrentThread GetCurrentThreadId GetDiskFreeSpaceExA GetDriveTypeA GetFileAttributesA GetFileAttributesW
    GetFileInformationByHandle GetFileInformationByHandleEx GetFileSizeEx GetFileType GetFinalPathNameByHandleW
    GetFullPathNameW GetHandleInformation GetLastError GetLocalTime GetModuleFileNameA GetModuleHandleA
    GetModuleHandleW GetOverlappedResult GetProcAddress GetProcessAffinityMask GetQueuedCompletionStatus
    GetStartupInfoA GetStdHandle GetSystemDirectoryA GetSystemTimeAsFileTime GetThreadContext GetThreadErrorMode
    GetThreadPriority GetTickCount64 GetTimeZoneInformation GetVolumeInformationA GetWindowsDirectoryA
    InitializeCriticalSection IsDBCSLeadByteEx IsDebuggerPresent LeaveCriticalSection LoadLibraryA LoadLibraryExA
    LoadLibraryW LocalFree lstrcmpiA lstrcpynA MoveFileExA MulDiv MultiByteToWideChar OpenProcess
    OutputDebugStringA PostQueuedCompletionStatus RaiseException ReadFile ReleaseSemaphore RemoveDirectoryW
    RemoveVectoredExceptionHandler ResetEvent ResumeThread RtlCaptureContext RtlLookupFunctionEntry RtlUnwindEx
    RtlVirtualUnwind SetEndOfFile SetEvent SetFileAttributesA SetFileAttributesW SetFileInformationByHandle
    SetFilePointer SetFilePointerEx SetLastError SetProcessAffinityMask SetThreadContext SetThreadErrorMode
    SetThreadPriority SetUnhandledExceptionFilter Sleep SuspendThread TlsAlloc TlsGetValue TlsSetValue
    TryEnterCriticalSection VirtualAlloc VirtualFree VirtualProtect VirtualQuery WaitForMultipleObjects
    WaitForSingleObject WideCharToMultiByte Wow64DisableWow64FsRedirection Wow64RevertWow64FsRedirection WriteFile""",
    "msvcrt.dll": """___lc_codepage_func ___mb_cur_max_func __argc __argv __getmainargs __initenv __iob_func
    __mb_cur_max __p___argv __p__acmdln __p__commode __p__fmode __set_app_type __setusermatherr _access _acmdln
    _amsg_exit _beginthreadex _cexit _close _commode _endthreadex _errno _fdopen _fileno _fmode _fstat64 _initterm
    _iob _lseeki64 _onexit _read _setjmp _setjmp3 _strdup _ultoa _wfopen _write abort atoi calloc exit fclose
    fflush fopen fprintf fputc fputs free fwrite iswctype localeconv longjmp malloc memchr memcmp memcpy memmove
    memset printf realloc setlocale setvbuf signal strchr strcmp strcoll strerror strftime strlen strncmp strxfrm
    toupper towlower towupper vfprintf wcscmp wcscoll wcsftime wcslen wcsxfrm""",
    "ole32.dll": "CoCreateGuid CoInitializeEx CoUninitialize",
    "user32.dll": """AppendMenuA BeginPaint DestroyIcon DialogBoxParamA DispatchMessageA DrawIcon DrawTextA
    EndDialog EndPaint EqualRect FillRect GetClientRect GetDC GetDlgItem GetMessageA GetMonitorInfoA GetSystemMenu
    GetSystemMetrics GetWindow GetWindowLongA GetWindowLongPtrA GetWindowRect GetWindowTextA IsIconic
    IsWindowVisible LoadCursorA LoadIconA LoadImageA LoadStringA MessageBoxA MonitorFromWindow ReleaseDC
    SendDlgItemMessageA SendMessageA SetCursor SetDlgItemTextA SetWindowLongA SetWindowLongPtrA SetWindowPos
    TranslateMessage""",
    "version.dll": "GetFileVersionInfoA GetFileVersionInfoSizeA",
}


def imports(objdump, exe):
    """{dll: {function, ...}} as `objdump -p` lists the import table."""
    found, dll = {}, None
    for line in subprocess.run([objdump, "-p", str(exe)], capture_output=True, text=True, check=True).stdout.splitlines():
        if m := re.match(r"\s*DLL Name: (\S+)", line):
            dll = found.setdefault(m.group(1).lower(), set())
        elif dll is not None and (m := re.fullmatch(r"\s*[0-9a-f]+\s+\d+\s+(\S+)", line)):
            dll.add(m.group(1))
        elif not line.strip():
            dll = None
    return found


class ImportTable(unittest.TestCase):
    def test_every_import_is_known_and_the_newest_names_the_oldest_windows(self):
        cache = (mptest.BUILD / "CMakeCache.txt").read_text()
        objdump = re.search(r"^CMAKE_OBJDUMP:FILEPATH=(.*)$", cache, re.M).group(1)
        found = imports(objdump, mptest.exe("Mediaprep.exe"))
        self.assertIn("CreateFileA", found.get("kernel32.dll", ()))
        unknown = [f"{dll}!{name}" for dll, names in sorted(found.items())
                   for name in sorted(names - set(KNOWN.get(dll, "").split()))]
        self.assertEqual([], unknown, "new imports: enter them in KNOWN, and in NEWER when Windows XP lacks them")
        used = set().union(*found.values())
        oldest = max(i for i, (name, _) in enumerate(WINDOWS) if i == 0 or used & set(NEWER.get(name, "").split()))
        manifest = (mptest.BUILD / "app" / "generated" / "Mediaprep.manifest").read_text()
        self.assertEqual([id for _, id in WINDOWS[oldest:] if id], re.findall(r'supportedOS Id="([^"]+)"', manifest))
        readme = (mptest.REPO / "README.md").read_text()
        row = re.search(rf"^\| `build/{mptest.BUILD.name}/Mediaprep.exe` \|[^|\n]*\| ([^|\n]+) \|$", readme, re.M)
        self.assertEqual(WINDOWS[oldest][0], row and row.group(1))


if __name__ == "__main__":
    mptest.main()
