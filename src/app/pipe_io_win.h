// The relay's named pipe: its name, who may use it, and overlapped reads and writes with a
// time limit, shared by the relay's request loop and the client that talks to it. Internal to
// the core's Windows files; any thread.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

namespace kelvo::pipe_io {

// The pipe's name for the relay started from AExecutablePath:
// "kelvorelay-<user SID>-<logon session>-<hash of the exact path>". Pipe names are seen by the
// whole machine; with the user and the session in it, every user and session has a pipe of
// its own, and paths that differ in any character (C:\a\bc.exe, C:\ab\c.exe) never share one.
// Empty when the user cannot be told; AError then says why.
std::string PipeBaseName(const std::string& AExecutablePath, std::string& AError);

// The pipe's full name for a relay's socket name ("\\.\pipe\..."; backslashes are not allowed
// inside the name).
std::wstring PipeName(const std::string& ASocketName);

// The SID of this process's user, as its bytes; empty when it cannot be read.
std::vector<unsigned char> CurrentUserSid();
// Whether the process at the server end of APipe runs as the user whose SID AUserSid holds.
// False when that cannot be told.
bool ServerRunsAs(HANDLE APipe, const std::vector<unsigned char>& AUserSid);

// Appends what arrives to AReceived until it holds a line end or the other side closes (true
// when something came), or ADeadline passes (false).
bool ReadLine(HANDLE APipe, std::string& AReceived, std::chrono::steady_clock::time_point ADeadline,
              std::size_t AMaxSize = 65536);
// Writes all of AText before ADeadline.
bool WriteAll(HANDLE APipe, const std::string& AText,
              std::chrono::steady_clock::time_point ADeadline);

}  // namespace kelvo::pipe_io
