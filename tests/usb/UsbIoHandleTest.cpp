// The hub driver requests of CUsbIoHandle, one group per request, against fixture machines
// whose drivers answer well, badly, or not at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/usb/UsbTestMachine.h"
#include "usb/UsbIoHandle.h"

namespace ks {
namespace {

using test::CMachineScope;

const char kKeyPrefix[] = "{36FC9E60-C465-11CF-8056-444553540000}\\";

CString Key(const char* tail) {
    return CString(std::string(kKeyPrefix) + tail);
}

// Bytes a name reply needs: header, UTF-16 name, NUL.
DWORD NameReplySize(std::size_t header, const CString& name) {
    return static_cast<DWORD>(header + 2 * (name.GetLength() + 1));
}

// --- Controller name requests --------------------------------------------------------

class ControllerNameRequests : public ::testing::Test {
  protected:
    CMachineScope m_machine{"requests-names.json"};
};

struct CControllerNameCase {
    int m_hcd;
    bool m_bOk;
    CString m_strName;  // what the output holds afterwards
    unsigned m_calls;   // requests sent: the probe, and the full request if the probe is believed
    DWORD m_fullSize;   // size of the full request (when sent)
};

TEST_F(ControllerNameRequests, DriverKeyProbeThenFullRequest) {
    const CControllerNameCase cases[] = {
        {0, true, Key("0000"), 2, NameReplySize(4, Key("0000"))},
        {1, false, "", 1, 0},  // ActualLength 6: only the header
        {2, false, "", 1, 0},  // success, nothing written
        {3, true, Key("0003"), 2,
         NameReplySize(4, Key("0003")) - 2},  // no NUL: ends with the reply
        {4, true, "KEY", 2, 4 + 2 * 9},   // "KEY\0TAIL" and its NUL: a NUL inside the name cuts it
        {5, false, "", 1, 0},             // ActualLength 4097: not allocated
        {6, true, Key("0006"), 2, 4096},  // the largest size believed
        {7, true, "{36", 2, NameReplySize(4, Key("0007"))},  // only the 10 bytes reported are read
    };
    for (const CControllerNameCase& c : cases) {
        SCOPED_TRACE("HCD" + std::to_string(c.m_hcd));
        CString path;
        path.Format("\\\\.\\HCD%d", c.m_hcd);
        CUsbIoHandle controller(path);
        ASSERT_TRUE(controller.Open());
        m_machine.Platform().ClearLog();
        CString key = "stale";
        const int ok = controller.GetHcdDriverKeyName(key);
        EXPECT_EQ(ok != 0, c.m_bOk);
        EXPECT_EQ(key, c.m_strName);
        const auto& calls = m_machine.Platform().IoctlCalls();
        ASSERT_EQ(calls.size(), c.m_calls);
        EXPECT_EQ(calls[0].m_dwCode, IOCTL_GET_HCD_DRIVERKEY_NAME);
        EXPECT_EQ(calls[0].m_dwInSize, 6u);
        EXPECT_EQ(calls[0].m_dwOutSize, 6u);
        if (c.m_calls == 2) {
            EXPECT_EQ(calls[1].m_dwInSize, c.m_fullSize);
            EXPECT_EQ(calls[1].m_dwOutSize, c.m_fullSize);
        }
    }
}

TEST_F(ControllerNameRequests, RootHubNameSendsNoInput) {
    const CControllerNameCase cases[] = {
        {0, true, "ROOT_NAMES", 2, NameReplySize(4, "ROOT_NAMES")},
        {1, false, "", 1, 0},  // ActualLength 6
        {2, false, "", 1, 0},  // nothing written
        {3, true, "ROOT_NO_TERMINATOR", 2, NameReplySize(4, "ROOT_NO_TERMINATOR") - 2},
        {4, true, "ROOT", 2, 4 + 2 * 10},
        {5, false, "", 1, 0},  // ActualLength 0xFFFFFFFF
        {7, false, "", 1, 0},  // the probe fails
    };
    for (const CControllerNameCase& c : cases) {
        SCOPED_TRACE("HCD" + std::to_string(c.m_hcd));
        CString path;
        path.Format("\\\\.\\HCD%d", c.m_hcd);
        CUsbIoHandle controller(path);
        ASSERT_TRUE(controller.Open());
        m_machine.Platform().ClearLog();
        CString name = "stale";
        EXPECT_EQ(controller.GetRootHubName(name) != 0, c.m_bOk);
        EXPECT_EQ(name, c.m_strName);
        const auto& calls = m_machine.Platform().IoctlCalls();
        ASSERT_EQ(calls.size(), c.m_calls);
        EXPECT_EQ(calls[0].m_dwCode, 0x220408u);
        EXPECT_EQ(calls[0].m_dwInSize, 0u);
        EXPECT_EQ(calls[0].m_dwOutSize, 6u);
        if (c.m_calls == 2) {
            EXPECT_EQ(calls[1].m_dwInSize, 0u);
            EXPECT_EQ(calls[1].m_dwOutSize, c.m_fullSize);
        }
    }
}

// The root hub name (to a controller) and the node information (to a hub) share one code;
// the handle decides which answer comes back.
TEST_F(ControllerNameRequests, RootHubNameAndNodeInformationShareTheirCode) {
    CUsbIoHandle controller("\\\\.\\HCD0");
    ASSERT_TRUE(controller.Open());
    CString rootHub;
    ASSERT_TRUE(controller.GetRootHubName(rootHub));
    controller.Close();

    CUsbIoHandle hub("\\\\.\\" + rootHub);
    ASSERT_TRUE(hub.Open());
    NodeInformation info{};
    ASSERT_TRUE(hub.GetNodeInformation(info));
    EXPECT_EQ(info[6], 10);  // bNumberOfPorts

    const auto& calls = m_machine.Platform().IoctlCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].m_strPath, "\\\\.\\HCD0");
    EXPECT_EQ(calls[1].m_strPath, "\\\\.\\HCD0");
    EXPECT_EQ(calls[2].m_strPath, "\\\\.\\ROOT_NAMES");
    for (const CIoctlCall& c : calls)
        EXPECT_EQ(c.m_dwCode, 0x220408u);
    EXPECT_EQ(calls[2].m_dwInSize, 76u);
    EXPECT_EQ(calls[2].m_dwOutSize, 76u);
}

