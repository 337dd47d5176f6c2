// Turns what CMachineRecorder saw into a CMachineModel, after asking the backend for what a
// fixture should hold and the scan did not ask (see MachineRecorder.h). Internal to
// platform/capture/.
//
// The model answers each request the scan made as the backend answered it the first time:
// for every request the recorder works out what the model would answer from the data alone
// and adds a fault (a byte count, an ActualLength, a failure, a link of the device tree)
// where that differs from what was seen.
//
// Threads: called once, after the scan, on one thread; it calls the backend itself.
#pragma once

#include "platform/Platform.h"
#include "platform/capture/CaptureLog.h"
#include "platform/model/MachineModel.h"

namespace ks::capture {

// Appends notes to log.m_vNotes.
CMachineModel BuildCapturedModel(CCaptureLog& log, IPlatform& backend);

}  // namespace ks::capture
