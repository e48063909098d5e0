// Asking the desktop to open a web address or to start a new mail. The opener is replaceable
// so that tests can see what would be opened without starting a browser. GUI thread only.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

namespace kelvo {

using TShellOpener = std::function<void(const QString& AText)>;

// Hands AText to the current opener; its success is not reported.
void ShellOpen(const QString& AText);
// Installs AOpener (an empty one restores the desktop opener); returns the previous one.
TShellOpener SetShellOpener(TShellOpener AOpener);
// The address the desktop opener asks for: "mailto:" texts as they are (a space after the colon
// percent-encoded), a bare "www..." address as http.
QUrl ShellTextToUrl(const QString& AText);

}  // namespace kelvo
