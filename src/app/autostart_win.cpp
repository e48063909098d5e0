// Start at sign-in on Windows: the current user's Run value, which Explorer starts at sign-in.
// Task Manager's Startup list switches such an entry off with a value of its own beside it,
// under Explorer\StartupApproved\Run.
#include <windows.h>

#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/autostart.h"
#include "base/windows_text.h"

namespace kelvo {

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kApprovedKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
constexpr wchar_t kValueName[] = L"KelvoRelay";

// The path quoted, so that Explorer never splits it at a space ("C:\Program Files\...").
std::wstring RunCommand(const std::string& AExecutable) {
  return L"\"" + Utf8ToWide(AExecutable) + L"\" --hidden";
}

// The value's text; false when there is none (or it is no text).
bool ReadRunValue(std::wstring& AText) {
  DWORD size = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, nullptr,
                   &size) != ERROR_SUCCESS) {
    return false;
  }
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, text.data(),
                   &size) != ERROR_SUCCESS) {
    return false;
  }
  text.resize(wcsnlen(text.c_str(), text.size()));
  AText = text;
  return true;
}

// Task Manager's mark: an odd first byte means switched off.
bool SwitchedOffInTaskManager() {
  std::vector<BYTE> data(64);
  DWORD size = static_cast<DWORD>(data.size());
  return RegGetValueW(HKEY_CURRENT_USER, kApprovedKey, kValueName, RRF_RT_REG_BINARY, nullptr,
                      data.data(), &size) == ERROR_SUCCESS &&
         size > 0 && (data[0] & 1) != 0;
}

[[noreturn]] void Throw(const std::string& AWhat, LSTATUS AError) {
  throw std::runtime_error(AWhat + ": " + WindowsErrorText(static_cast<unsigned long>(AError)));
}

// Paths are compared as the file system compares them: without regard to case.
bool SameText(const std::wstring& A, const std::wstring& B) {
  return CompareStringOrdinal(A.c_str(), static_cast<int>(A.size()), B.c_str(),
                              static_cast<int>(B.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::string AutostartLocation() {
  return "HKEY_CURRENT_USER\\" + WideToUtf8(kRunKey) + ", value " + WideToUtf8(kValueName);
}

TAutostartEntry ReadAutostart(const std::string& AExecutable) {
  TAutostartEntry entry;
  std::wstring command;
  if (!ReadRunValue(command)) {
    return entry;
  }
  entry.Command = WideToUtf8(command);
  if (!SameText(command, RunCommand(AExecutable))) {
    entry.State = TAutostartState::Other;
  } else {
    entry.State = SwitchedOffInTaskManager() ? TAutostartState::Disabled : TAutostartState::On;
  }
  return entry;
}

void EnableAutostart(const std::string& AExecutable) {
  const std::wstring command = RunCommand(AExecutable);
  std::wstring current;
  if (!ReadRunValue(current) || current != command) {
    const DWORD bytes = static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t));
    if (const LSTATUS result =
            RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName, REG_SZ, command.c_str(), bytes);
        result != ERROR_SUCCESS) {
      Throw("cannot write HKEY_CURRENT_USER\\" + WideToUtf8(kRunKey), result);
    }
  }
  // Switched off in Task Manager, the entry would stay without effect.
  if (SwitchedOffInTaskManager()) {
    if (const LSTATUS result = RegDeleteKeyValueW(HKEY_CURRENT_USER, kApprovedKey, kValueName);
        result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
      Throw("cannot switch the entry on in Task Manager's Startup list", result);
    }
  }
}

bool DisableAutostart() {
  const LSTATUS result = RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName);
  if (result == ERROR_FILE_NOT_FOUND) {
    return false;
  }
  if (result != ERROR_SUCCESS) {
    Throw("cannot remove the value KelvoRelay from HKEY_CURRENT_USER\\" + WideToUtf8(kRunKey),
          result);
  }
  return true;
}

}  // namespace kelvo
