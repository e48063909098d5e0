#include "support/relay_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "config/reg_text.h"
#include "relay/frame.h"

extern char** environ;

namespace kelvo::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* kWine = "/usr/bin/wine";
constexpr const char* kSettingsKeyName = "HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay";

std::string WindowsRelay() {
  const char* Relay = std::getenv("KELVO_WINDOWS_RELAY");
  return Relay != nullptr ? Relay : "";
}

// The Wine prefix's view of a Linux path (drive Z: is the root).
std::string WinePath(const fs::path& APath) {
  std::string Text = "Z:" + fs::absolute(APath).string();
  for (char& C : Text) {
    if (C == '/') {
      C = '\\';
    }
  }
  return Text;
}

// Runs a program to its end (bounded) and returns its exit code, -1 when it did not end.
int RunToEnd(std::vector<std::string> AArgs, std::chrono::seconds ATimeout = 60s) {
  std::vector<char*> Argv;
  for (auto& Arg : AArgs) {
    Argv.push_back(Arg.data());
  }
  Argv.push_back(nullptr);
  pid_t Pid = -1;
  if (posix_spawn(&Pid, Argv[0], nullptr, nullptr, Argv.data(), environ) != 0) {
    return -1;
  }
  const auto Deadline = std::chrono::steady_clock::now() + ATimeout;
  while (std::chrono::steady_clock::now() < Deadline) {
    int Status = 0;
    if (::waitpid(Pid, &Status, WNOHANG) == Pid) {
      return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    }
    std::this_thread::sleep_for(20ms);
  }
  ::kill(Pid, SIGKILL);
  ::waitpid(Pid, nullptr, 0);
  return -1;
}

// Imports a .reg file into the Wine prefix's registry, as a user would with regedit.
void ImportIntoWine(const fs::path& AFile) {
  if (RunToEnd({kWine, "regedit", "/S", WinePath(AFile)}) != 0) {
    throw std::runtime_error("wine regedit /S " + AFile.string() + " failed");
  }
}

void DeleteWineSettingsKey(const fs::path& AFolder) {
  const fs::path Delete = AFolder / "delete-key.reg";
  std::ofstream(Delete, std::ios::binary)
      << "Windows Registry Editor Version 5.00\r\n\r\n[-" << kSettingsKeyName << "]\r\n";
  ImportIntoWine(Delete);
}

}  // namespace

TBytes HexToBytes(const std::string& AHex) {
  TBytes bytes;
  std::istringstream in(AHex);
  std::string pair;
  while (in >> pair) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
  }
  return bytes;
}

TConfigHome::TConfigHome() {
  std::random_device random;
  fDir = fs::temp_directory_path() / ("kelvo-e2e-" + std::to_string(random()));
  fs::create_directories(fDir / "Marlowin");
}

TConfigHome::~TConfigHome() {
  if (RelayRunsUnderWine()) {
    try {
      DeleteWineSettingsKey(fDir);
    } catch (const std::exception&) {
      // The next test replaces the key anyway.
    }
  }
  std::error_code ignored;
  fs::remove_all(fDir, ignored);
}

fs::path TConfigHome::SettingsFile() const {
  return fDir / "Marlowin" / "KelvoRelay.reg";
}

void TConfigHome::WriteSettings(const std::vector<std::string>& AStaticList,
                                const std::vector<std::string>& AExtraLines) const {
  std::ofstream out(SettingsFile(), std::ios::binary);
  out << "Windows Registry Editor Version 5.00\r\n\r\n"
      << "[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]\r\n";
  bool namesAdapter = false;
  for (const auto& line : AExtraLines) {
    namesAdapter = namesAdapter || line.starts_with("\"EthernetAdapterID\"");
  }
  if (!namesAdapter) {
    out << "\"EthernetAdapterID\"=\"lo\"\r\n";
  }
  for (const auto& line : AExtraLines) {
    out << line << "\r\n";
  }
  for (std::size_t i = 0; i < AStaticList.size(); ++i) {
    out << "\"StaticList" << i << "\"=\"" << AStaticList[i] << "\"\r\n";
  }
  out.close();
  if (RelayRunsUnderWine()) {
    // The key is replaced, not merged with what an earlier test left.
    DeleteWineSettingsKey(fDir);
    ImportIntoWine(SettingsFile());
  }
}

