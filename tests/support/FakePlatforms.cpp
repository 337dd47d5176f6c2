#include "tests/support/FakePlatforms.h"

#include <cstdio>
#include <cstring>

#include "tests/support/WaitBound.h"

namespace ks::test {

HANDLE CFakeGatedPlatform::CreateFileA(const char* path, DWORD, DWORD, void*, DWORD, DWORD,
                                       HANDLE) {
    if (path != nullptr && std::strcmp(path, "\\\\.\\HCD0") == 0)
        m_gate.Enter();
    return INVALID_HANDLE_VALUE;
}

void CPassGate::Enter() {
    std::unique_lock<std::mutex> lock(m_mutex);
    int pass = ++m_started;
    m_cv.notify_all();
    if (!m_cv.wait_for(lock, 2 * kGateWaitLimit, [&] { return m_open || m_released >= pass; }))
        std::fprintf(stderr, "pass %d was held at the gate for %lld s and goes on\n", pass,
                     static_cast<long long>((2 * kGateWaitLimit).count()));
}

bool CPassGate::WaitForPassesStarted(int count) {
    const auto bound = std::chrono::milliseconds(WaitBound(static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(kGateWaitLimit).count())));
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_cv.wait_for(lock, bound, [&] { return m_started >= count; }))
        return true;
    NoteStall();
    return false;
}

void CPassGate::ReleaseOne() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_released;
    m_cv.notify_all();
}

void CPassGate::Open() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = true;
    m_cv.notify_all();
}

int CPassGate::PassesStarted() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_started;
}

}  // namespace ks::test
