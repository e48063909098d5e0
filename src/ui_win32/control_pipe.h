// The window's end of the instance's named pipe (--quit, the settings options, a second
// start's show request). A thread of its own waits for clients and hands each request line to
// the GUI thread with SendMessage, so requests are answered in every message loop, a modal
// dialog's included, and the relay itself is only touched on the GUI thread.
// Construct and destroy on the GUI thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/control_requests.h"
#include "app/pipe_server_win.h"
#include "base/handle_win.h"

namespace kelvo {

class TControlPipe {
 public:
  // Both run on the GUI thread. AAnswer answers one request line; AQuit runs after the answer
  // to a quit request has gone out.
  using TAnswer = std::function<TControlAnswer(const std::string& ALine)>;
  using TQuit = std::function<void()>;

  // Listens on ASocketName (see TInstanceGuard::ShowRequestName); on failure AError says why
  // and nothing is served.
  TControlPipe(const std::string& ASocketName, TAnswer AAnswer, TQuit AQuit, std::string& AError);
  // Ends the thread. Requests that arrive meanwhile are told that the relay is ending.
  ~TControlPipe();
  TControlPipe(const TControlPipe&) = delete;
  TControlPipe& operator=(const TControlPipe&) = delete;

 private:
  struct TCall;
  static LRESULT CALLBACK SinkProc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam);
  void Run();
  std::string AnswerOnGuiThread(const std::string& ALine, bool& AQuit);

  TAnswer fAnswer;
  TQuit fQuit;
  TWindowHandle fSink;  // message-only window of the GUI thread
  THandle fStop;
  THandle fFinished;
  std::atomic<bool> fClosing{false};
  std::unique_ptr<TPipeServer> fServer;
  std::thread fThread;
};

}  // namespace kelvo
