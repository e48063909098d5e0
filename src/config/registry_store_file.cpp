// The settings key kept in a Registry Editor text file (the platform has no registry).
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

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

// On rrFailed, AError says why.
TReadResult ReadWholeFile(const std::string& AFileName, std::string& AContent,
                          std::string& AError) {
  const int Fd = ::open(AFileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return TReadResult::rrMissing;
    }
    AError = std::strerror(errno);
    return TReadResult::rrFailed;
  }
  AContent.clear();
  struct stat St {};
  if (::fstat(Fd, &St) == 0 && St.st_size > 0) {
    AContent.reserve(static_cast<std::size_t>(St.st_size));
  }
  char Buf[65536];
  for (;;) {
    const ssize_t N = ::read(Fd, Buf, sizeof Buf);
    if (N == 0) {
      break;
    }
    if (N < 0) {
      if (errno == EINTR) {
        continue;
      }
      AError = std::strerror(errno);
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

// The name part mkostemp puts behind "<target>.": six of [A-Za-z0-9]. Six lower-case letters
// are taken for a person's own copy ("KelvoRelay.reg.backup") and never for ours; a temporary
// file of ours has that shape about once in 180 and is then simply left.
bool LooksLikeOurTempSuffix(std::string_view ASuffix) {
  if (ASuffix.size() != 6) {
    return false;
  }
  bool AllLower = true;
  for (const char Ch : ASuffix) {
    const bool Lower = Ch >= 'a' && Ch <= 'z';
    if (!Lower && !(Ch >= 'A' && Ch <= 'Z') && !(Ch >= '0' && Ch <= '9')) {
      return false;
    }
    AllLower = AllLower && Lower;
  }
  return !AllLower;
}

// Removes temporary files that earlier saves left behind when they were cut short. The caller
// holds the folder's lock, which every save of ours takes from creating its temporary file to
// renaming it, so no save is in progress and every file of ours found here is stale. Only files
// that are certainly ours go: the name "<target>.XXXXXX", a plain file of this user, and either
// empty (cut short before writing) or beginning as a registry file does.
void RemoveStaleTempFiles(const std::string& ATarget, const std::string& AFolder) {
  namespace fs = std::filesystem;
  const std::string Prefix = fs::path(ATarget).filename().string() + ".";
  std::error_code Ec;
  fs::directory_iterator It(AFolder, Ec);
  if (Ec) {
    return;
  }
  for (; It != fs::directory_iterator(); It.increment(Ec)) {
    if (Ec) {
      return;
    }
    const std::string Name = It->path().filename().string();
    if (!Name.starts_with(Prefix) || !LooksLikeOurTempSuffix(Name.substr(Prefix.size()))) {
      continue;
    }
    const std::string Path = It->path().string();
    const int Fd = ::open(Path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (Fd < 0) {
      continue;
    }
    struct stat St {};
    bool Ours = ::fstat(Fd, &St) == 0 && S_ISREG(St.st_mode) && St.st_uid == ::geteuid();
    if (Ours && St.st_size > 0) {
      unsigned char Head[2] = {};
      const bool Two = ::pread(Fd, Head, sizeof Head, 0) == 2;
      const bool Bom = Head[0] == 0xFF || Head[0] == 0xFE || Head[0] == 0xEF;
      const auto Letter = [](unsigned char AByte) { return AByte == 'W' || AByte == 'R'; };
      Ours = Two && (Bom || Letter(Head[0]) || (Head[0] == 0 && Letter(Head[1])));
    }
    ::close(Fd);
    if (Ours) {
      ::unlink(Path.c_str());
    }
  }
}

// Temporary file beside the target, synced, then renamed over it: readers and a crash see
// either the old file or the new one, never a torn or empty one.
bool ReplaceFileAtomically(const std::string& AFileName, const std::string& AText) {
  const std::string Target = WriteTarget(AFileName);
  std::string Folder = std::filesystem::path(Target).parent_path().string();
  if (Folder.empty()) {
    Folder = ".";
  }
  // Saves of this program (in any process) take turns, so one never mistakes another's
  // temporary file for a stale one. Without the lock the save still works, it only cleans up
  // nothing.
  const int DirFd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool Locked = DirFd >= 0 && ::flock(DirFd, LOCK_EX) == 0;
  auto Done = [DirFd](bool AResult) {
    if (DirFd >= 0) {
      ::close(DirFd);  // drops the lock
    }
    return AResult;
  };
  std::string Temp = Target + ".XXXXXX";
  const int Fd = ::mkostemp(Temp.data(), O_CLOEXEC);
  if (Fd < 0) {
    return Done(false);
  }
  bool Ok = true;
  struct stat St {};
  if (::stat(Target.c_str(), &St) == 0) {
    Ok = ::fchmod(Fd, St.st_mode & 07777) == 0;
  }
  Ok = Ok && WriteAll(Fd, AText) && ::fsync(Fd) == 0;
  Ok = Ok && ::rename(Temp.c_str(), Target.c_str()) == 0;
  if (!Ok) {
    ::unlink(Temp.c_str());
    ::close(Fd);
    return Done(false);
  }
  ::close(Fd);  // the data is synced and in place
  if (DirFd >= 0) {
    // Makes the rename itself durable; the data is already safe, so a failure is ignored.
    ::fsync(DirFd);
  }
  if (Locked) {
    RemoveStaleTempFiles(Target, Folder);
  }
  return Done(true);
}

std::string LowerCase(std::string_view AName) {
  std::string Result(AName);
  for (char& Ch : Result) {
    if (Ch >= 'A' && Ch <= 'Z') {
      Ch = static_cast<char>(Ch + 32);
    }
  }
  return Result;
}

}  // namespace

// The key as it stands in the file, and the changes staged since OpenKey.
struct TRegistryStore::TImpl {
  // One entry of our key: a named value, or a line that is kept verbatim (a comment, the
  // default value "@"). Lines holds continuation lines too. A deleted value keeps its slot
  // (Deleted) so that a delete costs no shifting.
  struct TValue {
    std::string Name;
    bool Named = false;
    bool Deleted = false;
    std::vector<std::string> Lines;
  };

  std::string FileName;
  std::string OpenError;
  bool Open = false;
  rt::TTextEncoding Encoding = rt::TTextEncoding::teUtf8;
  // Every line outside our key, in file order; our key's section is written before index
  // KeyPos.
  std::vector<std::string> OtherLines;
  std::size_t KeyPos = 0;
  std::vector<TValue> Values;
  std::unordered_map<std::string, std::size_t> Index;  // lower-case name -> live slot
  bool Dirty = false;
  std::string CommitError;  // names the first change since OpenKey

  void Reset() {
    Open = false;
    Encoding = rt::TTextEncoding::teUtf8;
    OtherLines.clear();
    KeyPos = 0;
    Values.clear();
    Index.clear();
    Dirty = false;
    CommitError.clear();
  }

  const TValue* Find(const std::string& AName) const {
    if (!Open) {
      return nullptr;
    }
    const auto It = Index.find(LowerCase(AName));
    return It == Index.end() ? nullptr : &Values[It->second];
  }

  void Changed(std::string AErrorText) {
    if (!Dirty) {
      Dirty = true;
      CommitError = std::move(AErrorText);
    }
  }

  // Adds a value read from the file; a name given twice counts with its later data, at the
  // place of the first, as an import would have it.
  void AddLoaded(TValue AValue) {
    if (AValue.Named) {
      const auto [It, Inserted] = Index.try_emplace(LowerCase(AValue.Name), Values.size());
      if (!Inserted) {
        Values[It->second] = std::move(AValue);
        return;
      }
    }
    Values.push_back(std::move(AValue));
  }

  void Write(const std::string& AName, std::string ARightHandSide);
  void Parse(const std::vector<std::string>& ALines, bool& AKeyFound);
  std::string Render() const;
  void Commit();
};

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

void TRegistryStore::TImpl::Parse(const std::vector<std::string>& ALines, bool& AKeyFound) {
  bool InKey = false;
  for (std::size_t I = 0; I < ALines.size(); ++I) {
    const std::string& Line = ALines[I];
    const std::string_view Trimmed = rt::Trim(Line);
    if (Trimmed.starts_with('[') && Trimmed.ends_with(']')) {
      InKey = rt::EqualsNoCase(Trimmed.substr(1, Trimmed.size() - 2), kSettingsKey);
      if (InKey) {
        if (!AKeyFound) {
          KeyPos = OtherLines.size();
        }
        AKeyFound = true;
        continue;
      }
    }
    if (!InKey) {
      OtherLines.push_back(Line);
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
      while (rt::Trim(Value.Lines.back()).ends_with('\\') && I + 1 < ALines.size()) {
        Value.Lines.push_back(ALines[++I]);
      }
    }
    AddLoaded(std::move(Value));
  }
}

std::string TRegistryStore::TImpl::Render() const {
  std::size_t Size = 64;
  for (const auto& Line : OtherLines) {
    Size += Line.size() + 2;
  }
  for (const auto& Value : Values) {
    for (const auto& Line : Value.Lines) {
      Size += Line.size() + 2;
    }
  }
  std::string Text;
  Text.reserve(Size);
  auto Add = [&Text](std::string_view ALine) { Text.append(ALine).append("\r\n"); };
  for (std::size_t I = 0; I < KeyPos && I < OtherLines.size(); ++I) {
    Add(OtherLines[I]);
  }
  Text.append("[").append(kSettingsKey).append("]\r\n");
  for (const auto& Value : Values) {
    if (!Value.Deleted) {
      for (const auto& Line : Value.Lines) {
        Add(Line);
      }
    }
  }
  Add("");
  for (std::size_t I = KeyPos; I < OtherLines.size(); ++I) {
    Add(OtherLines[I]);
  }
  return Text;
}

void TRegistryStore::TImpl::Commit() {
  std::string Text = Render();
  std::optional<std::string> Bytes = rt::EncodeFileText(Text, Encoding);
  if (!Bytes) {
    // A text with characters that an ANSI file cannot hold: rather than lose them, the file
    // becomes what regedit writes today, a version 5.00 file in UTF-16 with a byte order mark.
    if (!OtherLines.empty() && rt::IsHeader(OtherLines[0])) {
      OtherLines[0] = rt::kHeader;
      Text = Render();
    }
    Bytes = rt::EncodeFileText(Text, rt::TTextEncoding::teUtf16LeBom);
  }
  if (!ReplaceFileAtomically(FileName, *Bytes)) {
    throw TRegistryError(CommitError);
  }
}

TRegistryStore::TRegistryStore(std::string AFileName) : fImpl(std::make_unique<TImpl>()) {
  fImpl->FileName = std::move(AFileName);
}

TRegistryStore::~TRegistryStore() = default;

const std::string& TRegistryStore::FileName() const {
  return fImpl->FileName;
}

const std::string& TRegistryStore::OpenError() const {
  return fImpl->OpenError;
}

bool TRegistryStore::OpenKey(bool ACanCreate) {
  TImpl& S = *fImpl;
  S.Reset();
  S.OpenError.clear();
  std::string Bytes;
  std::string Why;
  const TReadResult Read = ReadWholeFile(S.FileName, Bytes, Why);
  std::optional<rt::TDecodedText> Decoded;
  if (Read == TReadResult::rrOk) {
    Decoded = rt::DecodeFileText(Bytes, Why);
  }
  std::vector<std::string> Lines;
  if (Decoded) {
    Lines = rt::SplitLines(Decoded->Text);
    S.Encoding = Decoded->Encoding;
  }
  bool Blank = true;
  for (const auto& Line : Lines) {
    Blank = Blank && rt::Trim(Line).empty();
  }
  if (Decoded && !Blank && !rt::IsHeader(Lines[0])) {
    Why = "line 1 is neither \"" + std::string(rt::kHeader) + "\" nor \"" +
          std::string(rt::kHeader4) + "\"";
  }
  if (!Why.empty()) {
    // Never overwrite a file that cannot be understood: the user's other keys may be in it.
    S.OpenError = "Cannot read the settings file '" + S.FileName + "': " + Why;
    S.Reset();
    if (ACanCreate) {
      throw TRegistryError(S.OpenError);
    }
    return false;
  }

  bool KeyFound = false;
  if (Blank) {
    S.OtherLines = {std::string(rt::kHeader), ""};
  } else {
    S.Parse(Lines, KeyFound);
  }
  if (!KeyFound) {
    if (!ACanCreate) {
      S.Reset();
      return false;
    }
    if (!S.OtherLines.back().empty()) {
      S.OtherLines.emplace_back();
    }
    S.KeyPos = S.OtherLines.size();
    const std::string Error = "Failed to create key '" + std::string(kSettingsKey) + "'";
    std::error_code Ec;
    const auto Folder = std::filesystem::path(S.FileName).parent_path();
    if (!Folder.empty()) {
      std::filesystem::create_directories(Folder, Ec);
    }
    if (Ec) {
      S.Reset();
      throw TRegistryError(Error);
    }
    S.Changed(Error);
  }
  S.Open = true;
  return true;
}

void TRegistryStore::CloseKey() {
  TImpl& S = *fImpl;
  if (S.Open && S.Dirty) {
    try {
      S.Commit();
    } catch (...) {
      S.Reset();
      throw;
    }
  }
  S.Reset();
}

void TRegistryStore::DiscardKey() noexcept {
  fImpl->Reset();
}

bool TRegistryStore::ValueExists(const std::string& AName) const {
  return fImpl->Find(AName) != nullptr;
}

namespace {

// The data of a value, its continuation lines joined.
std::string RightHandSide(const std::vector<std::string>& ALines) {
  std::string_view First;
  rt::ParseValueName(rt::Trim(ALines[0]), First);
  std::string Data(First);
  for (std::size_t I = 1; I < ALines.size(); ++I) {
    if (Data.ends_with('\\')) {
      Data.pop_back();
    }
    Data.append(rt::Trim(ALines[I]));
  }
  return Data;
}

}  // namespace

std::int32_t TRegistryStore::ReadInteger(const std::string& AName) const {
  const TImpl::TValue* Value = fImpl->Find(AName);
  if (Value == nullptr) {
    throw TRegistryError("Failed to get data for '" + AName + "'");
  }
  const auto Data = rt::ParseDword(RightHandSide(Value->Lines));
  if (!Data) {
    throw TRegistryError("Invalid data type for '" + AName + "'");
  }
  return static_cast<std::int32_t>(*Data);
}

std::string TRegistryStore::ReadString(const std::string& AName) const {
  const TImpl::TValue* Value = fImpl->Find(AName);
  if (Value == nullptr) {
    throw TRegistryError("Failed to get data for '" + AName + "'");
  }
  auto Data = rt::ParseString(RightHandSide(Value->Lines));
  if (!Data) {
    throw TRegistryError("Invalid data type for '" + AName + "'");
  }
  return std::move(*Data);
}

void TRegistryStore::TImpl::Write(const std::string& AName, std::string ARightHandSide) {
  std::string ErrorText = "Failed to set data for '" + AName + "'";
  if (!Open) {
    throw TRegistryError(ErrorText);
  }
  std::string Line = rt::QuoteName(AName) + "=" + ARightHandSide;
  const auto [It, Inserted] = Index.try_emplace(LowerCase(AName), Values.size());
  if (Inserted) {
    Values.push_back(TValue{AName, true, false, {std::move(Line)}});
  } else {
    Values[It->second].Lines = {std::move(Line)};
  }
  Changed(std::move(ErrorText));
}

void TRegistryStore::WriteInteger(const std::string& AName, std::int32_t AValue) {
  fImpl->Write(AName, rt::DwordData(static_cast<std::uint32_t>(AValue)));
}

void TRegistryStore::WriteString(const std::string& AName, const std::string& AValue) {
  fImpl->Write(AName, rt::StringData(AValue));
}

bool TRegistryStore::DeleteValue(const std::string& AName) {
  TImpl& S = *fImpl;
  if (!S.Open) {
    return false;
  }
  const auto It = S.Index.find(LowerCase(AName));
  if (It == S.Index.end()) {
    return false;
  }
  TImpl::TValue& Value = S.Values[It->second];
  Value.Deleted = true;
  Value.Lines.clear();
  S.Index.erase(It);
  S.Changed("Failed to delete value '" + AName + "'");
  return true;
}

}  // namespace kelvo
