// keyscout-postchanges CAPTION COUNT SECONDS: posts COUNT device-change broadcasts
// (WM_DEVICECHANGE, DBT_DEVNODES_CHANGED) to the top-level window titled CAPTION, spread
// evenly over SECONDS, as the system does when devices come and go. Prints how many were
// posted; exits 1 when there is no such window or a post failed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "framework/CodePage.h"
#include "framework/Messages.h"
#include "framework/WinUser.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: keyscout-postchanges CAPTION COUNT SECONDS\n", stderr);
        return 2;
    }
    std::u16string wide = ks::Utf8ToUtf16(argv[1]);
    const std::string caption = ks::Utf16ToAnsi(wide.data(), wide.size());
    const long count = std::strtol(argv[2], nullptr, 10);
    const double seconds = std::strtod(argv[3], nullptr);
    ks::HWND window = ks::FindWindowA(nullptr, caption.c_str());
    if (window == 0) {
        std::fprintf(stderr, "keyscout-postchanges: no window titled %s\n", argv[1]);
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    long posted = 0;
    for (long i = 0; i < count; ++i) {
        if (ks::PostMessage(window, ks::WM_DEVICECHANGE, ks::DBT_DEVNODES_CHANGED, 0) == ks::FALSE)
            break;
        ++posted;
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                        seconds * static_cast<double>(i + 1) / static_cast<double>(count))));
    }
    std::printf("posted %ld of %ld in %.1f s\n", posted, count,
                std::chrono::duration<double>(Clock::now() - start).count());
    return posted == count ? 0 : 1;
}
