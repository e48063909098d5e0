// Routing a frame in the usual case must not touch the heap: the listener thread handles
// every datagram of the relay, and an allocation per frame would dominate its cost.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "relay/relay_test_support.h"

// The replacements below pair malloc with free themselves; once inlined, GCC cannot see that.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
thread_local long gAllocations = 0;
}  // namespace

void* operator new(std::size_t ASize) {
  ++gAllocations;
  if (void* p = std::malloc(ASize == 0 ? 1 : ASize))
    return p;
  throw std::bad_alloc();
}
void operator delete(void* APtr) noexcept {
  std::free(APtr);
}
void operator delete(void* APtr, std::size_t) noexcept {
  std::free(APtr);
}

namespace kelvo {
namespace {

using test::MakeFrame;
using test::TBytes;
using test::TEngineRig;

TEST(RelayAllocations, KnownSendersAndDestinationsNeedNoHeap) {
  TEngineRig rig;
  rig.AddStatic(1000, "10.0.0.1", 5000);
  rig.AddStatic(1001, "10.0.0.2", 5001);
  const TBytes request = MakeFrame(5, 1000, 0, {1, 2});
  const TBytes aliased = MakeFrame(5, 1001, 0, TBytes(1000, 7));
  const TBytes broadcast = MakeFrame(5, 0, 0);
  const TBytes reply = MakeFrame(1000, 6, 1, {3});
  const TBytes push = MakeFrame(2000, 0, 1);
  // A null transport: the recorder's own copies would be counted too.
  struct TNullTransport : TDatagramTransport {
    void SendDatagram(const std::string&, std::uint16_t, std::span<const std::uint8_t>) override {}
  } transport;
  struct TNullView : TRelayView {
    void SetLed(TLamp, TLedColor) override {}
    void ReqCountChanged(std::int32_t) override {}
    void AckCountChanged(std::int32_t) override {}
    void LocalIPChanged(const std::string&) override {}
    void PortErrorChanged(bool) override {}
  } view;
  TRelayEngine engine(rig.Tables, transport, view, rig.Log);

  auto once = [&] {
    engine.udpLocalUDPRead(request, "192.168.1.20", 50123);
    engine.udpLocalUDPRead(aliased, "192.168.1.21", 50123);  // alias 6
    engine.udpLocalUDPRead(broadcast, "192.168.1.20", 50123);
    engine.udpLocalUDPRead(reply, "10.0.0.1", 5000);
    engine.udpLocalUDPRead(push, "10.0.1.1", 6000);
  };
  once();  // enters the senders, sizes the scratch space
  const long before = gAllocations;
  for (int i = 0; i < 100; ++i)
    once();
  EXPECT_EQ(gAllocations - before, 0);
  EXPECT_EQ(engine.ReqCount(), 303);
  EXPECT_EQ(engine.AckCount(), 202);
}

}  // namespace
}  // namespace kelvo
