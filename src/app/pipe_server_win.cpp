#include "app/pipe_server_win.h"

#include <algorithm>

#include "app/control_requests.h"
#include "app/pipe_io_win.h"
#include "base/handle_win.h"
#include "base/windows_text.h"

namespace kelvo {

namespace {

// From its connection to the end of its answer a client gets this long (the clients are this
// program's own short commands).
constexpr std::chrono::milliseconds kClientTime(1000);

// Security for the pipe: a DACL that lets this user alone open it or add instances to it.
// Without one the default security lets every local user read it.
class TUserOnlySecurity {
 public:
  explicit TUserOnlySecurity(std::string& AError) : fSid(pipe_io::CurrentUserSid()) {
    if (fSid.empty()) {
      AError = "cannot read this user's SID: " + WindowsErrorText(::GetLastError());
      return;
    }
    const DWORD aclSize =
        static_cast<DWORD>(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + fSid.size());
    fAcl.resize(aclSize / sizeof(DWORD) + 1);
    const auto acl = reinterpret_cast<PACL>(fAcl.data());
    if (!::InitializeAcl(acl, aclSize, ACL_REVISION) ||
        !::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, fSid.data()) ||
        !::InitializeSecurityDescriptor(&fDescriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&fDescriptor, TRUE, acl, FALSE)) {
      AError = "cannot set up the pipe's security: " + WindowsErrorText(::GetLastError());
      return;
    }
    fAttributes.nLength = sizeof(fAttributes);
    fAttributes.lpSecurityDescriptor = &fDescriptor;
    fAttributes.bInheritHandle = FALSE;
    fReady = true;
  }
  SECURITY_ATTRIBUTES* Get() { return fReady ? &fAttributes : nullptr; }

 private:
  std::vector<unsigned char> fSid;
  std::vector<DWORD> fAcl;  // DWORD-aligned, as an ACL must be
  SECURITY_DESCRIPTOR fDescriptor{};
  SECURITY_ATTRIBUTES fAttributes{};
  bool fReady = false;
};

}  // namespace

// One pipe instance and the client on it:
//
//   Listening --connected--> Reading --line--> (handler) --answer--> Writing --sent--> Draining
//       ^                                                                                 |
//       +------------- client closed, failed, or out of time: disconnect -----------------+
struct TPipeServer::TInstance {
  enum class TState { Listening, Reading, Writing, Draining, Broken };

  THandle Event;  // manual reset; set when the operation under way is done
  THandle Pipe;   // closed before its event (members end in reverse order)
  OVERLAPPED Overlapped{};
  TState State = TState::Broken;
  bool Pending = false;  // an overlapped operation is under way
  DWORD StartError = 0;  // the operation could not start (its event is set)
  TClock::time_point Deadline = TClock::time_point::max();
  std::string Received;
  std::string Answer;  // the part not sent yet
  bool StopAfter = false;
  char Buffer[4096];

  // The operation under way ends before the pipe and the event it uses are closed.
  ~TInstance() { Finish(); }

  // Before an operation: its OVERLAPPED, its event reset.
  void Prepare(TState AState) {
    State = AState;
    ::ResetEvent(Event.Get());
    Overlapped = OVERLAPPED{};
    Overlapped.hEvent = Event.Get();
  }
  // After starting an operation; one that could not start is seen by the next Serve.
  void Started(BOOL ADone) {
    const DWORD error = ADone ? ERROR_SUCCESS : ::GetLastError();
    Pending = ADone || error == ERROR_IO_PENDING;
    StartError = Pending ? ERROR_SUCCESS : error;
    if (!Pending) {
      ::SetEvent(Event.Get());
    }
  }
  // Ends the operation under way; Overlapped and Buffer are free again afterwards.
  void Finish() {
    if (Pending) {
      ::CancelIo(Pipe.Get());
      DWORD ignored = 0;
      ::GetOverlappedResult(Pipe.Get(), &Overlapped, &ignored, TRUE);
      Pending = false;
    }
  }

  void Listen() {
    Received.clear();
    Answer.clear();
    StopAfter = false;
    Deadline = TClock::time_point::max();
    for (int attempt = 0; attempt < 2; ++attempt) {
      Prepare(TState::Listening);
      const DWORD error =
          ::ConnectNamedPipe(Pipe.Get(), &Overlapped) ? ERROR_PIPE_CONNECTED : ::GetLastError();
      if (error == ERROR_IO_PENDING) {
        Pending = true;
        StartError = ERROR_SUCCESS;
        return;
      }
      if (error == ERROR_PIPE_CONNECTED) {
        // A client came between the disconnect and now: nothing is under way.
        Pending = false;
        StartError = ERROR_SUCCESS;
        ::SetEvent(Event.Get());
        return;
      }
      if (error != ERROR_NO_DATA) {
        break;
      }
      ::DisconnectNamedPipe(Pipe.Get());  // a client that connected and left again
    }
    // Not expected; this instance stays out of service, the others go on.
    Pending = false;
    State = TState::Broken;
    ::ResetEvent(Event.Get());
  }

