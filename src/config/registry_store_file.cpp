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
  std::string result(AName);
  for (char& ch : result) {
    if (ch >= 'A' && ch <= 'Z') {
      ch = static_cast<char>(ch + 32);
    }
  }
  return result;
}

bool EndsInContinuation(std::string_view ALine) {
  return rt::Trim(ALine).ends_with('\\');
}

// Whether ALine can be the next line of hex data: a blank line, a section, a value or the
// default value ends the data even behind a backslash (a continuation never starts with a
// quote, a bracket or "@"; regedit's own exports start them with blanks).
bool CanContinueData(std::string_view ALine) {
  const std::string_view trimmed = rt::Trim(ALine);
  return !trimmed.empty() && !trimmed.starts_with('[') && !trimmed.starts_with('"') &&
         !trimmed.starts_with('@');
}

std::string WithoutContinuation(std::string_view ALine) {
  std::string_view line = rt::Trim(ALine);
  line.remove_suffix(1);
  return std::string(
      ALine.substr(0, static_cast<std::size_t>(line.data() - ALine.data()) + line.size()));
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
    const auto it = Index.find(LowerCase(AName));
    return it == Index.end() ? nullptr : &Values[it->second];
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
  std::string base;
  // Relative values are to be ignored, as the XDG base directory rules say.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    base = HomeFolder() + "/.config";
  }
  return base + "/Marlowin/KelvoRelay.reg";
}

void TRegistryStore::TImpl::Parse(const std::vector<std::string>& ALines, bool& AKeyFound) {
  bool inKey = false;
  for (std::size_t i = 0; i < ALines.size(); ++i) {
    const std::string& line = ALines[i];
    const std::string_view trimmed = rt::Trim(line);
    if (trimmed.starts_with('[') && trimmed.ends_with(']')) {
      inKey = rt::EqualsNoCase(trimmed.substr(1, trimmed.size() - 2), kSettingsKey);
      if (inKey) {
        if (!AKeyFound) {
          KeyPos = OtherLines.size();
        }
        AKeyFound = true;
        continue;
      }
    }
    if (!inKey) {
      OtherLines.push_back(line);
      continue;
    }
    if (trimmed.empty()) {
      continue;  // the blank line behind the section is written anew
    }
    TValue value;
    value.Lines.push_back(line);
    std::string_view data;
    if (auto name = rt::ParseValueName(trimmed, data)) {
      value.Named = true;
      value.Name = std::move(*name);
    } else if (trimmed.starts_with('@')) {
      data = rt::Trim(trimmed.substr(trimmed.find('=') + 1));
    }
    // hex data goes on over lines that end in a backslash, as far as the lines can be data
    if (!data.empty() && !data.starts_with('"')) {
      while (EndsInContinuation(value.Lines.back()) && i + 1 < ALines.size() &&
             CanContinueData(ALines[i + 1])) {
        value.Lines.push_back(ALines[++i]);
      }
      value.OpenEnded = EndsInContinuation(value.Lines.back());
    }
    AddLoaded(std::move(value));
  }
}

std::string TRegistryStore::TImpl::Render() const {
  std::size_t size = 64;
  for (const auto& line : OtherLines) {
    size += line.size() + 2;
  }
  for (const auto& value : Values) {
    for (const auto& line : value.Lines) {
      size += line.size() + 2;
    }
  }
  std::string text;
  text.reserve(size);
  auto add = [&text](std::string_view ALine) { text.append(ALine).append("\r\n"); };
  for (std::size_t i = 0; i < KeyPos && i < OtherLines.size(); ++i) {
    add(OtherLines[i]);
  }
  text.append("[").append(kSettingsKey).append("]\r\n");
  for (const auto& value : Values) {
    if (value.Deleted) {
      continue;
    }
    for (std::size_t i = 0; i + 1 < value.Lines.size(); ++i) {
      add(value.Lines[i]);
    }
    add(value.OpenEnded ? WithoutContinuation(value.Lines.back()) : value.Lines.back());
  }
  add("");
  for (std::size_t i = KeyPos; i < OtherLines.size(); ++i) {
    add(OtherLines[i]);
  }
  return text;
}

