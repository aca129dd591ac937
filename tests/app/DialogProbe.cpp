// dlgprobe.exe: the GUI tests' eyes inside the sandbox. Finds dialog windows
// of any process by caption or control identifier and describes them, and
// reads dialog templates and strings out of an executable's resources. Every
// answer is one line of JSON.
//
//   dlgprobe windows                       every visible dialog window
//   dlgprobe wait SECONDS [caption=TEXT] [child=ID] [gone]
//                                          the first dialog that matches, as
//                                          soon as there is one (exit 1 after
//                                          SECONDS); with "gone": wait until
//                                          none matches
//   dlgprobe template EXE ID               dialog template ID of EXE, each
//                                          control also in pixels as a dialog
//                                          of that template places it
//   dlgprobe string EXE ID                 string resource ID of EXE
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
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c >= 0x80) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
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

std::string Narrow(const std::wstring& wide)
{
    if (wide.empty())
        return {};
    const int length = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                             nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length, nullptr,
                          nullptr);
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
    ::GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

// --- windows of the desktop ---------------------------------------------

std::string DescribeDialog(HWND dialog)
{
    RECT frame{};
    ::GetWindowRect(dialog, &frame);
    RECT client{};
    ::GetClientRect(dialog, &client);
    ::MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(dialog, &pid);
    char head[320];
    std::snprintf(head, sizeof head,
                  "{\"hwnd\": %llu, \"owner\": %llu, \"pid\": %lu, \"enabled\": %s, \"style\": %lu, "
                  "\"exstyle\": %lu, ",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(dialog)),
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(::GetWindow(dialog, GW_OWNER))), pid,
                  ::IsWindowEnabled(dialog) ? "true" : "false",
                  static_cast<unsigned long>(::GetWindowLongA(dialog, GWL_STYLE)),
                  static_cast<unsigned long>(::GetWindowLongA(dialog, GWL_EXSTYLE)));
    std::string out = head;
    out += "\"caption\": " + Json(TextOf(dialog)) + ", \"rect\": " + Json(frame) + ", \"client\": " + Json(client);
    out += ", \"children\": [";
    bool first = true;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        RECT r{};
        ::GetWindowRect(child, &r);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        char item[160];
        std::snprintf(item, sizeof item, "{\"id\": %d, \"style\": %lu, \"visible\": %s, ",
                      static_cast<int>(static_cast<short>(::GetDlgCtrlID(child))),
                      static_cast<unsigned long>(::GetWindowLongA(child, GWL_STYLE)),
                      ::IsWindowVisible(child) ? "true" : "false");
        out += (first ? "" : ", ") + std::string(item) + "\"class\": " + Json(ClassOf(child)) +
               ", \"text\": " + Json(TextOf(child)) + ", \"rect\": " + Json(r) + "}";
        first = false;
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

struct Match {
    std::optional<std::string> caption;
    std::optional<int> child;

    bool operator()(HWND dialog) const
    {
        if (caption && TextOf(dialog) != *caption)
            return false;
        return !child || ::GetDlgItem(dialog, *child) != nullptr;
    }
};

int Windows()
{
    std::string out = "[";
    for (HWND dialog : VisibleDialogs())
        out += (out.size() > 1 ? ", " : "") + DescribeDialog(dialog);
    std::printf("%s]\n", out.c_str());
    return 0;
}

int Wait(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const DWORD timeout = static_cast<DWORD>(std::atof(argv[2]) * 1000);
    Match match;
    bool gone = false;
    for (int i = 3; i < argc; ++i) {
        if (std::strncmp(argv[i], "caption=", 8) == 0)
            match.caption = argv[i] + 8;
        else if (std::strncmp(argv[i], "child=", 6) == 0)
            match.child = std::atoi(argv[i] + 6);
        else if (std::strcmp(argv[i], "gone") == 0)
            gone = true;
        else
            return 2;
    }
    const DWORD start = ::GetTickCount();
    for (;;) {
        HWND hit = nullptr;
        for (HWND dialog : VisibleDialogs()) {
            if (match(dialog)) {
                hit = dialog;
                break;
            }
        }
        if (!gone && hit != nullptr) {
            std::printf("%s\n", DescribeDialog(hit).c_str());
            return 0;
        }
        if (gone && hit == nullptr) {
            std::printf("null\n");
            return 0;
        }
        if (::GetTickCount() - start > timeout) {
            std::printf("null\n");
            return 1;
        }
        ::Sleep(50);
    }
}

