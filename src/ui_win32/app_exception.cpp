#include "ui_win32/app_exception.h"

#include <utility>

namespace kelvo {

namespace {

TExceptionHandler& CurrentHandler() {
  static TExceptionHandler handler;
  return handler;
}

}  // namespace

TExceptionHandler SetAppExceptionHandler(TExceptionHandler AHandler) {
  return std::exchange(CurrentHandler(), std::move(AHandler));
}

void AppOnException(const std::string& AMessage) {
  try {
    if (const TExceptionHandler& handler = CurrentHandler()) {
      handler(AMessage);
    }
  } catch (...) {
    // The handler itself failed (the log, most likely): there is nowhere left to report it.
  }
}

}  // namespace kelvo
