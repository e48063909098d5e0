// The settings key kept in a Registry Editor text file (the platform has no registry).
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "config/atomic_file.h"
#include "config/home_folder_posix.h"
#include "config/reg_text.h"
#include "config/registry_store.h"

namespace kelvo {

namespace rt = regtext;

namespace {

std::string HomeFolder() {
  std::string home = UserHomeFolder();
  return home.empty() ? std::string(".") : home;
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

bool EndsInContinuation(std::string_view ALine) {
  return rt::Trim(ALine).ends_with('\\');
}

// Whether ALine can be the next line of hex data: a blank line, a section, a value or the
// default value ends the data even behind a backslash (a continuation never starts with a
// quote, a bracket or "@"; regedit's own exports start them with blanks).
bool CanContinueData(std::string_view ALine) {
  const std::string_view Trimmed = rt::Trim(ALine);
  return !Trimmed.empty() && !Trimmed.starts_with('[') && !Trimmed.starts_with('"') &&
         !Trimmed.starts_with('@');
}

std::string WithoutContinuation(std::string_view ALine) {
  std::string_view Line = rt::Trim(ALine);
  Line.remove_suffix(1);
  return std::string(
      ALine.substr(0, static_cast<std::size_t>(Line.data() - ALine.data()) + Line.size()));
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
    // The last line ends in a continuation backslash that nothing in the key continues (the
    // file ended there, or a blank line, a section or another value came next). Written back
    // without that backslash: a value saved behind it would otherwise be read as its data.
    bool OpenEnded = false;
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

  // The data of a value, its continuation lines joined.
  static std::string RightHandSide(const TValue& AValue);
  void Write(const std::string& AName, const std::string& ARightHandSide);
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
    // hex data goes on over lines that end in a backslash, as far as the lines can be data
    if (!Data.empty() && !Data.starts_with('"')) {
      while (EndsInContinuation(Value.Lines.back()) && I + 1 < ALines.size() &&
             CanContinueData(ALines[I + 1])) {
        Value.Lines.push_back(ALines[++I]);
      }
      Value.OpenEnded = EndsInContinuation(Value.Lines.back());
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
    if (Value.Deleted) {
      continue;
    }
    for (std::size_t I = 0; I + 1 < Value.Lines.size(); ++I) {
      Add(Value.Lines[I]);
    }
    Add(Value.OpenEnded ? WithoutContinuation(Value.Lines.back()) : Value.Lines.back());
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
  if (TReplaceResult Result = ReplaceFileAtomically(FileName, *Bytes); !Result) {
    throw TRegistryError(CommitError, std::move(Result.Cause));
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

// The data of a value, its continuation lines joined; an open end is the end of the data.
std::string TRegistryStore::TImpl::RightHandSide(const TValue& AValue) {
  const std::vector<std::string>& Lines = AValue.Lines;
  std::string_view First;
  rt::ParseValueName(rt::Trim(Lines[0]), First);
  std::string Data(First);
  for (std::size_t I = 1; I < Lines.size(); ++I) {
    if (Data.ends_with('\\')) {
      Data.pop_back();
    }
    Data.append(rt::Trim(Lines[I]));
  }
  if (AValue.OpenEnded && Data.ends_with('\\')) {
    Data.pop_back();
  }
  return Data;
}

std::int32_t TRegistryStore::ReadInteger(const std::string& AName) const {
  const TImpl::TValue* Value = fImpl->Find(AName);
  if (Value == nullptr) {
    throw TRegistryError("Failed to get data for '" + AName + "'");
  }
  const auto Data = rt::ParseDword(TImpl::RightHandSide(*Value));
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
  auto Data = rt::ParseString(TImpl::RightHandSide(*Value));
  if (!Data) {
    throw TRegistryError("Invalid data type for '" + AName + "'");
  }
  return std::move(*Data);
}

void TRegistryStore::TImpl::Write(const std::string& AName, const std::string& ARightHandSide) {
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
    Values[It->second].OpenEnded = false;
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
