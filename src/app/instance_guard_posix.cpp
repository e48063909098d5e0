// The guard on POSIX: an 8-byte shared memory record named from the executable path, and
// open-file-description locks on that same object.
//
// Locks (byte ranges beyond the record, so they never touch its data):
//
//   byte kGateByte            held exclusively for the short test-and-update of the record,
//                             so two starts in the same instant cannot both be admitted
//   byte kSlotBase + slot     held exclusively by an admitted instance for its whole run
//
// The kernel drops a process's locks when it dies. So the admitted instances are exactly the
// slots somebody holds, and the record's count is recomputed from them at every start: a record
// left behind by a killed instance never blocks a later start.
//
//   offset 0  int32 LE  window: process id of the instance that registered last
//   offset 4  int32 LE  count: admitted instances still running
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/instance_guard.h"

namespace kelvo {

namespace {

constexpr std::size_t kRecordSize = 8;
constexpr off_t kGateByte = 64;
constexpr off_t kSlotBase = 128;
constexpr int kMaxSlots = 64;
constexpr std::size_t kMaxShmName = 250;  // NAME_MAX less room for the leading '/'

std::string SystemErrorText(const char* AWhat) {
  return std::string(AWhat) + ": " + std::strerror(errno);
}

std::uint64_t HashPath(const std::string& AText) {
  std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
  for (unsigned char c : AText) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::string Hex64(std::uint64_t AValue) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i) {
    text[static_cast<std::size_t>(i)] = kDigits[AValue & 0xF];
    AValue >>= 4;
  }
  return text;
}

void WriteLE32(unsigned char* ABytes, std::int32_t AValue) {
  const auto value = static_cast<std::uint32_t>(AValue);
  for (int i = 0; i < 4; ++i) {
    ABytes[i] = static_cast<unsigned char>(value >> (8 * i));
  }
}

// One byte lock of this open file description. F_OFD_* locks belong to the descriptor, not
// the process, so a second guard in the same process (tests) contends like another process.
bool LockByte(int AFd, off_t AByte, short AType, bool AWait) {
  struct flock lock {};
  lock.l_type = AType;
  lock.l_whence = SEEK_SET;
  lock.l_start = AByte;
  lock.l_len = 1;
  for (;;) {
    if (fcntl(AFd, AWait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) {
      return true;
    }
    if (errno != EINTR) {
      return false;
    }
  }
}

bool ByteHeldByOthers(int AFd, off_t AByte) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = AByte;
  lock.l_len = 1;
  if (fcntl(AFd, F_OFD_GETLK, &lock) != 0) {
    return true;  // cannot tell: count the slot as taken rather than admit too many
  }
  return lock.l_type != F_UNLCK;
}

bool SameObject(int AFd, const std::string& AName) {
  const int other = shm_open(AName.c_str(), O_RDWR, 0);
  if (other < 0) {
    return false;
  }
  struct stat mine {};
  struct stat theirs {};
  const bool same = fstat(AFd, &mine) == 0 && fstat(other, &theirs) == 0 &&
                    mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
  close(other);
  return same;
}

// The shared memory name: the user and the executable path with '%' and '/' escaped, so every
// path gives its own valid name and different paths never meet.
std::string RecordName(const std::string& APath) {
  std::string escaped;
  for (char c : APath) {
    if (c == '%') {
      escaped += "%25";
    } else if (c == '/') {
      escaped += "%2F";
    } else {
      escaped += c;
    }
  }
  std::string name = "/kelvorelay." + std::to_string(getuid()) + "." + escaped;
  if (name.size() > kMaxShmName) {
    // Too long for the system: the hash keeps long paths apart, the tail keeps it readable.
    const std::string head =
        "/kelvorelay." + std::to_string(getuid()) + ".h" + Hex64(HashPath(APath)) + ".";
    name = head + escaped.substr(escaped.size() - (kMaxShmName - head.size()));
  }
  return name;
}

std::string SocketFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat info {};
  if (runtime != nullptr && *runtime == '/' && std::strlen(runtime) < 60 &&
      stat(runtime, &info) == 0 && S_ISDIR(info.st_mode)) {
    return runtime;
  }
  return "/tmp";
}

// Asks the admitted instance to show its window; a missing listener (headless instance, or one
// still starting) is not an error.
void SendShowRequest(const std::string& ASocketName) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (ASocketName.size() < sizeof(address.sun_path)) {
    std::memcpy(address.sun_path, ASocketName.c_str(), ASocketName.size() + 1);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
      static const char kRequest[] = "1025";
      [[maybe_unused]] const ssize_t sent = send(fd, kRequest, 4, MSG_NOSIGNAL);
    }
  }
  close(fd);
}

}  // namespace

struct TInstanceGuard::TImpl {
  std::string fPath;
  std::string fName;
  std::string fSocketName;
  int fFd = -1;
  unsigned char* fView = nullptr;
  bool fCounted = false;  // this instance was admitted and holds fSlot
  int fSlot = -1;
  bool fChecked = false;

  void OpenLocked();  // fFd open on the current object, gate held, record mapped
  void Release();
  void Unlock() { LockByte(fFd, kGateByte, F_UNLCK, false); }
};

