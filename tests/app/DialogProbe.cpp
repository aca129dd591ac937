// dlgprobe.exe: the GUI tests' eyes inside the sandbox. "dlgprobe wait SECONDS
// caption=TEXT|child=ID [gone]" describes the first visible dialog window of any
// process that matches, as soon as there is one, in JSON (rectangles in screen
// coordinates); "null" and exit code 1 when there is none within SECONDS. With
// "gone": waits until none matches.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

std::string Json(HWND hwnd)
{
    RECT r{};
    ::GetWindowRect(hwnd, &r);
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
    char head[160];
    std::snprintf(head, sizeof head, "{\"hwnd\": %llu, \"owner\": %llu, \"enabled\": %s, ",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(dialog)),
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(::GetWindow(dialog, GW_OWNER))),
                  ::IsWindowEnabled(dialog) ? "true" : "false");
    std::string out = head + ("\"caption\": " + Json(TextOf(dialog))) + ", \"rect\": " + Json(dialog);
    out += ", \"children\": [";
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        char item[64];
        std::snprintf(item, sizeof item, "{\"id\": %d, \"style\": %lu, ",
                      static_cast<int>(static_cast<short>(::GetDlgCtrlID(child))),
                      static_cast<unsigned long>(::GetWindowLongA(child, GWL_STYLE)));
        out += (out.back() == '[' ? "" : ", ") + std::string(item) + "\"text\": " + Json(TextOf(child)) +
               ", \"rect\": " + Json(child) + "}";
    }
    return out + "]}";
}

struct Search {
    std::string wanted;
    bool byCaption;
    HWND found;
};

// The first visible dialog that matches, in the order of the window list.
HWND Find(const std::string& match)
{
    Search search{match.substr(match.find('=') + 1), match.rfind("caption=", 0) == 0, nullptr};
    ::EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(param);
            char name[16] = "";
            ::GetClassNameA(hwnd, name, sizeof name);
            if (::IsWindowVisible(hwnd) && std::strcmp(name, "#32770") == 0 &&
                (s.byCaption ? TextOf(hwnd) == s.wanted : ::GetDlgItem(hwnd, std::atoi(s.wanted.c_str())) != nullptr))
                s.found = hwnd;
            return s.found == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

int main(int argc, char** argv)
{
    if ((argc != 4 && argc != 5) || std::strcmp(argv[1], "wait") != 0) {
        std::fprintf(stderr, "usage: dlgprobe wait SECONDS caption=TEXT|child=ID [gone]\n");
        return 2;
    }
    const bool gone = argc == 5;
    const DWORD milliseconds = static_cast<DWORD>(std::atof(argv[2]) * 1000);
    for (const DWORD start = ::GetTickCount();; ::Sleep(50)) {
        const HWND hit = Find(argv[3]);
        if (gone == (hit == nullptr)) {
            std::printf("%s\n", gone ? "null" : Describe(hit).c_str());
            return 0;
        }
        if (::GetTickCount() - start > milliseconds) {
            std::printf("null\n");
            return 1;
        }
    }
}
