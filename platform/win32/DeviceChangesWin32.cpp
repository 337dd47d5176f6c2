// Windows needs no watch of its own: the window system broadcasts WM_DEVICECHANGE to every
// top-level window when devices or volumes come or go.
#include "platform/DeviceChanges.h"

namespace ks {

std::unique_ptr<IDeviceChangeWatch> StartDeviceChangeWatch(std::function<void(DWORD)>,
                                                           std::string* failure) {
    if (failure != nullptr)
        failure->clear();
    return nullptr;
}

}  // namespace ks
