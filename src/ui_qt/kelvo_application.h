// The application object. Every event handler on the main thread runs inside notify(); an
// exception escaping one ends there and goes to the installed handler instead of ending the
// program. GUI thread only.
#pragma once

#include <QApplication>
#include <functional>
#include <string>

namespace kelvo {

class TKelvoApplication : public QApplication {
  Q_OBJECT

 public:
  using TExceptionHandler = std::function<void(const std::string& AMessage)>;

  TKelvoApplication(int& argc, char** argv);

  // AppOnException. An empty handler drops the errors. The handler must not throw; if it does,
  // that error is dropped too.
  void SetExceptionHandler(TExceptionHandler AHandler) { fOnException = std::move(AHandler); }
  // Hands AMessage to the handler as if it had escaped an event handler.
  void ReportException(const std::string& AMessage) const;

  bool notify(QObject* AReceiver, QEvent* AEvent) override;

 private:
  TExceptionHandler fOnException;
};

}  // namespace kelvo
