// The settings store on Windows: the real registry. The store's name is the key's full path
// ("HKEY_CURRENT_USER\Software\Marlowin\KelvoRelay"); tests give it a key of their own.
//
// Changes between OpenKey and CloseKey are kept here and applied at CloseKey, each value's
// previous state noted first, so that a change the registry refuses is followed by putting back
// the ones already applied: the key is then as it was before OpenKey. Reads while the key is
// open see the changes made so far.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/handle_win.h"
#include "base/windows_text.h"
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

// Value names are compared without regard to case, as the registry does (ASCII letters; the
// program's own names are ASCII).
bool SameName(const std::string& A, const std::string& B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           auto Lower = [](char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C + 32) : C; };
           return Lower(X) == Lower(Y);
         });
}

// A value as the registry holds it.
struct TRawValue {
  DWORD Type = REG_NONE;
  std::vector<unsigned char> Data;
};

// The open key for one operation.
class TKey {
 public:
  TKey(const std::string& AKeyPath, REGSAM AAccess) {
    fResult =
        ::RegOpenKeyExW(HKEY_CURRENT_USER, SubKeyOf(AKeyPath).c_str(), 0, AAccess, fKey.Receive());
    if (fResult != ERROR_SUCCESS) {
      fKey.Release();  // nothing was opened
    }
  }
  explicit operator bool() const { return fKey.IsValid(); }
  HKEY Get() const { return fKey.Get(); }
  LONG Result() const { return fResult; }

 private:
  TRegKey fKey;
  LONG fResult = ERROR_SUCCESS;
};

// The stored value, or nullopt when the value (or the key) is missing or unreadable.
std::optional<TRawValue> QueryValue(HKEY AKey, const std::string& AName) {
  const std::wstring Name = Utf8ToWide(AName);
  TRawValue Value;
  for (int Attempt = 0; Attempt < 4; ++Attempt) {
    DWORD Size = static_cast<DWORD>(Value.Data.size());
    const LONG Result = ::RegQueryValueExW(AKey, Name.c_str(), nullptr, &Value.Type,
                                           Value.Data.empty() ? nullptr : Value.Data.data(), &Size);
    if (Result == ERROR_SUCCESS && (!Value.Data.empty() || Size == 0)) {
      Value.Data.resize(Size);
      return Value;
    }
    if (Result != ERROR_SUCCESS && Result != ERROR_MORE_DATA) {
      return std::nullopt;
    }
    Value.Data.resize(Size + sizeof(wchar_t));  // a writer may be growing the value
  }
  return std::nullopt;
}

bool SetValue(HKEY AKey, const std::string& AName, const TRawValue& AValue) {
  return ::RegSetValueExW(AKey, Utf8ToWide(AName).c_str(), 0, AValue.Type, AValue.Data.data(),
                          static_cast<DWORD>(AValue.Data.size())) == ERROR_SUCCESS;
}

bool DeleteValueOf(HKEY AKey, const std::string& AName) {
  const LONG Result = ::RegDeleteValueW(AKey, Utf8ToWide(AName).c_str());
  return Result == ERROR_SUCCESS || Result == ERROR_FILE_NOT_FOUND;
}

TRawValue DwordValue(std::int32_t ANumber) {
  TRawValue Value{REG_DWORD, std::vector<unsigned char>(sizeof(DWORD))};
  const auto Number = static_cast<std::uint32_t>(ANumber);
  for (std::size_t I = 0; I < 4; ++I) {
    Value.Data[I] = static_cast<unsigned char>(Number >> (8 * I));
  }
  return Value;
}

TRawValue StringValue(const std::string& AText) {
  const std::wstring Text = Utf8ToWide(AText);
  TRawValue Value{REG_SZ, std::vector<unsigned char>((Text.size() + 1) * sizeof(wchar_t))};
  std::memcpy(Value.Data.data(), Text.c_str(), Value.Data.size());
  return Value;
}

}  // namespace

struct TRegistryStore::TImpl {
  // One change since OpenKey; a delete has no value.
  struct TChange {
    std::string Name;
    std::optional<TRawValue> Value;
  };

  std::string KeyPath;
  bool Open = false;
  bool KeyIsNew = false;  // OpenKey(true) found no key: CloseKey creates it
  std::string OpenError;
  std::vector<TChange> Changes;

  void Drop() {
    Open = false;
    KeyIsNew = false;
    Changes.clear();
  }

  // The value as this open key sees it: the last change made to it, else the registry's.
  std::optional<TRawValue> Current(const std::string& AName) const {
    for (auto It = Changes.rbegin(); It != Changes.rend(); ++It) {
      if (SameName(It->Name, AName)) {
        return It->Value;
      }
    }
    if (KeyIsNew) {
      return std::nullopt;
    }
    TKey Key(KeyPath, KEY_QUERY_VALUE);
    return Key ? QueryValue(Key.Get(), AName) : std::nullopt;
  }

