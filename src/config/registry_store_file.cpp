// The settings key kept in a Registry Editor text file (the platform has no registry).
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "config/reg_text.h"
#include "config/registry_store.h"

namespace kelvo {

namespace rt = regtext;

namespace {

std::string HomeFolder() {
  if (const char* Home = std::getenv("HOME"); Home != nullptr && *Home != '\0') {
    return Home;
  }
  if (const passwd* Pw = ::getpwuid(::getuid()); Pw != nullptr && Pw->pw_dir != nullptr) {
    return Pw->pw_dir;
  }
  return ".";
}

enum class TReadResult { rrOk, rrMissing, rrFailed };

TReadResult ReadWholeFile(const std::string& AFileName, std::string& AContent) {
  const int Fd = ::open(AFileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? TReadResult::rrMissing : TReadResult::rrFailed;
  }
  AContent.clear();
  char Buf[8192];
  for (;;) {
    const ssize_t N = ::read(Fd, Buf, sizeof Buf);
    if (N == 0) {
      break;
    }
    if (N < 0) {
      if (errno == EINTR) {
        continue;
      }
      ::close(Fd);
      return TReadResult::rrFailed;
    }
    AContent.append(Buf, static_cast<std::size_t>(N));
  }
  ::close(Fd);
  return TReadResult::rrOk;
}

bool WriteAll(int AFd, const std::string& AText) {
  const char* P = AText.data();
  std::size_t Left = AText.size();
  while (Left > 0) {
    const ssize_t N = ::write(AFd, P, Left);
    if (N < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    P += N;
    Left -= static_cast<std::size_t>(N);
  }
  return true;
}

// A settings file kept as a link (dotfile managers do that) is replaced at its target, so the
// link survives.
std::string WriteTarget(const std::string& AFileName) {
  struct stat St {};
  if (::lstat(AFileName.c_str(), &St) == 0 && S_ISLNK(St.st_mode)) {
    char Resolved[PATH_MAX];
    if (::realpath(AFileName.c_str(), Resolved) != nullptr) {
      return Resolved;
    }
  }
  return AFileName;
}

// Temporary file beside the target, synced, then renamed over it: readers and a crash see
// either the old file or the new one, never a torn or empty one.
bool ReplaceFileAtomically(const std::string& AFileName, const std::string& AText) {
  const std::string Target = WriteTarget(AFileName);
  std::string Temp = Target + ".XXXXXX";
  const int Fd = ::mkostemp(Temp.data(), O_CLOEXEC);
  if (Fd < 0) {
    return false;
  }
  bool Ok = true;
  struct stat St {};
  if (::stat(Target.c_str(), &St) == 0) {
    Ok = ::fchmod(Fd, St.st_mode & 07777) == 0;
  }
  Ok = Ok && WriteAll(Fd, AText) && ::fsync(Fd) == 0;
  Ok = (::close(Fd) == 0) && Ok;
  Ok = Ok && ::rename(Temp.c_str(), Target.c_str()) == 0;
  if (!Ok) {
    ::unlink(Temp.c_str());
    return false;
  }
  // Makes the rename itself durable; the data is already safe, so a failure here is ignored.
  const std::string Folder = std::filesystem::path(Target).parent_path().string();
  const int DirFd =
      ::open(Folder.empty() ? "." : Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (DirFd >= 0) {
    ::fsync(DirFd);
    ::close(DirFd);
  }
  return true;
}

}  // namespace

std::string DefaultSettingsFileName() {
  std::string Base;
  // Relative values are to be ignored, as the XDG base directory rules say.
  if (const char* Xdg = std::getenv("XDG_CONFIG_HOME"); Xdg != nullptr && Xdg[0] == '/') {
    Base = Xdg;
  } else {
    Base = HomeFolder() + "/.config";
  }
  return Base + "/Marlowin/KelvoRelay.reg";
}

TRegistryStore::TRegistryStore(std::string AFileName) : fFileName(std::move(AFileName)) {}

void TRegistryStore::Reset() {
  fOpen = false;
  fOtherLines.clear();
  fKeyPos = 0;
  fValues.clear();
}

bool TRegistryStore::OpenKey(bool ACanCreate) {
  Reset();
  std::string Bytes;
  const TReadResult Read = ReadWholeFile(fFileName, Bytes);
  const std::vector<std::string> Lines = rt::SplitLines(rt::DecodeFileText(Bytes));
  bool Blank = true;
  for (const auto& Line : Lines) {
    Blank = Blank && rt::Trim(Line).empty();
  }

  bool KeyFound = false;
  if (Read == TReadResult::rrFailed || (!Blank && rt::Trim(Lines[0]) != rt::kHeader)) {
    // Never overwrite a file that cannot be understood: the user's other keys may be in it.
    if (ACanCreate) {
      throw TRegistryError("Cannot read the settings file '" + fFileName + "'");
    }
    return false;
  }
  if (Blank) {
    fOtherLines = {std::string(rt::kHeader), ""};
  } else {
    bool InKey = false;
    for (std::size_t I = 0; I < Lines.size(); ++I) {
      const std::string& Line = Lines[I];
      const std::string_view Trimmed = rt::Trim(Line);
      if (Trimmed.starts_with('[') && Trimmed.ends_with(']')) {
        InKey = rt::EqualsNoCase(Trimmed.substr(1, Trimmed.size() - 2), kSettingsKey);
        if (InKey) {
          if (!KeyFound) {
            fKeyPos = fOtherLines.size();
          }
          KeyFound = true;
          continue;
        }
      }
      if (!InKey) {
        fOtherLines.push_back(Line);
        continue;
      }
      if (Trimmed.empty()) {
        continue;  // the blank line behind the section is written anew
      }
      TValue Value;
      Value.Lines.push_back(Line);
      std::string_view Data;
      if (auto Name = rt::ParseValueName(Trimmed, Data)) {
        Value.Named = true;
        Value.Name = std::move(*Name);
      } else if (Trimmed.starts_with('@')) {
        Data = rt::Trim(Trimmed.substr(Trimmed.find('=') + 1));
      }
      // hex data goes on over lines that end in a backslash
      if (!Data.empty() && !Data.starts_with('"')) {
        while (rt::Trim(Value.Lines.back()).ends_with('\\') && I + 1 < Lines.size()) {
          Value.Lines.push_back(Lines[++I]);
        }
      }
      // A name given twice: the later one counts, as an import would have it.
      TValue* Existing = nullptr;
      for (auto& Old : fValues) {
        if (Value.Named && Old.Named && rt::EqualsNoCase(Old.Name, Value.Name)) {
          Existing = &Old;
        }
      }
      if (Existing != nullptr) {
        *Existing = std::move(Value);
      } else {
        fValues.push_back(std::move(Value));
      }
    }
  }

  if (!KeyFound) {
    if (!ACanCreate) {
      Reset();
      return false;
    }
    if (!fOtherLines.back().empty()) {
      fOtherLines.emplace_back();
    }
    fKeyPos = fOtherLines.size();
    std::error_code Ec;
    const auto Folder = std::filesystem::path(fFileName).parent_path();
    if (!Folder.empty()) {
      std::filesystem::create_directories(Folder, Ec);
    }
    const std::string Error = "Failed to create key '" + std::string(kSettingsKey) + "'";
    if (Ec) {
      Reset();
      throw TRegistryError(Error);
    }
    try {
      Flush(Error);
    } catch (...) {
      Reset();
      throw;
    }
  }
  fOpen = true;
  return true;
}

void TRegistryStore::CloseKey() {
  Reset();
}

int TRegistryStore::Find(const std::string& AName) const {
  for (std::size_t I = 0; I < fValues.size(); ++I) {
    if (fValues[I].Named && rt::EqualsNoCase(fValues[I].Name, AName)) {
      return static_cast<int>(I);
    }
  }
  return -1;
}

bool TRegistryStore::ValueExists(const std::string& AName) const {
  return fOpen && Find(AName) >= 0;
}

std::string TRegistryStore::RightHandSide(const std::string& AName) const {
  const int Index = fOpen ? Find(AName) : -1;
  if (Index < 0) {
    throw TRegistryError("Failed to get data for '" + AName + "'");
  }
  const TValue& Value = fValues[static_cast<std::size_t>(Index)];
  std::string_view First;
  rt::ParseValueName(rt::Trim(Value.Lines[0]), First);
  std::string Data(First);
  for (std::size_t I = 1; I < Value.Lines.size(); ++I) {
    if (Data.ends_with('\\')) {
      Data.pop_back();
    }
    Data.append(rt::Trim(Value.Lines[I]));
  }
  return Data;
}

std::int32_t TRegistryStore::ReadInteger(const std::string& AName) const {
  const auto Value = rt::ParseDword(RightHandSide(AName));
  if (!Value) {
    throw TRegistryError("Invalid data type for '" + AName + "'");
  }
  return static_cast<std::int32_t>(*Value);
}

std::string TRegistryStore::ReadString(const std::string& AName) const {
  auto Value = rt::ParseString(RightHandSide(AName));
  if (!Value) {
    throw TRegistryError("Invalid data type for '" + AName + "'");
  }
  return std::move(*Value);
}

void TRegistryStore::Store(const std::string& AName, std::string ARightHandSide) {
  const std::string Error = "Failed to set data for '" + AName + "'";
  if (!fOpen) {
    throw TRegistryError(Error);
  }
  const std::vector<TValue> Previous = fValues;
  std::string Line = rt::QuoteName(AName) + "=" + ARightHandSide;
  if (const int Index = Find(AName); Index >= 0) {
    fValues[static_cast<std::size_t>(Index)].Lines = {std::move(Line)};
  } else {
    fValues.push_back(TValue{AName, true, {std::move(Line)}});
  }
  try {
    Flush(Error);
  } catch (...) {
    fValues = Previous;  // memory keeps matching the file
    throw;
  }
}

void TRegistryStore::WriteInteger(const std::string& AName, std::int32_t AValue) {
  Store(AName, rt::DwordData(static_cast<std::uint32_t>(AValue)));
}

void TRegistryStore::WriteString(const std::string& AName, const std::string& AValue) {
  Store(AName, rt::StringData(AValue));
}

bool TRegistryStore::DeleteValue(const std::string& AName) {
  const int Index = fOpen ? Find(AName) : -1;
  if (Index < 0) {
    return false;
  }
  const std::vector<TValue> Previous = fValues;
  fValues.erase(fValues.begin() + Index);
  try {
    Flush("Failed to delete value '" + AName + "'");
  } catch (...) {
    fValues = Previous;
    throw;
  }
  return true;
}

std::string TRegistryStore::Render() const {
  std::string Text;
  auto Add = [&Text](std::string_view ALine) { Text.append(ALine).append("\r\n"); };
  for (std::size_t I = 0; I < fKeyPos && I < fOtherLines.size(); ++I) {
    Add(fOtherLines[I]);
  }
  Add("[" + std::string(kSettingsKey) + "]");
  for (const auto& Value : fValues) {
    for (const auto& Line : Value.Lines) {
      Add(Line);
    }
  }
  Add("");
  for (std::size_t I = fKeyPos; I < fOtherLines.size(); ++I) {
    Add(fOtherLines[I]);
  }
  return Text;
}

void TRegistryStore::Flush(const std::string& AErrorText) const {
  if (!ReplaceFileAtomically(fFileName, Render())) {
    throw TRegistryError(AErrorText);
  }
}

}  // namespace kelvo
