// A private XDG_CONFIG_HOME for one test, so the real user's settings are never touched.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace kelvo {

class TTempConfigHome {
 public:
  TTempConfigHome() {
    char Template[] = "/tmp/kelvo_cfg_XXXXXX";
    if (::mkdtemp(Template) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    fDir = Template;
    if (const char* Old = ::getenv("XDG_CONFIG_HOME")) {
      fOld = Old;
    }
    ::setenv("XDG_CONFIG_HOME", fDir.c_str(), 1);
  }
  ~TTempConfigHome() {
    if (fOld) {
      ::setenv("XDG_CONFIG_HOME", fOld->c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
    std::error_code Ec;
    std::filesystem::remove_all(fDir, Ec);
  }
  TTempConfigHome(const TTempConfigHome&) = delete;
  TTempConfigHome& operator=(const TTempConfigHome&) = delete;

  const std::filesystem::path& Dir() const { return fDir; }
  std::filesystem::path File() const { return fDir / "Marlowin" / "KelvoRelay.reg"; }

  std::string ReadFile() const {
    std::ifstream In(File(), std::ios::binary);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
  }
  void WriteFile(const std::string& ABytes) const {
    std::filesystem::create_directories(File().parent_path());
    std::ofstream(File(), std::ios::binary) << ABytes;
  }

 private:
  std::filesystem::path fDir;
  std::optional<std::string> fOld;
};

}  // namespace kelvo