std::string TConfigHome::ReadSettings() const {
  fs::path file = SettingsFile();
  if (RelayRunsUnderWine()) {
    file = fDir / "export.reg";
    if (RunToEnd({kWine, "regedit", "/E", WinePath(file), kSettingsKeyName}) != 0) {
      return {};
    }
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  // regedit exports UTF-16; the tests read UTF-8.
  std::string error;
  const auto decoded = regtext::DecodeFileText(text.str(), error);
  return decoded ? decoded->Text : "undecodable settings: " + error;
}

namespace {

std::vector<std::string> ChildEnvironment(const TConfigHome& AConfigHome,
                                          const TStartOptions& AOptions) {
  std::vector<std::string> overrides = AOptions.Environment;
  overrides.push_back("XDG_CONFIG_HOME=" + AConfigHome.Dir().string());
  const auto nameOf = [](std::string_view AEntry) { return AEntry.substr(0, AEntry.find('=')); };
  std::vector<std::string> result;
  for (char** env = environ; *env != nullptr; ++env) {
    bool replaced = false;
    for (const auto& entry : overrides) {
      replaced = replaced || nameOf(entry) == nameOf(*env);
    }
    if (!replaced) {
      result.emplace_back(*env);
    }
  }
  for (const auto& entry : overrides) {
    if (entry.find('=') != std::string::npos) {
      result.push_back(entry);
    }
  }
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& AStrings) {
  std::vector<char*> pointers;
  for (auto& text : AStrings) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

// fork and exec, with the child's output on AOut and AErr. Everything the child does between
// the two is async-signal-safe.
pid_t Spawn(const std::string& AExecutable, const std::vector<std::string>& AArgs,
            const TConfigHome& AConfigHome, const TStartOptions& AOptions, int AOut, int AErr) {
  std::vector<std::string> args{AExecutable};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  std::vector<std::string> envStrings = ChildEnvironment(AConfigHome, AOptions);
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(envStrings);
  const std::string hostName = AOptions.HostName;

  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!hostName.empty() &&
        (::unshare(CLONE_NEWUTS) != 0 || ::sethostname(hostName.data(), hostName.size()) != 0)) {
      ::_exit(126);
    }
    ::dup2(AOut, STDOUT_FILENO);
    ::dup2(AErr, STDERR_FILENO);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (pid < 0) {
    throw std::runtime_error("cannot start " + AExecutable);
  }
  return pid;
}

// The private copy of the executable; removed with its folder when the tests end.
class TRelayCopy {
 public:
  TRelayCopy() {
    std::random_device random;
    fDir = fs::temp_directory_path() /
           ("kelvo-bin-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
    fs::create_directories(fDir);
    fPath = fDir / "kelvorelay";
    std::error_code linkError;
    fs::create_hard_link(KELVO_RELAY_EXECUTABLE, fPath, linkError);
    if (linkError) {
      fs::copy_file(KELVO_RELAY_EXECUTABLE, fPath, fs::copy_options::overwrite_existing);
      fs::permissions(fPath, fs::perms::owner_all);
    }
  }
  ~TRelayCopy() {
    std::error_code ignored;
    fs::remove_all(fDir, ignored);
  }
  TRelayCopy(const TRelayCopy&) = delete;
  TRelayCopy& operator=(const TRelayCopy&) = delete;
  std::string Path() const { return fPath.string(); }

 private:
  fs::path fDir;
  fs::path fPath;
};

}  // namespace

bool CanUseOwnHostName() {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::_exit(::unshare(CLONE_NEWUTS) == 0 && ::sethostname("probe", 5) == 0 ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

std::string RelayExecutable() {
  const std::string windows = WindowsRelay();
  if (!windows.empty()) {
    return windows;
  }
  static const TRelayCopy copy;
  return copy.Path();
}

bool RelayRunsUnderWine() {
  return !WindowsRelay().empty();
}

fs::path RelayDebugLog() {
  // The executable's name with its extension replaced, or ".log" appended when it has none.
  fs::path log(RelayExecutable());
  return log.replace_extension(".log");
}

std::string RelayListenAddress() {
  return RelayRunsUnderWine() ? "0.0.0.0" : "127.0.0.1";
}

std::string RelaySavedAdapterID() {
  // The chosen adapter is kept also where it is absent (Windows lists no loopback adapter).
  return "lo";
}

TCommandResult RunRelayCommand(const TConfigHome& AConfigHome,
                               const std::vector<std::string>& AArgs,
                               const TStartOptions& AOptions) {
  int outPipe[2];
  int errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> args = AArgs;
  std::string program = AOptions.Executable.empty() ? RelayExecutable() : AOptions.Executable;
  if (RelayRunsUnderWine()) {
    args.insert(args.begin(), program);
    program = kWine;
  }
  const pid_t pid = Spawn(program, args, AConfigHome, AOptions, outPipe[1], errPipe[1]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);

  TCommandResult result;
  std::string* targets[2] = {&result.Out, &result.Err};
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  int open = 2;
  while (open > 0 && std::chrono::steady_clock::now() < deadline) {
    if (::poll(fds, 2, 100) <= 0) {
      continue;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd >= 0 && fds[i].revents != 0) {
        char buffer[4096];
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          targets[i]->append(buffer, static_cast<std::size_t>(n));
        } else {
          ::close(fds[i].fd);
          fds[i].fd = -1;
          --open;
        }
      }
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) {
      ::close(fd.fd);
    }
  }
  if (open > 0) {
    ::kill(pid, SIGKILL);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (open == 0 && WIFEXITED(status)) {
    result.ExitCode = WEXITSTATUS(status);
  }
  if (RelayRunsUnderWine()) {
    // A Windows console program ends its lines with CR LF; the tests compare the lines.
    for (std::string* text : targets) {
      for (std::size_t at; (at = text->find("\r\n")) != std::string::npos;) {
        text->erase(at, 1);
      }
    }
  }
  return result;
}

TRelayProcess::~TRelayProcess() {
  if (fPid > 0) {
    ::kill(fPid, SIGKILL);
    ::waitpid(fPid, nullptr, 0);
  }
  if (fStdout >= 0) {
    ::close(fStdout);
  }
}

std::string TRelayProcess::Start(const TConfigHome& AConfigHome,
                                 const std::vector<std::string>& AExtraArgs,
                                 const std::vector<std::string>& AReadyTexts) {
  std::vector<std::string> args{"--headless"};
  args.insert(args.end(), AExtraArgs.begin(), AExtraArgs.end());
  if (RelayRunsUnderWine()) {
    args.insert(args.begin(), RelayExecutable());
    return StartProgram(kWine, args, AConfigHome, AReadyTexts);
  }
  return StartProgram(RelayExecutable(), args, AConfigHome, AReadyTexts);
}

std::string TRelayProcess::StartProgram(const std::string& AExecutable,
                                        const std::vector<std::string>& AArgs,
                                        const TConfigHome& AConfigHome,
                                        const std::vector<std::string>& AReadyTexts,
                                        const TStartOptions& AOptions) {
  if (fPid > 0) {
    throw std::logic_error("the previous program still runs");
  }
  if (fStdout >= 0) {
    ::close(fStdout);
    fStdout = -1;
  }
  fOutput.clear();
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  try {
    fPid = Spawn(AExecutable, AArgs, AConfigHome, AOptions, pipeFds[1], pipeFds[1]);
  } catch (...) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    fPid = -1;
    throw;
  }
  ::close(pipeFds[1]);
  fStdout = pipeFds[0];
  if (AReadyTexts.empty()) {
    return {};
  }

  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    ReadAvailable(50ms);
    std::istringstream lines(fOutput);
    for (std::string line; std::getline(lines, line);) {
      for (const auto& text : AReadyTexts) {
        if (line.find(text) != std::string::npos) {
          return line;
        }
      }
    }
    int status = 0;
    if (::waitpid(fPid, &status, WNOHANG) == fPid) {
      fPid = -1;
      ReadAvailable(0ms);
      return fOutput;
    }
  }
  return {};
}

bool TRelayProcess::WaitForOutput(const std::string& AText, std::size_t ASkip,
                                  std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  for (;;) {
    if (fOutput.size() > ASkip && fOutput.find(AText, ASkip) != std::string::npos) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline || fStdout < 0) {
      return false;
    }
    ReadAvailable(20ms);
  }
}

