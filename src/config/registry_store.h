// The current user's settings key, kept as a Windows Registry Editor 5.00 text file:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Marlowin\KelvoRelay]
//   "Top"=dword:00000064
//   "EthernetAdapterID"="eth0"
//
// Values keep their types; values this program does not know are kept as they stand. Every
// write or delete reaches the file at once, atomically (temporary file, then rename), as a
// registry write would. One thread at a time (GUI thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelvo {

class TRegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kSettingsKey = "HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay";

// $XDG_CONFIG_HOME/Marlowin/KelvoRelay.reg, with ~/.config when XDG_CONFIG_HOME is unset.
std::string DefaultSettingsFileName();

class TRegistryStore {
 public:
  explicit TRegistryStore(std::string AFileName = DefaultSettingsFileName());

  const std::string& FileName() const { return fFileName; }

  // Loads the key. Without ACanCreate: false when the file or the key is missing or cannot be
  // read. With ACanCreate: creates folder and file when missing; throws TRegistryError when
  // that fails.
  bool OpenKey(bool ACanCreate);
  void CloseKey();

  bool ValueExists(const std::string& AName) const;
  // Throw TRegistryError when the value is missing or has another type.
  std::int32_t ReadInteger(const std::string& AName) const;
  std::string ReadString(const std::string& AName) const;

  // Throw TRegistryError("Failed to set data for '<name>'") when the file cannot be written.
  void WriteInteger(const std::string& AName, std::int32_t AValue);
  void WriteString(const std::string& AName, const std::string& AValue);
  // False when there was no such value.
  bool DeleteValue(const std::string& AName);

 private:
  // One entry of our key as it stands in the file: a named value, or a line that is kept
  // verbatim (a comment, the default value "@"). Lines holds continuation lines too.
  struct TValue {
    std::string Name;
    bool Named = false;
    std::vector<std::string> Lines;
  };

  void Reset();
  int Find(const std::string& AName) const;                   // index in fValues, -1 when missing
  std::string RightHandSide(const std::string& AName) const;  // throws when missing
  void Store(const std::string& AName, std::string ARightHandSide);
  std::string Render() const;
  // Writes Render() to the file atomically; throws TRegistryError(AErrorText) on failure.
  void Flush(const std::string& AErrorText) const;

  std::string fFileName;
  bool fOpen = false;
  // Every line outside our key, in file order; our key's section is written before index
  // fKeyPos.
  std::vector<std::string> fOtherLines;
  std::size_t fKeyPos = 0;
  std::vector<TValue> fValues;
};

}  // namespace kelvo
