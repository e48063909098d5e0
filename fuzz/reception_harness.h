// Drives the relay engine with a byte string cut into datagrams and checks what must always
// hold. Shared by the libFuzzer target and the test that replays the seed corpus.
//
// Input: records of [control byte][length, 2 bytes little-endian][datagram bytes]; a length
// beyond the input's end takes what is left. Control bits 0-1 choose the sender, bit 2 makes
// every send of this datagram fail, bit 3 lets one second pass (tables age) before it, bit 4
// delivers it 64 * (1 + bits 5-7) times, so that short inputs can build long streams.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kelvo::fuzz {

// Empty when every check held, else a description of the first violation.
std::string RunReceptionInput(std::span<const std::uint8_t> AInput);

}  // namespace kelvo::fuzz
