#include "config/registry_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <set>
#include <thread>

#include "temp_config_home.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;

const std::string kKeyLine = "[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]";

class RegistryStoreTest : public ::testing::Test {
 protected:
  TTempConfigHome fHome;
};

TEST_F(RegistryStoreTest, FileLivesUnderTheConfigHome) {
  EXPECT_EQ(DefaultSettingsFileName(), fHome.File().string());
  TRegistryStore Store;
  EXPECT_FALSE(Store.OpenKey(false));
  EXPECT_FALSE(fs::exists(fHome.File()));  // reading never creates anything
  ASSERT_TRUE(Store.OpenKey(true));
  Store.CloseKey();
  EXPECT_EQ(fHome.ReadFile(),
            "Windows Registry Editor Version 5.00\r\n\r\n" + kKeyLine + "\r\n\r\n");
}

TEST_F(RegistryStoreTest, ValuesAreWrittenInRegeditFormat) {
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(true));
  Store.WriteInteger("Top", 10);
  Store.WriteInteger("Left", -1);
  Store.WriteString("S", "a\\b\"c");
  Store.WriteInteger("Top", 255);  // rewritten in place
  Store.CloseKey();
  EXPECT_EQ(fHome.ReadFile(), "Windows Registry Editor Version 5.00\r\n\r\n" + kKeyLine +
                                  "\r\n"
                                  "\"Top\"=dword:000000ff\r\n"
                                  "\"Left\"=dword:ffffffff\r\n"
                                  "\"S\"=\"a\\\\b\\\"c\"\r\n\r\n");
}

TEST_F(RegistryStoreTest, EveryValueTypeSurvivesARoundTrip) {
  const std::vector<std::pair<std::string, std::string>> Texts = {
      {"Empty", ""},
      {"Escapes", "C:\\dir\\\"x\""},
      {"Utf8", "Gr\xC3\xBC\xC3\x9F\xF0\x9F\x98\x80"},
      {"Lines", "one\r\ntwo"},
      {"Comma", "1,\"a b\",2"},
  };
  {
    TRegistryStore Store;
    ASSERT_TRUE(Store.OpenKey(true));
    Store.WriteInteger("Max", INT32_MAX);
    Store.WriteInteger("Min", INT32_MIN);
    Store.WriteInteger("Zero", 0);
    for (const auto& [Name, Text] : Texts) {
      Store.WriteString(Name, Text);
    }
    Store.CloseKey();
  }
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadInteger("Max"), INT32_MAX);
  EXPECT_EQ(Store.ReadInteger("Min"), INT32_MIN);
  EXPECT_EQ(Store.ReadInteger("Zero"), 0);
  for (const auto& [Name, Text] : Texts) {
    EXPECT_EQ(Store.ReadString(Name), Text) << Name;
  }
  EXPECT_TRUE(Store.ValueExists("max"));  // names are not case sensitive, as in the registry
}

TEST_F(RegistryStoreTest, WrongTypeAndMissingValuesThrow) {
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(true));
  Store.WriteString("Top", "100");
  Store.WriteInteger("EthernetAdapterID", 3);
  EXPECT_THROW(Store.ReadInteger("Top"), TRegistryError);
  EXPECT_THROW(Store.ReadString("EthernetAdapterID"), TRegistryError);
  EXPECT_THROW(Store.ReadString("Nothing"), TRegistryError);
  EXPECT_TRUE(Store.DeleteValue("Top"));
  EXPECT_FALSE(Store.DeleteValue("Top"));
  Store.CloseKey();
  EXPECT_EQ(fHome.ReadFile().find("Top"), std::string::npos);
}

