#include "settings_store_harness.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "config/reg_text.h"
#include "config/registry_store.h"

namespace kelvo::fuzz {

namespace {

namespace rt = regtext;

// What a reader of one value sees.
struct TSeen {
  bool Exists = false;
  std::optional<std::string> Text;
  std::optional<std::int32_t> Number;

  bool operator==(const TSeen&) const = default;
};

std::string Lower(std::string_view AName) {
  std::string Result(AName);
  for (char& Ch : Result) {
    if (Ch >= 'A' && Ch <= 'Z') {
      Ch = static_cast<char>(Ch + 32);
    }
  }
  return Result;
}

TSeen Look(const TRegistryStore& AStore, const std::string& AName) {
  TSeen Seen;
  Seen.Exists = AStore.ValueExists(AName);
  try {
    Seen.Text = AStore.ReadString(AName);
  } catch (const TRegistryError&) {
  }
  try {
    Seen.Number = AStore.ReadInteger(AName);
  } catch (const TRegistryError&) {
  }
  return Seen;
}

std::string Describe(const TSeen& ASeen) {
  std::ostringstream Out;
  Out << (ASeen.Exists ? "exists" : "missing");
  if (ASeen.Text) {
    Out << ", text \"" << *ASeen.Text << "\"";
  }
  if (ASeen.Number) {
    Out << ", number " << *ASeen.Number;
  }
  return Out.str();
}

std::string ReadFile(const std::string& AName) {
  std::ifstream In(AName, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& AName, std::string_view ABytes) {
  std::ofstream(AName, std::ios::binary | std::ios::trunc)
      .write(ABytes.data(), static_cast<std::streamsize>(ABytes.size()));
}

// Every value name the file mentions anywhere, in its original spelling.
std::vector<std::string> NamesIn(std::string_view ABytes) {
  std::vector<std::string> Names;
  std::string Ignored;
  const auto Decoded = rt::DecodeFileText(ABytes, Ignored);
  if (!Decoded) {
    return Names;
  }
  for (const std::string& Line : rt::SplitLines(Decoded->Text)) {
    std::string_view Rest;
    if (auto Name = rt::ParseValueName(rt::Trim(Line), Rest)) {
      Names.push_back(std::move(*Name));
    }
    if (Names.size() >= 512) {
      break;
    }
  }
  return Names;
}

// The change of one save, as the relay makes it: adapter and window position first, then the
// static list replaced.
struct TChange {
  std::string AdapterID;
  std::int32_t Top = 0;
  std::int32_t Left = 0;
  std::vector<std::string> StaticList;
};

TChange ChangeFor(std::span<const std::uint8_t> AInput) {
  std::uint64_t Hash = 14695981039346656037ULL;
  for (const std::uint8_t Byte : AInput) {
    Hash = (Hash ^ Byte) * 1099511628211ULL;
  }
  static const char* const kAdapters[] = {"eth0",        "{4D36E972-E325}", "a\\",
                                          "line\nbreak", "quote\"d",        ""};
  static const char* const kEntries[] = {"1001,192.168.1.20,8442", "-5,\"host, with comma\",1",
                                         "7,ctl.example,70000", "0,\"a \"\"b\"\"\",8442"};
  TChange Change;
  Change.AdapterID = kAdapters[Hash % std::size(kAdapters)];
  Change.Top = static_cast<std::int32_t>(Hash >> 8);
  Change.Left = -static_cast<std::int32_t>((Hash >> 40) & 0xFFFF);
  const std::size_t Count = 1 + (Hash >> 16) % 4;
  for (std::size_t I = 0; I < Count; ++I) {
    Change.StaticList.emplace_back(kEntries[(I + (Hash >> 20)) % std::size(kEntries)]);
  }
  return Change;
}

using TModel = std::map<std::string, std::pair<std::string, TSeen>>;  // lower -> name, seen

// Applies AChange to the open store and to the model of what a reader must see afterwards.
std::string Apply(TRegistryStore& AStore, TModel& AModel, const TChange& AChange) {
  auto Set = [&AModel](const std::string& AName, TSeen ASeen) {
    AModel[Lower(AName)] = {AName, std::move(ASeen)};
  };
  AStore.WriteString("EthernetAdapterID", AChange.AdapterID);
  Set("EthernetAdapterID", {true, AChange.AdapterID, std::nullopt});
  AStore.WriteInteger("Top", AChange.Top);
  Set("Top", {true, std::nullopt, AChange.Top});
  AStore.WriteInteger("Left", AChange.Left);
  Set("Left", {true, std::nullopt, AChange.Left});
  for (int N = 0;; ++N) {
    const std::string Name = "StaticList" + std::to_string(N);
    const auto It = AModel.find(Lower(Name));
    const bool Modelled = It != AModel.end() && It->second.second.Exists;
    const bool Deleted = AStore.DeleteValue(Name);
    if (Deleted != Modelled) {
      return Name + (Deleted ? " was deleted although the model had none"
                             : " was not there to delete although it was read");
    }
    if (!Deleted) {
      break;
    }
    Set(Name, {});
  }
  for (std::size_t I = 0; I < AChange.StaticList.size(); ++I) {
    const std::string Name = "StaticList" + std::to_string(I);
    AStore.WriteString(Name, AChange.StaticList[I]);
    Set(Name, {true, AChange.StaticList[I], std::nullopt});
  }
  return {};
}

}  // namespace

std::string RunSettingsStoreInput(std::span<const std::uint8_t> AInput,
                                  const std::string& AFolder) {
  const std::string File = AFolder + "/KelvoRelay.reg";
  const std::string_view Bytes(reinterpret_cast<const char*>(AInput.data()), AInput.size());
  WriteFile(File, Bytes);
  const TChange Change = ChangeFor(AInput);

  TRegistryStore Store(File);
  try {
    Store.OpenKey(true);
  } catch (const TRegistryError&) {
    // A file the store cannot understand is never written.
    return ReadFile(File) == Bytes ? std::string() : "an unreadable file was changed";
  }
  TModel Model;
  for (const std::string& Name : NamesIn(Bytes)) {
    Model[Lower(Name)] = {Name, Look(Store, Name)};
  }
  // Three saves of the same change, each read back. The second may still differ from the
  // first where the list had a gap (a new entry closes it, so the next save deletes past it);
  // the third must change nothing more: nothing is left half-read behind.
  std::string Saved;
  for (int Save = 1; Save <= 3; ++Save) {
    const std::string Which = "save " + std::to_string(Save) + ": ";
    if (std::string Error = Apply(Store, Model, Change); !Error.empty()) {
      return Which + Error;
    }
    try {
      Store.CloseKey();
    } catch (const TRegistryError& Failure) {
      return Which + "failed: " + Failure.what();
    }
    const std::string Text = ReadFile(File);
    if (Save == 3 && Text != Saved) {
      return Which + "the same save again changed the file";
    }
    Saved = Text;
    if (!Store.OpenKey(false)) {
      return Which + "the saved key cannot be opened again: " + Store.OpenError();
    }
    for (const auto& [Key, Expected] : Model) {
      const TSeen Seen = Look(Store, Expected.first);
      if (Seen != Expected.second) {
        return Which + "'" + Expected.first + "' " + Describe(Seen) + ", expected " +
               Describe(Expected.second);
      }
    }
  }
  Store.CloseKey();
  return {};
}

}  // namespace kelvo::fuzz
