// Interruption of a console program (Ctrl+C, SIGINT and SIGTERM; on Windows the console's
// control events), delivered as a plain call on a thread of its own rather than inside a
// signal handler, so that the call may post messages, take locks and the like.
//
// Call StartInterruptWatch on the main thread before any other thread is started: on Linux
// the two signals are blocked there and every thread created later inherits that, so they
// reach only the watch. `onInterrupt` runs once per interruption and must not block.
// Destroying the watch stops it (the signals stay blocked in the calling thread).
#pragma once

#include <functional>
#include <memory>

namespace ks {

class IInterruptWatch {
  public:
    virtual ~IInterruptWatch() = default;
};
// nullptr when the system offers no way to watch (the program then ends by default
// handling of the signal).
std::unique_ptr<IInterruptWatch> StartInterruptWatch(std::function<void()> onInterrupt);

}  // namespace ks
