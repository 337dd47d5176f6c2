// The udev hardware database through libudev: the names it holds for a device's modalias
// (ID_VENDOR_FROM_DATABASE, ID_MODEL_FROM_DATABASE), the same udev records for the device
// when it appears. Looked up by modalias rather than through the device's udev record, so
// that the scan reads no sysfs attribute a second time; only reads.
#include <libudev.h>

#include "platform/linux/LinuxMachine.h"

namespace ks {

namespace {

class CUdevDatabase final : public IDeviceDatabase {
  public:
    CUdevDatabase() : m_pUdev(udev_new()) {
        if (m_pUdev != nullptr)
            m_pHwdb = udev_hwdb_new(m_pUdev);  // none without a compiled database
    }
    ~CUdevDatabase() override {
        if (m_pHwdb != nullptr)
            udev_hwdb_unref(m_pHwdb);
        if (m_pUdev != nullptr)
            udev_unref(m_pUdev);
    }
    CUdevDatabase(const CUdevDatabase&) = delete;
    CUdevDatabase& operator=(const CUdevDatabase&) = delete;

    std::string Property(const std::string&, const std::string& modalias,
                         const char* key) override {
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
};

}  // namespace

std::unique_ptr<IDeviceDatabase> MakeUdevDatabase() {
    return std::make_unique<CUdevDatabase>();
}

}  // namespace ks
