// The guard on POSIX: an 8-byte record named from the executable path, a file in this user's
// private runtime folder (see runtime_folder_posix.h) mapped into memory, and
// open-file-description locks on that same file. Nobody else can create, hold or replace it.
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
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/instance_guard.h"
#include "app/runtime_folder_posix.h"
#include "base/errno_text_posix.h"
#include "base/file_descriptor.h"

namespace kelvo {

namespace {

constexpr std::size_t kRecordSize = 8;
constexpr off_t kGateByte = 64;
constexpr off_t kSlotBase = 128;
constexpr int kMaxSlots = 64;
constexpr std::size_t kMaxRecordName = 255;  // NAME_MAX
// The gate is held for a few microseconds by a start of this user; a longer wait means a
// process of this user hangs while holding it.
constexpr std::chrono::seconds kGateWait(3);
constexpr std::chrono::milliseconds kGatePoll(10);

std::string SystemErrorText(const char* AWhat) {
  return std::string(AWhat) + ": " + ErrnoText(errno);
}

std::uint64_t HashPath(const std::string& AText) {
  std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
  for (const char c : AText) {
    hash ^= static_cast<unsigned char>(c);
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

// Whether a stop request (held back since main's first statement) waits for this process.
bool StopRequested() {
  sigset_t pending;
  return sigpending(&pending) == 0 &&
         (sigismember(&pending, SIGTERM) == 1 || sigismember(&pending, SIGINT) == 1);
}

// Takes the gate byte within kGateWait; gives up early when the process is asked to stop.
void LockGate(int AFd, const std::string& AName) {
  const auto deadline = std::chrono::steady_clock::now() + kGateWait;
  while (!LockByte(AFd, kGateByte, F_WRLCK, false)) {
    if (errno != EAGAIN && errno != EACCES) {
      throw TInstanceGuardError(SystemErrorText("Cannot lock the instance record"));
    }
    if (StopRequested()) {
      throw TInstanceGuardError("stopped while waiting for the instance record " + AName);
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      throw TInstanceGuardError("the instance record " + AName +
                                " stays locked by another process of this user");
    }
    std::this_thread::sleep_for(kGatePoll);
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
  struct stat mine {};
  struct stat theirs {};
  return fstat(AFd, &mine) == 0 && lstat(AName.c_str(), &theirs) == 0 &&
         mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
}

// Why the opened record must not be used, empty if it may. Only this user can make files in
// the folder; the check keeps a record made by root, or by hand, from being trusted.
std::string RecordRefusal(int AFd, const std::string& AName) {
  struct stat info {};
  if (fstat(AFd, &info) != 0) {
    return SystemErrorText("Cannot check the instance record");
  }
  if (!S_ISREG(info.st_mode)) {
    return "The instance record " + AName + " is not a regular file";
  }
  if (info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
    return "The instance record " + AName + " is not this user's alone";
  }
  return {};
}

// The record's name in the private folder: the executable path with '%' and '/' escaped, so
// every path gives its own valid name and different paths never meet.
std::string RecordName(const std::string& AFolder, const std::string& APath) {
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
  std::string name = "kelvorelay." + escaped;
  if (name.size() > kMaxRecordName) {
    // Too long for the system: the hash keeps long paths apart, the tail keeps it readable.
    const std::string head = "kelvorelay.h" + Hex64(HashPath(APath)) + ".";
    name = head + escaped.substr(escaped.size() - (kMaxRecordName - head.size()));
  }
  return AFolder + "/" + name;
}

// Asks the admitted instance to show its window; a missing listener (headless instance, or one
// still starting) is not an error. Nothing is sent to a listener of another user.
void SendShowRequest(const std::string& ASocketName) {
  const TFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd.Get() < 0 || ASocketName.empty() || ASocketName.size() >= sizeof(address.sun_path)) {
    return;
  }
  std::memcpy(address.sun_path, ASocketName.c_str(), ASocketName.size() + 1);
  std::string why;
  if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
      PeerIsThisUser(fd.Get(), why)) {
    static const char kRequest[] = "1025";
    [[maybe_unused]] const ssize_t sent = send(fd.Get(), kRequest, 4, MSG_NOSIGNAL);
  }
}

}  // namespace

struct TInstanceGuard::TImpl {
  std::string fPath;
  std::string fFolderError;  // why there is no private folder; then no record and no socket
  std::string fName;
  std::string fSocketName;
  TFd fFd;
  unsigned char* fView = nullptr;
  bool fCounted = false;  // this instance was admitted and holds fSlot
  int fSlot = -1;
  bool fChecked = false;
  bool fUnguarded = false;  // let run without a record (fFolderError)