TEST_F(RegistryStoreTest, OtherKeysAndUnknownValuesAreKept) {
  const std::string Other =
      "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
      "\"Path\"=hex(2):25,00,50,00,00,00\r\n";
  const std::string Ours =
      "\"Bin\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
      "  17,18\r\n"
      "\"Top\"=dword:00000005\r\n"
      "\"Wide\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      "@=\"default\"\r\n";
  const std::string Later = "[HKEY_LOCAL_MACHINE\\Software\\Third]\r\n\"N\"=dword:00000001\r\n";
  fHome.WriteFile("Windows Registry Editor Version 5.00\r\n\r\n" + Other + "\r\n" + kKeyLine +
                  "\r\n" + Ours + "\r\n" + Later);
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadInteger("Top"), 5);
  EXPECT_EQ(Store.ReadString("Wide"), "%A%");  // an expandable string reads as text
  EXPECT_THROW(Store.ReadString("Bin"), TRegistryError);
  Store.WriteInteger("Left", 7);
  Store.CloseKey();
  EXPECT_EQ(fHome.ReadFile(), "Windows Registry Editor Version 5.00\r\n\r\n" + Other + "\r\n" +
                                  kKeyLine + "\r\n" + Ours + "\"Left\"=dword:00000007\r\n\r\n" +
                                  Later);
}

// The test's own encoders, kept apart from the store's: BMP text only.
enum class TEnc { Utf8, Utf8Bom, Utf16Le, Utf16LeBom, Utf16Be, Utf16BeBom, Latin1 };

std::string Encode(std::u16string_view AText, TEnc AEnc) {
  std::string Bytes;
  const bool Wide = AEnc != TEnc::Utf8 && AEnc != TEnc::Utf8Bom && AEnc != TEnc::Latin1;
  const bool Big = AEnc == TEnc::Utf16Be || AEnc == TEnc::Utf16BeBom;
  auto Unit = [&](char16_t C) {
    Bytes.push_back(static_cast<char>(Big ? C >> 8 : C & 0xFF));
    Bytes.push_back(static_cast<char>(Big ? C & 0xFF : C >> 8));
  };
  if (AEnc == TEnc::Utf8Bom) {
    Bytes = "\xEF\xBB\xBF";
  } else if (AEnc == TEnc::Utf16LeBom || AEnc == TEnc::Utf16BeBom) {
    Unit(0xFEFF);
  }
  for (const char16_t C : AText) {
    if (Wide) {
      Unit(C);
    } else if (C < 0x80 || AEnc == TEnc::Latin1) {
      Bytes.push_back(static_cast<char>(C));
    } else if (C < 0x800) {
      Bytes.push_back(static_cast<char>(0xC0 | (C >> 6)));
      Bytes.push_back(static_cast<char>(0x80 | (C & 0x3F)));
    } else {
      Bytes.push_back(static_cast<char>(0xE0 | (C >> 12)));
      Bytes.push_back(static_cast<char>(0x80 | ((C >> 6) & 0x3F)));
      Bytes.push_back(static_cast<char>(0x80 | (C & 0x3F)));
    }
  }
  return Bytes;
}

std::u16string Replace(std::u16string AText, std::u16string_view AFrom, std::u16string_view ATo) {
  for (auto Pos = AText.find(AFrom); Pos != std::u16string::npos;
       Pos = AText.find(AFrom, Pos + ATo.size())) {
    AText.replace(Pos, AFrom.size(), ATo);
  }
  return AText;
}

