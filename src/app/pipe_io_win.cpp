#include "app/pipe_io_win.h"

#include <sddl.h>

#include <cstdint>

#include "base/handle_win.h"
#include "base/wait_time.h"
#include "base/windows_text.h"

namespace kelvo::pipe_io {

namespace {

// The user SID in a token, as bytes; empty on failure.
std::vector<unsigned char> TokenUserSid(HANDLE AToken) {
  DWORD Size = 0;
  ::GetTokenInformation(AToken, TokenUser, nullptr, 0, &Size);
  if (Size == 0) {
    return {};
  }
  std::vector<unsigned char> Buffer(Size);
  if (!::GetTokenInformation(AToken, TokenUser, Buffer.data(), Size, &Size)) {
    return {};
  }
  const PSID Sid = reinterpret_cast<const TOKEN_USER*>(Buffer.data())->User.Sid;
  if (!::IsValidSid(Sid)) {
    return {};
  }
  const auto* Bytes = static_cast<const unsigned char*>(Sid);
  return {Bytes, Bytes + ::GetLengthSid(Sid)};
}

std::vector<unsigned char> ProcessUserSid(HANDLE AProcess) {
  THandle Token;
  if (!::OpenProcessToken(AProcess, TOKEN_QUERY, Token.Receive())) {
    return {};
  }
  return TokenUserSid(Token.Get());
}

std::string Hex64(std::uint64_t AValue) {
  static const char kDigits[] = "0123456789abcdef";
  std::string Text(16, '0');
  for (int I = 15; I >= 0; --I) {
    Text[static_cast<std::size_t>(I)] = kDigits[AValue & 0xF];
    AValue >>= 4;
  }
  return Text;
}

// One overlapped transfer, waited for until ADeadline; cancelled when it is not done by then.
// Returns the bytes moved, 0 when the other end has closed, -1 on failure or timeout.
long Transfer(HANDLE APipe, bool ARead, void* ABuffer, DWORD ASize,
              std::chrono::steady_clock::time_point ADeadline) {
  // Declared before the transfer that signals it, so it outlives the transfer.
  const THandle Event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!Event) {
    return -1;
  }
  OVERLAPPED Overlapped{};
  Overlapped.hEvent = Event.Get();
  DWORD Moved = 0;
  BOOL Done = ARead ? ::ReadFile(APipe, ABuffer, ASize, nullptr, &Overlapped)
                    : ::WriteFile(APipe, ABuffer, ASize, nullptr, &Overlapped);
  if (!Done && ::GetLastError() == ERROR_IO_PENDING) {
    if (::WaitForSingleObject(Overlapped.hEvent,
                              static_cast<DWORD>(MillisecondsUntil(ADeadline))) != WAIT_OBJECT_0) {
      ::CancelIo(APipe);
    }
    Done = ::GetOverlappedResult(APipe, &Overlapped, &Moved, TRUE);
  } else if (Done) {
    Done = ::GetOverlappedResult(APipe, &Overlapped, &Moved, TRUE);
  }
  const DWORD Error = Done ? ERROR_SUCCESS : ::GetLastError();
  if (Error == ERROR_BROKEN_PIPE || Error == ERROR_PIPE_NOT_CONNECTED) {
    return 0;
  }
  return Done && Moved > 0 ? static_cast<long>(Moved) : (Done ? 0 : -1);
}

}  // namespace

std::string PipeBaseName(const std::string& AExecutablePath, std::string& AError) {
  std::vector<unsigned char> Sid = CurrentUserSid();
  wchar_t* SidText = nullptr;
  if (Sid.empty() || !::ConvertSidToStringSidW(Sid.data(), &SidText)) {
    AError = "cannot read this user's SID: " + WindowsErrorText(::GetLastError());
    return {};
  }
  const std::string User = WideToUtf8(SidText);
  ::LocalFree(SidText);
  DWORD Session = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &Session)) {
    AError = "cannot read this logon session: " + WindowsErrorText(::GetLastError());
    return {};
  }
  std::uint64_t Hash = 14695981039346656037ULL;  // FNV-1a of the path's UTF-8 bytes
  for (const char C : AExecutablePath) {
    Hash = (Hash ^ static_cast<unsigned char>(C)) * 1099511628211ULL;
  }
  return "kelvorelay-" + User + "-" + std::to_string(Session) + "-" + Hex64(Hash);
}

std::vector<unsigned char> CurrentUserSid() {
  return ProcessUserSid(::GetCurrentProcess());
}

bool ServerRunsAs(HANDLE APipe, const std::vector<unsigned char>& AUserSid) {
  ULONG Pid = 0;
  if (AUserSid.empty() || !::GetNamedPipeServerProcessId(APipe, &Pid)) {
    return false;
  }
  const THandle Process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Pid));
  if (!Process) {
    return false;
  }
  std::vector<unsigned char> Server = ProcessUserSid(Process.Get());
  return !Server.empty() &&
         ::EqualSid(Server.data(), const_cast<unsigned char*>(AUserSid.data())) != FALSE;
}

std::wstring PipeName(const std::string& ASocketName) {
  std::string Name = ASocketName;
  for (char& C : Name) {
    if (C == '\\') {
      C = '/';
    }
  }
  return L"\\\\.\\pipe\\" + Utf8ToWide(Name);
}

bool ReadLine(HANDLE APipe, std::string& AReceived, std::chrono::steady_clock::time_point ADeadline,
              std::size_t AMaxSize) {
  std::size_t Searched = 0;
  while (AReceived.find('\n', Searched) == std::string::npos) {
    Searched = AReceived.size();
    std::string Buffer(65536, '\0');
    const long N =
        Transfer(APipe, true, Buffer.data(), static_cast<DWORD>(Buffer.size()), ADeadline);
    if (N == 0) {
      return !AReceived.empty();  // a request may end with the connection instead of a line end
    }
    if (N < 0) {
      return false;
    }
    AReceived.append(Buffer.data(), static_cast<std::size_t>(N));
    if (AReceived.size() > AMaxSize) {
      return false;
    }
  }
  return true;
}

bool WriteAll(HANDLE APipe, const std::string& AText,
              std::chrono::steady_clock::time_point ADeadline) {
  std::string Left = AText;
  std::size_t Done = 0;
  while (Done < Left.size()) {
    const long N = Transfer(APipe, false, Left.data() + Done,
                            static_cast<DWORD>(Left.size() - Done), ADeadline);
    if (N <= 0) {
      return false;
    }
    Done += static_cast<std::size_t>(N);
  }
  return true;
}

}  // namespace kelvo::pipe_io
