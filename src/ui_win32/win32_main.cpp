#include "ui_win32/win32_main.h"

#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>

#include "app/control_client.h"
#include "app/control_requests.h"
#include "app/instance_guard.h"
#include "app/version.h"
#include "config/registry_store.h"
#include "diag/my_log.h"
#include "ui_win32/about_window.h"
#include "ui_win32/control_pipe.h"
#include "ui_win32/edit_nat_dialog.h"
#include "ui_win32/help_window.h"
#include "ui_win32/main_window.h"
#include "ui_win32/options_dialog.h"
#include "ui_win32/tray_icon.h"
#include "ui_win32/win32_text.h"

namespace kelvo {

namespace {

// Started from Explorer, a console program gets a console of its own: the window does not
// need it. A console shared with the shell that started the program stays.
void ReleaseOwnConsole() {
  DWORD processes[2] = {};
  if (GetConsoleWindow() != nullptr && GetConsoleProcessList(processes, 2) == 1) {
    FreeConsole();
  }
}

// COM for the picture decoder, for the lifetime of the window.
class TComApartment {
 public:
  TComApartment() : fOwned(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~TComApartment() {
    if (fOwned) {
      CoUninitialize();
    }
  }
  TComApartment(const TComApartment&) = delete;
  TComApartment& operator=(const TComApartment&) = delete;

 private:
  bool fOwned;
};

int RunWindow(const TCommandLine& AOptions, TMyLog& ALog, TInstanceGuard& AGuard,
              const std::string* ARelaySocket) {
  ReleaseOwnConsole();
  TComApartment com;
  TRegistryStore store;
  TRelayAsk attachTo;
  if (ARelaySocket != nullptr) {
    attachTo = [socket = *ARelaySocket](const std::string& ALine,
                                        std::chrono::milliseconds ATimeout) {
      return SendControlRequest(socket, ALine, ATimeout);
    };
  }
  TfmMain fmMain(ALog, store, AOptions, std::move(attachTo));

  // The other windows, created once and kept to the end (the entry editor before the Setup
  // dialog, which holds on to it). Destroyed in reverse order, the main window last.
  auto fmAbout = std::make_unique<TfmAbout>();
  auto fmEditNAT = std::make_unique<TfmEditNAT>();
  auto fmOptions = std::make_unique<TfmOptions>(*fmEditNAT);
  auto fmHelp = std::make_unique<TfmHelp>();
  for (TModalForm* form : std::initializer_list<TModalForm*>{fmAbout.get(), fmOptions.get(),
                                                             fmEditNAT.get(), fmHelp.get()}) {
    form->Create(fmMain.Handle());
  }
  fmMain.SetDialogs({fmAbout.get(), fmOptions.get(), fmHelp.get()});

  // --quit and the settings options: a change takes effect and is saved at once, as after
  // Setup's OK; quitting takes the road of "Exit".
  std::string pipeError;
  auto controlPipe = std::make_unique<TControlPipe>(
      AGuard.ShowRequestName(),
      [&fmMain](const std::string& ALine) {
        TControlAnswer answer = fmMain.AnswerRequest(ALine);
        if (answer.Show) {
          fmMain.ShowRequested();
        }
        return answer;
      },
      [&fmMain] { fmMain.Exit1Click(); }, pipeError);
  if (!pipeError.empty()) {
    std::fprintf(stderr,
                 "kelvorelay: warning: %s; --quit and the settings options cannot reach "
                 "this relay\n",
                 pipeError.c_str());
  }

  // --hidden (start at sign-in): the icon is the way in. Without a taskbar to hold it the
  // window shows as on any other start.
  if (!AOptions.Hidden || !fmMain.Tray().Added()) {
    fmMain.ShowMainWindow();
    UpdateWindow(fmMain.Handle());
  }

  MSG message{};
  int exitCode = 0;
  while (true) {
    const BOOL received = GetMessageW(&message, nullptr, 0, 0);
    if (received == 0 || received == -1) {
      exitCode = received == 0 ? static_cast<int>(message.wParam) : 1;
      break;
    }
    // Tab moves between the main window's controls.
    if (!IsDialogMessageW(fmMain.Handle(), &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  controlPipe.reset();
  fmMain.FormDestroy();
  fmHelp.reset();
  fmOptions.reset();
  fmEditNAT.reset();
  fmAbout.reset();
  return exitCode;
}

}  // namespace

int RunWin32Gui(const TCommandLine& AOptions, TMyLog& ALog, TInstanceGuard& AGuard,
                const std::string* ARelaySocket) {
  // Only a window that cannot be built at all ends here (its later start-up steps report to
  // AppOnException): the program ends with a message on the console, never a dialog.
  try {
    return RunWindow(AOptions, ALog, AGuard, ARelaySocket);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kelvorelay: %s\n", error.what());
    return 1;
  }
}

void BringRunningWindowForward(const std::string& ACaption) {
  HWND window = FindWindowW(kMainWindowClass, Widen(ACaption).c_str());
  if (window == nullptr) {
    return;
  }
  if (IsIconic(window)) {
    ShowWindow(window, SW_RESTORE);
  }
  SetForegroundWindow(window);
}

}  // namespace kelvo