  void OpenLocked();  // fFd open on the current record, gate held, record mapped
  void Release();
  void Unlock() { LockByte(fFd.Get(), kGateByte, F_UNLCK, false); }
};

void TInstanceGuard::TImpl::OpenLocked() {
  // The last instance unlinks the record while holding the gate; a start that opened the old
  // file just before that notices it after taking the gate and opens the new one.
  for (int attempt = 0; attempt < 20; ++attempt) {
    fFd.Reset(open(fName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fFd.IsOpen()) {
      throw TInstanceGuardError(SystemErrorText("Cannot create the instance record"));
    }
    if (const std::string refusal = RecordRefusal(fFd.Get(), fName); !refusal.empty()) {
      Release();
      throw TInstanceGuardError(refusal);
    }
    try {
      LockGate(fFd.Get(), fName);
    } catch (...) {
      Release();
      throw;
    }
    if (SameObject(fFd.Get(), fName)) {
      break;
    }
    Release();  // closing drops the gate lock with it
  }
  if (!fFd.IsOpen()) {
    throw TInstanceGuardError("Cannot create the instance record: it keeps disappearing");
  }
  struct stat info {};
  if (fstat(fFd.Get(), &info) != 0 ||
      (info.st_size < static_cast<off_t>(kRecordSize) &&
       ftruncate(fFd.Get(), static_cast<off_t>(kRecordSize)) != 0)) {
    const std::string text = SystemErrorText("Cannot size the instance record");
    Release();
    throw TInstanceGuardError(text);
  }
  void* view = mmap(nullptr, kRecordSize, PROT_READ | PROT_WRITE, MAP_SHARED, fFd.Get(), 0);
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
  fFd.Reset();  // drops every lock this descriptor holds
}

TInstanceGuard::TInstanceGuard(std::string AExecutablePath) : fImpl(std::make_unique<TImpl>()) {
  TImpl& impl = *fImpl;
  impl.fPath = std::move(AExecutablePath);
  const std::string folder = PrivateRuntimeFolder(impl.fFolderError);
  if (!folder.empty()) {
    impl.fName = RecordName(folder, impl.fPath);
    impl.fSocketName = folder + "/kelvorelay-" + std::to_string(geteuid()) + "-" +
                       Hex64(HashPath(impl.fPath)) + ".sock";
  }
}

TInstanceGuard::~TInstanceGuard() {
  TImpl& impl = *fImpl;
  // Ending: a gate held too long only means the count is left for the next start to redo.
  bool gate = false;
  for (int attempt = 0;
       impl.fCounted && impl.fFd.IsOpen() && impl.fView != nullptr && attempt < 200; ++attempt) {
    if ((gate = LockByte(impl.fFd.Get(), kGateByte, F_WRLCK, false))) {
      break;
    }
    std::this_thread::sleep_for(kGatePoll);
  }
  if (gate) {
    LockByte(impl.fFd.Get(), kSlotBase + impl.fSlot, F_UNLCK, false);
    std::int32_t count = 0;
    for (int slot = 0; slot < kMaxSlots; ++slot) {
      count += ByteHeldByOthers(impl.fFd.Get(), kSlotBase + slot) ? 1 : 0;
    }
    WriteLE32(impl.fView + 4, count);
    if (count == 0) {
      unlink(impl.fName.c_str());
    }
  }
  impl.Release();
}

bool TInstanceGuard::RestoreIfRunning(const std::string& /*AClassName*/,
                                      const std::string& /*ACaption*/, int ALimit) {
  TImpl& impl = *fImpl;
  if (impl.fChecked) {
    return !impl.fCounted && !impl.fUnguarded;
  }
  if (!impl.fFolderError.empty()) {
    // Another user must not be able to keep the relay from starting: it runs, unguarded
    // (ChannelError says why).
    impl.fChecked = true;
    impl.fUnguarded = true;
    return false;
  }
  if (Admit(ALimit)) {
    return false;
  }
  SendShowRequest(impl.fSocketName);
  return true;
}

bool TInstanceGuard::Admit(int ALimit) {
  TImpl& impl = *fImpl;
  if (impl.fChecked) {
    return impl.fCounted || impl.fUnguarded;
  }
  if (!impl.fFolderError.empty()) {
    throw TInstanceGuardError("cannot tell whether the relay runs: " + impl.fFolderError);
  }
  impl.OpenLocked();
  impl.fChecked = true;

  int freeSlot = -1;
  std::int32_t live = 0;
  for (int slot = 0; slot < kMaxSlots; ++slot) {
    if (ByteHeldByOthers(impl.fFd.Get(), kSlotBase + slot)) {
      ++live;
    } else if (freeSlot < 0) {
      freeSlot = slot;
    }
  }
  // Whatever the record says, only living instances count.
  WriteLE32(impl.fView + 4, live);

  if (live < ALimit && freeSlot >= 0 &&
      LockByte(impl.fFd.Get(), kSlotBase + freeSlot, F_WRLCK, false)) {
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
  const TImpl& impl = *fImpl;
  if (impl.fCounted || impl.fUnguarded) {
    return true;
  }
  if (impl.fName.empty()) {
    return false;
  }
  const TFd fd(open(impl.fName.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0 || !RecordRefusal(fd.Get(), impl.fName).empty()) {
    return false;  // the last instance removes the record when it ends
  }
  bool any = false;
  for (int slot = 0; slot < kMaxSlots && !any; ++slot) {
    any = ByteHeldByOthers(fd.Get(), kSlotBase + slot);
  }
  return any;
}

std::string TInstanceGuard::ShowRequestName() const {
  return fImpl->fSocketName;
}

std::string TInstanceGuard::ChannelError() const {
  return fImpl->fFolderError;
}

}  // namespace kelvo
