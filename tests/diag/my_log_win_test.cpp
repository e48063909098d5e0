// The log file on Windows: ANSI code page text, and the sharing that other programs meet.
#include <windows.h>

#include <gtest/gtest.h>

#include "diag/my_log_fixture.h"

namespace kelvo {
namespace {

HANDLE OpenForOther(const std::string& AFileName, DWORD AAccess) {
  return ::CreateFileA(AFileName.c_str(), AAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(MyLogTest, AnotherWriterMakesTheLineFailAndReadersAreNotKeptOut) {
  fLog.WriteToFile("a");

  // A reader that lets others write (as viewers and tail tools open a log) does not stop it.
  const HANDLE Reader = OpenForOther(fFile, GENERIC_READ);
  ASSERT_NE(Reader, INVALID_HANDLE_VALUE);
  EXPECT_NO_THROW(fLog.WriteToFile("b"));
  ::CloseHandle(Reader);

  // Another writer: the log shares the file for reading only, so this line fails.
  const HANDLE Writer = OpenForOther(fFile, GENERIC_WRITE);
  ASSERT_NE(Writer, INVALID_HANDLE_VALUE);
  EXPECT_THROW(fLog.WriteToFile("lost"), TLogError);
  ::CloseHandle(Writer);

  // Nothing was left open by the failed line: the file can be opened without any sharing.
  const HANDLE Alone = ::CreateFileA(fFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(Alone, INVALID_HANDLE_VALUE);
  if (Alone != INVALID_HANDLE_VALUE) {
    ::CloseHandle(Alone);
  }
  fLog.WriteToFile("c");
  EXPECT_EQ(Read(fFile), "a\r\nb\r\nc\r\n");
}

// A second name of another file (a hard link planted at the log's name) is not written, so
// that file is never emptied.
TEST_F(MyLogTest, AHardLinkAtTheLogsNameIsNotWritten) {
  const std::string Victim = (fDir / "victim.txt").string();
  Put(Victim, "precious\r\n");
  ASSERT_TRUE(::CreateHardLinkA(fFile.c_str(), Victim.c_str(), nullptr));
  EXPECT_THROW(fLog.AddLog("payload"), TLogError);
  EXPECT_EQ(Read(Victim), "precious\r\n");
}

// A symbolic link (a reparse point) at the log's name is not followed.
TEST_F(MyLogTest, ASymbolicLinkAtTheLogsNameIsNotFollowed) {
  const std::string Victim = (fDir / "victim.txt").string();
  Put(Victim, "precious\r\n");
  const DWORD Made = ::CreateSymbolicLinkA(fFile.c_str(), Victim.c_str(), 0)
                         ? ::GetFileAttributesA(fFile.c_str())
                         : INVALID_FILE_ATTRIBUTES;
  if (Made == INVALID_FILE_ATTRIBUTES || (Made & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    // Wine 8 answers CreateSymbolicLink with success and makes nothing.
    GTEST_SKIP() << "this system makes no symbolic links";
  }
  EXPECT_THROW(fLog.AddLog("payload"), TLogError);
  EXPECT_EQ(Read(Victim), "precious\r\n");
}

TEST_F(MyLogTest, TextIsWrittenInTheAnsiCodePageWithUnknownCharactersReplaced) {
  if (::GetACP() != 1252) {
    GTEST_SKIP() << "the expected bytes are those of code page 1252; this system uses "
                 << ::GetACP();
  }
  // UTF-8 in: e acute and the euro sign exist in 1252, the Cyrillic zhe and a CJK character
  // do not.
  fLog.WriteToFile("caf\xC3\xA9 \xE2\x82\xAC \xD0\xB6\xE4\xB8\xAD");
  EXPECT_EQ(Read(fFile), "caf\xE9 \x80 ??\r\n");
}

TEST_F(MyLogTest, ANameOutsideTheAnsiCodePageStillNamesTheFile) {
  // The name travels as UTF-16 to the system, so a folder with a Cyrillic name works.
  const fs::path Folder = fDir / fs::path(L"\u0436\u0443\u0440\u043d\u0430\u043b");
  ASSERT_TRUE(fs::create_directories(Folder));
  const std::u8string Utf8 = (Folder / "relay.log").u8string();
  fLog.SetLogFile(std::string(Utf8.begin(), Utf8.end()));
  fLog.WriteToFile("x");
  std::ifstream In(Folder / "relay.log", std::ios::binary);
  std::ostringstream S;
  S << In.rdbuf();
  EXPECT_EQ(S.str(), "x\r\n");
}

}  // namespace
}  // namespace kelvo
