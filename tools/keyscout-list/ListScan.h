// One scan through the worker pipeline, as the program runs it: start the worker, register
// a message-only window, request a scan, wait for the notification, fetch the results,
// stop the worker. Main thread.
#pragma once

#include "worker/DeviceRecord.h"

namespace ks {

// False when the worker could not be started.
bool RunOneScan(CDeviceRecordList& records);

}  // namespace ks
