// Shared by the scanner tests: a machine fixture of tests/data installed as the platform,
// one scan pass with a chosen node-field mask, and a compact outline of a device-node tree.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devices/UsbDeviceScanner.h"
#include "platform/Platform.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "tests/support/TestData.h"

namespace ks::test {

class ScanFixture : public ::testing::Test {
  protected:
    // Loads tests/data/<name>; `adjust` may change the model before it is installed.
    template <typename Adjust>
    void Load(const std::string& name, Adjust adjust) {
        CMachineModel model = LoadMachineFile(DataPath(name));
        adjust(model);
        m_scope.reset();
        m_platform = std::make_unique<CModelPlatform>(std::move(model));
        m_scope.emplace(*m_platform);
    }
    void Load(const std::string& name) {
        Load(name, [](CMachineModel&) {});
    }

    // One pass with the worker's identity fields and the given node fields.
    std::vector<CUsbDeviceEntry>& Scan(unsigned nodeFields) {
        m_scanner.m_fields = 0x13;
        m_scanner.m_nodeFieldMask = nodeFields;
        m_scanner.Scan();
        return m_entries;
    }

    // "desc:L(child,child(...))": each node's description, its drive letter after a colon
    // when it has one, and its children in order; "?" for an empty description.
    static std::string Outline(const CDevNodeTree::Node& node) {
        const CDevNodeInfo& info = node.Info();
        std::string out =
            info.m_strDescription.IsEmpty() ? "?" : std::string(info.m_strDescription.View());
        if (info.m_driveLetter != 0)
            out += std::string(":") + info.m_driveLetter;
        if (node.ChildCount() == 0)
            return out;
        out += "(";
        for (const CDevNodeTree::Node* c = node.FirstChild(); c != nullptr; c = c->NextSibling()) {
            if (c != node.FirstChild())
                out += ",";
            out += Outline(*c);
        }
        return out + ")";
    }
    static std::string Outline(const CUsbDeviceEntry& entry) {
        const CDevNodeTree::Node* root = entry.m_devNodeTree.GetRoot();
        return root == nullptr ? "<no root>" : Outline(*root);
    }

    std::unique_ptr<CModelPlatform> m_platform;
    std::optional<CPlatformScope> m_scope;
    std::vector<CUsbDeviceEntry> m_entries;
    CUsbDeviceScanner m_scanner{&m_entries};
};

}  // namespace ks::test