// --- Port name requests ----------------------------------------------------------------

class PortNameRequests : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_hub.Open()); }

    CMachineScope m_machine{"requests-names.json"};
    CUsbIoHandle m_hub{"\\\\.\\ROOT_NAMES"};
};

struct CPortNameCase {
    int m_port;
    bool m_bOk;
    CString m_strName;  // "stale" when the output must stay as it was
    unsigned m_calls;
    DWORD m_fullSize;
};

TEST_F(PortNameRequests, DriverKeyOfTheDeviceOnAPort) {
    const CPortNameCase cases[] = {
        {1, true, Key("0011"), 2, NameReplySize(8, Key("0011"))},
        {2, false, "stale", 1, 0},  // ActualLength 10: only the header
        {3, false, "stale", 1, 0},  // success, nothing written
        {4, true, Key("0014"), 2, NameReplySize(8, Key("0014")) - 2},
        {5, true, "KEY", 2, 8 + 2 * 9},
        {6, false, "stale", 1, 0},                           // ActualLength 0x7FFFFFFF
        {7, true, "{36", 2, NameReplySize(8, Key("0017"))},  // 14 bytes reported
        {8, false, "stale", 1, 0},  // a hub without a driver key: the probe fails
    };
    for (const CPortNameCase& c : cases) {
        SCOPED_TRACE("port " + std::to_string(c.m_port));
        m_machine.Platform().ClearLog();
        int port = c.m_port;
        CString key = "stale";
        EXPECT_EQ(m_hub.GetNodeConnectionDriverKeyName(port, key) != 0, c.m_bOk);
        EXPECT_EQ(key, c.m_strName);
        EXPECT_EQ(port, c.m_port);
        const auto& calls = m_machine.Platform().IoctlCalls();
        ASSERT_EQ(calls.size(), c.m_calls);
        EXPECT_EQ(calls[0].m_dwCode, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME);
        EXPECT_EQ(calls[0].m_dwInSize, 10u);
        EXPECT_EQ(calls[0].m_dwOutSize, 10u);
        if (c.m_calls == 2) {
            EXPECT_EQ(calls[1].m_dwInSize, c.m_fullSize);
            EXPECT_EQ(calls[1].m_dwOutSize, c.m_fullSize);
        }
    }
}

