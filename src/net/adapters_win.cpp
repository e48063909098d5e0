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
  const void* zero = std::memchr(AChars, '\0', ASize);
  const std::size_t length =
      zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - AChars) : ASize;
  return std::string(AChars, length);
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
  ULONG size = kFirstBufferSize;
  auto allocate = [](ULONG ASize) {
    return std::make_unique<TBlock[]>((ASize + sizeof(TBlock) - 1) / sizeof(TBlock));
  };
  std::unique_ptr<TBlock[]> buffer = allocate(size);
  ULONG result = AGetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.get()), &size);
  if (result == ERROR_BUFFER_OVERFLOW) {
    buffer = allocate(size);
    result = AGetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.get()), &size);
  }
  if (result != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<TPlatformAdapter> adapters;
  for (const IP_ADAPTER_INFO* info = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.get());
       info != nullptr; info = info->Next) {
    // The interface gives ANSI text; the core holds UTF-8.
    adapters.push_back({AnsiToUtf8(FixedText(info->AdapterName)),
                        AnsiToUtf8(FixedText(info->Description)),
                        FixedText(info->IpAddressList.IpAddress.String),
                        FixedText(info->IpAddressList.IpMask.String),
                        FixedText(info->GatewayList.IpAddress.String)});
  }
  return adapters;
}

}  // namespace windows_adapters

namespace {

std::optional<std::vector<TPlatformAdapter>> EnumerateSystemAdapters() {
  return windows_adapters::Enumerate(&GetAdaptersInfo);
}

std::string LocalHostAddress() {
  EnsureWinsock();
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) {
    throw std::runtime_error("gethostname failed: " +
                             WindowsErrorText(static_cast<unsigned long>(WSAGetLastError())));
  }
  ADDRINFOW hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  ADDRINFOW* result = nullptr;
  // gethostname gives the name in the ANSI code page.
  const std::wstring wideName = AnsiToWide(name);
  const int status = GetAddrInfoW(wideName.c_str(), nullptr, &hints, &result);
  if (status != 0) {
    throw std::runtime_error(std::string("cannot resolve host name \"") + name +
                             "\": " + WindowsErrorText(static_cast<unsigned long>(status)));
  }
  std::string address;
  for (const ADDRINFOW* entry = result; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr &&
        entry->ai_addrlen >= sizeof(sockaddr_in)) {
      sockaddr_in in{};
      std::memcpy(&in, entry->ai_addr, sizeof in);
      unsigned char bytes[4];
      std::memcpy(bytes, &in.sin_addr, sizeof bytes);
      address = DottedQuad(bytes);
      break;
    }
  }
  FreeAddrInfoW(result);
  return address;
}

}  // namespace

TAdapterPlatform SystemAdapterPlatform() {
  return {EnumerateSystemAdapters, LocalHostAddress};
}

}  // namespace kelvo
