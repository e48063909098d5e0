#include "config/registry_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

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
  EXPECT_EQ(fHome.ReadFile(), "Windows Registry Editor Version 5.00\r\n\r\n" + Other + "\r\n" +
                                  kKeyLine + "\r\n" + Ours + "\"Left\"=dword:00000007\r\n\r\n" +
                                  Later);
}

TEST_F(RegistryStoreTest, ReadsRegeditExportsInUtf16AndUtf8WithLfEnds) {
  const std::u16string Text =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]\r\n"
      u"\"EthernetAdapterID\"=\"{Gr\u00fc\u00df}\"\r\n"
      u"\"Top\"=dword:0000002a\r\n\r\n";
  std::string Bytes = "\xFF\xFE";
  for (const char16_t C : Text) {
    Bytes.push_back(static_cast<char>(C & 0xFF));
    Bytes.push_back(static_cast<char>(C >> 8));
  }
  fHome.WriteFile(Bytes);
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadString("EthernetAdapterID"), "{Gr\xC3\xBC\xC3\x9F}");
  EXPECT_EQ(Store.ReadInteger("Top"), 42);

  fHome.WriteFile("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n" + kKeyLine +
                  "\n\"Top\"=dword:00000003\n");
  ASSERT_TRUE(Store.OpenKey(false));
  EXPECT_EQ(Store.ReadInteger("Top"), 3);
  Store.WriteInteger("Top", 4);
  EXPECT_EQ(fHome.ReadFile().substr(0, 3), "Win");  // written back without a byte order mark
}

TEST_F(RegistryStoreTest, FileItCannotUnderstandIsNeverOverwritten) {
  fHome.WriteFile("not a registry file\n");
  TRegistryStore Store;
  EXPECT_FALSE(Store.OpenKey(false));
  EXPECT_THROW(Store.OpenKey(true), TRegistryError);
  EXPECT_EQ(fHome.ReadFile(), "not a registry file\n");
}

TEST_F(RegistryStoreTest, FailedWriteLeavesThePreviousFileWhole) {
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(true));
  Store.WriteString("EthernetAdapterID", "eth0");
  const std::string Before = fHome.ReadFile();

  // A file size limit stands in for a full disk; it holds for root as well.
  rlimit Old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &Old), 0);
  const auto OldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit Small = Old;
  Small.rlim_cur = Before.size() + 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &Small), 0);
  try {
    Store.WriteString("Big", std::string(4096, 'x'));
    ADD_FAILURE() << "write beyond the limit succeeded";
  } catch (const TRegistryError& E) {
    EXPECT_STREQ(E.what(), "Failed to set data for 'Big'");
  }
  ::setrlimit(RLIMIT_FSIZE, &Old);
  ::signal(SIGXFSZ, OldHandler);

  EXPECT_EQ(fHome.ReadFile(), Before);
  EXPECT_EQ(std::distance(fs::directory_iterator(fHome.File().parent_path()), {}), 1)
      << "temporary file left behind";
  EXPECT_FALSE(Store.ValueExists("Big"));  // the store agrees with the file
  Store.WriteInteger("Top", 1);            // and works on
  TRegistryStore Again;
  ASSERT_TRUE(Again.OpenKey(false));
  EXPECT_EQ(Again.ReadString("EthernetAdapterID"), "eth0");
  EXPECT_EQ(Again.ReadInteger("Top"), 1);
}

TEST_F(RegistryStoreTest, LinkedSettingsFileStaysALink) {
  const fs::path Target = fHome.Dir() / "dotfiles.reg";
  std::ofstream(Target) << "";
  fs::create_directories(fHome.File().parent_path());
  fs::create_symlink(Target, fHome.File());
  TRegistryStore Store;
  ASSERT_TRUE(Store.OpenKey(true));
  Store.WriteInteger("Top", 9);
  EXPECT_TRUE(fs::is_symlink(fHome.File()));
  EXPECT_NE(fHome.ReadFile().find("\"Top\"=dword:00000009"), std::string::npos);
}

}  // namespace
}  // namespace kelvo
