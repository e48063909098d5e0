// The file version from the running executable's own VERSIONINFO resource: the "FileVersion"
// string of the table that the first "Translation" pair names.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/version.h"
#include "base/windows_text.h"

namespace kelvo {

std::string FileVersionText() {
  wchar_t path[MAX_PATH * 4] = {};
  if (GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path))) == 0) {
    return {};
  }
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) {
    return {};
  }
  std::vector<unsigned char> info(size);
  if (!GetFileVersionInfoW(path, 0, size, info.data())) {
    return {};
  }
  struct TTranslation {
    WORD Language;
    WORD CodePage;
  };
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length) ||
      length < sizeof(TTranslation)) {
    return {};
  }
  const auto* first = static_cast<const TTranslation*>(value);
  wchar_t query[64];
  std::swprintf(query, std::size(query), L"\\StringFileInfo\\%04X%04X\\FileVersion",
                first->Language, first->CodePage);
  if (!VerQueryValueW(info.data(), query, &value, &length) || length == 0) {
    return {};
  }
  // Length counts characters and includes the terminator when the resource stores one.
  std::wstring version(static_cast<const wchar_t*>(value), length);
  while (!version.empty() && version.back() == L'\0') {
    version.pop_back();
  }
  return WideToUtf8(version);
}

}  // namespace kelvo
