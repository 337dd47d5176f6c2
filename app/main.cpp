// KeyScout's entry: the one application object, and the framework's entry that runs it. The
// program takes no command line; on Windows it is a GUI-subsystem program. Where no window
// can be shown (a Linux session without a display), it says so in one line and prints what
// its window would list.
#include <cstdio>
#include <string>

#include "app/KeyScoutApp.h"
#include "framework/CodePage.h"
#include "framework/WinUser.h"
#include "listing/ListOutput.h"
#include "listing/ListScan.h"

namespace {
ks::CKeyScoutApp theApp;
}

int main() {
    if (!ks::AfxCanShowWindows()) {
        std::fputs("keyscout: no display to show the window on; the USB devices connected now:\n",
                   stderr);
        ks::CDeviceRecordList records;
        if (!ks::RunOneScan(records))
            return ks::EndProcess(1);
        const std::string out = ks::FormatRecordsText(records, ks::GetAnsiCodePage());
        std::fwrite(out.data(), 1, out.size(), stdout);
        if (records.IsEmpty())
            std::fputs("(none)\n", stdout);
        std::fflush(stdout);
        return ks::EndProcess(0);
    }
    return ks::AfxWinMain();
}