TEST_F(PortNameRequests, NameOfTheHubOnAPort) {
    const CPortNameCase cases[] = {
        {8, true, "HUB_NAMED", 2, NameReplySize(8, "HUB_NAMED")},
        {9, false, "stale", 1, 0},   // ActualLength 10
        {10, false, "stale", 1, 0},  // nothing written
        {1, false, "stale", 1, 0},   // not a hub: the driver answers an empty name
    };
    for (const CPortNameCase& c : cases) {
        SCOPED_TRACE("port " + std::to_string(c.m_port));
        m_machine.Platform().ClearLog();
        int port = c.m_port;
        CString name = "stale";
        EXPECT_EQ(m_hub.GetNodeConnectionName(port, name) != 0, c.m_bOk);
        EXPECT_EQ(name, c.m_strName);
        const auto& calls = m_machine.Platform().IoctlCalls();
        ASSERT_EQ(calls.size(), c.m_calls);
        EXPECT_EQ(calls[0].m_dwCode, IOCTL_USB_GET_NODE_CONNECTION_NAME);
        EXPECT_EQ(calls[0].m_dwInSize, 10u);
        if (c.m_calls == 2) {
            EXPECT_EQ(calls[1].m_dwOutSize, c.m_fullSize);
        }
    }
}

// --- Connection information ------------------------------------------------------------

class ConnectionInformation : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_hub.Open());
        m_machine.Platform().ClearLog();
    }
    std::vector<DWORD> Codes() const {
        std::vector<DWORD> codes;
        for (const CIoctlCall& c : m_machine.Platform().IoctlCalls()) {
            codes.push_back(c.m_dwCode);
            EXPECT_EQ(c.m_dwInSize, 365u);
            EXPECT_EQ(c.m_dwOutSize, 365u);
        }
        return codes;
    }

    CMachineScope m_machine{"requests-connection.json"};
    CUsbIoHandle m_hub{"\\\\.\\ROOT_CONNECTIONS"};
};

TEST_F(ConnectionInformation, ExtendedRequestAnswersAlone) {
    int port = 4;
    std::vector<BYTE> buffer;
    EXPECT_TRUE(m_hub.GetNodeConnectionInformation(port, buffer));
    ASSERT_EQ(buffer.size(), 365u);
    EXPECT_EQ(buffer[23], 2);  // high speed, as the driver wrote it
    EXPECT_EQ(buffer[12] | buffer[13] << 8, 0x0104);
    EXPECT_EQ(Codes(), std::vector<DWORD>{0x220448});

    // A low-speed device through the extended request: its Speed 0 is not converted.
    m_machine.Platform().ClearLog();
    port = 7;
    EXPECT_TRUE(m_hub.GetNodeConnectionInformation(port, buffer));
    EXPECT_EQ(buffer[23], 0);
    EXPECT_EQ(Codes(), std::vector<DWORD>{0x220448});
}

TEST_F(ConnectionInformation, LegacyFallbackTurnsLowSpeedIntoSpeed) {
    struct {
        int m_port;
        BYTE m_speed;
    } const cases[] = {{1, 0}, {2, 1}, {3, 1}};  // low, full, high (seen as full)
    for (const auto& c : cases) {
        SCOPED_TRACE("port " + std::to_string(c.m_port));
        m_machine.Platform().ClearLog();
        int port = c.m_port;
        std::vector<BYTE> buffer;
        EXPECT_TRUE(m_hub.GetNodeConnectionInformation(port, buffer));
        ASSERT_EQ(buffer.size(), 365u);
        EXPECT_EQ(buffer[23], c.m_speed);
        EXPECT_EQ(buffer[12], 0x00 + c.m_port);  // idVendor 0x010n
        EXPECT_EQ(buffer[13], 0x01);
        EXPECT_EQ((std::vector<DWORD>{0x220448, 0x22040C}), Codes());
    }
}

TEST_F(ConnectionInformation, BothRequestsRefusedIsFailure) {
    int port = 5;
    std::vector<BYTE> buffer;
    EXPECT_FALSE(m_hub.GetNodeConnectionInformation(port, buffer));
    EXPECT_EQ((std::vector<DWORD>{0x220448, 0x22040C}), Codes());
}

// The caller's buffer is always exactly 365 bytes when the request goes out: a longer one
// is cut, a shorter one extended with zeros, bytes already there kept. Port 6 answers
// success without writing, so what the buffer held before the call shows.
TEST_F(ConnectionInformation, BufferResizedToExactly365) {
    int port = 6;
    std::vector<BYTE> empty;
    EXPECT_TRUE(m_hub.GetNodeConnectionInformation(port, empty));
    ASSERT_EQ(empty.size(), 365u);
    EXPECT_EQ(empty[0], 6);  // ConnectionIndex
    for (std::size_t i = 1; i < empty.size(); ++i)
        ASSERT_EQ(empty[i], 0) << "byte " << i;

    std::vector<BYTE> longer(400, 0xEE);
    EXPECT_TRUE(m_hub.GetNodeConnectionInformation(port, longer));
    ASSERT_EQ(longer.size(), 365u);
    EXPECT_EQ((std::vector<BYTE>{6, 0, 0, 0}),
              std::vector<BYTE>(longer.begin(), longer.begin() + 4));
    for (std::size_t i = 4; i < longer.size(); ++i)
        ASSERT_EQ(longer[i], 0xEE) << "byte " << i;

    port = 4;
    std::vector<BYTE> answered(400, 0xEE);
    EXPECT_TRUE(m_hub.GetNodeConnectionInformation(port, answered));
    EXPECT_EQ(answered.size(), 365u);
    EXPECT_EQ(answered[23], 2);
}

