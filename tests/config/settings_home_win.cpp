#include <windows.h>

#include <random>
#include <stdexcept>
#include <string>

#include "settings_home.h"

namespace kelvo::test {

struct TSettingsHome::TImpl {
  std::wstring Scratch;
  HKEY Key = nullptr;
};

TSettingsHome::TSettingsHome() : fImpl(std::make_unique<TImpl>()) {
  fImpl->Scratch = L"Software\\KelvoRelayTests\\" + std::to_wstring(std::random_device()());
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, fImpl->Scratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &fImpl->Key, nullptr) != ERROR_SUCCESS ||
      ::RegOverridePredefKey(HKEY_CURRENT_USER, fImpl->Key) != ERROR_SUCCESS) {
    throw std::runtime_error("cannot redirect HKEY_CURRENT_USER for the test");
  }
}

TSettingsHome::~TSettingsHome() {
  ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  ::RegCloseKey(fImpl->Key);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, fImpl->Scratch.c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KelvoRelayTests");  // when it is empty now
}

std::filesystem::path TSettingsHome::Dir() const {
  return {};
}

}  // namespace kelvo::test
