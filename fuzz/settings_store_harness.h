// Drives the settings file store through one load, a save as the relay makes it, and a
// reload, and checks that nothing but the saved values changed. Shared by the libFuzzer
// target and the test that replays its seed corpus.
//
// Input: the bytes of a settings file. The change (the adapter, the window position, one to
// four static entries) is chosen from a hash of the input, so every seed also picks a change.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kelvo::fuzz {

// Runs one input with its file in AFolder (which must exist). Empty when every check held,
// else a description of the first violation.
std::string RunSettingsStoreInput(std::span<const std::uint8_t> AInput, const std::string& AFolder);

}  // namespace kelvo::fuzz
