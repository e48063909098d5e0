// Shared by the window tests: a machine with only the loopback adapter, and picture checks.
#pragma once

#include <QImage>
#include <QLabel>
#include <QPixmap>

#include "net/ethernet_utils.h"

namespace kelvo::test {

// Replaces the adapter enumeration for the test's lifetime: one adapter "lo" at 127.0.0.1, so
// the relay binds only to loopback.
class TLoopbackOnly {
 public:
  TLoopbackOnly() {
    fPrevious = SetAdapterPlatform(TAdapterPlatform{
        [] {
          return std::optional<std::vector<TPlatformAdapter>>(std::vector<TPlatformAdapter>{
              {"lo", "Loopback", "127.0.0.1", "255.0.0.0", "0.0.0.0"}});
        },
        [] { return std::string("127.0.0.1"); }});
  }
  ~TLoopbackOnly() { SetAdapterPlatform(fPrevious); }
  TLoopbackOnly(const TLoopbackOnly&) = delete;
  TLoopbackOnly& operator=(const TLoopbackOnly&) = delete;

 private:
  TAdapterPlatform fPrevious;
};

inline bool ShowsPicture(const QLabel* ALabel, const QPixmap& APicture) {
  return ALabel->pixmap().toImage() == APicture.toImage();
}

}  // namespace kelvo::test
