// The console control events behind HoldStopRequests on Windows, for the loops that wait for
// them. Internal to the core's Windows files. Main thread only.
#pragma once

namespace kelvo {

// The manual-reset event that Ctrl+C, Ctrl+Break and closing the console set once
// HoldStopRequests has run (a HANDLE; null before). The loop waits on it.
void* ConsoleStopEvent();

}  // namespace kelvo