// --- resources ------------------------------------------------------------

class Reader {
public:
    Reader(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}

    bool ok() const { return m_ok; }
    WORD Word()
    {
        if (m_at + 2 > m_size) {
            m_ok = false;
            return 0;
        }
        const WORD value = static_cast<WORD>(m_data[m_at] | (m_data[m_at + 1] << 8));
        m_at += 2;
        return value;
    }
    DWORD Dword()
    {
        const DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    std::wstring String()
    {
        std::wstring text;
        for (WORD c = Word(); m_ok && c != 0; c = Word())
            text.push_back(static_cast<wchar_t>(c));
        return text;
    }
    // A name or an ordinal, as dialog templates store class, menu and title.
    std::string NameOrOrdinal()
    {
        const WORD first = Word();
        if (first == 0)
            return "";
        if (first == 0xFFFF)
        {
            std::string ordinal = "#";
            ordinal += std::to_string(Word());
            return ordinal;
        }
        std::wstring text(1, static_cast<wchar_t>(first));
        text += String();
        return Narrow(text);
    }
    void Skip(std::size_t bytes) { m_at += bytes; m_ok = m_ok && m_at <= m_size; }
    void AlignDword() { m_at = (m_at + 3) & ~static_cast<std::size_t>(3); }
    std::size_t At() const { return m_at; }

private:
    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
    bool m_ok = true;
};

std::string ClassName(const std::string& stored)
{
    static const char* const kPredefined[] = {"Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"};
    if (stored.size() > 1 && stored[0] == '#') {
        const int ordinal = std::atoi(stored.c_str() + 1);
        if (ordinal >= 0x80 && ordinal <= 0x85)
            return kPredefined[ordinal - 0x80];
    }
    return stored;
}

INT_PTR CALLBACK HiddenDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

int Template(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    HMODULE module = ::LoadLibraryExA(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        std::fprintf(stderr, "cannot load %s: %lu\n", argv[2], ::GetLastError());
        return 1;
    }
    HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(std::atoi(argv[3])), MAKEINTRESOURCEA(5));
    HGLOBAL loaded = found != nullptr ? ::LoadResource(module, found) : nullptr;
    const auto* data = static_cast<const unsigned char*>(loaded != nullptr ? ::LockResource(loaded) : nullptr);
    if (data == nullptr) {
        std::fprintf(stderr, "no dialog %s in %s\n", argv[3], argv[2]);
        return 1;
    }
    const std::size_t size = ::SizeofResource(module, found);
    std::vector<unsigned char> copy(data, data + size);

    Reader in(copy.data(), copy.size());
    const WORD version = in.Word();
    const WORD signature = in.Word();
    if (version != 1 || signature != 0xFFFF) {
        std::fprintf(stderr, "not an extended dialog template\n");
        return 1;
    }
    in.Dword();  // help id
    const DWORD exStyle = in.Dword();
    const std::size_t styleAt = in.At();
    const DWORD style = in.Dword();
    const WORD count = in.Word();
    const short x = in.Short(), y = in.Short(), cx = in.Short(), cy = in.Short();
    const std::string menu = in.NameOrOrdinal();
    const std::string windowClass = in.NameOrOrdinal();
    const std::string title = Narrow(in.String());
    int points = 0, weight = 0, italic = 0, charset = 0;
    std::string face;
    if (style & (DS_SETFONT | DS_FIXEDSYS)) {
        points = in.Word();
        weight = in.Word();
        const WORD italicAndCharset = in.Word();
        italic = italicAndCharset & 0xFF;
        charset = italicAndCharset >> 8;
        face = Narrow(in.String());
    }

