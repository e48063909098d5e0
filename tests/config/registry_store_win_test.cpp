// The settings store on the real registry, under a key of the test's own below
// HKEY_CURRENT_USER\Software\Marlowin that is removed again afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "config/registry_store.h"

namespace kelvo {
namespace {

class RegistryStoreWinTest : public ::testing::Test {
 protected:
  RegistryStoreWinTest()
      : fSubKey("Software\\Marlowin\\KelvoRelayTest" + std::to_string(std::random_device()())),
        fStore("HKEY_CURRENT_USER\\" + fSubKey) {}
  void TearDown() override { DeleteKey(); }

  void DeleteKey() const { ::RegDeleteTreeA(HKEY_CURRENT_USER, fSubKey.c_str()); }
  bool KeyExists() const {
    HKEY Key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, fSubKey.c_str(), 0, KEY_READ, &Key) != ERROR_SUCCESS) {
      return false;
    }
    ::RegCloseKey(Key);
    return true;
  }
  // The type the registry itself holds for AName, REG_NONE when missing.
  DWORD TypeOf(const char* AName) const {
    DWORD Type = REG_NONE;
    if (::RegGetValueA(HKEY_CURRENT_USER, fSubKey.c_str(), AName, RRF_RT_ANY, &Type, nullptr,
                       nullptr) != ERROR_SUCCESS) {
      return REG_NONE;
    }
    return Type;
  }
  // The data as given, also for text: the W call stores UTF-16 without converting it.
  void PutRaw(const wchar_t* AName, DWORD AType, const void* AData, DWORD ASize) const {
    const std::wstring SubKey(fSubKey.begin(), fSubKey.end());
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, SubKey.c_str(), AName, AType, AData, ASize),
              ERROR_SUCCESS);
  }

  std::string fSubKey;
  TRegistryStore fStore;
};

TEST_F(RegistryStoreWinTest, OpeningWithoutCreatingLeavesAMissingKeyMissing) {
  EXPECT_FALSE(fStore.OpenKey(false));
  EXPECT_FALSE(KeyExists());
  EXPECT_FALSE(fStore.ValueExists("Top"));
  EXPECT_TRUE(fStore.OpenKey(true));
  EXPECT_TRUE(KeyExists());
  fStore.CloseKey();
  EXPECT_TRUE(fStore.OpenKey(false));
}

TEST_F(RegistryStoreWinTest, ValuesKeepTheirRegistryTypesAndSurviveARoundTrip) {
  ASSERT_TRUE(fStore.OpenKey(true));
  fStore.WriteInteger("Top", -12);
  fStore.WriteInteger("Left", 2147483647);
  fStore.WriteString("EthernetAdapterID", "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}");
  // UTF-8 in the core, UTF-16 in the registry: a host name outside ASCII comes back the same.
  const std::string Host = "1001,\"r\xC3\xA9seau ctrl\",8442";
  fStore.WriteString("StaticList0", Host);
  fStore.WriteString("StaticList1", "");

  EXPECT_EQ(TypeOf("Top"), static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(TypeOf("EthernetAdapterID"), static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(TypeOf("StaticList0"), static_cast<DWORD>(REG_SZ));

  TRegistryStore Again(fStore.FileName());
  ASSERT_TRUE(Again.OpenKey(false));
  EXPECT_EQ(Again.ReadInteger("Top"), -12);
  EXPECT_EQ(Again.ReadInteger("Left"), 2147483647);
  EXPECT_EQ(Again.ReadString("EthernetAdapterID"), "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}");
  EXPECT_EQ(Again.ReadString("StaticList0"), Host);
  EXPECT_TRUE(Again.ValueExists("StaticList1"));
  EXPECT_EQ(Again.ReadString("StaticList1"), "");
  // Value names are not case-sensitive in the registry.
  EXPECT_EQ(Again.ReadInteger("TOP"), -12);

  EXPECT_TRUE(Again.DeleteValue("StaticList0"));
  EXPECT_FALSE(Again.DeleteValue("StaticList0"));
  EXPECT_FALSE(Again.ValueExists("StaticList0"));
}

TEST_F(RegistryStoreWinTest, WrongTypesAndMissingValuesRaiseTheStoreErrors) {
  ASSERT_TRUE(fStore.OpenKey(true));
  const wchar_t Text[] = L"100";
  PutRaw(L"Top", REG_SZ, Text, sizeof Text);
  const DWORD Number = 5;
  PutRaw(L"EthernetAdapterID", REG_DWORD, &Number, sizeof Number);
  const unsigned char Binary[] = {1, 2, 3, 4};
  PutRaw(L"Left", REG_BINARY, Binary, sizeof Binary);
  // Without a terminator, as other programs sometimes store text.
  PutRaw(L"StaticList0", REG_SZ, L"1,h,2", 5 * sizeof(wchar_t));

  struct TCase {
    const char* Name;
    bool AsInteger;
    const char* Error;
  };
  const TCase Cases[] = {
      {"Top", true, "Invalid data type for 'Top'"},
      {"Left", true, "Invalid data type for 'Left'"},
      {"EthernetAdapterID", false, "Invalid data type for 'EthernetAdapterID'"},
      {"Missing", true, "Failed to get data for 'Missing'"},
      {"Missing", false, "Failed to get data for 'Missing'"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    try {
      if (C.AsInteger) {
        fStore.ReadInteger(C.Name);
      } else {
        fStore.ReadString(C.Name);
      }
      ADD_FAILURE() << "no error";
    } catch (const TRegistryError& E) {
      EXPECT_STREQ(E.what(), C.Error);
    }
  }
  EXPECT_EQ(fStore.ReadString("StaticList0"), "1,h,2");
}

TEST_F(RegistryStoreWinTest, AWriteThatFailsNamesTheValue) {
  ASSERT_TRUE(fStore.OpenKey(true));
  fStore.WriteInteger("Top", 1);
  // The key disappears under the open store (another program, a clean-up tool).
  DeleteKey();
  try {
    fStore.WriteString("EthernetAdapterID", "x");
    ADD_FAILURE() << "no error";
  } catch (const TRegistryError& E) {
    EXPECT_STREQ(E.what(), "Failed to set data for 'EthernetAdapterID'");
  }
  EXPECT_THROW(fStore.WriteInteger("Left", 2), TRegistryError);
  EXPECT_FALSE(KeyExists());
}

TEST(RegistryStoreWinDefault, TheDefaultStoreIsTheProgramsKey) {
  EXPECT_EQ(DefaultSettingsFileName(), "HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay");
}

}  // namespace
}  // namespace kelvo
