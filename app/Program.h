// The program itself, whatever its entry: the window, or where no window can be shown (a
// Linux session without a display) one line that says so and the list the window would
// show. Main thread, once.
#pragma once

namespace ks {

int RunProgram();

}  // namespace ks