// Each file is read in its own encoding, line ends and letter case, and written back in the
// same encoding with its header as it stood (line ends become CR LF, as regedit writes them).
TEST_F(RegistryStoreTest, FileIsReadInItsOwnFormatAndWrittenBackInIt) {
  struct TCase {
    const char* Label;
    TEnc Enc;
    std::u16string Header;
    std::u16string LineEnd;
    std::u16string KeyLine;
  };
  const std::u16string Key = u"[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]";
  const std::u16string LowerKey = u"[hkey_current_user\\software\\marlowin\\kelvorelay]";
  const std::u16string V5 = u"Windows Registry Editor Version 5.00";
  const std::vector<TCase> Cases = {
      {"utf16le bom crlf", TEnc::Utf16LeBom, V5, u"\r\n", Key},
      {"utf16le crlf", TEnc::Utf16Le, V5, u"\r\n", Key},
      {"utf16be bom lf", TEnc::Utf16BeBom, V5, u"\n", Key},
      {"utf16be cr", TEnc::Utf16Be, V5, u"\r", LowerKey},
      {"utf8 bom lf lower", TEnc::Utf8Bom, u"windows registry editor version 5.00", u"\n",
       LowerKey},
      {"utf8 cr", TEnc::Utf8, V5, u"\r", Key},
      {"utf8 crlf", TEnc::Utf8, u"  WINDOWS REGISTRY EDITOR VERSION 5.00  ", u"\r\n", Key},
      {"regedit4 crlf", TEnc::Latin1, u"REGEDIT4", u"\r\n", Key},
      {"regedit4 lower lf", TEnc::Latin1, u"regedit4", u"\n", LowerKey},
      {"regedit4 utf8 bom", TEnc::Utf8Bom, u"REGEDIT4", u"\r\n", Key},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Label);
    const std::u16string Body =
        C.KeyLine + u"\n\"top\"=dword:0000002a\n\"Name\"=\"Gr\u00fc\u00df\"\n\n";
    fHome.WriteFile(Encode(Replace(C.Header + u"\n\n" + Body, u"\n", C.LineEnd), C.Enc));
    TRegistryStore Store;
    ASSERT_TRUE(Store.OpenKey(false));
    EXPECT_EQ(Store.ReadInteger("TOP"), 42);
    EXPECT_EQ(Store.ReadString("name"), "Gr\xC3\xBC\xC3\x9F");
    Store.WriteInteger("Top", 7);
    Store.CloseKey();
    EXPECT_EQ(fHome.ReadFile(),
              Encode(C.Header + u"\r\n\r\n" + Key +
                         u"\r\n\"Top\"=dword:00000007\r\n\"Name\"=\"Gr\u00fc\u00df\"\r\n\r\n",
                     C.Enc));
  }
}

TEST_F(RegistryStoreTest, AnsiFileKeepsEveryByteAndBecomesUnicodeOnlyWhenItMust) {
  // 0x80 is the euro sign in Windows-1252, 0x81 is a byte that code page leaves undefined.
  const std::string Head = "REGEDIT4\r\n\r\n" + kKeyLine + "\r\n\"A\"=\"\x80\x81\xE9\"\r\n";
  fHome.WriteFile(Head + "\r\n");
  {
    TRegistryStore Store;
    ASSERT_TRUE(Store.OpenKey(false));
    EXPECT_EQ(Store.ReadString("A"), "\xE2\x82\xAC\xC2\x81\xC3\xA9");
    Store.WriteString("B", "\xC3\xA9");
    Store.CloseKey();
  }
  EXPECT_EQ(fHome.ReadFile(), Head + "\"B\"=\"\xE9\"\r\n\r\n");
  {
    TRegistryStore Store;
    ASSERT_TRUE(Store.OpenKey(false));
    Store.WriteString("C", "\xCE\xA9");  // Greek omega has no ANSI form
    Store.CloseKey();
  }
  EXPECT_TRUE(fHome.ReadFile().starts_with(
      Encode(std::u16string(u"Windows Registry Editor Version 5.00\r\n\r\n") +
                 u"[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]",
             TEnc::Utf16LeBom)));
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadString("A"), "\xE2\x82\xAC\xC2\x81\xC3\xA9");
  EXPECT_EQ(Store.ReadString("C"), "\xCE\xA9");
}

