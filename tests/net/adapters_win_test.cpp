// The GetAdaptersInfo walk against a stand-in for the system: buffer sizes and the single
// retry, records read field by field, fixed arrays without a terminator, nothing skipped.
#include "net/adapters_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace kelvo {
namespace {

using windows_adapters::Enumerate;
using windows_adapters::kFirstBufferSize;

// What the stand-in returns, call by call, and what it was asked.
struct TScript {
  std::vector<ULONG> Results;  // per call; ERROR_SUCCESS fills the chain when it fits
  std::vector<ULONG> SizesSeen;
  std::vector<IP_ADAPTER_INFO> Chain;
};
TScript* gScript = nullptr;

ULONG WINAPI StandIn(PIP_ADAPTER_INFO ABuffer, PULONG ASize) {
  TScript& S = *gScript;
  const std::size_t Call = S.SizesSeen.size();
  S.SizesSeen.push_back(*ASize);
  const ULONG Needed = static_cast<ULONG>(S.Chain.size() * sizeof(IP_ADAPTER_INFO));
  const ULONG Result = Call < S.Results.size() ? S.Results[Call] : ERROR_SUCCESS;
  if (Result == ERROR_BUFFER_OVERFLOW) {
    *ASize = Needed;
    return Result;
  }
  if (Result != ERROR_SUCCESS) {
    return Result;
  }
  if (*ASize < Needed) {
    *ASize = Needed;
    return ERROR_BUFFER_OVERFLOW;
  }
  for (std::size_t I = 0; I < S.Chain.size(); ++I) {
    ABuffer[I] = S.Chain[I];
    ABuffer[I].Next = I + 1 < S.Chain.size() ? &ABuffer[I + 1] : nullptr;
  }
  return ERROR_SUCCESS;
}

template <std::size_t N>
void Put(char (&AField)[N], const char* AText) {
  std::memset(AField, 0, N);
  std::memcpy(AField, AText, std::min(N, std::strlen(AText)));
}

IP_ADAPTER_INFO Record(const char* AName, const char* ADescription, const char* AIP,
                       const char* AMask, const char* AGateway) {
  IP_ADAPTER_INFO Info{};
  Put(Info.AdapterName, AName);
  Put(Info.Description, ADescription);
  Put(Info.IpAddressList.IpAddress.String, AIP);
  Put(Info.IpAddressList.IpMask.String, AMask);
  Put(Info.GatewayList.IpAddress.String, AGateway);
  return Info;
}

class AdaptersWinTest : public ::testing::Test {
 protected:
  void SetUp() override { gScript = &fScript; }
  void TearDown() override { gScript = nullptr; }
  TScript fScript;
};

TEST_F(AdaptersWinTest, BufferSizesAndTheSingleRetry) {
  struct TCase {
    const char* Name;
    std::vector<ULONG> Results;
    std::size_t Adapters;
    bool Found;
    std::size_t Calls;
  };
  const TCase Cases[] = {
      // Two records never fit 640 bytes: the size asked for is used once.
      {"grows once", {}, 2, true, 2},
      {"overflow twice gives up", {ERROR_BUFFER_OVERFLOW, ERROR_BUFFER_OVERFLOW}, 2, false, 2},
      {"no adapters", {ERROR_NO_DATA}, 0, false, 1},
      {"other failure after growing", {ERROR_BUFFER_OVERFLOW, ERROR_NOT_SUPPORTED}, 1, false, 2},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    fScript = {};
    fScript.Results = C.Results;
    for (std::size_t I = 0; I < C.Adapters; ++I) {
      fScript.Chain.push_back(Record("{A}", "d", "10.0.0.1", "255.0.0.0", "0.0.0.0"));
    }
    const auto Adapters = Enumerate(&StandIn);
    EXPECT_EQ(Adapters.has_value(), C.Found);
    ASSERT_EQ(fScript.SizesSeen.size(), C.Calls);
    EXPECT_EQ(fScript.SizesSeen[0], kFirstBufferSize);
    if (C.Calls > 1) {
      EXPECT_EQ(fScript.SizesSeen[1], C.Adapters * sizeof(IP_ADAPTER_INFO));
    }
    if (Adapters) {
      EXPECT_EQ(Adapters->size(), C.Adapters);
    }
  }
}

TEST_F(AdaptersWinTest, EveryRecordIsReadInChainOrderWithItsFirstEntries) {
  fScript.Chain = {
      Record("{11111111-AAAA}", "Intel(R) Ethernet", "192.168.1.10", "255.255.255.0",
             "192.168.1.1"),
      // Down, without an address: still listed, with what the system reports.
      Record("{22222222-BBBB}", "Wi-Fi", "0.0.0.0", "0.0.0.0", ""),
  };
  // A second address of the first adapter is ignored: only the first list entry counts.
  IP_ADDR_STRING Second{};
  Put(Second.IpAddress.String, "10.9.9.9");
  fScript.Chain[0].IpAddressList.Next = &Second;

  const auto Adapters = Enumerate(&StandIn);
  ASSERT_TRUE(Adapters);
  ASSERT_EQ(Adapters->size(), 2u);
  const TPlatformAdapter& A = (*Adapters)[0];
  EXPECT_EQ(A.AdapterName, "{11111111-AAAA}");
  EXPECT_EQ(A.Description, "Intel(R) Ethernet");
  EXPECT_EQ(A.IpAddress, "192.168.1.10");
  EXPECT_EQ(A.IpMask, "255.255.255.0");
  EXPECT_EQ(A.Gateway, "192.168.1.1");
  const TPlatformAdapter& B = (*Adapters)[1];
  EXPECT_EQ(B.AdapterName, "{22222222-BBBB}");
  EXPECT_EQ(B.IpAddress, "0.0.0.0");
  EXPECT_EQ(B.Gateway, "");
}

TEST_F(AdaptersWinTest, FixedArraysWithoutATerminatorAreReadWhole) {
  IP_ADAPTER_INFO Full = Record("", "", "1.2.3.4", "255.0.0.0", "");
  std::memset(Full.Description, 'x', sizeof Full.Description);
  std::memset(Full.IpAddressList.IpAddress.String, '9', sizeof Full.IpAddressList.IpAddress.String);
  fScript.Chain = {Full};
  const auto Adapters = Enumerate(&StandIn);
  ASSERT_TRUE(Adapters);
  ASSERT_EQ(Adapters->size(), 1u);
  EXPECT_EQ((*Adapters)[0].Description, std::string(sizeof Full.Description, 'x'));
  EXPECT_EQ((*Adapters)[0].IpAddress, std::string(16, '9'));
  EXPECT_EQ((*Adapters)[0].AdapterName, "");
}

TEST(AdaptersWinSystem, TheRealEnumerationAndLocalAddressDoNotFail) {
  // Whatever this machine has: no exception, and each listed address is dotted text.
  const TAdapterPlatform Platform = SystemAdapterPlatform();
  const auto Adapters = Platform.Enumerate();
  if (Adapters) {
    for (const TPlatformAdapter& A : *Adapters) {
      EXPECT_FALSE(A.AdapterName.empty());
      EXPECT_TRUE(IsValidIPAddress(A.IpAddress)) << A.IpAddress;
    }
  }
  const std::string Local = Platform.LocalIPAddress();
  EXPECT_TRUE(Local.empty() || IsValidIPAddress(Local)) << Local;
}

}  // namespace
}  // namespace kelvo
