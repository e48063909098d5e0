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
  DWORD size = 0;
  ::GetTokenInformation(AToken, TokenUser, nullptr, 0, &size);
  if (size == 0) {
    return {};
  }
  std::vector<unsigned char> buffer(size);
  if (!::GetTokenInformation(AToken, TokenUser, buffer.data(), size, &size)) {
    return {};
  }
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
  if (!::IsValidSid(sid)) {
    return {};
  }
  const auto* bytes = static_cast<const unsigned char*>(sid);
  return {bytes, bytes + ::GetLengthSid(sid)};
}

std::vector<unsigned char> ProcessUserSid(HANDLE AProcess) {
  THandle token;
  if (!::OpenProcessToken(AProcess, TOKEN_QUERY, token.Receive())) {
    return {};
  }
  return TokenUserSid(token.Get());
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

// One overlapped transfer, waited for until ADeadline; cancelled when it is not done by then.
// Returns the bytes moved, 0 when the other end has closed, -1 on failure or timeout.
long Transfer(HANDLE APipe, bool ARead, void* ABuffer, DWORD ASize,
              std::chrono::steady_clock::time_point ADeadline) {
  // Declared before the transfer that signals it, so it outlives the transfer.
  const THandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) {
    return -1;
  }
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.Get();
  DWORD moved = 0;
  BOOL done = ARead ? ::ReadFile(APipe, ABuffer, ASize, nullptr, &overlapped)
                    : ::WriteFile(APipe, ABuffer, ASize, nullptr, &overlapped);
  if (!done && ::GetLastError() == ERROR_IO_PENDING) {
    if (::WaitForSingleObject(overlapped.hEvent,
                              static_cast<DWORD>(MillisecondsUntil(ADeadline))) != WAIT_OBJECT_0) {
      ::CancelIo(APipe);
    }
    done = ::GetOverlappedResult(APipe, &overlapped, &moved, TRUE);
  } else if (done) {
    done = ::GetOverlappedResult(APipe, &overlapped, &moved, TRUE);
  }
  const DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
  if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) {
    return 0;
  }
  return done && moved > 0 ? static_cast<long>(moved) : (done ? 0 : -1);
}

}  // namespace

std::string PipeBaseName(const std::string& AExecutablePath, std::string& AError) {
  std::vector<unsigned char> sid = CurrentUserSid();
  wchar_t* sidText = nullptr;
  if (sid.empty() || !::ConvertSidToStringSidW(sid.data(), &sidText)) {
    AError = "cannot read this user's SID: " + WindowsErrorText(::GetLastError());
    return {};
  }
  const std::string user = WideToUtf8(sidText);
  ::LocalFree(sidText);
  DWORD session = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) {
    AError = "cannot read this logon session: " + WindowsErrorText(::GetLastError());
    return {};
  }
  std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a of the path's UTF-8 bytes
  for (const char c : AExecutablePath) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  }
  return "kelvorelay-" + user + "-" + std::to_string(session) + "-" + Hex64(hash);
}

std::vector<unsigned char> CurrentUserSid() {
  return ProcessUserSid(::GetCurrentProcess());
}

bool ServerRunsAs(HANDLE APipe, const std::vector<unsigned char>& AUserSid) {
  ULONG pid = 0;
  if (AUserSid.empty() || !::GetNamedPipeServerProcessId(APipe, &pid)) {
    return false;
  }
  const THandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) {
    return false;
  }
  std::vector<unsigned char> server = ProcessUserSid(process.Get());
  return !server.empty() &&
         ::EqualSid(server.data(), const_cast<unsigned char*>(AUserSid.data())) != FALSE;
}

std::wstring PipeName(const std::string& ASocketName) {
  std::string name = ASocketName;
  for (char& c : name) {
    if (c == '\\') {
      c = '/';
    }
  }
  return L"\\\\.\\pipe\\" + Utf8ToWide(name);
}

bool ReadLine(HANDLE APipe, std::string& AReceived, std::chrono::steady_clock::time_point ADeadline,
              std::size_t AMaxSize) {
  std::size_t searched = 0;
  while (AReceived.find('\n', searched) == std::string::npos) {
    searched = AReceived.size();
    std::string buffer(65536, '\0');
    const long n =
        Transfer(APipe, true, buffer.data(), static_cast<DWORD>(buffer.size()), ADeadline);
    if (n == 0) {
      return !AReceived.empty();  // a request may end with the connection instead of a line end
    }
    if (n < 0) {
      return false;
    }
    AReceived.append(buffer.data(), static_cast<std::size_t>(n));
    if (AReceived.size() > AMaxSize) {
      return false;
    }
  }
  return true;
}

bool WriteAll(HANDLE APipe, const std::string& AText,
              std::chrono::steady_clock::time_point ADeadline) {
  std::string left = AText;
  std::size_t done = 0;
  while (done < left.size()) {
    const long n = Transfer(APipe, false, left.data() + done,
                            static_cast<DWORD>(left.size() - done), ADeadline);
    if (n <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace kelvo::pipe_io
