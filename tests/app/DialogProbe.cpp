// dlgprobe.exe: the GUI tests' eyes inside the sandbox.
//
//   dlgprobe wait SECONDS caption=TEXT|child=ID [gone]
//
// describes the first visible dialog window of any process that matches, as
// soon as there is one, in JSON (rectangles in screen coordinates); "null"
// and exit code 1 when there is none within SECONDS. With "gone": waits
// until none matches.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Json(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        char escaped[8] = {static_cast<char>(c), '\0'};
        if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\')
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
        out += escaped;
    }
    return out + "\"";
}

std::string Json(const RECT& r)
{
    char text[96];
    std::snprintf(text, sizeof text, "[%ld, %ld, %ld, %ld]", r.left, r.top, r.right, r.bottom);
    return text;
}

std::string TextOf(HWND hwnd)
{
    // A control's text lives in its own process: ask the control.
    char text[4096] = "";
    DWORD_PTR copied = 0;
    const bool answered = ::SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                                                SMTO_ABORTIFHUNG, 2000, &copied);
    return answered ? std::string(text, copied < sizeof text ? copied : sizeof text - 1) : "";
}

std::string Describe(HWND dialog)
{
    RECT frame{};
    ::GetWindowRect(dialog, &frame);
    char head[160];
    std::snprintf(head, sizeof head, "{\"hwnd\": %llu, \"owner\": %llu, \"enabled\": %s, ",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(dialog)),
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(::GetWindow(dialog, GW_OWNER))),
                  ::IsWindowEnabled(dialog) ? "true" : "false");
    std::string out = head + ("\"caption\": " + Json(TextOf(dialog))) + ", \"rect\": " + Json(frame);
    out += ", \"children\": [";
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        RECT r{};
        ::GetWindowRect(child, &r);
        char item[64];
        std::snprintf(item, sizeof item, "{\"id\": %d, \"style\": %lu, ",
                      static_cast<int>(static_cast<short>(::GetDlgCtrlID(child))),
                      static_cast<unsigned long>(::GetWindowLongA(child, GWL_STYLE)));
        out += (out.back() == '[' ? "" : ", ") + std::string(item) + "\"text\": " + Json(TextOf(child)) +
               ", \"rect\": " + Json(r) + "}";
    }
    return out + "]}";
}

std::vector<HWND> VisibleDialogs()
{
    std::vector<HWND> found;
    ::EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
            char name[16] = "";
            ::GetClassNameA(hwnd, name, sizeof name);
            if (::IsWindowVisible(hwnd) && std::strcmp(name, "#32770") == 0)
                reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// match: caption=TEXT or child=ID.
int Wait(DWORD milliseconds, const std::string& match, bool gone)
{
    const std::string wanted = match.substr(match.find('=') + 1);
    const bool byCaption = match.rfind("caption=", 0) == 0;
    for (const DWORD start = ::GetTickCount();; ::Sleep(50)) {
        const std::vector<HWND> dialogs = VisibleDialogs();
        const auto hit = std::find_if(dialogs.begin(), dialogs.end(), [&](HWND dialog) {
            return byCaption ? TextOf(dialog) == wanted : ::GetDlgItem(dialog, std::atoi(wanted.c_str())) != nullptr;
        });
        if (gone == (hit == dialogs.end())) {
            std::printf("%s\n", gone ? "null" : Describe(*hit).c_str());
            return 0;
        }
        if (::GetTickCount() - start > milliseconds) {
            std::printf("null\n");
            return 1;
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "wait") == 0)
        return Wait(static_cast<DWORD>(std::atof(argv[2]) * 1000), argv[3], argc == 5);
    std::fprintf(stderr, "usage: dlgprobe wait SECONDS caption=TEXT|child=ID [gone]\n");
    return 2;
}