void TRelayProcess::CloseOutput() {
  if (fStdout >= 0) {
    ::close(fStdout);
    fStdout = -1;
  }
}

void TRelayProcess::ReadAvailable(std::chrono::milliseconds AWait) {
  if (fStdout < 0) {
    std::this_thread::sleep_for(AWait);
    return;
  }
  pollfd pfd{fStdout, POLLIN, 0};
  if (::poll(&pfd, 1, static_cast<int>(AWait.count())) <= 0) {
    return;
  }
  char buffer[4096];
  const ssize_t n = ::read(fStdout, buffer, sizeof buffer);
  if (n > 0) {
    fOutput.append(buffer, static_cast<std::size_t>(n));
  }
}

int TRelayProcess::Wait(std::chrono::milliseconds ATimeout) {
  if (fPid <= 0) {
    return -1;
  }
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(fPid, &status, WNOHANG) == fPid) {
      fPid = -1;
      ReadAvailable(0ms);
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ReadAvailable(20ms);
  }
  return -1;
}

int TRelayProcess::Stop(int ASignal, std::chrono::milliseconds ATimeout) {
  if (fPid <= 0) {
    return -1;
  }
  ::kill(fPid, RelayRunsUnderWine() && ASignal == SIGTERM ? SIGINT : ASignal);
  return Wait(ATimeout);
}