// A file that is there but cannot be used is reported in one line naming it, is never written,
// and a missing file is not an error.
TEST_F(RegistryStoreTest, FileThatCannotBeReadIsReportedAndNeverOverwritten) {
  struct TCase {
    const char* Label;
    std::string Bytes;  // empty: a folder stands where the file should be
    std::string Reason;
  };
  const std::vector<TCase> Cases = {
      {"not a registry file", "not a registry file\n",
       "line 1 is neither \"Windows Registry Editor Version 5.00\" nor \"REGEDIT4\""},
      {"header not first", "\n" + std::string("Windows Registry Editor Version 5.00\r\n"),
       "line 1 is neither"},
      {"odd utf16", Encode(u"Windows Registry Editor Version 5.00\r\n", TEnc::Utf16LeBom) + "x",
       "odd number of bytes"},
      {"folder", "", "Is a directory"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Label);
    fs::remove_all(fHome.File());
    if (C.Bytes.empty()) {
      fs::create_directories(fHome.File());
    } else {
      fHome.WriteFile(C.Bytes);
    }
    TRegistryStore Store;
    EXPECT_FALSE(Store.OpenKey(false));
    const std::string Line = Store.OpenError();
    EXPECT_EQ(Line, "Cannot read the settings file '" + fHome.File().string() +
                        "': " + Line.substr(Line.find("': ") + 3));
    EXPECT_NE(Line.find(C.Reason), std::string::npos) << Line;
    EXPECT_EQ(Line.find('\n'), std::string::npos);
    try {
      Store.OpenKey(true);
      ADD_FAILURE() << "opened for writing";
    } catch (const TRegistryError& E) {
      EXPECT_EQ(E.what(), Line);
    }
    Store.CloseKey();
    if (C.Bytes.empty()) {
      EXPECT_TRUE(fs::is_directory(fHome.File()));
    } else {
      EXPECT_EQ(fHome.ReadFile(), C.Bytes);
    }
  }
  fs::remove_all(fHome.File());
  TRegistryStore Store;
  EXPECT_FALSE(Store.OpenKey(false));
  EXPECT_EQ(Store.OpenError(), "");
}

// Something other than a settings file at the settings path is refused with the same one-line
// reason as an unreadable file: a pipe without waiting for a writer, a device without reading
// it to the end of memory, a huge file without reading it at all.
TEST_F(RegistryStoreTest, PipesDevicesAndHugeFilesAreRefusedAtOnce) {
  struct TCase {
    const char* Label;
    std::function<void(const fs::path&)> Plant;
    std::string Reason;
  };
  const std::vector<TCase> Cases = {
      {"pipe", [](const fs::path& AFile) { ASSERT_EQ(::mkfifo(AFile.c_str(), 0600), 0); },
       "not a regular file"},
      {"link to /dev/zero", [](const fs::path& AFile) { fs::create_symlink("/dev/zero", AFile); },
       "not a regular file"},
      {"over 64 MiB",
       [](const fs::path& AFile) {
         // Sparse: it takes no room on the disk.
         std::ofstream(AFile, std::ios::binary) << "Windows Registry Editor Version 5.00\r\n";
         fs::resize_file(AFile, 64 * 1024 * 1024 + 1);
       },
       "larger than 64 MiB"},
  };
  fs::create_directories(fHome.File().parent_path());
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Label);
    fs::remove(fHome.File());
    C.Plant(fHome.File());
    const auto Kind = fs::symlink_status(fHome.File()).type();
    // A read that waits for a pipe's writer is released after 5 s, and fails the test.
    auto Open = std::async(std::launch::async, [] {
      TRegistryStore Store;
      const bool Opened = Store.OpenKey(false);
      return std::make_pair(Opened, Store.OpenError());
    });
    if (Open.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      ADD_FAILURE() << "the store waits for the pipe's writer";
      std::ofstream Release(fHome.File());
    }
    const auto [Opened, Line] = Open.get();
    EXPECT_FALSE(Opened);
    EXPECT_EQ(Line, "Cannot read the settings file '" + fHome.File().string() + "': " + C.Reason);
    TRegistryStore Store;
    try {
      Store.OpenKey(true);
      ADD_FAILURE() << "opened for writing";
    } catch (const TRegistryError& E) {
      EXPECT_EQ(E.what(), Line);
    }
    EXPECT_EQ(fs::symlink_status(fHome.File()).type(), Kind);
  }
  fs::remove(fHome.File());
}