// --- String descriptors ----------------------------------------------------------------

class StringDescriptorRequests : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_hub.Open()); }

    CMachineScope m_machine{"requests-descriptors.json"};
    CUsbIoHandle m_hub{"\\\\.\\ROOT_DESCRIPTORS"};
};

TEST_F(StringDescriptorRequests, AcceptedRepliesGiveTheWholeDescriptor) {
    int port = 1;
    std::vector<BYTE> descriptor{0xAA, 0xBB, 0xCC};
    EXPECT_TRUE(m_hub.GetStringDescriptor(port, 1, 0x0409, descriptor));
    EXPECT_EQ(descriptor, (std::vector<BYTE>{2, 3}));  // 12 + 2 bytes: the empty string

    EXPECT_TRUE(m_hub.GetStringDescriptor(port, 6, 0x0409, descriptor));
    EXPECT_EQ(descriptor, (std::vector<BYTE>{12, 3, 'H', 0, 'e', 0, 'l', 0, 'l', 0, 'o', 0}));

    for (const CIoctlCall& c : m_machine.Platform().IoctlCalls()) {
        EXPECT_EQ(c.m_dwCode, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION);
        EXPECT_EQ(c.m_dwInSize, 267u);
        EXPECT_EQ(c.m_dwOutSize, 267u);
    }
}

TEST_F(StringDescriptorRequests, RefusedRepliesLeaveTheBufferAlone) {
    struct {
        BYTE m_index;
        const char* m_what;
    } const cases[] = {
        {2, "bLength 3 (odd)"},
        {3, "type 2"},
        {4, "bLength 6 with 4 bytes returned"},
        {5, "bLength 0 with 12 bytes reported"},
        {7, "bLength 4 with 3 bytes returned"},
        {20, "an index the device does not have (stalled)"},
    };
    int port = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_what);
        std::vector<BYTE> descriptor{0xAA, 0xBB, 0xCC};
        EXPECT_EQ(m_hub.GetStringDescriptor(port, c.m_index, 0x0409, descriptor), 0);
        EXPECT_EQ(descriptor, (std::vector<BYTE>{0xAA, 0xBB, 0xCC}));
    }
    // The language goes out as wIndex: the device has index 9 only in 0x0409.
    std::vector<BYTE> descriptor;
    EXPECT_EQ(m_hub.GetStringDescriptor(port, 9, 0x0411, descriptor), 0);
    EXPECT_TRUE(descriptor.empty());
}

TEST_F(StringDescriptorRequests, TextOfAString) {
    int port = 1;
    WORD english = 0x0409;
    struct {
        BYTE m_index;
        bool m_bOk;
        const char* m_text;
    } const cases[] = {
        {9, true, "Kestrel"},
        {8, true, "AB"},  // cut at the NUL inside
        {1, true, ""},    // bLength 2: empty, and a success
        {2, false, ""},   // refused: the output is emptied all the same
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_text);
        BYTE index = c.m_index;
        CString text = "stale";
        EXPECT_EQ(m_hub.GetStringDescriptorText(port, index, english, text) != 0, c.m_bOk);
        EXPECT_EQ(text, c.m_text);
    }
}

TEST_F(StringDescriptorRequests, LanguageList) {
    std::vector<WORD> languages{1, 2};
    int port = 2;
    EXPECT_TRUE(m_hub.GetLanguageIds(port, languages));
    EXPECT_EQ(languages, (std::vector<WORD>{0x0411, 0x0409, 0x0407}));

    port = 3;  // descriptor 0 of bLength 2
    EXPECT_TRUE(m_hub.GetLanguageIds(port, languages));
    EXPECT_TRUE(languages.empty());

    languages = {1, 2};
    port = 4;  // descriptor 0 with an odd bLength
    EXPECT_EQ(m_hub.GetLanguageIds(port, languages), 0);
    EXPECT_TRUE(languages.empty());
}

}  // namespace
}  // namespace ks
