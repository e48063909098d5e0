// The atomic replace leaves no descriptor open when it is cut short by a throw: every
// allocation it makes up to its rename is made to fail in turn (this executable replaces
// operator new), and the process's open descriptors are counted before and after each
// cut-short save. The clean-up after the rename is left alone: the standard library's
// non-throwing directory listing ends the program when it cannot allocate.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>

#include "config/atomic_file.h"

namespace {

// Allocations still to succeed before one fails; negative: none fails.
std::atomic<long> gAllocationsLeft{-1};
// The file being replaced: once it exists, the save is past its rename and nothing fails.
char gTarget[4096];

}  // namespace

void* operator new(std::size_t ASize) {
  if (gAllocationsLeft.load() >= 0 && ::access(gTarget, F_OK) != 0 &&
      gAllocationsLeft.fetch_sub(1) == 0) {
    throw std::bad_alloc();
  }
  if (void* Block = std::malloc(ASize == 0 ? 1 : ASize)) {
    return Block;
  }
  throw std::bad_alloc();
}

void operator delete(void* ABlock) noexcept {
  std::free(ABlock);
}

void operator delete(void* ABlock, std::size_t) noexcept {
  std::free(ABlock);
}

namespace kelvo {
namespace {

// Entries of /proc/self/fd, counted without allocating through operator new.
int OpenDescriptors() {
  DIR* Folder = ::opendir("/proc/self/fd");
  if (Folder == nullptr) {
    return -1;
  }
  int Count = 0;
  while (::readdir(Folder) != nullptr) {
    ++Count;
  }
  ::closedir(Folder);
  return Count;
}

TEST(AtomicFileTest, ReplaceCutShortByAThrowLeavesNoDescriptorOpen) {
  char Template[] = "/tmp/kelvo_atomic_XXXXXX";
  ASSERT_NE(::mkdtemp(Template), nullptr);
  const std::filesystem::path Folder = Template;
  const std::string File = (Folder / "KelvoRelay.reg").string();
  ASSERT_LT(File.size(), sizeof gTarget);
  std::memcpy(gTarget, File.c_str(), File.size() + 1);
  const std::string Text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER]\r\n";

  int Throws = 0;
  bool Completed = false;
  for (long Failing = 0; Failing < 1000 && !Completed; ++Failing) {
    const int Before = OpenDescriptors();
    gAllocationsLeft = Failing;
    try {
      Completed = ReplaceFileAtomically(File, Text).Ok();
    } catch (const std::bad_alloc&) {
      ++Throws;
    }
    gAllocationsLeft = -1;
    EXPECT_EQ(OpenDescriptors(), Before) << "allocation " << Failing << " failed";
  }
  EXPECT_TRUE(Completed) << "no save got through all its allocations";
  EXPECT_GT(Throws, 0) << "no allocation of the save was made to fail";
  std::filesystem::remove_all(Folder);
}

}  // namespace
}  // namespace kelvo
