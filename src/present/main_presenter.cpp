#include "present/main_presenter.h"

#include <utility>

#include "app/relay_host.h"
#include "app/running_instance.h"
#include "app/version.h"
#include "present/tray_text.h"

namespace kelvo {

TMainPresenter::TMainPresenter(TMainView& AView, TMyLog& ALog, TRegistryStore& AStore)
    : fView(AView), fLog(ALog), fStore(AStore) {}

TMainPresenter::~TMainPresenter() = default;

TRelayHost& TMainPresenter::CreateRelay(TRelayView& ARelayView) {
  KELVO_ASSERT_THREAD(fGuiThread, kGuiThreadOnly);
  fHost = std::make_unique<TRelayHost>(ARelayView, fLog, fStore);
  fLifecycle = std::make_unique<TFormLifecycle>(
      *fHost, fLog, fView, [this](const std::string& AMessage) { AppOnException(AMessage); });
  return *fHost;
}

void TMainPresenter::StartRelay(bool ADebugLog) {
  KELVO_ASSERT_THREAD(fGuiThread, kGuiThreadOnly);
  // 3. Counters: nothing counted yet, shown as "-" until the first frame or tick.
  fView.ShowCounters("-");
  // 4. The debug log is off at every start unless asked for on the command line.
  fHost->Engine().SetCreateDebugLogs(ADebugLog);
  // 5. Caption.
  fView.SetCaption(MainWindowCaption());
  // 6. From here on an escaping error is logged (while the debug log is on), not fatal.
  fView.SetExceptionHandler([this](const std::string& AMessage) { AppOnException(AMessage); });
  fView.StartTimers();

  // Each remaining step runs even when an earlier one failed: a bad settings value must not
  // leave the relay silently not listening.
  fLifecycle->RunStep([this] {
    // 7. Lamp pictures; all four lamps grey.
    fView.CreateLamps();
    for (TLamp lamp : {TLamp::LANRx, TLamp::LANTx, TLamp::WANRx, TLamp::WANTx}) {
      fView.SetLed(lamp, TLedColor::Gray);
    }
  });
  // 8.-11. Adapter, log file name, settings, endpoint.
  fLifecycle->Start();
}

void TMainPresenter::FormCreateAttached(TRelayAsk AAsk) {
  KELVO_ASSERT_THREAD(fGuiThread, kGuiThreadOnly);
  fAttached = true;
  fView.ShowCounters("-");
  fView.SetCaption(AttachedWindowCaption());
  fView.SetExceptionHandler([this](const std::string& AMessage) { AppOnException(AMessage); });
  fView.StartAttached(std::move(AAsk));
}

void TMainPresenter::AppOnException(const std::string& AMessage) {
  LogAppException(fHost.get(), fLog, AMessage);
}

TControlAnswer TMainPresenter::AnswerRequest(const std::string& ALine) {
  KELVO_ASSERT_THREAD(fGuiThread, kGuiThreadOnly);
  if (!fLifecycle) {
    return AnswerAttachedWindowRequest(ALine);
  }
  return fLifecycle->AnswerRequest(ALine);
}

void TMainPresenter::ShowNetworkStatus(const TNetworkStatus& AStatus, int AApplications,
                                       int AControllers) {
  KELVO_ASSERT_THREAD(fGuiThread, kGuiThreadOnly);
  fView.ShowNetworkTexts(TrayToolTip(AStatus, AApplications, AControllers), !AStatus.IsListening(),
                         DescribeNetworkStatus(AStatus));
}

void TMainPresenter::AgeingTick() {
  KELVO_ASSERT_THREAD(fGuiThread, kGuiThreadOnly);
  fLifecycle->AgeingTick();
}

void TMainPresenter::Exit1Click() {
  KELVO_ASSERT_THREAD(fGuiThread, kGuiThreadOnly);
  fExiting = true;
  fView.EndMessageLoop();
}

void TMainPresenter::ShowRequested() {
  KELVO_ASSERT_THREAD(fGuiThread, kGuiThreadOnly);
  if (fView.Minimized()) {
    fView.RestoreMinimized();
  }
  fView.ShowMainWindow();
}

void TMainPresenter::FormDestroy() {
  KELVO_ASSERT_THREAD(fGuiThread, kGuiThreadOnly);
  if (fAttached || !fLifecycle) {
    fView.StopTimers();  // the relay is not ours to stop, nor its settings to save
    fView.RemoveTrayIcon();
    return;
  }
  fLifecycle->Destroy([this] { fView.StopTimers(); }, [this] { fView.RemoveTrayIcon(); });
}

void TMainPresenter::Abandon() {
  fView.StopTimers();
  if (fHost) {
    fHost->StopListening();
  }
  fView.SetExceptionHandler(nullptr);
}

std::string HelpFileBesideExecutable() {
  std::string folder = ExecutablePath();
  folder.erase(folder.find_last_of("\\/") + 1);
  return folder + "Readme.txt";
}

}  // namespace kelvo
