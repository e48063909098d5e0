// Shared by the window tests: a machine with only the loopback adapter, and picture checks.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTemporaryDir>
#include <memory>

#include "app/command_line.h"
#include "config/registry_store.h"
#include "diag/my_log.h"
#include "net/ethernet_utils.h"
#include "ui_qt/main_window.h"

namespace kelvo::test {

// Replaces the adapter enumeration for the test's lifetime: one adapter "lo" at 127.0.0.1, so
// the relay binds only to loopback.
class TLoopbackOnly {
 public:
  TLoopbackOnly() {
    fPrevious = SetAdapterPlatform(TAdapterPlatform{
        [] {
          return std::optional<std::vector<TPlatformAdapter>>(std::vector<TPlatformAdapter>{
              {"lo", "Loopback", "127.0.0.1", "255.0.0.0", "0.0.0.0"}});
        },
        [] { return std::string("127.0.0.1"); }});
  }
  ~TLoopbackOnly() { SetAdapterPlatform(fPrevious); }
  TLoopbackOnly(const TLoopbackOnly&) = delete;
  TLoopbackOnly& operator=(const TLoopbackOnly&) = delete;

 private:
  TAdapterPlatform fPrevious;
};

// The settings file of a window under test: adapter "lo" and the given further value lines.
inline QString WriteWindowSettings(const QTemporaryDir& ADir, const QByteArray& AValueLines) {
  const QString name = ADir.filePath(QStringLiteral("KelvoRelay.reg"));
  QFile file(name);
  if (file.open(QIODevice::WriteOnly)) {
    file.write(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]\r\n"
        "\"EthernetAdapterID\"=\"lo\"\r\n");
    file.write(AValueLines);
  }
  return name;
}

// A real main window on loopback, with its settings and log in a temporary folder. Members
// are destroyed window first, so the relay stops before what it reports to.
struct TWindowRig {
  explicit TWindowRig(const QByteArray& AValueLines = {})
      : fStore(
            std::make_unique<TRegistryStore>(WriteWindowSettings(fDir, AValueLines).toStdString())),
        fLog(std::make_unique<TMyLog>()),
        fWindow(std::make_unique<TfmMain>(*fLog, *fStore, TCommandLine{})) {}

  TLoopbackOnly fLoopback;
  QTemporaryDir fDir;
  std::unique_ptr<TRegistryStore> fStore;
  std::unique_ptr<TMyLog> fLog;
  std::unique_ptr<TfmMain> fWindow;
};

inline bool ShowsPicture(const QLabel* ALabel, const QPixmap& APicture) {
  return ALabel->pixmap().toImage() == APicture.toImage();
}

}  // namespace kelvo::test
