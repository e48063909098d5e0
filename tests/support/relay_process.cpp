#include "support/relay_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "relay/frame.h"

extern char** environ;

namespace kelvo::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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
}

std::string TConfigHome::ReadSettings() const {
  std::ifstream in(SettingsFile(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
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
  static const TRelayCopy copy;
  return copy.Path();
}

fs::path RelayDebugLog() {
  return fs::path(RelayExecutable()).string() + ".log";
}

TCommandResult RunRelayCommand(const TConfigHome& AConfigHome,
                               const std::vector<std::string>& AArgs,
                               const TStartOptions& AOptions) {
  int outPipe[2];
  int errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t pid = Spawn(RelayExecutable(), AArgs, AConfigHome, AOptions, outPipe[1], errPipe[1]);
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
  ::kill(fPid, ASignal);
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
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
