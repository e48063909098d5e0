#include "app/runtime_folder_posix.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/errno_text_posix.h"

namespace kelvo {

namespace {

// Leaves room for the socket's name in a socket address (108 bytes).
constexpr std::size_t kMaxFolderLength = 60;

std::string ModeText(mode_t AMode) {
  char Text[8];
  std::snprintf(Text, sizeof Text, "%04o", static_cast<unsigned>(AMode & 07777));
  return Text;
}

// Why AInfo (of APath, not followed if a link) is no private folder of this user; empty if it
// is one.
std::string NotPrivate(const std::string& APath, const struct stat& AInfo) {
  if (S_ISLNK(AInfo.st_mode)) {
    return APath + " is a symbolic link";
  }
  if (!S_ISDIR(AInfo.st_mode)) {
    return APath + " is not a folder";
  }
  if (AInfo.st_uid != ::geteuid()) {
    return APath + " belongs to user " + std::to_string(AInfo.st_uid);
  }
  if ((AInfo.st_mode & 077) != 0) {
    return APath + " can be used by other users (mode " + ModeText(AInfo.st_mode) + ")";
  }
  return {};
}

bool UsableRuntimeDir(const char* APath) {
  if (APath == nullptr || APath[0] != '/' || std::strlen(APath) >= kMaxFolderLength) {
    return false;
  }
  struct stat Info {};
  return ::stat(APath, &Info) == 0 && NotPrivate(APath, Info).empty();
}

std::string TempBase() {
  const char* Tmp = std::getenv("TMPDIR");
  if (Tmp != nullptr && Tmp[0] == '/' && std::strlen(Tmp) + 24 < kMaxFolderLength) {
    std::string Base = Tmp;
    while (Base.size() > 1 && Base.back() == '/') {
      Base.pop_back();
    }
    return Base;
  }
  return "/tmp";
}

}  // namespace

std::string PrivateRuntimeFolder(std::string& AWhy) {
  if (const char* Runtime = std::getenv("XDG_RUNTIME_DIR"); UsableRuntimeDir(Runtime)) {
    return Runtime;
  }
  std::string Folder = TempBase() + "/kelvorelay-" + std::to_string(::geteuid());
  if (::mkdir(Folder.c_str(), 0700) == 0) {
    // Made just now, so ours; a umask that took the owner's own bits must not make it useless.
    ::chmod(Folder.c_str(), 0700);
  } else if (errno != EEXIST) {
    AWhy = "cannot make the folder " + Folder + ": " + ErrnoText(errno);
    return {};
  }
  // Somebody else may have made it first: it is used only if it is ours and private.
  struct stat Info {};
  if (::lstat(Folder.c_str(), &Info) != 0) {
    AWhy = "cannot check the folder " + Folder + ": " + ErrnoText(errno);
    return {};
  }
  if (std::string Why = NotPrivate(Folder, Info); !Why.empty()) {
    AWhy = Why;
    return {};
  }
  return Folder;
}

bool PeerIsThisUser(int ASocket, std::string& AWhy) {
  ucred Peer{};
  socklen_t Size = sizeof Peer;
  if (::getsockopt(ASocket, SOL_SOCKET, SO_PEERCRED, &Peer, &Size) != 0) {
    AWhy = std::string("cannot tell who listens: ") + ErrnoText(errno);
    return false;
  }
  if (Peer.uid != ::geteuid()) {
    AWhy = "the other end runs as user " + std::to_string(Peer.uid);
    return false;
  }
  return true;
}

}  // namespace kelvo
