// How a request to stop reaches the headless relay: SIGINT and SIGTERM on POSIX systems;
// Ctrl+C, Ctrl+Break and closing the console window on Windows.
//
// Main thread only, one object at a time. Create it before any other thread starts, so that on
// POSIX systems the threads started later never take the signals themselves.
#pragma once

#include <chrono>
#include <memory>

namespace kelvo {

class TStopRequest {
 public:
  TStopRequest();
  ~TStopRequest();
  TStopRequest(const TStopRequest&) = delete;
  TStopRequest& operator=(const TStopRequest&) = delete;

  // Waits up to AWait; true once a stop has been requested.
  bool Wait(std::chrono::milliseconds AWait);
  // The relay has stopped and saved its settings. Windows ends a process as soon as its
  // handler of a console close returns, so that handler waits for this.
  void Done();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> fImpl;
};

}  // namespace kelvo
