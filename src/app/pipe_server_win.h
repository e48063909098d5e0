// The server end of the named pipe that a second start, --quit and the settings options
// connect to: one pipe instance, one client at a time, waited for with an overlapped connect so
// that the owner can wait on it beside other handles. Served by the headless loop and by the
// Win32 window's request thread; one thread at a time.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace kelvo {

class TPipeServer {
 public:
  // One request line (without its end) → the answer line (empty: none); sets AStop when the
  // owner must end once the answer is out.
  using THandler = std::function<std::string(const std::string& ALine, bool& AStop)>;

  // On failure AError says why and Connected() is null.
  TPipeServer(const std::string& ASocketName, std::string& AError);
  ~TPipeServer();
  TPipeServer(const TPipeServer&) = delete;
  TPipeServer& operator=(const TPipeServer&) = delete;

  // Signalled when a client has connected; null when the pipe could not be made.
  HANDLE Connected() const { return fPipe != INVALID_HANDLE_VALUE ? fConnected : nullptr; }

  // Answers the connected client through AHandler, then waits for the next one. True when the
  // handler asked the owner to stop.
  bool Answer(const THandler& AHandler);

 private:
  void Listen();

  std::wstring fName;
  HANDLE fPipe = INVALID_HANDLE_VALUE;
  HANDLE fConnected = nullptr;
  OVERLAPPED fOverlapped{};
};

}  // namespace kelvo
