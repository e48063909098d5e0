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
  wchar_t Path[MAX_PATH * 4] = {};
  if (GetModuleFileNameW(nullptr, Path, static_cast<DWORD>(std::size(Path))) == 0) {
    return {};
  }
  DWORD Ignored = 0;
  const DWORD Size = GetFileVersionInfoSizeW(Path, &Ignored);
  if (Size == 0) {
    return {};
  }
  std::vector<unsigned char> Info(Size);
  if (!GetFileVersionInfoW(Path, 0, Size, Info.data())) {
    return {};
  }
  struct TTranslation {
    WORD Language;
    WORD CodePage;
  };
  void* Value = nullptr;
  UINT Length = 0;
  if (!VerQueryValueW(Info.data(), L"\\VarFileInfo\\Translation", &Value, &Length) ||
      Length < sizeof(TTranslation)) {
    return {};
  }
  const auto* First = static_cast<const TTranslation*>(Value);
  wchar_t Query[64];
  std::swprintf(Query, std::size(Query), L"\\StringFileInfo\\%04X%04X\\FileVersion",
                First->Language, First->CodePage);
  if (!VerQueryValueW(Info.data(), Query, &Value, &Length) || Length == 0) {
    return {};
  }
  // Length counts characters and includes the terminator when the resource stores one.
  std::wstring Version(static_cast<const wchar_t*>(Value), Length);
  while (!Version.empty() && Version.back() == L'\0') {
    Version.pop_back();
  }
  return WideToUtf8(Version);
}

}  // namespace kelvo
