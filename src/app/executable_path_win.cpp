#include <windows.h>

#include <string>

#include "app/relay_host.h"
#include "base/windows_text.h"

namespace kelvo {

std::string ExecutablePath() {
  // Long paths do not fit MAX_PATH; grow until the name is not cut short.
  std::wstring Buffer(MAX_PATH, L'\0');
  for (int Attempt = 0; Attempt < 8; ++Attempt) {
    const DWORD Length =
        GetModuleFileNameW(nullptr, Buffer.data(), static_cast<DWORD>(Buffer.size()));
    if (Length == 0) {
      return {};
    }
    if (Length < Buffer.size()) {
      Buffer.resize(Length);
      return WideToUtf8(Buffer);
    }
    Buffer.resize(Buffer.size() * 2);
  }
  return {};
}

long CurrentProcessId() {
  return static_cast<long>(::GetCurrentProcessId());
}

}  // namespace kelvo
