// Adapter enumeration and the local address on Windows: GetAdaptersInfo, and the host name
// resolved with GetAddrInfoW.
#include "net/adapters_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <memory>
#include <stdexcept>

#include "base/windows_text.h"
#include "net/winsock.h"

namespace kelvo {

namespace windows_adapters {

std::string FixedText(const char* AChars, std::size_t ASize) {
  const void* Zero = std::memchr(AChars, '\0', ASize);
  const std::size_t Length =
      Zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(Zero) - AChars) : ASize;
  return std::string(AChars, Length);
}

namespace {

std::string AnsiToUtf8(const std::string& AText) {
  return WideToUtf8(AnsiToWide(AText));
}

}  // namespace

std::optional<std::vector<TPlatformAdapter>> Enumerate(TGetAdaptersInfo AGetAdaptersInfo) {
  // The records are written into the buffer itself, so it must be aligned for them.
  struct alignas(IP_ADAPTER_INFO) TBlock {
    unsigned char Bytes[16];
  };
  ULONG Size = kFirstBufferSize;
  auto Allocate = [](ULONG ASize) {
    return std::make_unique<TBlock[]>((ASize + sizeof(TBlock) - 1) / sizeof(TBlock));
  };
  std::unique_ptr<TBlock[]> Buffer = Allocate(Size);
  ULONG Result = AGetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(Buffer.get()), &Size);
  if (Result == ERROR_BUFFER_OVERFLOW) {
    Buffer = Allocate(Size);
    Result = AGetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(Buffer.get()), &Size);
  }
  if (Result != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<TPlatformAdapter> Adapters;
  for (const IP_ADAPTER_INFO* Info = reinterpret_cast<const IP_ADAPTER_INFO*>(Buffer.get());
       Info != nullptr; Info = Info->Next) {
    // The interface gives ANSI text; the core holds UTF-8.
    Adapters.push_back({AnsiToUtf8(FixedText(Info->AdapterName)),
                        AnsiToUtf8(FixedText(Info->Description)),
                        FixedText(Info->IpAddressList.IpAddress.String),
                        FixedText(Info->IpAddressList.IpMask.String),
                        FixedText(Info->GatewayList.IpAddress.String)});
  }
  return Adapters;
}

}  // namespace windows_adapters

namespace {

std::optional<std::vector<TPlatformAdapter>> EnumerateSystemAdapters() {
  return windows_adapters::Enumerate(&GetAdaptersInfo);
}

std::string LocalHostAddress() {
  EnsureWinsock();
  char Name[256] = {};
  if (gethostname(Name, sizeof Name - 1) != 0) {
    throw std::runtime_error("gethostname failed: " +
                             WindowsErrorText(static_cast<unsigned long>(WSAGetLastError())));
  }
  ADDRINFOW Hints{};
  Hints.ai_family = AF_INET;
  Hints.ai_socktype = SOCK_DGRAM;
  ADDRINFOW* Result = nullptr;
  // gethostname gives the name in the ANSI code page.
  const std::wstring WideName = AnsiToWide(Name);
  const int Status = GetAddrInfoW(WideName.c_str(), nullptr, &Hints, &Result);
  if (Status != 0) {
    throw std::runtime_error(std::string("cannot resolve host name \"") + Name +
                             "\": " + WindowsErrorText(static_cast<unsigned long>(Status)));
  }
  std::string Address;
  for (const ADDRINFOW* Entry = Result; Entry != nullptr; Entry = Entry->ai_next) {
    if (Entry->ai_family == AF_INET && Entry->ai_addr != nullptr &&
        Entry->ai_addrlen >= sizeof(sockaddr_in)) {
      sockaddr_in In{};
      std::memcpy(&In, Entry->ai_addr, sizeof In);
      unsigned char Bytes[4];
      std::memcpy(Bytes, &In.sin_addr, sizeof Bytes);
      Address = DottedQuad(Bytes);
      break;
    }
  }
  FreeAddrInfoW(Result);
  return Address;
}

}  // namespace

TAdapterPlatform SystemAdapterPlatform() {
  return {EnumerateSystemAdapters, LocalHostAddress};
}

}  // namespace kelvo
