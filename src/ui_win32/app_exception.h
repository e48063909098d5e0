// AppOnException: the one place where an error that escapes a window procedure, a timer or a
// dialog handler ends up. The main window installs the handler (it logs while debug logs are
// on); no error dialog is ever shown, and nothing escapes into the system's message dispatch.
// GUI thread only.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace kelvo {

using TExceptionHandler = std::function<void(const std::string& AMessage)>;

// Returns the previous handler. An empty handler drops errors.
TExceptionHandler SetAppExceptionHandler(TExceptionHandler AHandler);
// Hands AMessage to the installed handler; a failing handler is dropped as well.
void AppOnException(const std::string& AMessage);

// Runs AWork; any exception goes to AppOnException and AFallback is returned instead.
template <typename TWork, typename TResult>
TResult Guarded(TWork&& AWork, TResult AFallback) {
  try {
    return AWork();
  } catch (const std::exception& error) {
    AppOnException(error.what());
  } catch (...) {
    AppOnException("unknown error");
  }
  return AFallback;
}

}  // namespace kelvo
