#include "present/tray_text.h"

#include <cctype>

#include "app/version.h"

namespace kelvo {

namespace {

std::string Counted(int ACount, const char* AOne, const char* AMany) {
  return std::to_string(ACount) + " " + (ACount == 1 ? AOne : AMany);
}

}  // namespace

std::string TrayToolTip(const TNetworkStatus& AStatus, int AApplications, int AControllers) {
  std::string line = DescribeNetworkStatus(AStatus);
  if (!line.empty()) {
    line[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(line[0])));
  }
  if (AStatus.IsListening()) {
    // U+00B7 MIDDLE DOT between the parts.
    line += " \u00b7 " + Counted(AApplications, "application", "applications") + " \u00b7 " +
            Counted(AControllers, "controller", "controllers");
  }
  return std::string(kApplicationTitle) + "\n" + line;
}

}  // namespace kelvo
