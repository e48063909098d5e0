#include "app/version.h"

#include <string_view>

namespace kelvo {

std::string VersionParts(const std::string& AVersion, int AParts) {
  const std::string_view version = AVersion;
  if (AParts < 1) {
    return {};
  }
  if (AParts >= 4) {
    return std::string(version);
  }
  // Cut after the AParts-th part; a version with fewer parts is returned whole.
  std::size_t end = std::string_view::npos;
  for (int part = 0; part < AParts; ++part) {
    end = version.find('.', end == std::string_view::npos ? 0 : end + 1);
    if (end == std::string_view::npos) {
      return std::string(version);
    }
  }
  return std::string(version.substr(0, end));
}

std::string GetVersionText(int AParts) {
  if (AParts < 1) {
    return {};
  }
  return VersionParts(FileVersionText(), AParts);
}

std::string MainWindowCaption() {
  return std::string(kApplicationTitle) + " v" + GetVersionText(3);
}

}  // namespace kelvo