  TRawValue Read(const std::string& AName) const {
    std::optional<TRawValue> Value = Open ? Current(AName) : std::nullopt;
    if (!Value) {
      throw TRegistryError("Failed to get data for '" + AName + "'");
    }
    return std::move(*Value);
  }

  void Change(const std::string& AName, std::optional<TRawValue> AValue) {
    if (!Open) {
      throw TRegistryError("Failed to set data for '" + AName + "'");
    }
    Changes.push_back({AName, std::move(AValue)});
  }

  std::string FirstChangeError() const {
    if (Changes.empty()) {
      return "Failed to create key '" + KeyPath + "'";
    }
    const TChange& First = Changes.front();
    return First.Value ? "Failed to set data for '" + First.Name + "'"
                       : "Failed to delete value '" + First.Name + "'";
  }

  void Commit();
};

void TRegistryStore::TImpl::Commit() {
  if (!KeyIsNew && Changes.empty()) {
    return;
  }
  TRegKey Owned;
  DWORD Disposition = 0;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, SubKeyOf(KeyPath).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                        Owned.Receive(), &Disposition) != ERROR_SUCCESS) {
    Owned.Release();  // nothing was opened
    throw TRegistryError(FirstChangeError());
  }
  const HKEY Key = Owned.Get();
  const bool Created = Disposition == REG_CREATED_NEW_KEY;
  // Each applied change with the value's state before it, to put back on failure.
  std::vector<std::pair<std::string, std::optional<TRawValue>>> Before;
  bool Ok = true;
  for (const TChange& C : Changes) {
    Before.emplace_back(C.Name, QueryValue(Key, C.Name));
    Ok = C.Value ? SetValue(Key, C.Name, *C.Value) : DeleteValueOf(Key, C.Name);
    if (!Ok) {
      Before.pop_back();
      break;
    }
  }
  if (!Ok) {
    for (auto It = Before.rbegin(); It != Before.rend(); ++It) {
      if (It->second) {
        SetValue(Key, It->first, *It->second);
      } else {
        DeleteValueOf(Key, It->first);
      }
    }
  }
  Owned.Reset();
  if (!Ok) {
    if (Created) {
      ::RegDeleteKeyW(HKEY_CURRENT_USER, SubKeyOf(KeyPath).c_str());
    }
    throw TRegistryError(FirstChangeError());
  }
}

std::string DefaultSettingsFileName() {
  return kSettingsKey;
}

TRegistryStore::TRegistryStore(std::string AFileName) : fImpl(std::make_unique<TImpl>()) {
  fImpl->KeyPath = std::move(AFileName);
}

TRegistryStore::~TRegistryStore() = default;

const std::string& TRegistryStore::FileName() const {
  return fImpl->KeyPath;
}

const std::string& TRegistryStore::OpenError() const {
  return fImpl->OpenError;
}

bool TRegistryStore::OpenKey(bool ACanCreate) {
  TImpl& Impl = *fImpl;
  Impl.Drop();
  Impl.OpenError.clear();
  const TKey Key(Impl.KeyPath, KEY_QUERY_VALUE | KEY_SET_VALUE);
  if (Key) {
    Impl.Open = true;
    return true;
  }
  if (Key.Result() != ERROR_FILE_NOT_FOUND && Key.Result() != ERROR_PATH_NOT_FOUND) {
    // There is a key, but not for us (access denied): say so, and never write over it.
    Impl.OpenError = "cannot open the registry key " + Impl.KeyPath + ": " +
                     WindowsErrorText(static_cast<unsigned long>(Key.Result()));
    if (ACanCreate) {
      throw TRegistryError(Impl.OpenError);
    }
    return false;
  }
  if (!ACanCreate) {
    return false;
  }
  Impl.Open = true;
  Impl.KeyIsNew = true;
  return true;
}

void TRegistryStore::CloseKey() {
  TImpl& Impl = *fImpl;
  if (!Impl.Open) {
    return;
  }
  try {
    Impl.Commit();
  } catch (...) {
    Impl.Drop();
    throw;
  }
  Impl.Drop();
}

void TRegistryStore::DiscardKey() noexcept {
  fImpl->Drop();
}

bool TRegistryStore::ValueExists(const std::string& AName) const {
  return fImpl->Open && fImpl->Current(AName).has_value();
}

std::int32_t TRegistryStore::ReadInteger(const std::string& AName) const {
  const TRawValue Value = fImpl->Read(AName);
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
  const TRawValue Value = fImpl->Read(AName);
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
  fImpl->Change(AName, DwordValue(AValue));
}

void TRegistryStore::WriteString(const std::string& AName, const std::string& AValue) {
  fImpl->Change(AName, StringValue(AValue));
}

bool TRegistryStore::DeleteValue(const std::string& AName) {
  if (!fImpl->Open || !fImpl->Current(AName)) {
    return false;
  }
  fImpl->Change(AName, std::nullopt);
  return true;
}

}  // namespace kelvo
