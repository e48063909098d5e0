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
  std::string path = AKeyPath;
  if (path.rfind(kCurrentUserPrefix, 0) == 0) {
    path.erase(0, std::string(kCurrentUserPrefix).size());
  }
  while (!path.empty() && path.front() == '\\') {
    path.erase(0, 1);
  }
  while (!path.empty() && path.back() == '\\') {
    path.pop_back();
  }
  return Utf8ToWide(path);
}

// Value names are compared without regard to case, as the registry does (ASCII letters; the
// program's own names are ASCII).
bool SameName(const std::string& A, const std::string& B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           auto lower = [](char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C + 32) : C; };
           return lower(X) == lower(Y);
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
  const std::wstring name = Utf8ToWide(AName);
  TRawValue value;
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = static_cast<DWORD>(value.Data.size());
    const LONG result = ::RegQueryValueExW(AKey, name.c_str(), nullptr, &value.Type,
                                           value.Data.empty() ? nullptr : value.Data.data(), &size);
    if (result == ERROR_SUCCESS && (!value.Data.empty() || size == 0)) {
      value.Data.resize(size);
      return value;
    }
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) {
      return std::nullopt;
    }
    value.Data.resize(size + sizeof(wchar_t));  // a writer may be growing the value
  }
  return std::nullopt;
}

bool SetValue(HKEY AKey, const std::string& AName, const TRawValue& AValue) {
  return ::RegSetValueExW(AKey, Utf8ToWide(AName).c_str(), 0, AValue.Type, AValue.Data.data(),
                          static_cast<DWORD>(AValue.Data.size())) == ERROR_SUCCESS;
}

bool DeleteValueOf(HKEY AKey, const std::string& AName) {
  const LONG result = ::RegDeleteValueW(AKey, Utf8ToWide(AName).c_str());
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

TRawValue DwordValue(std::int32_t ANumber) {
  TRawValue value{REG_DWORD, std::vector<unsigned char>(sizeof(DWORD))};
  const auto number = static_cast<std::uint32_t>(ANumber);
  for (std::size_t i = 0; i < 4; ++i) {
    value.Data[i] = static_cast<unsigned char>(number >> (8 * i));
  }
  return value;
}

TRawValue StringValue(const std::string& AText) {
  const std::wstring text = Utf8ToWide(AText);
  TRawValue value{REG_SZ, std::vector<unsigned char>((text.size() + 1) * sizeof(wchar_t))};
  std::memcpy(value.Data.data(), text.c_str(), value.Data.size());
  return value;
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
    for (auto it = Changes.rbegin(); it != Changes.rend(); ++it) {
      if (SameName(it->Name, AName)) {
        return it->Value;
      }
    }
    if (KeyIsNew) {
      return std::nullopt;
    }
    TKey key(KeyPath, KEY_QUERY_VALUE);
    return key ? QueryValue(key.Get(), AName) : std::nullopt;
  }

  TRawValue Read(const std::string& AName) const {
    std::optional<TRawValue> value = Open ? Current(AName) : std::nullopt;
    if (!value) {
      throw TRegistryError("Failed to get data for '" + AName + "'");
    }
    return std::move(*value);
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
    const TChange& first = Changes.front();
    return first.Value ? "Failed to set data for '" + first.Name + "'"
                       : "Failed to delete value '" + first.Name + "'";
  }

  void Commit();
};

void TRegistryStore::TImpl::Commit() {
  if (!KeyIsNew && Changes.empty()) {
    return;
  }
  TRegKey owned;
  DWORD disposition = 0;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, SubKeyOf(KeyPath).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                        owned.Receive(), &disposition) != ERROR_SUCCESS) {
    owned.Release();  // nothing was opened
    throw TRegistryError(FirstChangeError());
  }
  const HKEY key = owned.Get();
  const bool created = disposition == REG_CREATED_NEW_KEY;
  // Each applied change with the value's state before it, to put back on failure.
  std::vector<std::pair<std::string, std::optional<TRawValue>>> before;
  bool ok = true;
  for (const TChange& c : Changes) {
    before.emplace_back(c.Name, QueryValue(key, c.Name));
    ok = c.Value ? SetValue(key, c.Name, *c.Value) : DeleteValueOf(key, c.Name);
    if (!ok) {
      before.pop_back();
      break;
    }
  }
  if (!ok) {
    for (auto it = before.rbegin(); it != before.rend(); ++it) {
      if (it->second) {
        SetValue(key, it->first, *it->second);
      } else {
        DeleteValueOf(key, it->first);
      }
    }
  }
  owned.Reset();
  if (!ok) {
    if (created) {
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
  TImpl& impl = *fImpl;
  impl.Drop();
  impl.OpenError.clear();
  const TKey key(impl.KeyPath, KEY_QUERY_VALUE | KEY_SET_VALUE);
  if (key) {
    impl.Open = true;
    return true;
  }
  if (key.Result() != ERROR_FILE_NOT_FOUND && key.Result() != ERROR_PATH_NOT_FOUND) {
    // There is a key, but not for us (access denied): say so, and never write over it.
    impl.OpenError = "cannot open the registry key " + impl.KeyPath + ": " +
                     WindowsErrorText(static_cast<unsigned long>(key.Result()));
    if (ACanCreate) {
      throw TRegistryError(impl.OpenError);
    }
    return false;
  }
  if (!ACanCreate) {
    return false;
  }
  impl.Open = true;
  impl.KeyIsNew = true;
  return true;
}

void TRegistryStore::CloseKey() {
  TImpl& impl = *fImpl;
  if (!impl.Open) {
    return;
  }
  try {
    impl.Commit();
  } catch (...) {
    impl.Drop();
    throw;
  }
  impl.Drop();
}

void TRegistryStore::DiscardKey() noexcept {
  fImpl->Drop();
}

bool TRegistryStore::ValueExists(const std::string& AName) const {
  return fImpl->Open && fImpl->Current(AName).has_value();
}

std::int32_t TRegistryStore::ReadInteger(const std::string& AName) const {
  const TRawValue value = fImpl->Read(AName);
  if (value.Type != REG_DWORD || value.Data.size() != sizeof(DWORD)) {
    throw TRegistryError("Invalid data type for '" + AName + "'");
  }
  std::uint32_t number = 0;
  for (int i = 3; i >= 0; --i) {
    number = (number << 8) | value.Data[static_cast<std::size_t>(i)];
  }
  return static_cast<std::int32_t>(number);
}

std::string TRegistryStore::ReadString(const std::string& AName) const {
  const TRawValue value = fImpl->Read(AName);
  if (value.Type != REG_SZ && value.Type != REG_EXPAND_SZ) {
    throw TRegistryError("Invalid data type for '" + AName + "'");
  }
  std::wstring text(value.Data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), value.Data.data(), text.size() * sizeof(wchar_t));
  // Stored with a terminator as a rule, but not always.
  if (const std::size_t zero = text.find(L'\0'); zero != std::wstring::npos) {
    text.resize(zero);
  }
  return WideToUtf8(text);
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