    struct Item {
        DWORD exStyle, style, id;
        short x, y, cx, cy;
        std::string windowClass, text;
    };
    std::vector<Item> items;
    for (WORD i = 0; i < count && in.ok(); ++i) {
        in.AlignDword();
        Item item{};
        in.Dword();  // help id
        item.exStyle = in.Dword();
        item.style = in.Dword();
        item.x = in.Short();
        item.y = in.Short();
        item.cx = in.Short();
        item.cy = in.Short();
        item.id = in.Dword();
        item.windowClass = ClassName(in.NameOrOrdinal());
        item.text = in.NameOrOrdinal();
        in.Skip(in.Word());
        items.push_back(item);
    }
    if (!in.ok()) {
        std::fprintf(stderr, "template ends early\n");
        return 1;
    }

    // A hidden dialog of the same template (font and all) converts dialog
    // units to pixels exactly as the program's own dialog does.
    DWORD hidden = style & ~WS_VISIBLE;
    std::memcpy(copy.data() + styleAt, &hidden, sizeof hidden);
    HWND dialog = ::CreateDialogIndirectParamA(::GetModuleHandleA(nullptr),
                                               reinterpret_cast<LPCDLGTEMPLATEA>(copy.data()), nullptr,
                                               HiddenDialogProc, 0);
    if (dialog == nullptr) {
        std::fprintf(stderr, "cannot create a dialog from the template: %lu\n", ::GetLastError());
        return 1;
    }
    RECT whole{0, 0, cx, cy};
    ::MapDialogRect(dialog, &whole);

    char head[200];
    std::snprintf(head, sizeof head,
                  "{\"style\": %lu, \"exstyle\": %lu, \"rect\": [%d, %d, %d, %d], \"points\": %d, \"weight\": %d, "
                  "\"italic\": %d, \"charset\": %d, ",
                  static_cast<unsigned long>(style), static_cast<unsigned long>(exStyle), x, y, cx, cy, points,
                  weight, italic, charset);
    std::string out = head;
    out += "\"font\": " + Json(face) + ", \"caption\": " + Json(title) + ", \"menu\": " + Json(menu) +
           ", \"class\": " + Json(windowClass) + ", \"pixels\": " + Json(whole) + ", \"controls\": [";
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        // The dialog manager converts position and size each by itself, so
        // the right edge is x + cx converted separately, not x + cx at once.
        RECT pixels{item.x, item.y, item.cx, item.cy};
        ::MapDialogRect(dialog, &pixels);
        pixels.right += pixels.left;
        pixels.bottom += pixels.top;
        char line[200];
        std::snprintf(line, sizeof line,
                      "{\"id\": %d, \"style\": %lu, \"exstyle\": %lu, \"rect\": [%d, %d, %d, %d], ",
                      static_cast<int>(item.id), static_cast<unsigned long>(item.style),
                      static_cast<unsigned long>(item.exStyle), item.x, item.y, item.cx, item.cy);
        out += (i ? ", " : "") + std::string(line) + "\"class\": " + Json(item.windowClass) +
               ", \"text\": " + Json(item.text) + ", \"pixels\": " + Json(pixels) + "}";
    }
    ::DestroyWindow(dialog);
    std::printf("%s]}\n", out.c_str());
    return 0;
}

int String(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    HMODULE module = ::LoadLibraryExA(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return 1;
    char text[4096];
    const int length = ::LoadStringA(module, static_cast<UINT>(std::atoi(argv[3])), text, sizeof text);
    if (length <= 0) {
        std::printf("null\n");
        return 1;
    }
    std::printf("%s\n", Json(std::string(text, static_cast<std::size_t>(length))).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc >= 2 ? argv[1] : "";
    if (command == "windows")
        return Windows();
    if (command == "wait")
        return Wait(argc, argv);
    if (command == "template")
        return Template(argc, argv);
    if (command == "string")
        return String(argc, argv);
    std::fprintf(stderr, "usage: dlgprobe windows | wait S [caption=T] [child=ID] [gone] | template EXE ID | "
                         "string EXE ID\n");
    return 2;
}
