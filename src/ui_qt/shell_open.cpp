#include "ui_qt/shell_open.h"

#include <QDesktopServices>
#include <utility>

namespace kelvo {

namespace {

void DesktopOpen(const QString& AText) {
  QDesktopServices::openUrl(ShellTextToUrl(AText));
}

TShellOpener& CurrentOpener() {
  static TShellOpener opener = DesktopOpen;
  return opener;
}

}  // namespace

QUrl ShellTextToUrl(const QString& AText) {
  if (AText.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive)) {
    return QUrl(AText, QUrl::TolerantMode);
  }
  // Without a scheme the shell of the original platform guessed one; Qt needs it spelt out.
  return QUrl::fromUserInput(AText);
}

void ShellOpen(const QString& AText) {
  if (const TShellOpener& opener = CurrentOpener()) {
    opener(AText);
  }
}

TShellOpener SetShellOpener(TShellOpener AOpener) {
  TShellOpener previous =
      std::exchange(CurrentOpener(), AOpener ? std::move(AOpener) : TShellOpener(DesktopOpen));
  return previous;
}

}  // namespace kelvo
