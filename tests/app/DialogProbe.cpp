// dlgprobe.exe: the GUI tests' eyes inside the sandbox; MATCH is caption=TEXT, child=ID or (send only,
// hidden windows too) class=NAME, and a dialog is described in JSON, its rectangle on the screen.
//   wait SECONDS MATCH [gone]  the first visible dialog that matches, once there is one ("null" and
//                              exit 1 after SECONDS); with gone: once none matches
//   watch SECONDS MATCH        the dialog every 0.1 s, each sample with whether it answered within 1 s
//   send MESSAGE WPARAM MATCH  sends the message (numbers in any C form), prints its answer
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string TextOf(HWND hwnd)
{
    // A control's text lives in its own process: ask the control.
    char text[4096] = "";
    DWORD_PTR copied = 0;
    const bool answered = ::SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                                                SMTO_ABORTIFHUNG, 2000, &copied);
    return answered ? std::string(text, copied < sizeof text ? copied : sizeof text - 1) : "";
}

std::string JsonText(HWND hwnd)
{
    std::string out = "\"";
    for (unsigned char c : TextOf(hwnd)) {
        char escaped[8] = {static_cast<char>(c), '\0'};
        if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\')
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
        out += escaped;
    }
    return out + "\"";
}

std::string Describe(HWND dialog)
{
    RECT r{};
    ::GetWindowRect(dialog, &r);
    char head[256];
    std::snprintf(head, sizeof head,
                  "{\"hwnd\": %llu, \"owner\": %llu, \"enabled\": %s, \"rect\": [%ld, %ld, %ld, %ld], \"caption\": ",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(dialog)),
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(::GetWindow(dialog, GW_OWNER))),
                  ::IsWindowEnabled(dialog) ? "true" : "false", r.left, r.top, r.right, r.bottom);
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &thread);
    std::string out = head + JsonText(dialog) + ", \"focus\": " +
                      std::to_string(thread.hwndFocus ? static_cast<short>(::GetDlgCtrlID(thread.hwndFocus)) : 0) +
                      ", \"children\": [";
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        char name[32] = "";
        ::GetClassNameA(child, name, sizeof name);
        DWORD_PTR position = 0;
        if (_stricmp(name, "msctls_progress32") == 0)
            ::SendMessageTimeoutA(child, WM_USER + 8 /* PBM_GETPOS */, 0, 0, SMTO_ABORTIFHUNG, 2000, &position);
        out += std::string(out.back() == '[' ? "" : ", ") + "{\"id\": " +
               std::to_string(static_cast<short>(::GetDlgCtrlID(child))) + ", \"style\": " +
               std::to_string(static_cast<unsigned long>(::GetWindowLongA(child, GWL_STYLE))) +
               ", \"visible\": " + (::IsWindowVisible(child) ? "true" : "false") +
               ", \"enabled\": " + (::IsWindowEnabled(child) ? "true" : "false") +
               ", \"position\": " + std::to_string(position) + ", \"text\": " + JsonText(child) + "}";
    }
    return out + "]}";
}

struct Search {
    std::string wanted;
    bool byCaption;
    HWND found;
};

// The first visible dialog that matches, in the order of the window list.
BOOL CALLBACK Match(HWND hwnd, LPARAM param)
{
    auto& s = *reinterpret_cast<Search*>(param);
    char name[16] = "";
    ::GetClassNameA(hwnd, name, sizeof name);
    if (::IsWindowVisible(hwnd) && std::strcmp(name, "#32770") == 0 &&
        (s.byCaption ? TextOf(hwnd) == s.wanted : ::GetDlgItem(hwnd, std::atoi(s.wanted.c_str())) != nullptr))
        s.found = hwnd;
    return s.found == nullptr;
}

HWND Find(const std::string& match)
{
    if (match.rfind("class=", 0) == 0)
        return ::FindWindowA(match.substr(6).c_str(), nullptr);
    Search search{match.substr(match.find('=') + 1), match.rfind("caption=", 0) == 0, nullptr};
    ::EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int Watch(DWORD milliseconds, const std::string& match)
{
    const char* separator = "[";
    for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start <= milliseconds; separator = ",") {
        HWND dialog = Find(match);
        DWORD_PTR ignored = 0;
        const bool answered =
            dialog != nullptr && ::SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored);
        std::printf("%s{\"answered\": %s, \"dialog\": %s}\n", separator, answered ? "true" : "false",
                    dialog ? Describe(dialog).c_str() : "null");
        ::Sleep(100);
    }
    std::printf("]\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "send") == 0) {
        const HWND window = Find(argv[4]);
        DWORD_PTR answer = 0;
        if (window == nullptr || !::SendMessageTimeoutA(window, std::strtoul(argv[2], nullptr, 0),
                                                        std::strtoul(argv[3], nullptr, 0), 0, SMTO_NORMAL, 20000, &answer))
            return 1;
        std::printf("%llu\n", static_cast<unsigned long long>(answer));
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "watch") == 0)
        return Watch(static_cast<DWORD>(std::atof(argv[2]) * 1000), argv[3]);
    if ((argc != 4 && argc != 5) || std::strcmp(argv[1], "wait") != 0)
        return 2;
    const std::string match = argv[3];
    const DWORD milliseconds = static_cast<DWORD>(std::atof(argv[2]) * 1000);
    for (const DWORD start = ::GetTickCount();; ::Sleep(50)) {
        const HWND found = Find(match);
        if ((argc == 5) == (found == nullptr)) {
            std::printf("%s\n", found ? Describe(found).c_str() : "null");
            return 0;
        }
        if (::GetTickCount() - start > milliseconds) {
            std::printf("null\n");
            return 1;
        }
    }
}