  void Read(TState AState) {
    Prepare(AState);
    Started(::ReadFile(Pipe.Get(), Buffer, sizeof Buffer, nullptr, &Overlapped));
  }

  void Write() {
    Prepare(TState::Writing);
    Started(::WriteFile(Pipe.Get(), Answer.data(), static_cast<DWORD>(Answer.size()), nullptr,
                        &Overlapped));
  }

  // Drops the client; the instance waits for the next one. True when it had asked to stop.
  bool Reset() {
    Finish();
    const bool stop = StopAfter;
    ::DisconnectNamedPipe(Pipe.Get());
    Listen();
    return stop;
  }

  bool Handle(const std::string& ALine, const THandler& AHandler) {
    bool stop = false;
    const std::string line = AHandler(ALine, stop);
    StopAfter = stop;
    if (line.empty()) {
      return Reset();
    }
    Answer = line + "\n";
    Write();
    return false;
  }
};

TPipeServer::TPipeServer(const std::string& ASocketName, std::string& AError) {
  if (ASocketName.empty()) {
    AError = "the pipe has no name";
    return;
  }
  const std::wstring name = pipe_io::PipeName(ASocketName);
  TUserOnlySecurity security(AError);
  if (security.Get() == nullptr) {
    return;
  }
  for (std::size_t i = 0; i < kInstances; ++i) {
    auto instance = std::make_unique<TInstance>();
    instance->Event.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // Only this machine, and never a server on a pipe somebody else made first.
    instance->Pipe.Reset(::CreateNamedPipeW(
        name.c_str(),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (i == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        static_cast<DWORD>(kInstances), 4096, 4096, 0, security.Get()));
    if (!instance->Pipe || !instance->Event) {
      if (i == 0) {
        AError = "cannot listen on " + WideToUtf8(name) + ": " + WindowsErrorText(::GetLastError());
        return;
      }
      break;  // fewer instances: clients wait a little longer for a free one
    }
    instance->Listen();
    fEvents.push_back(instance->Event.Get());
    fInstances.push_back(std::move(instance));
  }
}

TPipeServer::~TPipeServer() = default;

bool TPipeServer::Serve(std::size_t AIndex, const THandler& AHandler) {
  using TState = TInstance::TState;
  TInstance& i = *fInstances[AIndex];
  DWORD moved = 0;
  bool ok = i.StartError == ERROR_SUCCESS;
  if (i.Pending) {
    ok = ::GetOverlappedResult(i.Pipe.Get(), &i.Overlapped, &moved, FALSE) != FALSE;
    if (!ok && ::GetLastError() == ERROR_IO_INCOMPLETE) {
      return false;
    }
    i.Pending = false;
  }
  ::ResetEvent(i.Event.Get());
  switch (i.State) {
    case TState::Listening:
      if (!ok) {
        return i.Reset();
      }
      i.Deadline = TClock::now() + kClientTime;
      i.Read(TState::Reading);
      return false;
    case TState::Reading: {
      if (!ok || moved == 0) {
        // The bare show request ends with the connection rather than a line end.
        if (!i.Received.empty() && CouldBeControlRequest(i.Received)) {
          bool stop = false;
          AHandler(i.Received, stop);
          i.StopAfter = stop;
        }
        return i.Reset();
      }
      // A "setup" line may be megabytes long: look for its end only in what just came.
      const std::size_t from = i.Received.size();
      i.Received.append(i.Buffer, moved);
      if (const std::size_t end = i.Received.find('\n', from); end != std::string::npos) {
        const std::string line = i.Received.substr(0, end);
        return CouldBeControlRequest(line) ? i.Handle(line, AHandler) : i.Reset();
      }
      if (!CouldBeControlRequest(i.Received)) {
        return i.Reset();  // not one of our clients
      }
      i.Read(TState::Reading);
      return false;
    }
    case TState::Writing:
      if (!ok) {
        return i.Reset();
      }
      i.Answer.erase(0, moved);
      if (!i.Answer.empty()) {
        i.Write();
        return false;
      }
      // Disconnecting drops what the client has not read yet: wait for it to close first.
      i.Read(TState::Draining);
      return false;
    case TState::Draining:
      if (ok && moved > 0) {
        i.Read(TState::Draining);
        return false;
      }
      return i.Reset();
    case TState::Broken:
      break;
  }
  return false;
}

TPipeServer::TClock::time_point TPipeServer::NextDeadline() const {
  auto next = TClock::time_point::max();
  for (const auto& instance : fInstances) {
    next = std::min(next, instance->Deadline);
  }
  return next;
}

bool TPipeServer::DropLate() {
  const auto now = TClock::now();
  bool stop = false;
  for (const auto& instance : fInstances) {
    if (instance->Deadline <= now) {
      // A stop request that was answered ends the owner even if the answer did not go out.
      stop = instance->Reset() || stop;
    }
  }
  return stop;
}

}  // namespace kelvo
