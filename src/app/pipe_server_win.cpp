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
    const DWORD AclSize =
        static_cast<DWORD>(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + fSid.size());
    fAcl.resize(AclSize / sizeof(DWORD) + 1);
    const auto Acl = reinterpret_cast<PACL>(fAcl.data());
    if (!::InitializeAcl(Acl, AclSize, ACL_REVISION) ||
        !::AddAccessAllowedAce(Acl, ACL_REVISION, FILE_ALL_ACCESS, fSid.data()) ||
        !::InitializeSecurityDescriptor(&fDescriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&fDescriptor, TRUE, Acl, FALSE)) {
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
    const DWORD Error = ADone ? ERROR_SUCCESS : ::GetLastError();
    Pending = ADone || Error == ERROR_IO_PENDING;
    StartError = Pending ? ERROR_SUCCESS : Error;
    if (!Pending) {
      ::SetEvent(Event.Get());
    }
  }
  // Ends the operation under way; Overlapped and Buffer are free again afterwards.
  void Finish() {
    if (Pending) {
      ::CancelIo(Pipe.Get());
      DWORD Ignored = 0;
      ::GetOverlappedResult(Pipe.Get(), &Overlapped, &Ignored, TRUE);
      Pending = false;
    }
  }

  void Listen() {
    Received.clear();
    Answer.clear();
    StopAfter = false;
    Deadline = TClock::time_point::max();
    for (int Attempt = 0; Attempt < 2; ++Attempt) {
      Prepare(TState::Listening);
      const DWORD Error =
          ::ConnectNamedPipe(Pipe.Get(), &Overlapped) ? ERROR_PIPE_CONNECTED : ::GetLastError();
      if (Error == ERROR_IO_PENDING) {
        Pending = true;
        StartError = ERROR_SUCCESS;
        return;
      }
      if (Error == ERROR_PIPE_CONNECTED) {
        // A client came between the disconnect and now: nothing is under way.
        Pending = false;
        StartError = ERROR_SUCCESS;
        ::SetEvent(Event.Get());
        return;
      }
      if (Error != ERROR_NO_DATA) {
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
    const bool Stop = StopAfter;
    ::DisconnectNamedPipe(Pipe.Get());
    Listen();
    return Stop;
  }

  bool Handle(const std::string& ALine, const THandler& AHandler) {
    bool Stop = false;
    const std::string Line = AHandler(ALine, Stop);
    StopAfter = Stop;
    if (Line.empty()) {
      return Reset();
    }
    Answer = Line + "\n";
    Write();
    return false;
  }
};

TPipeServer::TPipeServer(const std::string& ASocketName, std::string& AError) {
  if (ASocketName.empty()) {
    AError = "the pipe has no name";
    return;
  }
  const std::wstring Name = pipe_io::PipeName(ASocketName);
  TUserOnlySecurity Security(AError);
  if (Security.Get() == nullptr) {
    return;
  }
  for (std::size_t I = 0; I < kInstances; ++I) {
    auto Instance = std::make_unique<TInstance>();
    Instance->Event.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // Only this machine, and never a server on a pipe somebody else made first.
    Instance->Pipe.Reset(::CreateNamedPipeW(
        Name.c_str(),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (I == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        static_cast<DWORD>(kInstances), 4096, 4096, 0, Security.Get()));
    if (!Instance->Pipe || !Instance->Event) {
      if (I == 0) {
        AError = "cannot listen on " + WideToUtf8(Name) + ": " + WindowsErrorText(::GetLastError());
        return;
      }
      break;  // fewer instances: clients wait a little longer for a free one
    }
    Instance->Listen();
    fEvents.push_back(Instance->Event.Get());
    fInstances.push_back(std::move(Instance));
  }
}

TPipeServer::~TPipeServer() = default;

bool TPipeServer::Serve(std::size_t AIndex, const THandler& AHandler) {
  using TState = TInstance::TState;
  TInstance& I = *fInstances[AIndex];
  DWORD Moved = 0;
  bool Ok = I.StartError == ERROR_SUCCESS;
  if (I.Pending) {
    Ok = ::GetOverlappedResult(I.Pipe.Get(), &I.Overlapped, &Moved, FALSE) != FALSE;
    if (!Ok && ::GetLastError() == ERROR_IO_INCOMPLETE) {
      return false;
    }
    I.Pending = false;
  }
  ::ResetEvent(I.Event.Get());
  switch (I.State) {
    case TState::Listening:
      if (!Ok) {
        return I.Reset();
      }
      I.Deadline = TClock::now() + kClientTime;
      I.Read(TState::Reading);
      return false;
    case TState::Reading: {
      if (!Ok || Moved == 0) {
        // The bare show request ends with the connection rather than a line end.
        if (!I.Received.empty() && CouldBeControlRequest(I.Received)) {
          bool Stop = false;
          AHandler(I.Received, Stop);
          I.StopAfter = Stop;
        }
        return I.Reset();
      }
      // A "setup" line may be megabytes long: look for its end only in what just came.
      const std::size_t From = I.Received.size();
      I.Received.append(I.Buffer, Moved);
      if (const std::size_t End = I.Received.find('\n', From); End != std::string::npos) {
        const std::string Line = I.Received.substr(0, End);
        return CouldBeControlRequest(Line) ? I.Handle(Line, AHandler) : I.Reset();
      }
      if (!CouldBeControlRequest(I.Received)) {
        return I.Reset();  // not one of our clients
      }
      I.Read(TState::Reading);
      return false;
    }
    case TState::Writing:
      if (!Ok) {
        return I.Reset();
      }
      I.Answer.erase(0, Moved);
      if (!I.Answer.empty()) {
        I.Write();
        return false;
      }
      // Disconnecting drops what the client has not read yet: wait for it to close first.
      I.Read(TState::Draining);
      return false;
    case TState::Draining:
      if (Ok && Moved > 0) {
        I.Read(TState::Draining);
        return false;
      }
      return I.Reset();
    case TState::Broken:
      break;
  }
  return false;
}

TPipeServer::TClock::time_point TPipeServer::NextDeadline() const {
  auto Next = TClock::time_point::max();
  for (const auto& Instance : fInstances) {
    Next = std::min(Next, Instance->Deadline);
  }
  return Next;
}

bool TPipeServer::DropLate() {
  const auto Now = TClock::now();
  bool Stop = false;
  for (const auto& Instance : fInstances) {
    if (Instance->Deadline <= Now) {
      // A stop request that was answered ends the owner even if the answer did not go out.
      Stop = Instance->Reset() || Stop;
    }
  }
  return Stop;
}

}  // namespace kelvo
