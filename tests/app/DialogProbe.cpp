// dlgprobe.exe: the GUI tests' eyes inside the sandbox. Finds the dialog
// windows of any process and describes them in JSON, rectangles in screen
// coordinates.
//
//   dlgprobe windows        every visible dialog window
//   dlgprobe wait SECONDS [caption=TEXT] [child=ID] [gone]
//                           the first dialog that matches, as soon as there is
//                           one (exit 1 after SECONDS); with "gone": wait
//                           until none matches
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

std::string Json(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x80) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Json(const RECT& r)
{
    char text[96];
    std::snprintf(text, sizeof text, "[%ld, %ld, %ld, %ld]", r.left, r.top, r.right, r.bottom);
    return text;
}

std::string ClassOf(HWND hwnd)
{
    char name[256] = "";
    ::GetClassNameA(hwnd, name, sizeof name);
    return name;
}

std::string TextOf(HWND hwnd)
{
    // A control's text lives in its own process: ask the control.
    char text[4096] = "";
    DWORD_PTR copied = 0;
    if (::SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                              2000, &copied))
        return std::string(text, copied < sizeof text ? copied : sizeof text - 1);
    return "";
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
    std::string out = head;
    out += "\"caption\": " + Json(TextOf(dialog)) + ", \"rect\": " + Json(frame);
    out += ", \"children\": [";
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        RECT r{};
        ::GetWindowRect(child, &r);
        char item[64];
        std::snprintf(item, sizeof item, "{\"id\": %d, \"style\": %lu, ",
                      static_cast<int>(static_cast<short>(::GetDlgCtrlID(child))),
                      static_cast<unsigned long>(::GetWindowLongA(child, GWL_STYLE)));
        out += (out.back() == '[' ? "" : ", ") + std::string(item) + "\"class\": " + Json(ClassOf(child)) +
               ", \"text\": " + Json(TextOf(child)) + ", \"rect\": " + Json(r) + "}";
    }
    return out + "]}";
}

std::vector<HWND> VisibleDialogs()
{
    std::vector<HWND> found;
    ::EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
            if (::IsWindowVisible(hwnd) && ClassOf(hwnd) == "#32770")
                reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

int Wait(int argc, char** argv)
{
    const DWORD timeout = static_cast<DWORD>(std::atof(argv[2]) * 1000);
    std::optional<std::string> caption;
    std::optional<int> child;
    bool gone = false;
    for (int i = 3; i < argc; ++i) {
        if (std::strncmp(argv[i], "caption=", 8) == 0)
            caption = argv[i] + 8;
        else if (std::strncmp(argv[i], "child=", 6) == 0)
            child = std::atoi(argv[i] + 6);
        else if (std::strcmp(argv[i], "gone") == 0)
            gone = true;
        else
            return 2;
    }
    for (const DWORD start = ::GetTickCount();; ::Sleep(50)) {
        HWND hit = nullptr;
        for (HWND dialog : VisibleDialogs()) {
            if ((!caption || TextOf(dialog) == *caption) && (!child || ::GetDlgItem(dialog, *child) != nullptr)) {
                hit = dialog;
                break;
            }
        }
        if (gone ? hit == nullptr : hit != nullptr) {
            std::printf("%s\n", gone ? "null" : Describe(hit).c_str());
            return 0;
        }
        if (::GetTickCount() - start > timeout) {
            std::printf("null\n");
            return 1;
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "windows") == 0) {
        std::string out = "[";
        for (HWND dialog : VisibleDialogs())
            out += (out.size() > 1 ? ", " : "") + Describe(dialog);
        std::printf("%s]\n", out.c_str());
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "wait") == 0)
        return Wait(argc, argv);
    std::fprintf(stderr, "usage: dlgprobe windows | wait SECONDS [caption=TEXT] [child=ID] [gone]\n");
    return 2;
}