void TRegistryStore::TImpl::Commit() {
  std::string text = Render();
  std::optional<std::string> bytes = rt::EncodeFileText(text, Encoding);
  if (!bytes) {
    // A text with characters that an ANSI file cannot hold: rather than lose them, the file
    // becomes what regedit writes today, a version 5.00 file in UTF-16 with a byte order mark.
    if (!OtherLines.empty() && rt::IsHeader(OtherLines[0])) {
      OtherLines[0] = rt::kHeader;
      text = Render();
    }
    bytes = rt::EncodeFileText(text, rt::TTextEncoding::teUtf16LeBom);
  }
  if (TReplaceResult result = ReplaceFileAtomically(FileName, *bytes); !result) {
    throw TRegistryError(CommitError, std::move(result.Cause));
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
  TImpl& s = *fImpl;
  s.Reset();
  s.OpenError.clear();
  std::string bytes;
  std::string why;
  const TReadResult read = ReadWholeFile(s.FileName, bytes, why);
  std::optional<rt::TDecodedText> decoded;
  if (read == TReadResult::rrOk) {
    decoded = rt::DecodeFileText(bytes, why);
  }
  std::vector<std::string> lines;
  if (decoded) {
    lines = rt::SplitLines(decoded->Text);
    s.Encoding = decoded->Encoding;
  }
  bool blank = true;
  for (const auto& line : lines) {
    blank = blank && rt::Trim(line).empty();
  }
  if (decoded && !blank && !rt::IsHeader(lines[0])) {
    why = "line 1 is neither \"" + std::string(rt::kHeader) + "\" nor \"" +
          std::string(rt::kHeader4) + "\"";
  }
  if (!why.empty()) {
    // Never overwrite a file that cannot be understood: the user's other keys may be in it.
    s.OpenError = "Cannot read the settings file '" + s.FileName + "': " + why;
    s.Reset();
    if (ACanCreate) {
      throw TRegistryError(s.OpenError);
    }
    return false;
  }

  bool keyFound = false;
  if (blank) {
    s.OtherLines = {std::string(rt::kHeader), ""};
  } else {
    s.Parse(lines, keyFound);
  }
  if (!keyFound) {
    if (!ACanCreate) {
      s.Reset();
      return false;
    }
    if (!s.OtherLines.back().empty()) {
      s.OtherLines.emplace_back();
    }
    s.KeyPos = s.OtherLines.size();
    const std::string error = "Failed to create key '" + std::string(kSettingsKey) + "'";
    std::error_code ec;
    const auto folder = std::filesystem::path(s.FileName).parent_path();
    if (!folder.empty()) {
      std::filesystem::create_directories(folder, ec);
    }
    if (ec) {
      s.Reset();
      throw TRegistryError(error);
    }
    s.Changed(error);
  }
  s.Open = true;
  return true;
}

void TRegistryStore::CloseKey() {
  TImpl& s = *fImpl;
  if (s.Open && s.Dirty) {
    try {
      s.Commit();
    } catch (...) {
      s.Reset();
      throw;
    }
  }
  s.Reset();
}

void TRegistryStore::DiscardKey() noexcept {
  fImpl->Reset();
}

bool TRegistryStore::ValueExists(const std::string& AName) const {
  return fImpl->Find(AName) != nullptr;
}

// The data of a value, its continuation lines joined; an open end is the end of the data.
std::string TRegistryStore::TImpl::RightHandSide(const TValue& AValue) {
  const std::vector<std::string>& lines = AValue.Lines;
  std::string_view first;
  rt::ParseValueName(rt::Trim(lines[0]), first);
  std::string data(first);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (data.ends_with('\\')) {
      data.pop_back();
    }
    data.append(rt::Trim(lines[i]));
  }
  if (AValue.OpenEnded && data.ends_with('\\')) {
    data.pop_back();
  }
  return data;
}

std::int32_t TRegistryStore::ReadInteger(const std::string& AName) const {
  const TImpl::TValue* value = fImpl->Find(AName);
  if (value == nullptr) {
    throw TRegistryError("Failed to get data for '" + AName + "'");
  }
  const auto data = rt::ParseDword(TImpl::RightHandSide(*value));
  if (!data) {
    throw TRegistryError("Invalid data type for '" + AName + "'");
  }
  return static_cast<std::int32_t>(*data);
}

std::string TRegistryStore::ReadString(const std::string& AName) const {
  const TImpl::TValue* value = fImpl->Find(AName);
  if (value == nullptr) {
    throw TRegistryError("Failed to get data for '" + AName + "'");
  }
  auto data = rt::ParseString(TImpl::RightHandSide(*value));
  if (!data) {
    throw TRegistryError("Invalid data type for '" + AName + "'");
  }
  return std::move(*data);
}

void TRegistryStore::TImpl::Write(const std::string& AName, const std::string& ARightHandSide) {
  std::string errorText = "Failed to set data for '" + AName + "'";
  if (!Open) {
    throw TRegistryError(errorText);
  }
  std::string line = rt::QuoteName(AName) + "=" + ARightHandSide;
  const auto [It, Inserted] = Index.try_emplace(LowerCase(AName), Values.size());
  if (Inserted) {
    Values.push_back(TValue{AName, true, false, {std::move(line)}});
  } else {
    Values[It->second].Lines = {std::move(line)};
    Values[It->second].OpenEnded = false;
  }
  Changed(std::move(errorText));
}

void TRegistryStore::WriteInteger(const std::string& AName, std::int32_t AValue) {
  fImpl->Write(AName, rt::DwordData(static_cast<std::uint32_t>(AValue)));
}

void TRegistryStore::WriteString(const std::string& AName, const std::string& AValue) {
  fImpl->Write(AName, rt::StringData(AValue));
}

bool TRegistryStore::DeleteValue(const std::string& AName) {
  TImpl& s = *fImpl;
  if (!s.Open) {
    return false;
  }
  const auto it = s.Index.find(LowerCase(AName));
  if (it == s.Index.end()) {
    return false;
  }
  TImpl::TValue& value = s.Values[it->second];
  value.Deleted = true;
  value.Lines.clear();
  s.Index.erase(it);
  s.Changed("Failed to delete value '" + AName + "'");
  return true;
}

}  // namespace kelvo
