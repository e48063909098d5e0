// A private place for the settings of one test, so the user's own are never touched: on
// POSIX systems a temporary XDG_CONFIG_HOME; on Windows HKEY_CURRENT_USER of this process
// redirected to a scratch key (RegOverridePredefKey), removed again afterwards.
#pragma once

#include <filesystem>
#include <memory>

namespace kelvo::test {

class TSettingsHome {
 public:
  TSettingsHome();
  ~TSettingsHome();
  TSettingsHome(const TSettingsHome&) = delete;
  TSettingsHome& operator=(const TSettingsHome&) = delete;

  // The folder that holds the settings file (POSIX systems; empty on Windows).
  std::filesystem::path Dir() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> fImpl;
};

}  // namespace kelvo::test
