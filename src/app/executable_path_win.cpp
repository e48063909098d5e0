#include <windows.h>

#include <string>

#include "app/relay_host.h"
#include "base/windows_text.h"

namespace kelvo {

std::string ExecutablePath() {
  // Long paths do not fit MAX_PATH; grow until the name is not cut short.
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      return {};
    }
    if (length < buffer.size()) {
      buffer.resize(length);
      return WideToUtf8(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

long CurrentProcessId() {
  return static_cast<long>(::GetCurrentProcessId());
}

}  // namespace kelvo
