// Start at sign-in on a Linux desktop: an XDG autostart entry in the user's configuration folder,
// which every desktop that follows the XDG autostart rules (GNOME, KDE Plasma, Xfce, ...) runs
// at sign-in.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/autostart.h"
#include "app/debug_log_location.h"
#include "base/errno_text_posix.h"
#include "base/file_descriptor.h"
#include "config/home_folder_posix.h"

namespace kelvo {

namespace {

constexpr const char* kEntryName = "com.marlowin.KelvoRelay.desktop";

std::string ConfigFolder() {
  // Relative values are to be ignored, as the XDG base directory rules say.
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
    return config;
  }
  const std::string home = UserHomeFolder();
  if (home.empty()) {
    throw std::runtime_error("the user's home folder is not known (HOME is not set)");
  }
  return home + "/.config";
}

std::string AutostartFolder() {
  return ConfigFolder() + "/autostart";
}

std::string AutostartFile() {
  return AutostartFolder() + "/" + kEntryName;
}

[[noreturn]] void ThrowSystemError(const std::string& AWhat) {
  throw std::runtime_error(AWhat + ": " + ErrnoText(errno));
}

// The desktop entry rules: an argument holding a reserved character is quoted, and inside the
// quotes ", `, $ and \ take a backslash; a literal % is %%.
std::string QuoteExecArgument(const std::string& AArgument) {
  constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  const bool quoted = AArgument.empty() || AArgument.find_first_of(kReserved) != std::string::npos;
  std::string result = quoted ? "\"" : "";
  for (const char c : AArgument) {
    if (c == '%') {
      result += "%%";
      continue;
    }
    if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) {
      result += '\\';
    }
    result += c;
  }
  return quoted ? result + "\"" : result;
}

// Every value is a string first: its own escapes apply before the Exec quoting.
std::string EscapeString(const std::string& AText) {
  std::string result;
  for (const char c : AText) {
    switch (c) {
      case '\\':
        result += "\\\\";
        break;
      case '\n':
        result += "\\n";
        break;
      case '\t':
        result += "\\t";
        break;
      case '\r':
        result += "\\r";
        break;
      default:
        result += c;
    }
  }
  return result;
}

std::string UnescapeString(std::string_view AText) {
  std::string result;
  for (std::size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] != '\\' || i + 1 == AText.size()) {
      result += AText[i];
      continue;
    }
    switch (const char next = AText[++i]) {
      case 's':
        result += ' ';
        break;
      case 'n':
        result += '\n';
        break;
      case 't':
        result += '\t';
        break;
      case 'r':
        result += '\r';
        break;
      default:
        result += next;
    }
  }
  return result;
}

// The arguments of an (unescaped) Exec value, quotes and %% undone.
std::vector<std::string> SplitExec(std::string_view AExec) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  while (i < AExec.size()) {
    if (AExec[i] == ' ' || AExec[i] == '\t') {
      ++i;
      continue;
    }
    std::string argument;
    if (AExec[i] == '"') {
      for (++i; i < AExec.size() && AExec[i] != '"'; ++i) {
        if (AExec[i] == '\\' && i + 1 < AExec.size()) {
          ++i;
        }
        argument += AExec[i];
      }
      ++i;  // the closing quote
    } else {
      for (; i < AExec.size() && AExec[i] != ' ' && AExec[i] != '\t'; ++i) {
        argument += AExec[i];
      }
    }
    std::string literal;
    for (std::size_t j = 0; j < argument.size(); ++j) {
      literal += argument[j];
      if (argument[j] == '%' && j + 1 < argument.size() && argument[j + 1] == '%') {
        ++j;
      }
    }
    arguments.push_back(literal);
  }
  return arguments;
}

std::string EntryText(const std::string& AExecutable) {
  return "[Desktop Entry]\n"
         "# Written by kelvorelay --autostart on; kelvorelay --autostart off removes it.\n"
         "Type=Application\n"
         "Name=KelvoRelay\n"
         "Comment=Starts KelvoRelay in the notification area at sign-in\n"
         "Exec=" +
         EscapeString(QuoteExecArgument(AExecutable) + " --hidden") +
         "\n"
         // Skipped quietly once the program is gone, instead of an error at every sign-in.
         "TryExec=" +
         EscapeString(AExecutable) +
         "\n"
         "Icon=com.marlowin.KelvoRelay\n"
         "Terminal=false\n";
}

// The file's content; false when there is none.
bool ReadEntry(std::string& AContent) {
  std::ifstream file(AutostartFile(), std::ios::binary);
  if (!file) {
    return false;
  }
  std::ostringstream content;
  content << file.rdbuf();
  AContent = content.str();
  return true;
}

// Replaces the file so that a session starting meanwhile reads the old entry or the new one.
void WriteEntry(const std::string& AContent) {
  const std::string folder = AutostartFolder();
  if (!MakeFolders(folder)) {
    ThrowSystemError("cannot create " + folder);
  }
  std::string temporary = AutostartFile() + ".XXXXXX";
  TFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd.IsOpen()) {
    ThrowSystemError("cannot write in " + folder);
  }
  bool written = ::fchmod(fd.Get(), 0644) == 0;
  for (std::size_t done = 0; written && done < AContent.size();) {
    const ssize_t n = ::write(fd.Get(), AContent.data() + done, AContent.size() - done);
    written = n > 0;
    done += written ? static_cast<std::size_t>(n) : 0;
  }
  written = written && ::fsync(fd.Get()) == 0;
  const int savedErrno = errno;
  fd.Reset();
  if (!written || ::rename(temporary.c_str(), AutostartFile().c_str()) != 0) {
    const int error = written ? errno : savedErrno;
    ::unlink(temporary.c_str());
    errno = error;
    ThrowSystemError("cannot write " + AutostartFile());
  }
}

}  // namespace

std::string AutostartLocation() {
  return AutostartFile();
}

TAutostartEntry ReadAutostart(const std::string& AExecutable) {
  TAutostartEntry entry;
  std::string content;
  if (!ReadEntry(content)) {
    return entry;
  }
  bool inMainGroup = false;
  bool switchedOff = false;
  std::istringstream lines(content);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.starts_with('[')) {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inMainGroup || equals == std::string::npos) {
      continue;
    }
    std::string key = line.substr(0, equals);
    while (!key.empty() && key.back() == ' ') {
      key.pop_back();
    }
    std::string_view value = std::string_view(line).substr(equals + 1);
    while (value.starts_with(' ')) {
      value.remove_prefix(1);
    }
    if (key == "Exec") {
      entry.Command = UnescapeString(value);
    } else if ((key == "Hidden" && value == "true") ||
               (key == "X-GNOME-Autostart-enabled" && value == "false")) {
      switchedOff = true;
    }
  }
  const std::vector<std::string> arguments = SplitExec(entry.Command);
  bool hidden = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    hidden = hidden || arguments[i] == "--hidden";
  }
  if (arguments.empty() || arguments[0] != AExecutable || !hidden) {
    entry.State = TAutostartState::Other;
  } else {
    entry.State = switchedOff ? TAutostartState::Disabled : TAutostartState::On;
  }
  return entry;
}

void EnableAutostart(const std::string& AExecutable) {
  const std::string wanted = EntryText(AExecutable);
  std::string content;
  if (ReadEntry(content) && content == wanted) {
    return;
  }
  WriteEntry(wanted);
}

bool DisableAutostart() {
  const std::string file = AutostartFile();
  if (::unlink(file.c_str()) == 0) {
    return true;
  }
  if (errno == ENOENT) {
    return false;
  }
  ThrowSystemError("cannot remove " + file);
}

}  // namespace kelvo
