// The console's control events (Ctrl+C, Ctrl+Break, the console closing): Windows calls the
// handler on a thread it creates for the purpose.
#include <mutex>

#include "framework/win32/Win.h"
#include "platform/Interrupt.h"

namespace ks {

namespace {

std::mutex g_mutex;
std::function<void()> g_onInterrupt;

BOOL WINAPI OnConsoleControl(DWORD) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_onInterrupt)
        return FALSE;  // default handling: the process ends
    g_onInterrupt();
    return TRUE;
}

class CConsoleWatch final : public IInterruptWatch {
  public:
    ~CConsoleWatch() override {
        ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
        std::lock_guard<std::mutex> lock(g_mutex);
        g_onInterrupt = nullptr;
    }
};

}  // namespace

std::unique_ptr<IInterruptWatch> StartInterruptWatch(std::function<void()> onInterrupt) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_onInterrupt)
            return nullptr;  // one watch at a time
        g_onInterrupt = std::move(onInterrupt);
    }
    if (!::SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_onInterrupt = nullptr;
        return nullptr;
    }
    return std::make_unique<CConsoleWatch>();
}

}  // namespace ks
