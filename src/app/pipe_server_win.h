// The server end of the named pipe that a second start, --quit and the settings options
// connect to. Several pipe instances, each a small state machine of overlapped operations
// (connect, read the line, write the answer, wait for the client to close), so the owner waits
// on their events beside its other handles and is never held up by a client: a silent one is
// dropped when its time is up. Only this user may open the pipe or add instances to it.
// Served by the headless loop and by the Win32 window's request thread; one thread at a time.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvo {

class TPipeServer {
 public:
  // One request line (without its end) → the answer line (empty: none); sets AStop when the
  // owner must end once the answer is out.
  using THandler = std::function<std::string(const std::string& ALine, bool& AStop)>;
  using TClock = std::chrono::steady_clock;

  // Pipe instances made at once: clients beyond them wait (WaitNamedPipe) for a free one.
  static constexpr std::size_t kInstances = 4;

  // On failure AError says why and Events() is empty. A pipe of this name that somebody else
  // made first is a failure: the relay never shares a pipe.
  TPipeServer(const std::string& ASocketName, std::string& AError);
  ~TPipeServer();
  TPipeServer(const TPipeServer&) = delete;
  TPipeServer& operator=(const TPipeServer&) = delete;

  // One event per pipe instance, signalled when that instance can move on.
  const std::vector<HANDLE>& Events() const { return fEvents; }

  // Moves on the instance of Events()[AIndex], handing a whole request line to AHandler. True
  // when a stop request has been answered (or its client is gone).
  bool Serve(std::size_t AIndex, const THandler& AHandler);
  // When the next client's time runs out; TClock::time_point::max() when nobody is connected.
  TClock::time_point NextDeadline() const;
  // Drops the clients whose time has run out. True when one of them had asked to stop.
  bool DropLate();

 private:
  struct TInstance;
  std::vector<std::unique_ptr<TInstance>> fInstances;
  std::vector<HANDLE> fEvents;
};

}  // namespace kelvo
