// How the process treats the signals (Windows: console events) that stop or reload it.
// Main thread only.
#pragma once

namespace kelvo {

// The program's first statement. Holds back the stop and reload requests, so one that arrives
// during start-up waits for the running relay (or window) to take it and end cleanly, and
// makes a vanished reader of standard output an error of that write instead of the end of the
// process.
void HoldStopRequests();

// For the commands that only print or change the settings and then end: a stop request ends
// them at once, as it would any short tool.
void ReleaseStopRequests();

}  // namespace kelvo
