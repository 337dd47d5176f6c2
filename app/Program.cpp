// The one application object, and the framework's entry that runs it. Where no window can
// be shown (a Linux session without a display), the program says so in one line and prints
// what its window would list.
#include "app/Program.h"

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

namespace ks {

int RunProgram() {
    if (!AfxCanShowWindows()) {
        std::fputs("keyscout: no display to show the window on; the USB devices connected now:\n",
                   stderr);
        CDeviceRecordList records;
        if (!RunOneScan(records))
            return EndProcess(1);
        const std::string out = FormatRecordsText(records, GetAnsiCodePage());
        std::fwrite(out.data(), 1, out.size(), stdout);
        if (records.IsEmpty())
            std::fputs("(none)\n", stdout);
        std::fflush(stdout);
        return EndProcess(0);
    }
    return AfxWinMain();
}

}  // namespace ks
