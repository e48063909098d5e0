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
  // cannot be set up. A record left behind by a killed instance never blocks a start.
  bool RestoreIfRunning(const std::string& AClassName, const std::string& ACaption, int ALimit);

  // The admission of RestoreIfRunning without asking anybody to show a window: true when this
  // process now counts as a running instance (until the guard goes). A command that changes
  // the settings file holds it meanwhile, so no relay starts on the old file. Throws as
  // RestoreIfRunning does.
  bool Admit(int ALimit);

  // Whether an admitted instance of this executable path runs now, this guard's own admission
  // included. Never throws: a record that cannot be opened means none.
  bool AnyRunning() const;

  // Name of the local socket on which the admitted instance listens for the show request
  // ("1025"); usable with QLocalServer / QLocalSocket.
  std::string ShowRequestName() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> fImpl;
};

}  // namespace kelvo
