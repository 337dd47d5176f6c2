// The udev hardware database through libudev: the names udev recorded for a device when it
// appeared (ID_VENDOR_FROM_DATABASE, ID_MODEL_FROM_DATABASE), or, where udev is not
// running and has recorded nothing, the hardware database looked up by the device's
// modalias. Both only read.
#include <libudev.h>

#include "platform/linux/LinuxMachine.h"

namespace ks {

namespace {

class CUdevDatabase final : public IDeviceDatabase {
  public:
    CUdevDatabase() : m_pUdev(udev_new()) {
        if (m_pUdev != nullptr)
            m_pHwdb = udev_hwdb_new(m_pUdev);
    }
    ~CUdevDatabase() override {
        if (m_pDevice != nullptr)
            udev_device_unref(m_pDevice);
        if (m_pHwdb != nullptr)
            udev_hwdb_unref(m_pHwdb);
        if (m_pUdev != nullptr)
            udev_unref(m_pUdev);
    }
    CUdevDatabase(const CUdevDatabase&) = delete;
    CUdevDatabase& operator=(const CUdevDatabase&) = delete;

    std::string Property(const std::string& sysPath, const std::string& modalias,
                         const char* key) override {
        if (m_pUdev == nullptr)
            return std::string();
        // The vendor and the model of one device are asked one after the other: keep the
        // device between the two.
        if (sysPath != m_strDevicePath) {
            if (m_pDevice != nullptr)
                udev_device_unref(m_pDevice);
            m_pDevice = udev_device_new_from_syspath(m_pUdev, sysPath.c_str());
            m_strDevicePath = sysPath;
        }
        if (m_pDevice != nullptr) {
            const char* value = udev_device_get_property_value(m_pDevice, key);
            if (value != nullptr && value[0] != '\0')
                return value;
        }
        if (m_pHwdb == nullptr || modalias.empty())
            return std::string();
        udev_list_entry* entry = udev_hwdb_get_properties_list_entry(m_pHwdb, modalias.c_str(), 0);
        for (; entry != nullptr; entry = udev_list_entry_get_next(entry)) {
            const char* name = udev_list_entry_get_name(entry);
            const char* value = udev_list_entry_get_value(entry);
            if (name != nullptr && value != nullptr && std::string_view(name) == key)
                return value;
        }
        return std::string();
    }

  private:
    udev* m_pUdev = nullptr;
    udev_hwdb* m_pHwdb = nullptr;
    udev_device* m_pDevice = nullptr;
    std::string m_strDevicePath;
};

}  // namespace

std::unique_ptr<IDeviceDatabase> MakeUdevDatabase() {
    return std::make_unique<CUdevDatabase>();
}

}  // namespace ks
