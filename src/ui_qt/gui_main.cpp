#include "ui_qt/gui_main.h"

#include <QIcon>
#include <chrono>
#include <cstdio>
#include <memory>

#include "app/control_client.h"
#include "app/control_requests.h"
#include "app/instance_guard.h"
#include "app/relay_host.h"
#include "app/version.h"
#include "config/registry_store.h"
#include "ui_qt/about_window.h"
#include "ui_qt/display_probe.h"
#include "ui_qt/edit_nat_dialog.h"
#include "ui_qt/gui_resources.h"
#include "ui_qt/help_window.h"
#include "ui_qt/kelvo_application.h"
#include "ui_qt/main_window.h"
#include "ui_qt/options_dialog.h"
#include "ui_qt/show_request_server.h"
#include "ui_qt/tray_icon.h"
#include "ui_qt/unix_signal_notifier.h"

namespace kelvo {

bool GuiDisplayReachable() {
  if (DisplayReachable(CurrentDisplayEnvironment())) {
    return true;
  }
  std::fputs(
      "kelvorelay: no display can be reached for the window; kelvorelay --headless runs the "
      "relay without one\n",
      stderr);
  return false;
}

int RunGui(int argc, char** argv, const TCommandLine& AOptions, TMyLog& ALog,
           TInstanceGuard& AGuard, const std::string* ARelaySocket) {
  InitGuiResources();
  TKelvoApplication app(argc, argv);
  app.setApplicationName(QString::fromLatin1(kApplicationTitle));
  // Wayland docks match the window to the installed menu entry by this id.
  QGuiApplication::setDesktopFileName(QStringLiteral("com.marlowin.KelvoRelay"));
  app.setWindowIcon(QIcon(QStringLiteral(":/icon.png")));

  // Installed first: a SIGINT/SIGTERM during start-up waits in the notifier's socket and ends
  // the program through "Exit" as soon as the message loop runs.
  TUnixSignalNotifier unixSignals(nullptr);

  TRegistryStore store;
  TRelayAsk attachTo;
  if (ARelaySocket != nullptr) {
    attachTo = [socket = *ARelaySocket](const std::string& ALine,
                                        std::chrono::milliseconds ATimeout) {
      return SendControlRequest(socket, ALine, ATimeout);
    };
  }
  TfmMain fmMain(ALog, store, AOptions, nullptr, std::move(attachTo));
  // Hidden in the notification area the window is still the program; without one, closing
  // only minimizes and the last window never really goes.
  app.setQuitOnLastWindowClosed(!fmMain.HidesToTray());

  // The other windows, created once and kept to the end (the entry editor before the Setup
  // dialog, which holds on to it). Destroyed in reverse order, the main window last.
  auto fmAbout = std::make_unique<TfmAbout>(&fmMain);
  auto fmEditNAT = std::make_unique<TfmEditNAT>(&fmMain);
  auto fmOptions = std::make_unique<TfmOptions>(*fmEditNAT, &fmMain);
  auto fmHelp = std::make_unique<TfmHelp>(&fmMain);
  fmMain.SetDialogs({fmAbout.get(), fmOptions.get(), fmHelp.get()});

  TShowRequestServer showRequests(nullptr);
  QObject::connect(&showRequests, &TShowRequestServer::ShowRequested, &fmMain,
                   &TfmMain::ShowRequested);
  // --quit and the settings options: a change takes effect and is saved at once, as after
  // Setup's OK; quitting takes the road of "Exit".
  showRequests.SetRequestHandler(
      [&fmMain](const std::string& ALine) { return fmMain.AnswerRequest(ALine); });
  QObject::connect(&showRequests, &TShowRequestServer::QuitRequested, &fmMain,
                   &TfmMain::Exit1Click);
  if (const std::string reason = AGuard.ChannelError(); !reason.empty()) {
    // The relay still runs; only a second start, --quit and the settings options cannot reach it.
    std::fprintf(
        stderr,
        "kelvorelay: warning: %s; --quit and the settings options cannot reach this relay\n",
        reason.c_str());
  } else {
    showRequests.Listen(QString::fromStdString(AGuard.ShowRequestName()));
  }

  QObject::connect(&unixSignals, &TUnixSignalNotifier::Triggered, &fmMain, &TfmMain::Exit1Click);
  QObject::connect(&unixSignals, &TUnixSignalNotifier::ReloadRequested, &fmMain, [&fmMain] {
    if (fmMain.Attached()) {
      return;  // the settings are the relay's
    }
    std::string error;
    if (!fmMain.Host().ReloadSettings(error)) {
      std::fprintf(stderr, "kelvorelay: %s; the relay goes on with the settings it had\n",
                   error.c_str());
    }
  });
  QObject::connect(&fmMain, &TfmMain::ExitProgram, &app, [] { QCoreApplication::exit(0); });

  // --hidden (start at sign-in): the icon is the way in. Without a notification area the
  // window shows as on any other start.
  if (!AOptions.Hidden || !fmMain.Tray().IsShown()) {
    fmMain.show();
  }
  const int exitCode = app.exec();

  fmMain.FormDestroy();
  fmHelp.reset();
  fmOptions.reset();
  fmEditNAT.reset();
  fmAbout.reset();
  return exitCode;
}

}  // namespace kelvo
