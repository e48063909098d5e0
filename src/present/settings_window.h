// The main window as the settings see it: its restored (normal) position, read for every save
// and set from the stored one at start. GUI thread only.
#pragma once

#include <cstdint>

namespace kelvo {

class TSettingsWindow {
 public:
  virtual ~TSettingsWindow() = default;
  virtual std::int32_t RestoredTop() const = 0;
  virtual std::int32_t RestoredLeft() const = 0;
  virtual void SetTop(std::int32_t ATop) = 0;
  virtual void SetLeft(std::int32_t ALeft) = 0;
};

}  // namespace kelvo
