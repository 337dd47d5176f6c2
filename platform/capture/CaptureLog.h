// What CMachineRecorder remembers of a scan: the answers the backend gave, per target and
// per kind of request, the first answers in full and the rest only counted. Internal to
// platform/capture/; the recorder fills it on the scan thread, the model builder reads it
// afterwards.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/PlatformTypes.h"

namespace ks::capture {

// Output kept of one answer: enough for every reply the program asks for (the longest is a
// name of kMaxNameReplySize), bounded whatever size a caller passes.
inline constexpr std::size_t kMaxKeptOutput = 64 * 1024;
// Device nodes remembered; calls about further nodes pass unrecorded. The scan's own search
// visits at most a million, a real machine has a few thousand.
inline constexpr std::size_t kMaxNodes = 1u << 16;

// One answer of a driver request as the caller saw it.
struct CIoAnswer {
    DWORD m_dwOutSize = 0;
    BOOL m_bResult = FALSE;
    DWORD m_dwReturned = 0;
    bool m_bWritten = false;   // some byte of the output buffer changed
    std::vector<BYTE> m_vOut;  // the output buffer after the call, at most kMaxKeptOutput
};

// The answers of one kind of request to one target.
struct CIoSeries {
    // The first answer for each output size (a name request's probe and its full request),
    // at most two.
    std::vector<CIoAnswer> m_vKept;
    DWORD m_dwCalls = 0;
    DWORD m_dwSucceeded = 0;  // successful answers before the first failure
    bool m_bFailed = false;
    bool m_bRecovered = false;  // a success after a failure
    bool m_bChanged = false;    // a later answer of a kept size differed from the kept one

    void Add(CIoAnswer answer);
    const CIoAnswer* Kept(DWORD outSize) const;
    // The first kept answer whose output size is above `size`.
    const CIoAnswer* KeptAbove(DWORD size) const;
    const CIoAnswer* First() const { return m_vKept.empty() ? nullptr : &m_vKept.front(); }
};

struct CControllerLog {
    std::string m_strPath;  // as opened
    std::optional<int> m_optHcd;
    bool m_bInterface = false;  // the path is a host-controller interface's
    std::optional<bool> m_optOpened;
    CIoSeries m_driverKey;
    CIoSeries m_rootHubName;
};

struct CPortLog {
    CIoSeries m_connectionEx;
    CIoSeries m_connection;  // the legacy request
    CIoSeries m_driverKey;
    CIoSeries m_nodeName;
    std::map<std::pair<BYTE, WORD>, CIoSeries> m_mapStrings;  // (index, language)
};

struct CHubLog {
    std::string m_strName;  // ANSI, as opened, without "\\.\"
    std::optional<bool> m_optOpened;
    CIoSeries m_nodeInformation;
    std::map<DWORD, CPortLog> m_mapPorts;
};

struct CInterfaceLog {
    std::optional<DWORD> m_optRequired;  // the size query's answer
    std::optional<BOOL> m_optDetail;     // the detail call's result
    std::string m_strPath;               // ANSI
    std::optional<DEVINST> m_optDevInst;
};

struct CInterfaceSetLog {
    bool m_bAsked = false;
    bool m_bSetFailed = false;
    std::vector<CInterfaceLog> m_vInterfaces;  // one per member index that enumerated
};

struct CMountAnswer {
    BOOL m_bResult = FALSE;
    bool m_bWritten = false;
    std::string m_strName;  // ANSI
};

// One answer of a configuration-manager call.
struct CCmAnswer {
    CONFIGRET m_cr = CR_SUCCESS;
    bool m_bWritten = false;  // some output changed
    DEVINST m_target = 0;     // navigation, locate
    std::string m_strData;    // device ID, property bytes, relations list
    ULONG m_ulLength = 0;     // properties: the length answered; relations: the size
    ULONG m_ulBuffer = 0;     // the buffer size the caller gave
    ULONG m_ulStatus = 0;
    ULONG m_ulProblem = 0;
};

struct CCmSeries {
    std::optional<CCmAnswer> m_optFirst;
    bool m_bChanged = false;
    void Add(const CCmAnswer& answer);
};

enum class ECmOp { Child, Sibling, Parent, DeviceId, Status, PropertySize, PropertyRead };

struct CNodeLog {
    std::size_t m_order = 0;  // when the recorder first met the node
    // (operation, property code) -> answers
    std::map<std::pair<ECmOp, ULONG>, CCmSeries> m_mapCalls;
};

// Calls that name a device by its instance ID.
struct CIdLog {
    std::string m_strId;  // ANSI, as the caller gave it
    CCmSeries m_locate;
    CCmSeries m_relationsSize;
    CCmSeries m_relationsList;
};

struct CCaptureLog {
    std::map<std::string, CControllerLog> m_mapControllers;  // by upper-cased path
    std::map<std::string, CHubLog> m_mapHubs;                // by upper-cased name
    CInterfaceSetLog m_controllerInterfaces;
    CInterfaceSetLog m_volumeInterfaces;
    std::map<char, CMountAnswer> m_mapRootMounts;
    std::map<std::string, CMountAnswer> m_mapInterfaceMounts;  // upper path, without "\"
    std::optional<CCmAnswer> m_optRootLocate;
    std::map<DEVINST, CNodeLog> m_mapNodes;
    std::map<std::string, CIdLog> m_mapIds;  // by upper-cased ID
    std::vector<std::string> m_vNotes;
    bool m_bNodesCut = false;  // more nodes than kMaxNodes were met
};

// ASCII upper-case, as Windows compares device paths and instance IDs here.
std::string UpperAscii(std::string_view s);

}  // namespace ks::capture
