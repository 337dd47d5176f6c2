// keyscout-inspect CAPTION: looks at a running program's window from outside, through the
// window system alone, and prints what a user would see, one line each (texts in UTF-8):
//   windows N                 top-level windows with that caption
//   control ID CLASS TEXT     each control of the first one, in order
//   list ID N                 the number of lines of each list view
// Exits 1 when there is no such window.
#include <cstdio>
#include <string>

#include "framework/CodePage.h"
#include "framework/WinUser.h"

namespace {

std::string Text(ks::HWND window) {
    char buffer[1024] = {};
    int got = ks::GetWindowTextA(window, buffer, sizeof buffer);
    return ks::AnsiToUtf8(std::string(buffer, got > 0 ? static_cast<std::size_t>(got) : 0));
}

std::string Class(ks::HWND window) {
    char buffer[256] = {};
    int got = ks::GetClassNameA(window, buffer, sizeof buffer);
    return std::string(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
}

// Line breaks and other control characters shown as escapes, so that one control is one line.
std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += '?';
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: keyscout-inspect CAPTION\n", stderr);
        return 2;
    }
    std::u16string wide = ks::Utf8ToUtf16(argv[1]);
    const std::string caption = ks::Utf16ToAnsi(wide.data(), wide.size());
    int count = 0;
    ks::HWND first = 0;
    for (ks::HWND w = ks::FindWindowExA(0, 0, nullptr, caption.c_str()); w != 0;
         w = ks::FindWindowExA(0, w, nullptr, caption.c_str())) {
        if (first == 0)
            first = w;
        ++count;
    }
    std::printf("windows %d\n", count);
    if (first == 0)
        return 1;
    for (ks::HWND c = ks::GetWindow(first, ks::GW_CHILD); c != 0;
         c = ks::GetWindow(c, ks::GW_HWNDNEXT)) {
        const std::string cls = Class(c);
        std::printf("control %d %s %s\n", ks::GetDlgCtrlID(c), cls.c_str(),
                    OneLine(Text(c)).c_str());
        if (cls == "SysListView32")
            std::printf("list %d %d\n", ks::GetDlgCtrlID(c),
                        static_cast<int>(ks::SendMessage(c, ks::LVM_GETITEMCOUNT, 0, 0)));
    }
    return 0;
}
