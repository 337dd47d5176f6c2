// Whole machines, mutated as machines: the input is a fixture; the mutator loads it, changes
// the model itself (ports, devices, hubs, strings, device nodes, properties, relations,
// volumes, injected faults) and writes it back as a fixture. Every machine that loads is
// scanned as the worker scans, and printed as keyscout-list prints it: the JSON must parse
// and the text must hold no raw control character.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "devices/UsbDeviceScanner.h"
#include "framework/CodePage.h"
#include "fuzz/ScanOutputCheck.h"
#include "listing/ListOutput.h"
#include "platform/capture/FixtureWriter.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "worker/DeviceRecord.h"
#include "worker/KeyScoutThread.h"

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace {

using namespace ks;
using Rng = std::minstd_rand;

std::size_t Pick(Rng& rng, std::size_t n) {
    return n == 0 ? 0 : static_cast<std::size_t>(rng() % n);
}

std::u16string HostileText(Rng& rng) {
    static const char16_t kPieces[] = {u'A',   u'z',    u'0',    u'\x1B', u'\r', u'\n',
                                       u'\t',  u'\x7F', u'\x85', u'\x9B', u'\0', 0xD800,
                                       0xDC00, 0xFFFF,  u'デ',   u'\\',   u'"',  0x202E};
    std::u16string s;
    const std::size_t n = Pick(rng, 130);
    for (std::size_t i = 0; i < n; ++i)
        s += kPieces[Pick(rng, sizeof kPieces / sizeof kPieces[0])];
    return s;
}

std::string AsciiText(Rng& rng) {
    std::string s;
    const std::size_t n = Pick(rng, 40);
    for (std::size_t i = 0; i < n; ++i)
        s += static_cast<char>(rng() & 0xFF);
    return s;
}

std::vector<BYTE> RandomBytes(Rng& rng) {
    std::vector<BYTE> b(Pick(rng, 300));
    for (BYTE& x : b)
        x = static_cast<BYTE>(rng());
    return b;
}

void MutateFault(Rng& rng, CRequestFault& f) {
    switch (Pick(rng, 5)) {
        case 0:
            f.m_bFail = !f.m_bFail;
            break;
        case 1:
            f.m_bNoWrite = !f.m_bNoWrite;
            break;
        case 2:
            f.m_optBytesReturned = static_cast<DWORD>(rng() % 600);
            break;
        case 3:
            f.m_optActualLength = static_cast<DWORD>(rng());
            break;
        default:
            f.m_bNoTerminator = !f.m_bNoTerminator;
            break;
    }
}

// All ports of all hubs, for picking one.
std::vector<CUsbPort*> Ports(CMachineModel& m) {
    std::vector<CUsbPort*> ports;
    for (CUsbHub& h : m.m_vHubs)
        for (CUsbPort& p : h.m_vPorts)
            ports.push_back(&p);
    return ports;
}

CUsbDevice* SomeDevice(Rng& rng, CMachineModel& m) {
    std::vector<CUsbPort*> ports = Ports(m);
    std::vector<CUsbDevice*> devices;
    for (CUsbPort* p : ports)
        if (p->m_optDevice)
            devices.push_back(&*p->m_optDevice);
    return devices.empty() ? nullptr : devices[Pick(rng, devices.size())];
}

void MutateDevice(Rng& rng, CMachineModel& m, CUsbDevice& d) {
    switch (Pick(rng, 12)) {
        case 0:
            d.m_wIdVendor = static_cast<WORD>(rng());
            break;
        case 1:
            d.m_bySerialNumber = static_cast<BYTE>(rng());
            break;
        case 2:
            d.m_byLength = static_cast<BYTE>(rng());
            break;
        case 3:
            d.m_bDeviceIsHub = !d.m_bDeviceIsHub;
            break;
        case 4:
            d.m_dwNumberOfOpenPipes = static_cast<DWORD>(rng() % 64);
            break;
        case 5:  // a hub name: another hub's (maybe one above: a loop), or nonsense
            if (!m.m_vHubs.empty() && Pick(rng, 3) != 0)
                d.m_optHubName = m.m_vHubs[Pick(rng, m.m_vHubs.size())].m_wstrName;
            else
                d.m_optHubName = HostileText(rng);
            d.m_bDeviceIsHub = true;
            break;
        case 6:  // a driver key: another node's, or nonsense
            if (!m.m_vNodes.empty() && Pick(rng, 2) == 0) {
                const CDevNode& n = m.m_vNodes[Pick(rng, m.m_vNodes.size())];
                for (const CRegistryProperty& p : n.m_vProperties)
                    if (p.m_ulCode == CM_DRP_DRIVER && !p.m_vValues.empty())
                        d.m_optDriverKey =
                            std::u16string(p.m_vValues[0].begin(), p.m_vValues[0].end());
            } else {
                d.m_optDriverKey = HostileText(rng);
            }
            break;
        case 7:
            if (!d.m_vStrings.empty())
                d.m_vStrings[Pick(rng, d.m_vStrings.size())].m_wstrText = HostileText(rng);
            break;
        case 8:
            if (!d.m_vStrings.empty())
                d.m_vStrings[Pick(rng, d.m_vStrings.size())].m_optRaw = RandomBytes(rng);
            break;
        case 9: {
            std::vector<WORD> langs(Pick(rng, 4));
            for (WORD& l : langs)
                l = static_cast<WORD>(rng());
            d.m_optLanguageIds = langs;
            break;
        }
        case 10:
            if (!d.m_vStrings.empty())
                MutateFault(rng, d.m_vStrings[Pick(rng, d.m_vStrings.size())].m_faults);
            break;
        default:
            d.m_bySpeed = static_cast<BYTE>(rng() % 6);
            break;
    }
}

void MutateNode(Rng& rng, CMachineModel& m) {
    if (m.m_vNodes.empty())
        return;
    const std::size_t i = Pick(rng, m.m_vNodes.size());
    switch (Pick(rng, 10)) {
        case 0: {  // a copy of the node as a further child of another node
            const std::size_t parent = Pick(rng, m.m_vNodes.size());
            CDevNode copy = m.m_vNodes[i];
            copy.m_vChildren.clear();
            copy.m_strInstanceId += "&" + std::to_string(m.m_vNodes.size());
            copy.m_optParent = parent;
            m.m_vNodes.push_back(copy);
            m.m_vNodes[parent].m_vChildren.push_back(m.m_vNodes.size() - 1);
            break;
        }
        case 1:  // the node leaves its parent's list of children
            if (m.m_vNodes[i].m_optParent) {
                auto& siblings = m.m_vNodes[*m.m_vNodes[i].m_optParent].m_vChildren;
                for (std::size_t k = 0; k < siblings.size(); ++k)
                    if (siblings[k] == i) {
                        siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(k));
                        break;
                    }
            }
            break;
        case 2:
            m.m_vNodes[i].m_vRemovalRelations.push_back(
                m.m_vNodes[Pick(rng, m.m_vNodes.size())].m_strInstanceId);
            break;
        case 3:
            m.m_vNodes[i].m_vRemovalRelations.push_back(AsciiText(rng));
            break;
        case 4: {
            CRegistryProperty p;
            p.m_ulCode = static_cast<ULONG>(rng() % 0x20);
            p.m_ulType = Pick(rng, 2) ? kRegTypeSz : kRegTypeMultiSz;
            p.m_vValues.push_back(AsciiText(rng));
            if (Pick(rng, 3) == 0)
                p.m_optRaw = RandomBytes(rng);
            m.m_vNodes[i].m_vProperties.push_back(p);
            break;
        }
        case 5:
            m.m_vNodes[i].m_strInstanceId = AsciiText(rng);
            break;
        case 6:
            m.m_vNodes[i].m_faults.m_optChildLink =
                m.m_vNodes[Pick(rng, m.m_vNodes.size())].m_strInstanceId;
            break;
        case 7:
            m.m_vNodes[i].m_faults.m_optSiblingLink =
                m.m_vNodes[Pick(rng, m.m_vNodes.size())].m_strInstanceId;
            break;
        case 8:
            m.m_vNodes[i].m_ulProblem = static_cast<ULONG>(rng());
            break;
        default: {
            CCmFault f;
            f.m_crResult = Pick(rng, 2) ? CR_BUFFER_SMALL : CR_FAILURE;
            f.m_bNoWrite = Pick(rng, 2) != 0;
            m.m_vNodes[i].m_faults.m_optDeviceId = f;
            break;
        }
    }
}

