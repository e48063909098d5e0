// Shared by the Win32 window tests: a message pump that waits for a condition, and a rig that
// owns one main window (with its dialogs) over a settings key of its own.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "config/registry_store.h"
#include "diag/my_log.h"
#include "ui_win32/about_window.h"
#include "ui_win32/edit_nat_dialog.h"
#include "ui_win32/help_window.h"
#include "ui_win32/main_window.h"
#include "ui_win32/options_dialog.h"

namespace kelvo::test {

// The settings key the window tests use instead of the program's own.
inline constexpr const char* kTestSettingsKey =
    "HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelayWin32Test";

// Dispatches messages until APredicate holds or ATimeout has passed; returns APredicate().
inline bool PumpUntil(const std::function<bool()>& APredicate,
                      std::chrono::milliseconds ATimeout = std::chrono::milliseconds(3000)) {
  const auto end = std::chrono::steady_clock::now() + ATimeout;
  while (!APredicate()) {
    if (std::chrono::steady_clock::now() >= end) {
      return APredicate();
    }
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        continue;  // an Exit under test: the loop that would end is the test's own
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

inline void PumpFor(std::chrono::milliseconds ADuration) {
  PumpUntil([] { return false; }, ADuration);
}

inline void DeleteTestSettings() {
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Marlowin\\KelvoRelayWin32Test");
}

// One main window over a fresh settings key, with the program's four dialogs.
class TWindowRig {
 public:
  explicit TWindowRig(bool ADebugLog = false) {
    DeleteTestSettings();
    fStore = std::make_unique<TRegistryStore>(kTestSettingsKey);
    TCommandLine options;
    options.DebugLog = ADebugLog;
    fWindow = std::make_unique<TfmMain>(fLog, *fStore, options);
    fEditNAT = std::make_unique<TfmEditNAT>();
    fOptions = std::make_unique<TfmOptions>(*fEditNAT);
    fAbout = std::make_unique<TfmAbout>();
    fHelp = std::make_unique<TfmHelp>();
    for (TModalForm* form :
         {static_cast<TModalForm*>(fAbout.get()), static_cast<TModalForm*>(fOptions.get()),
          static_cast<TModalForm*>(fEditNAT.get()), static_cast<TModalForm*>(fHelp.get())}) {
      form->Create(fWindow->Handle());
    }
    fWindow->SetDialogs({fAbout.get(), fOptions.get(), fHelp.get()});
  }
  ~TWindowRig() {
    TModalForm::SetShowingHook(nullptr);
    fWindow->FormDestroy();
    fHelp.reset();
    fOptions.reset();
    fEditNAT.reset();
    fAbout.reset();
    fWindow.reset();
    DeleteTestSettings();
  }
  TWindowRig(const TWindowRig&) = delete;
  TWindowRig& operator=(const TWindowRig&) = delete;

  TfmMain& Window() { return *fWindow; }
  HWND Handle() { return fWindow->Handle(); }
  TRegistryStore& Store() { return *fStore; }
  TMyLog& Log() { return fLog; }
  TfmOptions& Options() { return *fOptions; }
  TfmEditNAT& EditNAT() { return *fEditNAT; }
  TfmAbout& About() { return *fAbout; }
  TfmHelp& Help() { return *fHelp; }

 private:
  TMyLog fLog;
  std::unique_ptr<TRegistryStore> fStore;
  std::unique_ptr<TfmMain> fWindow;
  std::unique_ptr<TfmEditNAT> fEditNAT;
  std::unique_ptr<TfmOptions> fOptions;
  std::unique_ptr<TfmAbout> fAbout;
  std::unique_ptr<TfmHelp> fHelp;
};

// Runs the modal showings' hooks in turn: the first showing runs AHooks[0], and so on.
class TShowingScript {
 public:
  explicit TShowingScript(std::vector<std::function<void(TModalForm&)>> AHooks)
      : fHooks(std::move(AHooks)) {
    TModalForm::SetShowingHook([this](TModalForm& AForm) {
      if (fNext < fHooks.size()) {
        const std::size_t index = fNext++;
        fHooks[index](AForm);
      }
    });
  }
  ~TShowingScript() { TModalForm::SetShowingHook(nullptr); }
  TShowingScript(const TShowingScript&) = delete;
  TShowingScript& operator=(const TShowingScript&) = delete;
  std::size_t Ran() const { return fNext; }

 private:
  std::vector<std::function<void(TModalForm&)>> fHooks;
  std::size_t fNext = 0;
};

inline void Click(HWND AButton) {
  SendMessageW(AButton, BM_CLICK, 0, 0);
}

}  // namespace kelvo::test
