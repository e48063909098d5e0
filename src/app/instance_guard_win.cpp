// The guard on Windows: the 8-byte record in a named, paging-file backed file mapping named
// from the executable path without its backslashes, and a named mutex around every test and
// update of count, so two starts in the same instant cannot both be admitted.
//
//   offset 0  uint32 LE  window: the handle of the window the last admitted instance stands for
//   offset 4  int32 LE   count: admitted instances still running
//
// The system removes the mapping when its last handle closes, also when an instance is killed;
// a killed instance that was not the last one leaves its share in count.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "app/instance_guard.h"
#include "app/pipe_io_win.h"
#include "base/handle_win.h"
#include "base/windows_text.h"

namespace kelvo {

namespace {

constexpr DWORD kRecordSize = 8;
constexpr DWORD kShowMessage = WM_USER + 1;  // 1025
constexpr DWORD kMutexWaitMs = 5000;

std::uint32_t ReadLE32(const unsigned char* ABytes) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = (value << 8) | ABytes[i];
  }
  return value;
}

void WriteLE32(unsigned char* ABytes, std::uint32_t AValue) {
  for (int i = 0; i < 4; ++i) {
    ABytes[i] = static_cast<unsigned char>(AValue >> (8 * i));
  }
}

[[noreturn]] void ThrowSystemError(DWORD AError) {
  throw TInstanceGuardError(WindowsErrorText(AError));
}

// Holds the count lock for one scope; a lock abandoned by a killed instance is taken over.
class TCountLock {
 public:
  explicit TCountLock(HANDLE AMutex) : fMutex(AMutex) {
    const DWORD result = fMutex != nullptr ? ::WaitForSingleObject(fMutex, kMutexWaitMs) : 0;
    fHeld = fMutex != nullptr && (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED);
  }
  ~TCountLock() {
    if (fHeld) {
      ::ReleaseMutex(fMutex);
    }
  }
  TCountLock(const TCountLock&) = delete;
  TCountLock& operator=(const TCountLock&) = delete;

 private:
  HANDLE fMutex;
  bool fHeld = false;
};

}  // namespace

struct TInstanceGuard::TImpl {
  std::wstring Name;
  std::string PipeName;   // see pipe_io::PipeBaseName
  std::string PipeError;  // why there is none
  // Closed in reverse order: the view, the mapping, then the mutex.
  THandle Mutex;
  THandle Block;
  TMappedView Mapped;
  bool Counted = true;
  bool Checked = false;     // the admission has been decided
  bool Registered = false;  // this instance added itself to count

  // Steps 2 to 5 of the guard: true when admitted. Throws when the record cannot be created.
  bool Admit(int ALimit);

  unsigned char* View() const { return static_cast<unsigned char*>(Mapped.Get()); }
  void Map(HANDLE ABlock) {
    Mapped.Reset(::MapViewOfFile(ABlock, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!Mapped) {
      ThrowSystemError(::GetLastError());
    }
  }
};

// Taken by value for the POSIX twin, which keeps the path; this one only reads it.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
TInstanceGuard::TInstanceGuard(std::string AExecutablePath) : fImpl(std::make_unique<TImpl>()) {
  std::string name;
  for (const char c : AExecutablePath) {
    if (c != '\\') {
      name += c;
    }
  }
  fImpl->Name = Utf8ToWide(name);
  fImpl->PipeName = pipe_io::PipeBaseName(AExecutablePath, fImpl->PipeError);
}

TInstanceGuard::~TInstanceGuard() {
  TImpl& impl = *fImpl;
  if (impl.Registered && impl.Counted) {
    TCountLock lock(impl.Mutex.Get());
    if (const THandle block(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, impl.Name.c_str()));
        block) {
      if (const TMappedView view(::MapViewOfFile(block.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
          view) {
        auto* bytes = static_cast<unsigned char*>(view.Get());
        WriteLE32(bytes + 4, ReadLE32(bytes + 4) - 1);
      }
    }
  }
}

bool TInstanceGuard::TImpl::Admit(int ALimit) {
  if (Checked) {
    return Registered;
  }
  Checked = true;
  // Without a window of its own the headless relay stands for its console window.
  const auto window =
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(::GetConsoleWindow()));

  // A mapping and a mutex may not share a name.
  Mutex.Reset(::CreateMutexW(nullptr, FALSE, (Name + L" count").c_str()));
  TCountLock lock(Mutex.Get());

  const HANDLE created = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              kRecordSize, Name.c_str());
  const DWORD createError = ::GetLastError();
  Block.Reset(created);
  if (!Block) {
    Checked = false;
    ThrowSystemError(createError);
  }
  if (createError != ERROR_ALREADY_EXISTS) {
    Map(Block.Get());
    WriteLE32(View(), window);
    WriteLE32(View() + 4, 1);
    Registered = true;
    return true;
  }

  THandle existing(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, Name.c_str()));
  if (!existing) {
    Counted = false;
    return false;
  }
  Block = std::move(existing);
  Map(Block.Get());
  const auto count = static_cast<std::int32_t>(ReadLE32(View() + 4));
  if (count < ALimit) {
    WriteLE32(View(), window);
    WriteLE32(View() + 4, static_cast<std::uint32_t>(count + 1));
    Registered = true;
    return true;
  }
  Counted = false;
  return false;
}

bool TInstanceGuard::RestoreIfRunning(const std::string& AClassName, const std::string& ACaption,
                                      int ALimit) {
  TImpl& impl = *fImpl;
  if (impl.Checked) {
    return !impl.Registered;
  }
  if (impl.Admit(ALimit)) {
    return false;
  }
  if (impl.View() == nullptr) {
    return true;  // the record could not be opened: end silently
  }
  const HWND found = ::FindWindowW(Utf8ToWide(AClassName).c_str(), Utf8ToWide(ACaption).c_str());
  if (found != nullptr && !::IsWindowVisible(found)) {
    ::PostMessageW(found, kShowMessage, 0, 0);
  }
  // Handles of windows are 32-bit values, also in 64-bit processes.
  const HWND stored = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(ReadLE32(impl.View())));
  if (stored != nullptr) {
    if (::IsIconic(stored)) {
      ::ShowWindow(stored, SW_RESTORE);
    }
    ::SetForegroundWindow(stored);
  }
  return true;
}

bool TInstanceGuard::Admit(int ALimit) {
  return fImpl->Admit(ALimit);
}

bool TInstanceGuard::AnyRunning() const {
  if (fImpl->Registered) {
    return true;
  }
  const THandle block(::OpenFileMappingW(FILE_MAP_READ, FALSE, fImpl->Name.c_str()));
  if (!block) {
    return false;  // the record goes with the last instance that had it open
  }
  const TMappedView view(::MapViewOfFile(block.Get(), FILE_MAP_READ, 0, 0, 0));
  return view &&
         static_cast<std::int32_t>(ReadLE32(static_cast<const unsigned char*>(view.Get()) + 4)) > 0;
}

std::string TInstanceGuard::ShowRequestName() const {
  // The named pipe of the running relay; the window's show request travels as window message
  // 1025.
  return fImpl->PipeName;
}

std::string TInstanceGuard::ChannelError() const {
  return fImpl->PipeError;
}

}  // namespace kelvo
