// One running instance per executable path: a small shared record named from the path, and a
// local socket through which a refused start asks the admitted one to show its window.
//
// Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace kelvo {

class TInstanceGuardError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TInstanceGuard {
 public:
  explicit TInstanceGuard(std::string AExecutablePath);
  ~TInstanceGuard();  // the guard's clean-up: gives back this instance's share of the record
  TInstanceGuard(const TInstanceGuard&) = delete;
  TInstanceGuard& operator=(const TInstanceGuard&) = delete;

  // True when this start must end at once (after asking the admitted instance to show its
  // window). Throws TInstanceGuardError with the system's error text when the shared record
  // cannot be set up. A record left behind by a killed instance never blocks a start. When
  // there is no place of this user's own for the record (ChannelError), false: the start runs
  // unguarded rather than be kept from running by somebody else.
  bool RestoreIfRunning(const std::string& AClassName, const std::string& ACaption, int ALimit);

  // The admission of RestoreIfRunning without asking anybody to show a window: true when this
  // process now counts as a running instance (until the guard goes). A command that changes
  // the settings file holds it meanwhile, so no relay starts on the old file. Throws as
  // RestoreIfRunning does, and also when ChannelError is set (nobody can tell then whether a
  // relay runs).
  bool Admit(int ALimit);

  // Whether an admitted instance of this executable path runs now, this guard's own admission
  // included. Never throws: a record that cannot be opened means none.
  bool AnyRunning() const;

  // Name of the local channel on which the admitted instance listens for the show request
  // ("1025"), --quit and the settings options: on POSIX systems a socket path in a folder of
  // this user's alone, usable with QLocalServer / QLocalSocket; on Windows the name of a pipe
  // of this user and logon session. Empty when there is no such place (ChannelError): then
  // nobody listens, and nothing is sent.
  std::string ShowRequestName() const;

  // Why this user has no private place for the record and the channel (one line, say "/tmp/
  // kelvorelay-1000 belongs to user 1001"); empty when all is well. A start then runs without
  // the single-instance check and without the channel, and should say so.
  std::string ChannelError() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> fImpl;
};

}  // namespace kelvo
