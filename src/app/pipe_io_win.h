// Overlapped reads and writes on a named pipe with a time limit, shared by the relay's request
// loop and the client that talks to it. Internal to the core's Windows files.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

namespace kelvo::pipe_io {

// The pipe's full name for a relay's socket name ("\\.\pipe\..."; backslashes are not allowed
// inside the name).
std::wstring PipeName(const std::string& ASocketName);

// Appends what arrives to AReceived until it holds a line end or the other side closes (true
// when something came), or ADeadline passes (false).
bool ReadLine(HANDLE APipe, std::string& AReceived, std::chrono::steady_clock::time_point ADeadline,
              std::size_t AMaxSize = 65536);
// Writes all of AText before ADeadline.
bool WriteAll(HANDLE APipe, const std::string& AText,
              std::chrono::steady_clock::time_point ADeadline);

}  // namespace kelvo::pipe_io
