#include "ui_win32/control_pipe.h"

#include <exception>
#include <vector>

#include "app/command_line.h"
#include "base/wait_time.h"

namespace kelvo {

namespace {

constexpr wchar_t kSinkClass[] = L"KelvoRelayControlPipe";
constexpr UINT kRequestMessage = WM_APP + 40;  // LPARAM: TCall*, sent by the thread
constexpr UINT kQuitMessage = WM_APP + 41;     // posted by the thread after a quit's answer

}  // namespace

struct TControlPipe::TCall {
  const std::string* Line = nullptr;
  std::string Answer;
  bool Quit = false;
};

TControlPipe::TControlPipe(const std::string& ASocketName, TAnswer AAnswer, TQuit AQuit,
                           std::string& AError)
    : fAnswer(std::move(AAnswer)), fQuit(std::move(AQuit)) {
  fServer = std::make_unique<TPipeServer>(ASocketName, AError);
  if (fServer->Events().empty()) {
    fServer.reset();
    return;
  }
  WNDCLASSEXW sinkClass{};
  sinkClass.cbSize = sizeof(sinkClass);
  sinkClass.lpfnWndProc = &TControlPipe::SinkProc;
  sinkClass.hInstance = GetModuleHandleW(nullptr);
  sinkClass.lpszClassName = kSinkClass;
  RegisterClassExW(&sinkClass);  // fails harmlessly when already registered
  fSink.Reset(CreateWindowExW(0, kSinkClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr));
  fStop.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  fFinished.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!fSink || !fStop || !fFinished) {
    AError = "cannot set up the request window";
    fServer.reset();
    return;
  }
  SetWindowLongPtrW(fSink.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  try {
    fThread = std::thread([this] { Run(); });
  } catch (const std::exception& error) {
    AError = std::string("cannot start the request thread: ") + error.what();
    fServer.reset();
  }
}

TControlPipe::~TControlPipe() {
  fClosing = true;
  if (fThread.joinable()) {
    SetEvent(fStop.Get());
    // The thread may be waiting for this thread in SendMessage: take such messages until it
    // has finished.
    const HANDLE finished = fFinished.Get();
    while (MsgWaitForMultipleObjects(1, &finished, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
      MSG message;
      PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    fThread.join();
  }
  fServer.reset();
  fSink.Reset();
}

void TControlPipe::Run() {
  std::vector<HANDLE> waits{fStop.Get()};
  waits.insert(waits.end(), fServer->Events().begin(), fServer->Events().end());
  const auto handler = [this](const std::string& ALine, bool& AQuit) {
    return AnswerOnGuiThread(ALine, AQuit);
  };
  for (;;) {
    const auto timeout = static_cast<DWORD>(MillisecondsUntil(fServer->NextDeadline()));
    const DWORD ready =
        WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, timeout);
    if (ready == WAIT_OBJECT_0 || ready == WAIT_FAILED) {
      break;
    }
    bool quit = false;
    if (ready > WAIT_OBJECT_0 && ready < WAIT_OBJECT_0 + waits.size()) {
      quit = fServer->Serve(ready - WAIT_OBJECT_0 - 1, handler);
    }
    quit = fServer->DropLate() || quit;
    if (quit) {
      PostMessageW(fSink.Get(), kQuitMessage, 0, 0);
    }
  }
  SetEvent(fFinished.Get());
}

std::string TControlPipe::AnswerOnGuiThread(const std::string& ALine, bool& AQuit) {
  TCall call;
  call.Line = &ALine;
  SendMessageW(fSink.Get(), kRequestMessage, 0, reinterpret_cast<LPARAM>(&call));
  AQuit = call.Quit;
  return call.Answer;
}

LRESULT CALLBACK TControlPipe::SinkProc(HWND AWindow, UINT AMessage, WPARAM AWParam,
                                        LPARAM ALParam) {
  auto* self = reinterpret_cast<TControlPipe*>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
  if (self == nullptr || (AMessage != kRequestMessage && AMessage != kQuitMessage)) {
    return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
  }
  if (AMessage == kQuitMessage) {
    if (!self->fClosing) {
      self->fQuit();
    }
    return 0;
  }
  TCall& call = *reinterpret_cast<TCall*>(ALParam);
  if (self->fClosing) {
    // The window is going: a quit is as good as done, anything else is not taken.
    const auto request = DecodeControlRequest(*call.Line);
    const bool quit = request && request->Kind == TControlRequest::TKind::Quit;
    call.Answer = EncodeOutcome(quit ? TOutcome{} : TOutcome{kExitFailure, "the relay is ending"});
    return 0;
  }
  try {
    const TControlAnswer answer = self->fAnswer(*call.Line);
    call.Answer = answer.Line;
    call.Quit = answer.Quit;
  } catch (const std::exception& error) {
    // Whatever went wrong, the relay keeps running and the asking command hears of it.
    call.Answer = EncodeOutcome({kExitFailure, error.what()});
  }
  return 0;
}

}  // namespace kelvo