// The key's last line ends in a continuation backslash (a hand-edited file, or a value cut
// short): values saved behind it are still values of their own, and the key reads back whole.
TEST_F(RegistryStoreTest, AContinuationThatNothingContinuesEndsItsValue) {
  const std::string Head = "Windows Registry Editor Version 5.00\r\n\r\n" + kKeyLine + "\r\n";
  const std::vector<std::string> Tails = {
      "\"Notes\"=hex:01,02,\\",      // the file ends there
      "\"Notes\"=hex:01,02,\\\r\n",  // ... with a line end
      "\"Notes\"=hex:01,02,\\\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n\"x\"=\"y\"\r\n",
      "\"Notes\"=hex:01,02,\\\r\n[HKEY_CURRENT_USER\\Other]\r\n\"x\"=\"y\"\r\n",
  };
  for (const std::string& Tail : Tails) {
    SCOPED_TRACE(Tail);
    fHome.WriteFile(Head + "\"StaticList0\"=\"1,a,2\"\r\n" + Tail);
    {
      TRegistryStore Store;
      ASSERT_TRUE(Store.OpenKey(true));
      EXPECT_TRUE(Store.DeleteValue("StaticList0"));
      Store.WriteString("StaticList0", "1,a,2");
      Store.WriteString("StaticList1", "3,b,4");
      Store.CloseKey();
    }
    TRegistryStore Store;
    ASSERT_TRUE(Store.OpenKey(false));
    EXPECT_EQ(Store.ReadString("StaticList0"), "1,a,2");
    EXPECT_EQ(Store.ReadString("StaticList1"), "3,b,4");
    EXPECT_TRUE(Store.ValueExists("Notes"));
    EXPECT_FALSE(Store.ValueExists("x"));
    // The value itself ends where its data ended.
    EXPECT_NE(fHome.ReadFile().find("\"Notes\"=hex:01,02,\r\n\"StaticList0\""), std::string::npos)
        << fHome.ReadFile();
  }

  // A backslash inside a quoted text is no continuation.
  fHome.WriteFile(Head + "\"Path\"=\"C:\\\\dir\\\\\"\r\n\"StaticList0\"=\"1,a,2\"\r\n");
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadString("Path"), "C:\\dir\\");
  EXPECT_EQ(Store.ReadString("StaticList0"), "1,a,2");
}

TEST_F(RegistryStoreTest, ChangesReachTheFileTogetherAtCloseKeyOnly) {
  {
    TRegistryStore Store;
    ASSERT_TRUE(Store.OpenKey(true));
    Store.WriteInteger("Top", 1);
    Store.CloseKey();
  }
  const std::string Before = fHome.ReadFile();
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(false));
  Store.WriteInteger("Top", 2);
  Store.WriteString("S", "x");
  EXPECT_EQ(fHome.ReadFile(), Before);
  Store.DiscardKey();
  EXPECT_EQ(fHome.ReadFile(), Before);
  EXPECT_FALSE(Store.ValueExists("Top"));  // closed

  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadInteger("Top"), 1);
  Store.WriteInteger("Top", 3);
  Store.CloseKey();
  {
    TRegistryStore Unclosed;  // dropped with the object, like DiscardKey
    ASSERT_TRUE(Unclosed.OpenKey(false));
    Unclosed.WriteInteger("Top", 4);
  }
  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadInteger("Top"), 3);
  EXPECT_FALSE(Store.ValueExists("S"));
}

TEST_F(RegistryStoreTest, FailedCommitLeavesThePreviousFileWholeAndNamesTheFirstChange) {
  {
    TRegistryStore Store;
    ASSERT_TRUE(Store.OpenKey(true));
    Store.WriteString("EthernetAdapterID", "eth0");
    Store.CloseKey();
  }
  const std::string Before = fHome.ReadFile();

  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(false));
  Store.WriteInteger("First", 1);
  Store.WriteString("Big", std::string(4096, 'x'));
  Store.DeleteValue("EthernetAdapterID");
  // A file size limit stands in for a full disk; it holds for root as well.
  rlimit Old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &Old), 0);
  const auto OldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit Small = Old;
  Small.rlim_cur = Before.size() + 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &Small), 0);
  std::string Error;
  try {
    Store.CloseKey();
  } catch (const TRegistryError& E) {
    Error = E.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &Old);
  ::signal(SIGXFSZ, OldHandler);

  EXPECT_EQ(Error, "Failed to set data for 'First'");
  EXPECT_EQ(fHome.ReadFile(), Before);
  EXPECT_EQ(std::distance(fs::directory_iterator(fHome.File().parent_path()), {}), 1)
      << "temporary file left behind";
  EXPECT_FALSE(Store.ValueExists("EthernetAdapterID"));  // closed after the failure
  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadString("EthernetAdapterID"), "eth0");
  EXPECT_FALSE(Store.ValueExists("First"));
}

