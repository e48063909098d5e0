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
  std::uint32_t Value = 0;
  for (int I = 3; I >= 0; --I) {
    Value = (Value << 8) | ABytes[I];
  }
  return Value;
}

void WriteLE32(unsigned char* ABytes, std::uint32_t AValue) {
  for (int I = 0; I < 4; ++I) {
    ABytes[I] = static_cast<unsigned char>(AValue >> (8 * I));
  }
}

[[noreturn]] void ThrowSystemError(DWORD AError) {
  throw TInstanceGuardError(WindowsErrorText(AError));
}

// Holds the count lock for one scope; a lock abandoned by a killed instance is taken over.
class TCountLock {
 public:
  explicit TCountLock(HANDLE AMutex) : fMutex(AMutex) {
    const DWORD Result = fMutex != nullptr ? ::WaitForSingleObject(fMutex, kMutexWaitMs) : 0;
    fHeld = fMutex != nullptr && (Result == WAIT_OBJECT_0 || Result == WAIT_ABANDONED);
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

TInstanceGuard::TInstanceGuard(std::string AExecutablePath) : fImpl(std::make_unique<TImpl>()) {
  std::string Name;
  for (const char C : AExecutablePath) {
    if (C != '\\') {
      Name += C;
    }
  }
  fImpl->Name = Utf8ToWide(Name);
  fImpl->PipeName = pipe_io::PipeBaseName(AExecutablePath, fImpl->PipeError);
}

TInstanceGuard::~TInstanceGuard() {
  TImpl& Impl = *fImpl;
  if (Impl.Registered && Impl.Counted) {
    TCountLock Lock(Impl.Mutex.Get());
    if (const THandle Block(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, Impl.Name.c_str()));
        Block) {
      if (const TMappedView View(::MapViewOfFile(Block.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
          View) {
        auto* Bytes = static_cast<unsigned char*>(View.Get());
        WriteLE32(Bytes + 4, ReadLE32(Bytes + 4) - 1);
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
  const auto Window =
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(::GetConsoleWindow()));

  // A mapping and a mutex may not share a name.
  Mutex.Reset(::CreateMutexW(nullptr, FALSE, (Name + L" count").c_str()));
  TCountLock Lock(Mutex.Get());

  const HANDLE Created = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              kRecordSize, Name.c_str());
  const DWORD CreateError = ::GetLastError();
  Block.Reset(Created);
  if (!Block) {
    Checked = false;
    ThrowSystemError(CreateError);
  }
  if (CreateError != ERROR_ALREADY_EXISTS) {
    Map(Block.Get());
    WriteLE32(View(), Window);
    WriteLE32(View() + 4, 1);
    Registered = true;
    return true;
  }

  THandle Existing(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, Name.c_str()));
  if (!Existing) {
    Counted = false;
    return false;
  }
  Block = std::move(Existing);
  Map(Block.Get());
  const auto Count = static_cast<std::int32_t>(ReadLE32(View() + 4));
  if (Count < ALimit) {
    WriteLE32(View(), Window);
    WriteLE32(View() + 4, static_cast<std::uint32_t>(Count + 1));
    Registered = true;
    return true;
  }
  Counted = false;
  return false;
}

bool TInstanceGuard::RestoreIfRunning(const std::string& AClassName, const std::string& ACaption,
                                      int ALimit) {
  TImpl& Impl = *fImpl;
  if (Impl.Checked) {
    return !Impl.Registered;
  }
  if (Impl.Admit(ALimit)) {
    return false;
  }
  if (Impl.View() == nullptr) {
    return true;  // the record could not be opened: end silently
  }
  const HWND Found = ::FindWindowW(Utf8ToWide(AClassName).c_str(), Utf8ToWide(ACaption).c_str());
  if (Found != nullptr && !::IsWindowVisible(Found)) {
    ::PostMessageW(Found, kShowMessage, 0, 0);
  }
  // Handles of windows are 32-bit values, also in 64-bit processes.
  const HWND Stored = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(ReadLE32(Impl.View())));
  if (Stored != nullptr) {
    if (::IsIconic(Stored)) {
      ::ShowWindow(Stored, SW_RESTORE);
    }
    ::SetForegroundWindow(Stored);
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
  const THandle Block(::OpenFileMappingW(FILE_MAP_READ, FALSE, fImpl->Name.c_str()));
  if (!Block) {
    return false;  // the record goes with the last instance that had it open
  }
  const TMappedView View(::MapViewOfFile(Block.Get(), FILE_MAP_READ, 0, 0, 0));
  return View &&
         static_cast<std::int32_t>(ReadLE32(static_cast<const unsigned char*>(View.Get()) + 4)) > 0;
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
