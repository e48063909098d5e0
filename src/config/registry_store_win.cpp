// The settings store on Windows: the real registry. The store's name is the key's full path
// ("HKEY_CURRENT_USER\Software\Marlowin\KelvoRelay"); tests give it a key of their own. Every
// operation opens the key, does its one read or write and closes it again, so each write is in
// the registry when it returns.
#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/windows_text.h"
#include "config/registry_store.h"

namespace kelvo {

namespace {

constexpr const char* kCurrentUserPrefix = "HKEY_CURRENT_USER\\";

// The key's path below HKEY_CURRENT_USER.
std::wstring SubKeyOf(const std::string& AKeyPath) {
  std::string Path = AKeyPath;
  if (Path.rfind(kCurrentUserPrefix, 0) == 0) {
    Path.erase(0, std::string(kCurrentUserPrefix).size());
  }
  while (!Path.empty() && Path.front() == '\\') {
    Path.erase(0, 1);
  }
  while (!Path.empty() && Path.back() == '\\') {
    Path.pop_back();
  }
  return Utf8ToWide(Path);
}

// The open key for one operation.
class TKey {
 public:
  TKey(const std::string& AKeyPath, REGSAM AAccess) {
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, SubKeyOf(AKeyPath).c_str(), 0, AAccess, &fKey) !=
        ERROR_SUCCESS) {
      fKey = nullptr;
    }
  }
  ~TKey() {
    if (fKey != nullptr) {
      ::RegCloseKey(fKey);
    }
  }
  TKey(const TKey&) = delete;
  TKey& operator=(const TKey&) = delete;
  explicit operator bool() const { return fKey != nullptr; }
  HKEY Get() const { return fKey; }

 private:
  HKEY fKey = nullptr;
};

struct TRawValue {
  DWORD Type = REG_NONE;
  std::vector<unsigned char> Data;
};

// False when the value (or the key) is missing or cannot be read.
bool QueryValue(const std::string& AKeyPath, const std::string& AName, TRawValue& AValue) {
  TKey Key(AKeyPath, KEY_QUERY_VALUE);
  if (!Key) {
    return false;
  }
  const std::wstring Name = Utf8ToWide(AName);
  for (int Attempt = 0; Attempt < 4; ++Attempt) {
    DWORD Size = static_cast<DWORD>(AValue.Data.size());
    const LONG Result =
        ::RegQueryValueExW(Key.Get(), Name.c_str(), nullptr, &AValue.Type,
                           AValue.Data.empty() ? nullptr : AValue.Data.data(), &Size);
    if (Result == ERROR_SUCCESS && (!AValue.Data.empty() || Size == 0)) {
      AValue.Data.resize(Size);
      return true;
    }
    if (Result != ERROR_SUCCESS && Result != ERROR_MORE_DATA) {
      return false;
    }
    AValue.Data.resize(Size + sizeof(wchar_t));  // a writer may be growing the value
  }
  return false;
}

TRawValue ReadValue(const std::string& AKeyPath, const std::string& AName) {
  TRawValue Value;
  if (!QueryValue(AKeyPath, AName, Value)) {
    throw TRegistryError("Failed to get data for '" + AName + "'");
  }
  return Value;
}

void SetValue(const std::string& AKeyPath, const std::string& AName, DWORD AType, const void* AData,
              DWORD ASize) {
  TKey Key(AKeyPath, KEY_SET_VALUE);
  if (!Key || ::RegSetValueExW(Key.Get(), Utf8ToWide(AName).c_str(), 0, AType,
                               static_cast<const BYTE*>(AData), ASize) != ERROR_SUCCESS) {
    throw TRegistryError("Failed to set data for '" + AName + "'");
  }
}

}  // namespace

std::string DefaultSettingsFileName() {
  return kSettingsKey;
}

TRegistryStore::TRegistryStore(std::string AFileName) : fFileName(std::move(AFileName)) {}

void TRegistryStore::Reset() {
  fOpen = false;
}

bool TRegistryStore::OpenKey(bool ACanCreate) {
  Reset();
  if (!ACanCreate) {
    fOpen = static_cast<bool>(TKey(fFileName, KEY_READ | KEY_WRITE));
    return fOpen;
  }
  HKEY Key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, SubKeyOf(fFileName).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &Key,
                        nullptr) != ERROR_SUCCESS) {
    throw TRegistryError("Failed to create key '" + fFileName + "'");
  }
  ::RegCloseKey(Key);
  fOpen = true;
  return true;
}

void TRegistryStore::CloseKey() {
  Reset();
}

bool TRegistryStore::ValueExists(const std::string& AName) const {
  TRawValue Value;
  return fOpen && QueryValue(fFileName, AName, Value);
}

std::int32_t TRegistryStore::ReadInteger(const std::string& AName) const {
  if (!fOpen) {
    throw TRegistryError("Failed to get data for '" + AName + "'");
  }
  const TRawValue Value = ReadValue(fFileName, AName);
  if (Value.Type != REG_DWORD || Value.Data.size() != sizeof(DWORD)) {
    throw TRegistryError("Invalid data type for '" + AName + "'");
  }
  std::uint32_t Number = 0;
  for (int I = 3; I >= 0; --I) {
    Number = (Number << 8) | Value.Data[static_cast<std::size_t>(I)];
  }
  return static_cast<std::int32_t>(Number);
}

std::string TRegistryStore::ReadString(const std::string& AName) const {
  if (!fOpen) {
    throw TRegistryError("Failed to get data for '" + AName + "'");
  }
  const TRawValue Value = ReadValue(fFileName, AName);
  if (Value.Type != REG_SZ && Value.Type != REG_EXPAND_SZ) {
    throw TRegistryError("Invalid data type for '" + AName + "'");
  }
  std::wstring Text(Value.Data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(Text.data(), Value.Data.data(), Text.size() * sizeof(wchar_t));
  // Stored with a terminator as a rule, but not always.
  if (const std::size_t Zero = Text.find(L'\0'); Zero != std::wstring::npos) {
    Text.resize(Zero);
  }
  return WideToUtf8(Text);
}

void TRegistryStore::WriteInteger(const std::string& AName, std::int32_t AValue) {
  if (!fOpen) {
    throw TRegistryError("Failed to set data for '" + AName + "'");
  }
  const DWORD Data = static_cast<DWORD>(AValue);
  SetValue(fFileName, AName, REG_DWORD, &Data, sizeof Data);
}

void TRegistryStore::WriteString(const std::string& AName, const std::string& AValue) {
  if (!fOpen) {
    throw TRegistryError("Failed to set data for '" + AName + "'");
  }
  const std::wstring Text = Utf8ToWide(AValue);
  SetValue(fFileName, AName, REG_SZ, Text.c_str(),
           static_cast<DWORD>((Text.size() + 1) * sizeof(wchar_t)));
}

bool TRegistryStore::DeleteValue(const std::string& AName) {
  if (!fOpen) {
    return false;
  }
  TKey Key(fFileName, KEY_SET_VALUE);
  if (!Key) {
    return false;
  }
  const LONG Result = ::RegDeleteValueW(Key.Get(), Utf8ToWide(AName).c_str());
  if (Result == ERROR_FILE_NOT_FOUND) {
    return false;
  }
  if (Result != ERROR_SUCCESS) {
    throw TRegistryError("Failed to delete value '" + AName + "'");
  }
  return true;
}

}  // namespace kelvo
