// The current user's settings key HKEY_CURRENT_USER\Software\Marlowin\KelvoRelay.
//
// One class, two twins chosen by CMake: registry_store_file.cpp keeps the key in a Registry
// Editor text file (platforms without a registry), registry_store_win.cpp uses the registry.
// Values keep their types; values this program does not know are kept as they stand.
//
// The changes made between OpenKey and CloseKey are one commit: they reach the store together
// at CloseKey, and a commit that fails leaves the store as it was before OpenKey.
//
// One thread at a time (GUI thread, or the headless runner's main thread).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace kelvo {

class TRegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  // AText is what the user is shown; ACause is the system's reason behind it.
  TRegistryError(const std::string& AText, std::string ACause)
      : std::runtime_error(AText), fCause(std::move(ACause)) {}
  // Why the store failed, as the system says it ("" when not known).
  const std::string& Cause() const { return fCause; }

 private:
  std::string fCause;
};

inline constexpr const char* kSettingsKey = "HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay";

// $XDG_CONFIG_HOME/Marlowin/KelvoRelay.reg, with ~/.config when XDG_CONFIG_HOME is unset.
std::string DefaultSettingsFileName();

class TRegistryStore {
 public:
  explicit TRegistryStore(std::string AFileName = DefaultSettingsFileName());
  // An open key's changes that were not committed are dropped.
  ~TRegistryStore();
  TRegistryStore(const TRegistryStore&) = delete;
  TRegistryStore& operator=(const TRegistryStore&) = delete;

  const std::string& FileName() const;

  // Loads the key. Without ACanCreate: false when the file or the key is missing or cannot be
  // read. With ACanCreate: the key is created (at CloseKey) when missing; throws TRegistryError
  // when the folder cannot be made or an existing file cannot be read. An open key is closed
  // first, its uncommitted changes dropped.
  bool OpenKey(bool ACanCreate);
  // Commits the changes made since OpenKey, then closes the key. On failure throws
  // TRegistryError naming the first change since OpenKey: "Failed to set data for '<name>'"
  // for a write, "Failed to delete value '<name>'" for a delete, "Failed to create key '<key>'"
  // when the key alone was new. The key is closed and the stored settings are as before
  // OpenKey.
  void CloseKey();
  // Closes the key and drops its uncommitted changes (where the platform can). Never throws.
  void DiscardKey() noexcept;

  // Why the last OpenKey could not use the settings that exist: one line naming the file (or
  // key) and what is wrong with it, with a line number where one applies. Empty when the last
  // OpenKey read the settings or found none.
  const std::string& OpenError() const;

  bool ValueExists(const std::string& AName) const;
  // Throw TRegistryError when the value is missing or has another type.
  std::int32_t ReadInteger(const std::string& AName) const;
  std::string ReadString(const std::string& AName) const;

  // Throw TRegistryError("Failed to set data for '<name>'") when the key is not open.
  void WriteInteger(const std::string& AName, std::int32_t AValue);
  void WriteString(const std::string& AName, const std::string& AValue);
  // False when there was no such value.
  bool DeleteValue(const std::string& AName);

 private:
  struct TImpl;
  std::unique_ptr<TImpl> fImpl;
};

}  // namespace kelvo
