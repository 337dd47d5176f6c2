// One scan through the worker pipeline, as the program runs it: start the worker, register
// a message-only window, request a scan, wait for the notification, fetch the results,
// stop the worker. Main thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "listing/ScanThreadControl.h"
#include "platform/Platform.h"
#include "worker/DeviceRecord.h"

namespace ks {

// The records of the pass; with `entries`, also the scanner's entries they were built from
// (the same pass, one per record). False when the worker could not be started.
bool RunOneScan(CDeviceRecordList& records, std::vector<CUsbDeviceEntry>* entries = nullptr);

// Scans, and scans again each time devices or volumes come or go, until the process is
// interrupted (SIGINT, SIGTERM, Ctrl+C): `onResults` gets every list the worker publishes,
// with the scanner's entries of the last pass, on the main thread. Each is whole; when a
// pass ends between the two fetches the entries are of a later pass than the records, so
// use one or the other, not both together. Where the platform has no device-change watch
// (Windows: there the broadcasts go to top-level windows, and this tool has none; Linux
// where netlink is refused, which one line on stderr tells), the machine is scanned again
// every kWatchPollInterval ms. Call it on the main thread before any other thread has
// been started. False when the worker could not be started.
inline constexpr DWORD kWatchPollInterval = kScanRequestInterval;
using ScanResultsHandler =
    std::function<void(const CDeviceRecordList&, const std::vector<CUsbDeviceEntry>&)>;
bool WatchScans(const ScanResultsHandler& onResults);

// RunOneScan on `platform` with its answers recorded: the records, and the machine as
// fixture text that --machine replays to the same records. Any backend will do (the live
// machine, a simulated one, a test bed). `entries` as for RunOneScan. False when the
// worker could not be started.
bool RunCapturedScan(IPlatform& platform, CDeviceRecordList& records, std::string& fixture,
                     std::vector<CUsbDeviceEntry>* entries = nullptr);

}  // namespace ks