// Temporary files of saves that were cut short go with the next successful save; files that
// only look alike stay.
TEST_F(RegistryStoreTest, SuccessfulSaveRemovesOnlyOurStaleTemporaryFiles) {
  {
    TRegistryStore Store;
    ASSERT_TRUE(Store.OpenKey(true));
    Store.CloseKey();
  }
  const fs::path Folder = fHome.File().parent_path();
  const std::string Base = fHome.File().string();
  const std::string Reg = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY";
  auto Put = [](const std::string& APath, const std::string& ABytes) {
    std::ofstream(APath, std::ios::binary) << ABytes;
  };
  Put(Base + ".a8Fk2Q", Reg);  // cut short while writing
  Put(Base + ".Q1w2E3", Encode(u"Windows", TEnc::Utf16LeBom));
  Put(Base + ".x0X0x0", "");          // cut short before writing
  Put(Base + ".backup", Reg);         // a person's copy
  Put(Base + ".Zz9Yy8", "my notes");  // not a registry file
  Put(Base + ".toolong1", Reg);
  Put(Folder.string() + "/Other.reg.a8Fk2Q", Reg);
  fs::create_symlink(Base, Base + ".Sym123");

  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(false));
  Store.WriteInteger("Top", 1);
  Store.CloseKey();

  std::set<std::string> Left;
  for (const auto& Entry : fs::directory_iterator(Folder)) {
    Left.insert(Entry.path().filename().string());
  }
  EXPECT_EQ(Left, (std::set<std::string>{"KelvoRelay.reg", "KelvoRelay.reg.backup",
                                         "KelvoRelay.reg.Zz9Yy8", "KelvoRelay.reg.toolong1",
                                         "Other.reg.a8Fk2Q", "KelvoRelay.reg.Sym123"}));
}
// Another save in progress (here: this test, holding the folder's lock as every save does)
// keeps its temporary file: the commit waits for it instead of cleaning it away.
TEST_F(RegistryStoreTest, CommitWaitsForAnotherSaveInProgress) {
  {
    TRegistryStore Store;
    ASSERT_TRUE(Store.OpenKey(true));
    Store.CloseKey();
  }
  const std::string Other = fHome.File().string() + ".Ab12Cd";
  const int Folder = ::open(fHome.File().parent_path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(Folder, 0);
  ASSERT_EQ(::flock(Folder, LOCK_EX), 0);
  std::ofstream(Other, std::ios::binary) << "Windows Registry Editor Version 5.00\r\n\r\n" +
                                                kKeyLine + "\r\n\"Other\"=dword:00000001\r\n\r\n";
  int RenameResult = -1;
  std::thread OtherSave([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    RenameResult = ::rename(Other.c_str(), fHome.File().c_str());
    ::close(Folder);
  });
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(false));
  Store.WriteInteger("Top", 1);
  const auto Start = std::chrono::steady_clock::now();
  Store.CloseKey();
  const auto Waited = std::chrono::steady_clock::now() - Start;
  OtherSave.join();
  EXPECT_EQ(RenameResult, 0) << "the other save lost its temporary file";
  EXPECT_GE(Waited, std::chrono::milliseconds(150));
  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadInteger("Top"), 1);
}

TEST_F(RegistryStoreTest, LinkedSettingsFileStaysALink) {
  const fs::path Target = fHome.Dir() / "dotfiles.reg";
  std::ofstream(Target) << "";
  fs::create_directories(fHome.File().parent_path());
  fs::create_symlink(Target, fHome.File());
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(true));
  Store.WriteInteger("Top", 9);
  Store.CloseKey();
  EXPECT_TRUE(fs::is_symlink(fHome.File()));
  EXPECT_NE(fHome.ReadFile().find("\"Top\"=dword:00000009"), std::string::npos);
}

}  // namespace
}  // namespace kelvo
