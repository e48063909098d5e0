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
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(AMode & 07777));
  return text;
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
  struct stat info {};
  return ::stat(APath, &info) == 0 && NotPrivate(APath, info).empty();
}

std::string TempBase() {
  const char* tmp = std::getenv("TMPDIR");
  if (tmp != nullptr && tmp[0] == '/' && std::strlen(tmp) + 24 < kMaxFolderLength) {
    std::string base = tmp;
    while (base.size() > 1 && base.back() == '/') {
      base.pop_back();
    }
    return base;
  }
  return "/tmp";
}

}  // namespace

std::string PrivateRuntimeFolder(std::string& AWhy) {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); UsableRuntimeDir(runtime)) {
    return runtime;
  }
  std::string folder = TempBase() + "/kelvorelay-" + std::to_string(::geteuid());
  if (::mkdir(folder.c_str(), 0700) == 0) {
    // Made just now, so ours; a umask that took the owner's own bits must not make it useless.
    ::chmod(folder.c_str(), 0700);
  } else if (errno != EEXIST) {
    AWhy = "cannot make the folder " + folder + ": " + ErrnoText(errno);
    return {};
  }
  // Somebody else may have made it first: it is used only if it is ours and private.
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    AWhy = "cannot check the folder " + folder + ": " + ErrnoText(errno);
    return {};
  }
  if (std::string why = NotPrivate(folder, info); !why.empty()) {
    AWhy = why;
    return {};
  }
  return folder;
}

bool PeerIsThisUser(int ASocket, std::string& AWhy) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(ASocket, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
    AWhy = std::string("cannot tell who listens: ") + ErrnoText(errno);
    return false;
  }
  if (peer.uid != ::geteuid()) {
    AWhy = "the other end runs as user " + std::to_string(peer.uid);
    return false;
  }
  return true;
}

}  // namespace kelvo
