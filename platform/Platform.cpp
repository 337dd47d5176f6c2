#include "platform/Platform.h"

#include <atomic>

namespace ks {

namespace {
std::atomic<IPlatform*> g_current{nullptr};
}

IPlatform& Platform() {
    IPlatform* p = g_current.load(std::memory_order_acquire);
    return p != nullptr ? *p : NativePlatform();
}

CPlatformScope::CPlatformScope(IPlatform& platform)
    : m_pPrevious(g_current.exchange(&platform, std::memory_order_acq_rel)) {}

CPlatformScope::~CPlatformScope() {
    g_current.store(m_pPrevious, std::memory_order_release);
}

}  // namespace ks