void TInstanceGuard::TImpl::OpenLocked() {
  // The last instance unlinks the record while holding the gate; a start that opened the old
  // object just before that notices it after taking the gate and opens the new one.
  for (int attempt = 0; attempt < 20; ++attempt) {
    fFd = shm_open(fName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fFd < 0) {
      throw TInstanceGuardError(SystemErrorText("Cannot create the instance record"));
    }
    if (!LockByte(fFd, kGateByte, F_WRLCK, true)) {
      const std::string text = SystemErrorText("Cannot lock the instance record");
      close(fFd);
      fFd = -1;
      throw TInstanceGuardError(text);
    }
    if (SameObject(fFd, fName)) {
      break;
    }
    close(fFd);  // closing drops the gate lock with it
    fFd = -1;
  }
  if (fFd < 0) {
    throw TInstanceGuardError("Cannot create the instance record: it keeps disappearing");
  }
  struct stat info {};
  if (fstat(fFd, &info) != 0 || (info.st_size < static_cast<off_t>(kRecordSize) &&
                                 ftruncate(fFd, static_cast<off_t>(kRecordSize)) != 0)) {
    const std::string text = SystemErrorText("Cannot size the instance record");
    Release();
    throw TInstanceGuardError(text);
  }
  void* view = mmap(nullptr, kRecordSize, PROT_READ | PROT_WRITE, MAP_SHARED, fFd, 0);
  if (view == MAP_FAILED) {
    const std::string text = SystemErrorText("Cannot map the instance record");
    Release();
    throw TInstanceGuardError(text);
  }
  fView = static_cast<unsigned char*>(view);
}

void TInstanceGuard::TImpl::Release() {
  if (fView != nullptr) {
    munmap(fView, kRecordSize);
    fView = nullptr;
  }
  if (fFd >= 0) {
    close(fFd);  // drops every lock this descriptor holds
    fFd = -1;
  }
}

TInstanceGuard::TInstanceGuard(std::string AExecutablePath) : fImpl(std::make_unique<TImpl>()) {
  fImpl->fPath = std::move(AExecutablePath);
  fImpl->fName = RecordName(fImpl->fPath);
  fImpl->fSocketName = SocketFolder() + "/kelvorelay-" + std::to_string(getuid()) + "-" +
                       Hex64(HashPath(fImpl->fPath)) + ".sock";
}

TInstanceGuard::~TInstanceGuard() {
  TImpl& impl = *fImpl;
  if (impl.fCounted && impl.fFd >= 0 && impl.fView != nullptr &&
      LockByte(impl.fFd, kGateByte, F_WRLCK, true)) {
    LockByte(impl.fFd, kSlotBase + impl.fSlot, F_UNLCK, false);
    std::int32_t count = 0;
    for (int slot = 0; slot < kMaxSlots; ++slot) {
      count += ByteHeldByOthers(impl.fFd, kSlotBase + slot) ? 1 : 0;
    }
    WriteLE32(impl.fView + 4, count);
    if (count == 0) {
      shm_unlink(impl.fName.c_str());
    }
  }
  impl.Release();
}

bool TInstanceGuard::RestoreIfRunning(const std::string& /*AClassName*/,
                                      const std::string& /*ACaption*/, int ALimit) {
  if (fImpl->fChecked) {
    return !fImpl->fCounted;
  }
  if (Admit(ALimit)) {
    return false;
  }
  SendShowRequest(fImpl->fSocketName);
  return true;
}

bool TInstanceGuard::Admit(int ALimit) {
  TImpl& impl = *fImpl;
  if (impl.fChecked) {
    return impl.fCounted;
  }
  impl.OpenLocked();
  impl.fChecked = true;

  int freeSlot = -1;
  std::int32_t live = 0;
  for (int slot = 0; slot < kMaxSlots; ++slot) {
    if (ByteHeldByOthers(impl.fFd, kSlotBase + slot)) {
      ++live;
    } else if (freeSlot < 0) {
      freeSlot = slot;
    }
  }
  // Whatever the record says, only living instances count.
  WriteLE32(impl.fView + 4, live);

  if (live < ALimit && freeSlot >= 0 && LockByte(impl.fFd, kSlotBase + freeSlot, F_WRLCK, false)) {
    WriteLE32(impl.fView, static_cast<std::int32_t>(getpid()));
    WriteLE32(impl.fView + 4, live + 1);
    impl.fCounted = true;
    impl.fSlot = freeSlot;
    impl.Unlock();
    return true;
  }
  impl.Unlock();
  return false;
}

bool TInstanceGuard::AnyRunning() const {
  if (fImpl->fCounted) {
    return true;
  }
  const int fd = shm_open(fImpl->fName.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) {
    return false;  // the last instance removes the record when it ends
  }
  bool any = false;
  for (int slot = 0; slot < kMaxSlots && !any; ++slot) {
    any = ByteHeldByOthers(fd, kSlotBase + slot);
  }
  close(fd);
  return any;
}

std::string TInstanceGuard::ShowRequestName() const {
  return fImpl->fSocketName;
}

}  // namespace kelvo