TUdpPeer::TUdpPeer(std::uint16_t ABindPort) {
  fSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(ABindPort);
  if (fSocket < 0 || ::bind(fSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("cannot bind a loopback test socket");
  }
  socklen_t length = sizeof address;
  ::getsockname(fSocket, reinterpret_cast<sockaddr*>(&address), &length);
  fPort = ntohs(address.sin_port);
}

TUdpPeer::~TUdpPeer() {
  ::close(fSocket);
}

void TUdpPeer::SendTo(std::uint16_t APort, const TBytes& ABytes) const {
  SendTo("127.0.0.1", APort, ABytes);
}

void TUdpPeer::SendTo(const std::string& AIP, std::uint16_t APort, const TBytes& ABytes) const {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ::inet_pton(AF_INET, AIP.c_str(), &address.sin_addr);
  address.sin_port = htons(APort);
  ::sendto(fSocket, ABytes.data(), ABytes.size(), 0, reinterpret_cast<sockaddr*>(&address),
           sizeof address);
}

std::optional<TBytes> TUdpPeer::Receive(std::chrono::milliseconds ATimeout,
                                        std::uint16_t* ASourcePort) const {
  pollfd pfd{fSocket, POLLIN, 0};
  if (::poll(&pfd, 1, static_cast<int>(ATimeout.count())) <= 0) {
    return std::nullopt;
  }
  TBytes buffer(65536);
  sockaddr_in from{};
  socklen_t length = sizeof from;
  const ssize_t n = ::recvfrom(fSocket, buffer.data(), buffer.size(), 0,
                               reinterpret_cast<sockaddr*>(&from), &length);
  if (n < 0) {
    return std::nullopt;
  }
  buffer.resize(static_cast<std::size_t>(n));
  if (ASourcePort != nullptr) {
    *ASourcePort = ntohs(from.sin_port);
  }
  return buffer;
}

}  // namespace kelvo::test