void MutateModel(Rng& rng, CMachineModel& m) {
    switch (Pick(rng, 9)) {
        case 0: {  // a port copied onto another hub under a new number
            std::vector<CUsbPort*> ports = Ports(m);
            if (ports.empty() || m.m_vHubs.empty())
                break;
            CUsbPort copy = *ports[Pick(rng, ports.size())];
            CUsbHub& hub = m.m_vHubs[Pick(rng, m.m_vHubs.size())];
            copy.m_dwPort = static_cast<DWORD>(1 + rng() % 16);
            hub.m_vPorts.push_back(copy);
            if (hub.m_byNumberOfPorts < copy.m_dwPort)
                hub.m_byNumberOfPorts = static_cast<BYTE>(copy.m_dwPort);
            break;
        }
        case 1:
            if (!m.m_vHubs.empty()) {
                CUsbHub& hub = m.m_vHubs[Pick(rng, m.m_vHubs.size())];
                if (!hub.m_vPorts.empty())
                    hub.m_vPorts.erase(hub.m_vPorts.begin() +
                                       static_cast<std::ptrdiff_t>(Pick(rng, hub.m_vPorts.size())));
            }
            break;
        case 2:
            if (!m.m_vHubs.empty())
                m.m_vHubs[Pick(rng, m.m_vHubs.size())].m_byNumberOfPorts = static_cast<BYTE>(rng());
            break;
        case 3:  // a hub copied under a new name, hung on some port
            if (!m.m_vHubs.empty()) {
                CUsbHub copy = m.m_vHubs[Pick(rng, m.m_vHubs.size())];
                copy.m_wstrName +=
                    u"#" + std::u16string(1, static_cast<char16_t>(u'a' + Pick(rng, 26)));
                m.m_vHubs.push_back(copy);
                if (CUsbDevice* d = SomeDevice(rng, m)) {
                    d->m_bDeviceIsHub = true;
                    d->m_optHubName = m.m_vHubs.back().m_wstrName;
                }
            }
            break;
        case 4:
            if (CUsbDevice* d = SomeDevice(rng, m))
                MutateDevice(rng, m, *d);
            break;
        case 5: {
            std::vector<CUsbPort*> ports = Ports(m);
            if (ports.empty())
                break;
            CUsbPort& p = *ports[Pick(rng, ports.size())];
            switch (Pick(rng, 4)) {
                case 0:
                    p.m_dwConnectionStatus = static_cast<DWORD>(rng() % 10);
                    break;
                case 1:
                    MutateFault(rng, p.m_faults.m_connectionInfoEx);
                    break;
                case 2:
                    MutateFault(rng, p.m_faults.m_driverKeyName);
                    break;
                default:
                    MutateFault(rng, p.m_faults.m_descriptor);
                    break;
            }
            break;
        }
        case 6:
            MutateNode(rng, m);
            break;
        case 7:
            if (!m.m_vVolumes.empty()) {
                CVolume& v = m.m_vVolumes[Pick(rng, m.m_vVolumes.size())];
                if (Pick(rng, 2) == 0)
                    v.m_vLetters.push_back(static_cast<char>('A' + Pick(rng, 26)));
                else if (!m.m_vNodes.empty())
                    v.m_optInstanceId = m.m_vNodes[Pick(rng, m.m_vNodes.size())].m_strInstanceId;
            }
            break;
        default:
            if (!m.m_vControllers.empty()) {
                CHostController& c = m.m_vControllers[Pick(rng, m.m_vControllers.size())];
                if (Pick(rng, 2) == 0)
                    MutateFault(rng, c.m_faults.m_rootHubName);
                else
                    m.m_vControllers.push_back(c);
            }
            break;
    }
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t maxSize, unsigned int seed) {
    Rng rng(seed);
    // Now and then the text itself, so that the loader's refusals stay covered too.
    if (rng() % 8 == 0)
        return LLVMFuzzerMutate(data, size, maxSize);
    CMachineModel model;
    try {
        model =
            LoadMachineText(std::string(reinterpret_cast<const char*>(data), size), "fuzz.json");
    } catch (const CFixtureError&) {
        return LLVMFuzzerMutate(data, size, maxSize);
    }
    const std::size_t steps = 1 + Pick(rng, 4);
    for (std::size_t i = 0; i < steps; ++i)
        MutateModel(rng, model);
    const std::string text = WriteMachineFixture(model);
    if (text.size() > maxSize)
        return LLVMFuzzerMutate(data, size, maxSize);
    std::memcpy(data, text.data(), text.size());
    return text.size();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CMachineModel model;
    try {
        model =
            LoadMachineText(std::string(reinterpret_cast<const char*>(data), size), "fuzz.json");
    } catch (const CFixtureError&) {
        return 0;
    }
    CModelPlatform platform(std::move(model));
    fuzz::ScanAndCheckOutput(platform);
    if (platform.OpenHandleCount() != 0 || platform.OpenDeviceInfoSetCount() != 0)
        __builtin_trap();
    return 0;
}
